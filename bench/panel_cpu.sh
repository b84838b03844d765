#!/bin/sh
# CPU time of the groove panel on a real X server (Xvfb) with SDL's dummy audio driver:
# 10 s idle with the panel shown, 10 s playing the demo song, as a percentage of one core;
# the CPU of a run with the start-up light show, and its ticks' timing (three more runs).
#
#   bench/panel_cpu.sh BUILD_DIR [DISPLAY_NUMBER]
set -eu
build=$(cd "$1" && pwd)
display=:${2:-92}
. "$(dirname "$0")/private_xvfb.sh"
export DISPLAY=$display QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=dummy XDG_RUNTIME_DIR=$work

measure() {  # measure NAME ARGS...
    name=$1
    shift
    /usr/bin/time -v "$build/bin/qtam_panel" "$build/bin/demo.sng" "$@" \
        >"$work/out" 2>"$work/time"
    user=$(sed -n 's/.*User time (seconds): //p' "$work/time")
    sys=$(sed -n 's/.*System time (seconds): //p' "$work/time")
    wall=$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time")
    pct=$(python3 -c "w='$wall'.split(':'); print('%.2f' % (100 * ($user + $sys) / (60 * float(w[0]) + float(w[1]))))")
    echo "$name: user ${user} s, system ${sys} s, wall ${wall}: ${pct} % of one core"
    grep -v '^QStandardPaths' "$work/out" || true
}
measure idle --quit-after 10000
measure playing --play --quit-after 10000
# the light show runs 1.8 s of these 3.5 s, on the timer thread's ticks
measure light-show --light-show --quit-after 3500
for i in 1 2 3; do
    "$build/bin/qtam_panel" --light-show --quit-after 3500 2>/dev/null
done
