#!/bin/sh
# Plays the demo song from the groove panel on a real X server into a private PulseAudio
# server whose null sink is recorded, driving the panel with X input as a user would:
#   1. a click on Start, 3 s of playing, a click on Stop;
#   2. the space bar held for 1.5 s (auto-repeat: starts once), released, pressed again (stops).
# Prints the peak level of every half second of the recording: silence before, sound while
# playing, silence after.
#
#   bench/panel_sound_check.sh BUILD_DIR [DISPLAY_NUMBER] [qtam]
# With "qtam" the whole program runs (main window, splash clicked away, then the panel);
# otherwise the panel alone (qtam_panel).
# Needs Xvfb, xdotool, pulseaudio, parec and python3.
set -eu
build=$(cd "$1" && pwd)
display=:${2:-92}
program=${3:-qtam_panel}
. "$(dirname "$0")/private_xvfb.sh"
. "$(dirname "$0")/private_pulse.sh"
export DISPLAY=$display QT_QPA_PLATFORM=xcb

export QTAM_CONFIG=$work/QTam.ini
"$build/bin/$program" "$build/bin/demo.sng" >"$work/app.log" 2>&1 &
pids="$pids $!"
sleep 3
if [ "$program" = qtam ]; then
    about=$(xdotool search --name "Q.Tam Vediveve" | head -1)
    xdotool mousemove --window "$about" 160 100 click 1
    sleep 2.5
fi
wid=$(xdotool search --name demo | head -1)

record() {  # record NAME SECONDS COMMANDS...: records while the commands run
    name=$1
    shift
    parec --device=null.monitor --format=s16le --rate=44100 --channels=2 --raw "$work/$name.raw" &
    rec=$!
    sleep 0.5
    "$@"
    sleep 0.5
    kill $rec
    wait $rec 2>/dev/null || true
    python3 - "$work/$name.raw" "$name" <<'EOF'
import struct, sys
d = open(sys.argv[1], 'rb').read()
n = len(d) // 2
s = struct.unpack('<%dh' % n, d[:n * 2])
half = 44100  # half a second of stereo samples
peaks = [max((abs(x) for x in s[i:i + half]), default=0) for i in range(0, n, half)]
print('%s: %.1f s recorded, peak per half second: %s' % (sys.argv[2], n / 88200.0, peaks))
EOF
}

click_start_stop() {
    # without a window manager nothing keeps the panel above the main window
    xdotool windowraise "$wid"
    xdotool mousemove --window "$wid" 393 310 click 1
    sleep 3
    xdotool mousemove --window "$wid" 393 336 click 1
}
space_hold_then_press() {
    xdotool windowfocus --sync "$wid" 2>/dev/null || true
    xdotool keydown space
    sleep 1.5
    xdotool keyup space
    sleep 1
    xdotool key space
}
record start_stop_buttons click_start_stop
record space_bar space_hold_then_press
