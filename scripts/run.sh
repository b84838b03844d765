#!/usr/bin/env bash
# The main job of `make run`: for now, the mixer benchmark.
set -euo pipefail
build=${1:-build}
exec "$build/bin/mixer_bench"
