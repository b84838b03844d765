#!/usr/bin/env bash
# The timing of qtam-cli play --jack's MIDI, each against a private jackd (dummy driver, in
# real time): the MIDI clock out's drift and jitter over MINUTES of transport time, against its
# exact grid (transport followed) and against the sounds themselves with the transport off,
# followed and mastered (the four runs side by side); the note-out frame error (each note-on
# against the onset of its sound); the pad-to-sound latency; a MIDI clock followed (clock in):
# the steps on the frames of its ticks and the tempo reported, then the lock of the measured
# tempo over simulated clocks jittered by 0 to 1 ms (clock_in_lock_bench).
#   bench/jack_midi_timing.sh [BUILD_DIR] [MINUTES]     (defaults: build, 10)
set -euo pipefail
build=${1:-build}
minutes=${2:-10}
here=$(cd "$(dirname "$0")/.." && pwd)
bin=$(cd "$build" && pwd)/bin
cli=$bin/qtam-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$(awk "BEGIN { print $minutes * 60 }")
limit=$(awk "BEGIN { print int($seconds * 1.5 + 120) }")
cd "$here/tests/engine/audio"
for scenario in notes pads clock-in; do
  timeout -s KILL 170 /usr/bin/python3 jack_midi_check.py "$scenario" "$cli" "$work/$scenario" |
    grep -E '^(measured|FAIL)'
done
pids=()
for scenario in clock clock-off clock-follow clock-master; do
  timeout -s KILL "$limit" /usr/bin/python3 jack_midi_check.py "$scenario" "$cli" \
    "$work/$scenario" "$seconds" >"$work/$scenario.txt" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
for scenario in clock clock-off clock-follow clock-master; do
  grep -E '^(measured|FAIL|ok    clock: [0-9])' "$work/$scenario.txt" || cat "$work/$scenario.txt"
done
"$bin/clock_in_lock_bench"
exit $status
