#!/usr/bin/env bash
# Runs every fuzz target of a fuzz build (see `make fuzz`) for SECONDS each, one after the
# other, starting from the seed corpus. What a target finds new is kept in
# BUILD/fuzz-corpus/NAME for the next run; a crash, leak or hang is written to
# BUILD/fuzz-findings/ and makes the script fail.
#   usage: scripts/fuzz.sh BUILD [SECONDS] [TARGET...]
set -uo pipefail
build=$1
seconds=${2:-60}
shift $(( $# > 1 ? 2 : 1 ))
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(song userbank wav song_text)
here=$(cd "$(dirname "$0")/.." && pwd)

seeds=$build/fuzz-seeds
python3 "$here/tests/fuzz/make_seeds.py" "$seeds" "$here/songs" || exit 1
mkdir -p "$build/fuzz-findings"

status=0
for name in "${targets[@]}"; do
  corpus=$build/fuzz-corpus/$name
  mkdir -p "$corpus"
  # A song file is one record of 103450 bytes and may carry up to a record less one byte more.
  max_len=65536
  [ "$name" = song ] && max_len=206899
  log=$build/fuzz-$name.log
  echo "== fuzz_$name for $seconds s"
  "$build/bin/fuzz_$name" "$corpus" "$seeds/$name" -max_total_time="$seconds" -max_len=$max_len \
    -timeout=10 -print_final_stats=1 -artifact_prefix="$build/fuzz-findings/$name-" >"$log" 2>&1
  rc=$?
  grep -E "^#[0-9]+[[:space:]]+DONE" "$log" | tail -1
  grep -E "stat::number_of_executed_units|stat::peak_rss_mb" "$log"
  if [ $rc -ne 0 ]; then
    echo "fuzz_$name found a problem (exit $rc); see $log and $build/fuzz-findings/"
    grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -5
    status=1
  fi
done
exit $status
