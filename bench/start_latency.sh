#!/bin/sh
# The time from a click on Start to the first sound at the sound server, for the first start
# after the program came up and for later ones. The program plays the demo song from its groove
# panel into a private PulseAudio null sink whose monitor is read as it arrives; the two silent
# lead-in blocks of every start (0.09 s) are part of the time.
#
#   bench/start_latency.sh BUILD_DIR [DISPLAY_NUMBER] [STARTS] [LATENCY_MS]
# LATENCY_MS, when given, is the latency the program asks of the server (its setting in QTam.ini).
# Needs Xvfb, xdotool, pulseaudio, parec and python3.
set -eu
build=$(cd "$1" && pwd)
display=:${2:-93}
starts=${3:-4}
latency=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private_xvfb.sh"
. "$here/private_pulse.sh"
export DISPLAY=$display QT_QPA_PLATFORM=xcb QTAM_CONFIG=$work/QTam.ini
[ -n "$latency" ] && printf '[WaveDevice]\nLatency=%s\n' "$latency" >"$QTAM_CONFIG"

"$build/bin/qtam" "$build/bin/demo.sng" >"$work/app.log" 2>&1 &
pids="$pids $!"
. "$here/program_windows.sh"
wid=$(panel_after_splash)
python3 "$here/start_latency.py" "$wid" "$starts"
