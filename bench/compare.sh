#!/usr/bin/env bash
# Two commits side by side on this machine: builds both in folders of their own, then runs their
# mixer benchmarks and a whole render of songs/bench16.txt alternately (OLD, NEW, OLD, NEW, ...),
# so that the noise of a shared machine falls on both alike. Prints how many times faster NEW is.
#
#   bench/compare.sh OLD [NEW]      (NEW defaults to HEAD; both are anything git can name)
#
# Settings from the environment: ROUNDS (benchmark runs of each build, default 7), RENDERS (timed
# renders of each build, default 11), MIN_TIME (seconds per benchmark per run, default 0.3),
# COMPARE_DIR (where the builds go, default build-compare in the checkout), JOBS (default 2).
# The benchmarks give CPU time per iteration; the renders give wall time. Each line shows the
# median ratio OLD/NEW and the spread of the single ratios. The two renders must match byte for
# byte, otherwise the script fails.
set -euo pipefail

if [[ $# -lt 1 || $# -gt 2 ]]; then
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 2
fi

root=$(git rev-parse --show-toplevel)
old_rev=$(git -C "$root" rev-parse --verify "$1^{commit}")
new_rev=$(git -C "$root" rev-parse --verify "${2:-HEAD}^{commit}")
rounds=${ROUNDS:-7}
renders=${RENDERS:-11}
min_time=${MIN_TIME:-0.3}
jobs=${JOBS:-2}
work=$(realpath -m "${COMPARE_DIR:-$root/build-compare}")
mkdir -p "$work"

# A higher priority than the neighbours when the system allows it; plain otherwise.
run=()
if [[ "$(nice -n -5 nice 2>/dev/null)" -lt "$(nice)" ]]; then run=(nice -n -5); fi

# The sources of a commit exported (not checked out, so the repository is left as it is) and
# built with only what the comparison needs.
build_side() {
    local side=$1 rev=$2 dir="$work/$1"
    if [[ "$(cat "$dir/rev" 2>/dev/null)" != "$rev" ]]; then
        # A fresh folder for another commit; the compiler cache keeps the rebuild short.
        rm -rf "$dir/src" "$dir/build"
        mkdir -p "$dir/src"
        # -m: the files get the time of extraction, so that make rebuilds what changed.
        git -C "$root" archive "$rev" | tar -x -m -C "$dir/src"
        echo "$rev" >"$dir/rev"
    fi
    echo "Building $side ($(git -C "$root" log -1 --format='%h %s' "$rev"))" >&2
    CCACHE_BASEDIR="$work" cmake -S "$dir/src" -B "$dir/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        -DQTAM_BENCH=ON >/dev/null
    CCACHE_BASEDIR="$work" cmake --build "$dir/build" -j"$jobs" --target mixer_bench qtam-cli \
        >/dev/null
}
build_side old "$old_rev"
build_side new "$new_rev"

song="$work/bench16.sng"
"$work/new/build/bin/qtam-cli" build "$root/songs/bench16.txt" -o "$song" --force >/dev/null

# CPU time per iteration of every benchmark, as "name time" lines.
bench_once() {
    "${run[@]}" "$work/$1/build/bin/mixer_bench" --benchmark_min_time="$min_time" \
        --benchmark_format=csv 2>/dev/null |
        awk -F, '/^"BM_/ { gsub(/"/, "", $1); print $1, $4 }'
}

# Wall seconds of one whole render.
render_once() {
    local start end
    start=$(date +%s%N)
    "${run[@]}" "$work/$1/build/bin/qtam-cli" render "$song" -o "$work/$1.wav" --force \
        >/dev/null 2>&1
    end=$(date +%s%N)
    echo "render $(((end - start) / 1000))e-6"
}

results="$work/results.txt"
: >"$results"
for ((i = 1; i <= rounds; i++)); do
    echo "Benchmark round $i of $rounds" >&2
    for side in old new; do bench_once "$side" | sed "s/^/$side $i /" >>"$results"; done
done
for ((i = 1; i <= renders; i++)); do
    for side in old new; do render_once "$side" | sed "s/^/$side $i /" >>"$results"; done
done
if ! cmp -s "$work/old.wav" "$work/new.wav"; then
    echo "The renders of OLD and NEW differ: $work/old.wav $work/new.wav" >&2
    exit 1
fi

echo "OLD $(git -C "$root" log -1 --format='%h %s' "$old_rev")"
echo "NEW $(git -C "$root" log -1 --format='%h %s' "$new_rev")"
[[ ${#run[@]} -gt 0 ]] && echo "(run with nice -n -5)"
printf '%-16s %12s %12s %9s %18s\n' measure "OLD median" "NEW median" OLD/NEW "ratio min..max"
# For each measure: the medians of both sides, the median of the per-round ratios OLD/NEW and
# their smallest and largest value.
awk '
    { t[$1, $3, $2] = $4 + 0; names[$3] = 1; if ($2 > n) n = $2 }
    function median(a, k,   i, j, x) {
        for (i = 2; i <= k; i++) { x = a[i]; for (j = i - 1; j >= 1 && a[j] > x; j--) a[j + 1] = a[j]; a[j + 1] = x }
        return k % 2 ? a[(k + 1) / 2] : (a[k / 2] + a[k / 2 + 1]) / 2
    }
    END {
        for (name in names) {
            k = 0; lo = 1e300; hi = 0
            for (i = 1; i <= n; i++) {
                if (!(("old", name, i) in t) || !(("new", name, i) in t)) continue
                k++; o[k] = t["old", name, i]; w[k] = t["new", name, i]; r[k] = o[k] / w[k]
                if (r[k] < lo) lo = r[k]; if (r[k] > hi) hi = r[k]
            }
            if (k == 0) continue
            unit = name == "render" ? "s" : "us"
            mo = median(o, k); mn = median(w, k); mr = median(r, k)
            printf "%-16s %10.4g%-2s %10.4g%-2s %8.2fx %8.2f..%.2f\n", name, mo, unit, mn, unit, mr, lo, hi
        }
    }' "$results" | sort
