#!/usr/bin/env python3
"""Lists the underruns a debug-logging PulseAudio server reported while the soak played.

    soak_underruns.py SERVER_LOG SERVER_STARTED PLAY_STARTED PLAY_ENDED   (times: date +%s.%N)

An underrun means the program's stream ran dry at the server: its audio thread or the server
was late. A glitch of the recording without an underrun near it was lost by the recorder.
Times are printed from the Start click, as the check's glitch times are from the first sound
(which follows the click by the two lead-in blocks, 0.09 s, and the device's queue).
"""
import re
import sys

log, server_started, play_started, play_ended = sys.argv[1], *map(float, sys.argv[2:5])
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
