#!/usr/bin/env bash
# Start-up of the program under a plain X server: the time from starting qtam until its window
# is mapped, and its resident memory once started, each the median of RUNS runs.
#
#   bench/startup.sh [BUILD] [--display :N] [--runs N] [--window REGEX] [--settle SECONDS]
#
# Starts its own Xvfb on the display (default :91) unless one is already answering there, and
# stops only the processes it started. The window waited for is the one whose name matches
# REGEX (default: the groove panel's caption, a quoted song title, or the main window's).
set -euo pipefail

build=build
display=:91
runs=5
window='^"|Vediveve Duzuda Duvivir 1\.0'
settle=1
while [ $# -gt 0 ]; do
    case $1 in
        --display) display=$2; shift 2 ;;
        --runs) runs=$2; shift 2 ;;
        --window) window=$2; shift 2 ;;
        --settle) settle=$2; shift 2 ;;
        *) build=$1; shift ;;
    esac
done
qtam="$build/bin/qtam"
song="$build/bin/demo.sng"
[ -x "$qtam" ] || { echo "no $qtam: build first" >&2; exit 1; }
command -v xdotool >/dev/null || { echo "xdotool is needed" >&2; exit 1; }

work=$(mktemp -d)
xvfb_pid=
qtam_pid=
cleanup() {
    [ -n "$qtam_pid" ] && kill "$qtam_pid" 2>/dev/null || true
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

export DISPLAY=$display
if ! xdotool getmouselocation >/dev/null 2>&1; then
    Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do xdotool getmouselocation >/dev/null 2>&1 && break; sleep 0.05; done
fi
export QT_QPA_PLATFORM=xcb SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} QTAM_CONFIG=$work/QTam.ini

median() { sort -n | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}'; }

times=()
rss=()
for run in $(seq "$runs"); do
    start=$(date +%s%N)
    "$qtam" "$song" >/dev/null 2>&1 &
    qtam_pid=$!
    mapped=
    for _ in $(seq 4000); do
        if xdotool search --onlyvisible --pid "$qtam_pid" --name "$window" >/dev/null 2>&1; then
            mapped=$(date +%s%N)
            break
        fi
    done
    [ -n "$mapped" ] || { echo "run $run: no window matching /$window/ was mapped" >&2; exit 1; }
    sleep "$settle"
    kib=$(awk '/^VmRSS:/ {print $2}' "/proc/$qtam_pid/status")
    kill "$qtam_pid"
    wait "$qtam_pid" 2>/dev/null || true
    qtam_pid=
    ms=$(( (mapped - start) / 1000000 ))
    printf 'run %d: mapped after %d ms, resident %.1f MiB\n' "$run" "$ms" "$(echo "$kib / 1024" | bc -l)"
    times+=("$ms")
    rss+=("$kib")
done
t=$(printf '%s\n' "${times[@]}" | median)
r=$(printf '%s\n' "${rss[@]}" | median)
printf 'median of %d: start to mapped %d ms, resident memory %.1f MiB\n' "$runs" "$t" \
    "$(echo "$r / 1024" | bc -l)"
