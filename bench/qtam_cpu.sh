#!/bin/sh
# CPU of the whole program on a real X server (Xvfb) with SDL's dummy audio driver: qtam is
# started with the demo song, the splash is clicked away (the light show runs), then the
# program's CPU time (user + system, from /proc) is taken over 10 s (or QTAM_CPU_SECONDS) idle
# with the panel shown, and over as long playing after a click on the panel's Start button.
#
# With "pulse" as the third word it plays into a private PulseAudio server instead (a null
# sink), as on a desktop; with QTAM_SOUND_SERVER=pipewire as well, into PipeWire's.
#
#   bench/qtam_cpu.sh BUILD_DIR [DISPLAY_NUMBER] [pulse]
set -eu
build=$(cd "$1" && pwd)
display=:${2:-92}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private_xvfb.sh"
export DISPLAY=$display QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy XDG_RUNTIME_DIR=$work
if [ "${3:-}" = pulse ]; then
    . "$here/private_pulse.sh"
    export SDL_AUDIODRIVER=pulseaudio
fi
export QTAM_CONFIG=$work/QTam.ini

"$build/bin/qtam" "$build/bin/demo.sng" >"$work/qtam.log" 2>&1 &
qtam=$!
pids="$qtam $pids"
sleep 3
about=$(xdotool search --name "Q.Tam Vediveve" | head -1)
xdotool mousemove --window "$about" 160 100 click 1  # the splash goes, the light show runs
sleep 3

ticks() {  # user + system clock ticks of qtam so far
    awk '{ print $14 + $15 }' "/proc/$qtam/stat"
}
hz=$(getconf CLK_TCK)
secs=${QTAM_CPU_SECONDS:-10}  # longer windows measure finer: a tick is 10 ms
window() {  # window NAME: CPU over the next $secs s
    t0=$(ticks)
    sleep "$secs"
    t1=$(ticks)
    python3 -c "print('$1: %.2f s of CPU in $secs s = %.2f %% of one core' % (($t1 - $t0) / $hz, 100.0 * ($t1 - $t0) / $hz / $secs))"
}
window idle
panel=$(xdotool search --name "demo" | head -1)
xdotool windowraise "$panel"  # no window manager keeps it on top
xdotool mousemove --window "$panel" 393 310 click 1  # Start
sleep 0.5
window playing
