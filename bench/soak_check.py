#!/usr/bin/env python3
"""Checks a recording of the sound server's monitor against the live mix.

    soak_check.py MONITOR.raw LIVE.wav SECONDS

The monitor should hold silence, then the live mix frame for frame from its first sound until
the stop, then silence. The two are aligned at their first sound. Where they part, the check
finds where the monitor takes up the live mix again (within half a second) and counts the
glitch: frames of the mix lost (or repeated) and frames of silence put in their place. It
fails on any glitch, and when less than SECONDS less half a second were played.
"""
import mmap
import sys

FRAME = 4
RATE = 44100
CHUNK = 1 << 20
PROBE = 256 * FRAME  # bytes of the monitor looked up in the mix to resynchronise
WINDOW = RATE // 2 * FRAME  # how far from the expected place a resynchronisation may land


def first_sound(data, start=0):
    """Offset of the first frame from `start` on that is not silent; None when all are."""
    for at in range(start, len(data), CHUNK):
        chunk = data[at:at + CHUNK]
        rest = chunk.lstrip(b'\0')
        if rest:
            offset = at + len(chunk) - len(rest)
            return offset - offset % FRAME
    return None


def common_length(a, a0, b, b0, length):
    """Bytes that a[a0:] and b[b0:] have in common from their start, up to `length`."""
    done = 0
    while done < length:
        n = min(CHUNK, length - done)
        x, y = a[a0 + done:a0 + done + n], b[b0 + done:b0 + done + n]
        if x != y:
            lo, hi = 0, n  # the common prefix lies in [lo, hi)
            while hi - lo > 1:
                mid = (lo + hi) // 2
                if x[:mid] == y[:mid]:
                    lo = mid
                else:
                    hi = mid
            return done + lo
        done += n
    return done


def seconds(frames_bytes):
    return frames_bytes / FRAME / RATE


def main():
    duration = float(sys.argv[3])
    with open(sys.argv[1], 'rb') as f1, open(sys.argv[2], 'rb') as f2:
        monitor = mmap.mmap(f1.fileno(), 0, access=mmap.ACCESS_READ)
        wav = mmap.mmap(f2.fileno(), 0, access=mmap.ACCESS_READ)
        live = wav[44:]
        m = first_sound(monitor)
        l = first_sound(live)
        if m is None or l is None:
            print('FAIL: no sound in the %s' % ('recording' if m is None else 'live mix'))
            return 1
        if m < l:
            print('FAIL: the recording begins inside the live mix')
            return 1
        start = m - l  # the monitor's offset of the live mix's first frame
        mon, mix = start, 0  # the places compared next
        glitches = []
        while True:
            length = min(len(monitor) - mon, len(live) - mix)
            length -= length % FRAME
            same = common_length(monitor, mon, live, mix, length)
            same -= same % FRAME
            mon += same
            mix += same
            if same == length or first_sound(monitor, mon) is None:
                break  # the end of the recording, or the stop: only silence follows
            # A glitch: skip the silence put in, then find where the mix is taken up again.
            resume = first_sound(monitor, mon)
            probe = monitor[resume:resume + PROBE]
            low = max(0, mix - WINDOW)
            found = live.find(probe, low, mix + WINDOW + PROBE)
            if found < 0 or len(probe) < PROBE:
                print('FAIL: at %.3f s the recording leaves the live mix for good'
                      % seconds(mon - start))
                return 1
            glitches.append((seconds(mon - start), (found - mix) // FRAME, (resume - mon) // FRAME))
            mon, mix = resume, found
        played = seconds(mix)
        print('played %.3f s (%d frames) of the live mix; %d glitches'
              % (played, mix // FRAME, len(glitches)))
        if glitches:
            # Only the sound server drops frames: the program's queue can run late, never lose.
            print('  in all: %d frames lost, %d repeated, %d frames of silence put in; '
                  '%d glitches lost no frame'
                  % (sum(g[1] for g in glitches if g[1] > 0),
                     -sum(g[1] for g in glitches if g[1] < 0), sum(g[2] for g in glitches),
                     sum(1 for g in glitches if g[1] <= 0)))
            per = {}
            for g in glitches:
                per[int(g[0] // 600)] = per.get(int(g[0] // 600), 0) + 1
            print('  per ten minutes: ' + ', '.join('%d' % per.get(k, 0)
                                                   for k in range(int(played // 600) + 1)))
        for at, skipped, silence in glitches[:20]:
            what = ('%d frames lost' % skipped if skipped > 0 else
                    '%d frames repeated' % -skipped if skipped < 0 else 'no frame lost')
            print('  at %.3f s: %s, %d frames of silence put in' % (at, what, silence))
        status = 0
        if glitches:
            print('FAIL: the recording is not the live mix frame for frame')
            status = 1
        if played < duration - 0.5:
            print('FAIL: less than %.1f s were played' % (duration - 0.5))
            status = 1
        if len(live) - mix < FRAME * RATE // 10 and first_sound(monitor, mon) is not None:
            print('FAIL: the live mix to compare with is too short')
            status = 1
        return status


sys.exit(main())
