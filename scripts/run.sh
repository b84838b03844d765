#!/usr/bin/env bash
# The main job of `make run`: render the demo song with the default kit and say where it went.
set -euo pipefail
build=${1:-build}
bin="$build/bin"
out="$build/demo.wav"
"$bin/qtam-cli" render "$bin/demo.sng" -o "$out" --pattern 1 --force
echo "Listen with: play $out   (or any WAV player)"
echo "Other patterns: $bin/qtam-cli render $bin/demo.sng -o OUT.wav --pattern 2..4"
echo "Real time:      $bin/qtam-cli play $bin/demo.sng --seconds 10"
