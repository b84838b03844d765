#!/usr/bin/env python3
# The light against the sound, for bench/play_lights_check.sh:
#   play_lights_analyse.py MIX.raw RECORDING.raw RECORDING.stamps PANEL.log NAME
# MIX.raw is what the panel mixed from its start, RECORDING.raw what reached the sink (both
# 16-bit stereo at 44100 Hz); RECORDING.stamps has "ns bytes" per read of the recording.
import array
import sys

RATE = 44100


def frames(path):
    a = array.array('h')
    with open(path, 'rb') as f:
        a.frombytes(f.read())
    return a


def first_loud(a, threshold=200):
    for i in range(0, len(a) - 1, 2):
        if abs(a[i]) > threshold or abs(a[i + 1]) > threshold:
            return i // 2
    raise SystemExit('no sound found')


def main():
    mix_path, rec_path, stamps_path, log_path, name = sys.argv[1:6]
    mix, rec = frames(mix_path), frames(rec_path)
    m0, r0 = first_loud(mix), first_loud(rec)
    offset = r0 - m0  # recording frame = mixed frame + offset

    def same_from(mixed_frame, count=4410):
        r = mixed_frame + offset
        if r < 0 or 2 * (r + count) > len(rec) or 2 * (mixed_frame + count) > len(mix):
            return None
        a = mix[2 * mixed_frame:2 * (mixed_frame + count)]
        b = rec[2 * r:2 * (r + count)]
        return sum(1 for x, y in zip(a, b) if x == y) / len(a)

    # The moment frame 0 of the recording reached the sink: each read ends at a known frame
    # and happens after that frame arrived; the earliest read bounds it most tightly.
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
                lights.append((int(w[1]) / 1e9, int(w[2]), int(w[3]), int(w[4]), int(w[5])))
            elif w and w[0] == 'step':
                steps.append(int(w[1]))
    diffs = [(t - (t0 + (start + offset) / RATE)) * 1000.0 for t, _, _, _, start in lights]
    shown = {start for _, _, _, _, start in lights}
    inner = [s for s in steps if lights and lights[0][4] <= s <= lights[-1][4]]
    skipped = [s for s in inner if s not in shown]
    last = max((s for s in steps if s + 4410 + offset < len(rec) // 2), default=m0)
    print('%s: %d light changes over %.1f s; light minus sound: mean %+.2f ms, worst %+.2f ms '
          '(from %+.2f to %+.2f); %d of %d steps skipped; recording equals the mix at the start '
          '%.0f %%, at the last step %.0f %%' % (
              name, len(lights), (lights[-1][0] - lights[0][0]) if lights else 0,
              sum(diffs) / len(diffs) if diffs else 0,
              max(diffs, key=abs) if diffs else 0, min(diffs, default=0), max(diffs, default=0),
              len(skipped), len(inner), 100 * (same_from(m0) or 0),
              100 * (same_from(last) or 0)))


main()
