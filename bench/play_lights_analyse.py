#!/usr/bin/env python3
# The light against the sound, for bench/play_lights_check.sh:
#   play_lights_analyse.py MIX.raw RECORDING.raw RECORDING.stamps PANEL.log NAME
# MIX.raw is what the panel mixed from its start, RECORDING.raw what reached the sink (both
# 16-bit stereo at 44100 Hz); RECORDING.stamps has "ns bytes" per read of the recording.
# Each step's first 10 ms of the mix are looked for in the recording, after where the step
# before was found: a late block leaves a gap of silence in the recording, so the distance
# between the two only grows. A step that begins in silence has nothing to find.
import sys

RATE = 44100
PIECE = 441  # frames
MAX_GAP = 5 * RATE  # frames


def find_frame(rec, piece, first, last):
    """The first frame >= first (and <= last) at which the recording holds `piece`, or -1."""
    at = rec.find(piece, 4 * first, 4 * (last + PIECE))
    while at >= 0 and at % 4:
        at = rec.find(piece, at + 1, 4 * (last + PIECE))
    return at // 4 if at >= 0 else -1


def main():
    mix_path, rec_path, stamps_path, log_path, name = sys.argv[1:6]
    mix, rec = open(mix_path, 'rb').read(), open(rec_path, 'rb').read()

    # When frame 0 of the recording reached the sink: each read ends at a known frame and
    # happens after that frame arrived; the earliest read bounds it most tightly.
    t0 = None
    with open(stamps_path) as f:
        for line in f:
            ns, total = map(int, line.split())
            t = ns / 1e9 - (total // 4) / RATE
            t0 = t if t0 is None else min(t0, t)

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
        diffs.append((t - (t0 + at / RATE)) * 1000.0)
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
