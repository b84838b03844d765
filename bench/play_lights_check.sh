#!/bin/sh
# How far the panel's running light is from the sound. The panel (qtam_panel) plays the demo song
# at 200 BPM (or TEMPO) for 30 s on a real X server into a private PulseAudio server (or, with
# QTAM_SOUND_SERVER=pipewire, PipeWire's, its graph at 44100 Hz) whose null sink is
# recorded by parec; each read of the recording is stamped with the steady clock. The panel logs
# when its light moves to a step and at which frame of its output that step begins, and keeps
# its output; the recording is aligned with that output, so each step's first sample is found
# in the recording and the moment it reached the sink. Prints, at scale 1 and 2, the mean and
# the worst difference (light minus sound, ms) and the steps the light skipped (LIGHTS_LIST_MS=8
# lists each step further than 8 ms from its sound).
#
#   bench/play_lights_check.sh BUILD_DIR [DISPLAY_NUMBER] [SECONDS] [TEMPO] [LATENCY_MS] [START_MS]
# The panel plays as its window comes up, as its sound stream opens, or with START_MS that many
# milliseconds later, on a stream already running (as a user's Start finds it).
# Needs Xvfb, pulseaudio, parec and python3. Run as root, the sound server, the recorder and
# the panel get a higher priority (nice -10), so that other work on a shared machine does not
# starve the sound (a starved device leaves gaps, which the light follows).
set -eu
prio=""
[ "$(id -u)" = 0 ] && prio="nice -n -10"
build=$(cd "$1" && pwd)
display=:${2:-93}
seconds=${3:-30}
tempo=${4:-200}
latency=${5:-120}
start_ms=${6:-}
start="--play"
[ -n "$start_ms" ] && start="--play-after $start_ms"
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private_xvfb.sh"
pulse_prio=$prio
pipewire_rate=44100  # the frames are compared
. "$here/private_pulse.sh"
export DISPLAY=$display QT_QPA_PLATFORM=xcb QTAM_CONFIG=$work/QTam.ini

run() {  # run SCALE
    scale=$1
    # parec's output, each read stamped: "ns bytes-so-far" lines beside the raw sound
    rm -f "$work/fifo"
    mkfifo "$work/fifo"
    python3 -c '
import os, sys, time
raw = open(sys.argv[1], "wb"); stamps = open(sys.argv[2], "w"); total = 0
while True:
    chunk = os.read(0, 65536)
    if not chunk: break
    now = time.monotonic_ns(); total += len(chunk)
    raw.write(chunk); stamps.write("%d %d\n" % (now, total))
' "$work/rec$scale.raw" "$work/rec$scale.stamps" <"$work/fifo" &
    stamper=$!
    $prio parec --device=null.monitor --latency-msec=2 --format=s16le --rate=44100 --channels=2 \
        --raw >"$work/fifo" &
    rec=$!
    sleep 1
    QT_SCALE_FACTOR=$scale $prio "$build/bin/qtam_panel" "$build/bin/demo.sng" \
        $start --tempo "$tempo" \
        --latency "$latency" --log-light "$work/mix$scale.raw" \
        --quit-after $((seconds * 1000 + 1500 + ${start_ms:-0})) \
        >"$work/panel$scale.log" 2>"$work/panel$scale.err"
    sleep 0.5
    kill $rec
    wait $rec 2>/dev/null || true
    wait $stamper
    python3 "$here/play_lights_analyse.py" "$work/mix$scale.raw" "$work/rec$scale.raw" \
        "$work/rec$scale.stamps" "$work/panel$scale.log" "scale $scale"
}
# SINK_BUSY=1 keeps the sink playing silence from another stream throughout, so that the panel's
# stream never opens on an idle sink (PulseAudio's null sink, idle, renders ahead and cannot
# take that back when a stream comes).
if [ -n "${SINK_BUSY:-}" ]; then
    pacat --raw --format=s16le --rate=44100 --channels=2 --latency-msec="${SINK_BUSY_MS:-10}" \
        </dev/zero &
    busy=$!
    sleep 2
fi
run 1
run 2
if [ -n "${busy:-}" ]; then kill $busy; fi
