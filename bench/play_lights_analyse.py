#!/usr/bin/env python3
# The light against the sound, for bench/play_lights_check.sh:
#   play_lights_analyse.py MIX.raw RECORDING.raw RECORDING.stamps PANEL.log NAME
# MIX.raw is what the panel mixed from its start, RECORDING.raw what reached the sink (both
# 16-bit stereo at 44100 Hz); RECORDING.stamps has "ns bytes" per read of the recording.
# Each step's first 10 ms of the mix are looked for in the recording, after where the step
# before was found: a late block leaves a gap of silence in the recording, so the distance
# between the two only grows. A step that begins in silence has nothing to find.
# With LIGHTS_LIST_MS set, each step whose light is further than that from its sound is listed.
import bisect
import os
import sys

RATE = 44100
PIECE = 441  # frames
MAX_GAP = 5 * RATE  # frames
NEAR = RATE // 4  # frames
LIST_BEYOND_MS = float(os.environ['LIGHTS_LIST_MS']) if os.environ.get('LIGHTS_LIST_MS') else None


def find_frame(rec, piece, first, last):
    """The first frame >= first (and <= last) at which the recording holds `piece`, or -1."""
    at = rec.find(piece, 4 * first, 4 * (last + PIECE))
    while at >= 0 and at % 4:
        at = rec.find(piece, at + 1, 4 * (last + PIECE))
    return at // 4 if at >= 0 else -1


def main():
    mix_path, rec_path, stamps_path, log_path, name = sys.argv[1:6]
    mix, rec = open(mix_path, 'rb').read(), open(rec_path, 'rb').read()

    # When each frame reached the sink: each read ends at a known frame and happens after that
    # frame arrived, so the earliest read around a frame bounds it most tightly. Looked for
    # within a quarter of a second on either side, not over the whole run: the null sink's
    # clock gains about 0.4 ms a second on the steady clock when it runs in blocks of 2 ms (it
    # counts each block's length in whole microseconds), so one line through the whole
    # recording would be several milliseconds off at its ends.
    frames, lead = [], []
    with open(stamps_path) as f:
        for line in f:
            ns, total = map(int, line.split())
            frames.append(total // 4)
            lead.append(ns / 1e9 - (total // 4) / RATE)

    def reached(frame):
        lo = bisect.bisect_left(frames, frame - NEAR)
        hi = bisect.bisect_right(frames, frame + NEAR)
        return min(lead[lo:max(hi, lo + 1)]) + frame / RATE

    lights, steps = [], []
    with open(log_path) as f:
        for line in f:
            w = line.split()
            if w and w[0] == 'light':
                lights.append((int(w[1]) / 1e9, int(w[5])))
            elif w and w[0] == 'step':
                steps.append(int(w[1]))

    diffs, offset, gaps, silent, unfound = [], None, 0, 0, 0
    for t, start in lights:
        piece = mix[4 * start:4 * (start + PIECE)]
        if len(piece) < 4 * PIECE:
            break  # the mix ended here
        if len(set(piece)) < 16:
            silent += 1
            continue
        if offset is None:
            at = find_frame(rec, piece, 0, len(rec) // 4)
        else:
            at = find_frame(rec, piece, start + offset, start + offset + MAX_GAP)
        if at < 0:
            unfound += 1
            continue
        if offset is not None and at - start != offset:
            gaps += 1
        offset = at - start
        diffs.append((t - reached(at)) * 1000.0)
        if LIST_BEYOND_MS is not None and abs(diffs[-1]) > LIST_BEYOND_MS:
            print('%s: light %d at %.3f s (step frame %d): %+.2f ms'
                  % (name, len(diffs), t - lights[0][0], start, diffs[-1]))
    shown = {start for _, start in lights}
    inner = [s for s in steps if lights and lights[0][1] <= s <= lights[-1][1]]
    skipped = [s for s in inner if s not in shown]
    if not diffs:
        raise SystemExit('%s: no step found in the recording' % name)
    diffs.sort()
    print('%s: %d light changes over %.1f s, %d steps measured (%d begin in silence, %d cut by '
          'a gap); light minus sound: mean %+.2f ms, median %+.2f ms, from %+.2f to %+.2f ms; '
          '%d of %d steps skipped by the light; %d gaps in the sound'
          % (name, len(lights), lights[-1][0] - lights[0][0], len(diffs), silent, unfound,
             sum(diffs) / len(diffs), diffs[len(diffs) // 2], diffs[0], diffs[-1], len(skipped),
             len(inner), gaps))


main()
