#!/usr/bin/env bash
# Whole-process times of qtam-cli: `info` of a song and the render of a busy 32 s song (the
# busy pattern of songs/bench16.txt at 120 BPM: 16 measures of 2 s), each the median of RUNS
# runs (default 9), with the shared libraries each run loaded.
#
#   bench/cli_startup.sh [BUILD] [--runs N]
set -euo pipefail

build=build
runs=9
while [ $# -gt 0 ]; do
    case $1 in
        --runs) runs=$2; shift 2 ;;
        *) build=$1; shift ;;
    esac
done
root=$(cd "$(dirname "$0")/.." && pwd)
cli="$build/bin/qtam-cli"
[ -x "$cli" ] || { echo "no $cli: build first" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sed 's/^tempo 145$/tempo 120/' "$root/songs/bench16.txt" >"$work/busy32.txt"
"$cli" build "$work/busy32.txt" -o "$work/busy32.sng" --force >/dev/null

# The median wall time of RUNS runs of a command, in milliseconds (timed by one Python process,
# so that no helper's own start is counted).
median_ms() {
    python3 - "$runs" "$@" <<'PY'
import statistics, subprocess, sys, time
runs, command = int(sys.argv[1]), sys.argv[2:]
times = []
for _ in range(runs):
    start = time.perf_counter()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    times.append((time.perf_counter() - start) * 1000)
print(f"{statistics.median(times):.1f}")
PY
}

echo "shared libraries loaded at start: $(ldd "$cli" | grep -c '=>')"
echo "info:   median of $runs: $(median_ms "$cli" info "$work/busy32.sng") ms"
echo "render: median of $runs: $(median_ms "$cli" render "$work/busy32.sng" -o "$work/busy32.wav" --force) ms (32 s of song)"
