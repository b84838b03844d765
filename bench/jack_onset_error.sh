#!/usr/bin/env bash
# The onset error of qtam-cli play --jack over ten minutes of transport time, at 44100 and
# 48000 Hz side by side: a private jackd each (dummy driver, in real time: its -w option
# shortens the wait but the transport then moves by the time waited, not by the period), the
# transport rolled from frame 0 and Q.Tam following it. Every step's click is found in
# channel1_L and held against its frame on the transport's grid. Prints the worst and the
# mean error in frames, and the steps missing.
#   bench/jack_onset_error.sh [BUILD_DIR] [MINUTES]     (defaults: build, 10)
set -euo pipefail
build=${1:-build}
minutes=${2:-10}
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
limit=$(awk "BEGIN { print int($minutes * 60 * 1.5 + 120) }")
measure() {
  timeout -s KILL "$limit" /usr/bin/python3 - "$here" "$build" "$minutes" "$work/$1" "$1" <<'PY'
import os, sys
here, build, minutes, work, rate = sys.argv[1:6]
minutes, rate = float(minutes), int(rate)
os.makedirs(work, exist_ok=True)
sys.path.insert(0, os.path.join(here, "tests/engine/audio"))
import jack_check as jc

cli = os.path.abspath(os.path.join(build, "bin", "qtam-cli"))
period = 1024
probe, rc, out, err = jc.roll_and_record(
    cli, work, f"qtam-bench-{rate}-{os.getpid()}", rate=rate, period=period,
    periods=int(minutes * 60 * rate / period) + 40, actions=jc.locate_and_start(10),
    ports=("channel1_L",))
clicks = probe.onsets("channel1_L")
first = probe.first_rolling_frame()
last = probe.periods[-1][1]
errors, missing = jc.onset_errors(clicks, rate, 120, 40, first, last - 2 * period)
# Periods the probe itself did not see (an xrun of its own): a step there is not missing.
frames = [f for s, f, _, _ in probe.periods if s == jc.jack.ROLLING]
gaps = [(a + period, b) for a, b in zip(frames, frames[1:]) if b != a + period]
unseen = [g for g in missing if any(lo <= g < hi for lo, hi in gaps)]
print(f"{rate} Hz: {len(clicks)} steps over {(last - first) / rate / 60:.2f} min of transport "
      f"time, worst onset error {max(errors)} frames, mean {sum(errors) / len(errors):.4f} "
      f"frames, {len(missing) - len(unseen)} steps missing ({len(unseen)} more in "
      f"{len(gaps)} periods the probe missed); qtam-cli: "
      f"{out.strip().splitlines()[-1] if out.strip() else err.strip()}", flush=True)
PY
}
measure 44100 &
first=$!
measure 48000
wait "$first"
