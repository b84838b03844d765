#!/usr/bin/env bash
# The timing of qtam-cli play --jack's MIDI, each against a private jackd (dummy driver, in
# real time): the MIDI clock's drift and jitter over MINUTES of transport time (every tick held
# against its exact frame), the note-out frame error (each note-on against the onset of its
# sound) and the pad-to-sound latency.
#   bench/jack_midi_timing.sh [BUILD_DIR] [MINUTES]     (defaults: build, 10)
set -euo pipefail
build=${1:-build}
minutes=${2:-10}
here=$(cd "$(dirname "$0")/.." && pwd)
cli=$(cd "$build" && pwd)/bin/qtam-cli
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
seconds=$(awk "BEGIN { print $minutes * 60 }")
limit=$(awk "BEGIN { print int($seconds * 1.5 + 120) }")
cd "$here/tests/engine/audio"
for scenario in notes pads; do
  timeout -s KILL 170 /usr/bin/python3 jack_midi_check.py "$scenario" "$cli" "$work/$scenario" |
    grep -E '^(measured|FAIL)'
done
timeout -s KILL "$limit" /usr/bin/python3 jack_midi_check.py clock "$cli" "$work/clock" "$seconds" |
  grep -E '^(measured|FAIL|ok    clock: [0-9])'
