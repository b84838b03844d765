#!/usr/bin/env python3
"""Lists the underruns a debug-logging PulseAudio server reported while the soak played.

    soak_underruns.py SERVER_LOG SERVER_STARTED PLAY_STARTED PLAY_ENDED [GAPS_LOG]
    (times: date +%s.%N; GAPS_LOG: what wakeup_gaps printed meanwhile)

An underrun means the program's stream ran dry at the server: its audio thread or the server
was late. A glitch of the recording without an underrun near it was lost by the recorder.
Times are printed from the Start click, as the check's glitch times are from the first sound
(which follows the click by the two lead-in blocks, 0.09 s, and the device's queue).
With GAPS_LOG, each underrun is shown with the machine's longest pause within a second of it
and the ticks stolen by the hypervisor then, and the longest pauses of the whole run are listed.
"""
import re
import sys

log, server_started, play_started, play_ended = sys.argv[1], *map(float, sys.argv[2:5])
watched = len(sys.argv) > 5
gaps = []  # (seconds from the Start click, gap in ms, stolen ticks)
if watched:
    with open(sys.argv[5]) as f:
        for line in f:
            at, gap, stolen = line.split()
            if 0 <= float(at) - play_started <= play_ended - play_started:
                gaps.append((float(at) - play_started, float(gap), int(stolen)))
times = []
with open(log, errors='replace') as f:
    for line in f:
        m = re.match(r'\(\s*([0-9.]+)\|', line)
        if m and ('Implicit underrun' in line or 'Underrun on' in line):
            at = server_started + float(m.group(1)) - play_started
            if 0 <= at <= play_ended - play_started:
                times.append(at)
print('the sound server reported %d underruns while playing%s'
      % (len(times), (': at ' + ', '.join('%.1f s' % t for t in times[:20])) if times else ''))
if watched:
    for t in times[:20]:
        near = [g for g in gaps if abs(g[0] - t) <= 1]
        if near:
            at, gap, stolen = max(near, key=lambda g: g[1])
            print('  at %.1f s the machine paused %.0f ms (at %.1f s, %d ticks stolen)'
                  % (t, gap, at, stolen))
        else:
            print('  at %.1f s the machine did not pause (no wake-up came late)' % t)
    longest = sorted(gaps, key=lambda g: -g[1])[:5]
    print('the machine\'s longest pauses while playing: %s' % (', '.join(
        '%.0f ms at %.1f s' % (g[1], g[0]) for g in longest) if longest else 'none'))
