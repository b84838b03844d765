#!/usr/bin/env bash
# The main job of `make run`: start the program with the demo song on a desktop; without one,
# render the demo song with the default kit and say where it went.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    echo "Starting $bin/qtam with the demo song."
    exec "$bin/qtam" "$bin/demo.sng"
fi
echo "No desktop here (neither DISPLAY nor WAYLAND_DISPLAY is set), so instead of opening"
echo "the program, pattern 1 of the demo song is rendered to a WAV file."
out="$build/demo.wav"
"$bin/qtam-cli" render "$bin/demo.sng" -o "$out" --pattern 1 --force
echo "Listen with: play $out   (or any WAV player)"
echo "Other patterns: $bin/qtam-cli render $bin/demo.sng -o OUT.wav --pattern 2..8"
echo "Real time:      $bin/qtam-cli play $bin/demo.sng --seconds 10"
echo "The program:    $bin/qtam $bin/demo.sng   (on a desktop)"
