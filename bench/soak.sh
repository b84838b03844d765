#!/bin/sh
# A long session of the program: it plays the demo song from its groove panel for DURATION
# seconds into a private PulseAudio null sink whose monitor is recorded, and then
#  - checks that the recording holds the live mix frame for frame from the first sound to the
#    stop (no lost, repeated or reordered frames) and silence after the stop;
#  - checks that resident memory grew by less than 1 MiB from the first minute to the end (from
#    a third of the way in when the run is shorter than three minutes);
#  - prints the program's CPU share while playing;
#  - lists the sound server's underruns, each with the machine's own pauses around it
#    (wakeup_gaps, when built), so a stall of the whole machine is told from a late program.
# The live mix to compare with is made by qtam-cli play on SDL's disk driver, faster than real
# time, with --record: the same mixer and playback driver, recording every block it mixes.
#
#   bench/soak.sh DURATION [BUILD_DIR]      e.g. bench/soak.sh 3600 build
# Exits 0 when every check passes. Needs Xvfb, xdotool, pulseaudio, parec and python3; starts
# its own X server (on a free display) and sound server and stops only what it started.
set -eu
duration=$1
build=$(cd "${2:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
keep_work=${SOAK_KEEP:-}
display=""  # the first free one
. "$here/private_xvfb.sh"
trap 'exit 1' INT TERM
pulse_started=$(date +%s.%N)  # the server's log counts from its start
pulse_log=4  # debug: the server logs every underrun, that is, each time a stream ran dry
. "$here/private_pulse.sh"
export DISPLAY=$display QT_QPA_PLATFORM=xcb QTAM_CONFIG=$work/QTam.ini

# The live mix, made meanwhile: a little longer than the session.
SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=/dev/null SDL_DISKAUDIODELAY=1 \
    "$build/bin/qtam-cli" play "$build/bin/demo.sng" --seconds $((duration + 10)) \
    --record "$work/live.wav" >"$work/live.log" 2>&1 &
live=$!

"$build/bin/qtam" "$build/bin/demo.sng" >"$work/app.log" 2>&1 &
app=$!
pids="$pids $app"
. "$here/program_windows.sh"
wid=$(panel_after_splash)
# One short play first: the first play after start-up begins its first step one frame later
# (the play clock as a new song leaves it), every later one as qtam-cli play begins.
xdotool windowraise "$wid"
xdotool mousemove --window "$wid" 393 310 click 1  # Start
sleep 1
xdotool mousemove --window "$wid" 393 336 click 1  # Stop
sleep 1.5

# A generous buffer: the recorder must not be the one that loses frames on a busy machine.
parec --device=null.monitor --format=s16le --rate=44100 --channels=2 --raw --latency-msec=200 \
    "$work/monitor.raw" &
rec=$!
pids="$pids $rec"
sleep 1
if [ -x "$build/bin/wakeup_gaps" ]; then
    "$build/bin/wakeup_gaps" >"$work/gaps.log" &
    pids="$pids $!"
fi

rss() { awk '/^VmRSS/ {print $2}' "/proc/$app/status"; }
cpu_ticks() { awk '{print $14 + $15}' "/proc/$app/stat"; }
baseline_at=60
[ "$duration" -lt 180 ] && baseline_at=$((duration / 3))

xdotool windowraise "$wid"
xdotool mousemove --window "$wid" 393 310 click 1  # Start
started=$(date +%s.%N)
ticks0=$(cpu_ticks)
sleep "$baseline_at"
rss0=$(rss)
sleep $((duration - baseline_at))
rss1=$(rss)
ticks1=$(cpu_ticks)
ended=$(date +%s.%N)
xdotool windowraise "$wid"
xdotool mousemove --window "$wid" 393 336 click 1  # Stop
sleep 2
kill "$rec"
wait "$rec" 2>/dev/null || true
wait "$live" || { echo "the live mix could not be made:"; cat "$work/live.log"; exit 1; }

status=0
python3 "$here/soak_check.py" "$work/monitor.raw" "$work/live.wav" "$duration" || status=1
gaps=""
[ -f "$work/gaps.log" ] && gaps=$work/gaps.log
python3 "$here/soak_underruns.py" "$work/pa.log" "$pulse_started" "$started" "$ended" $gaps
growth=$((rss1 - rss0))
echo "resident memory: $rss0 KiB after ${baseline_at} s, $rss1 KiB at the end (grew $growth KiB)"
[ "$growth" -lt 1024 ] || { echo "FAIL: resident memory grew by 1 MiB or more"; status=1; }
awk -v t0="$ticks0" -v t1="$ticks1" -v s="$started" -v e="$ended" -v hz="$(getconf CLK_TCK)" \
    'BEGIN { printf "CPU share of qtam while playing: %.2f %% of one core\n", 100 * (t1 - t0) / hz / (e - s) }'
kill -0 "$app" 2>/dev/null || { echo "FAIL: the program ended by itself"; status=1; }
exit $status
