#!/usr/bin/env bash
# Side by side on PipeWire's PulseAudio server: Q.Tam (qtam-cli play) and Hydrogen (its
# PulseAudio driver) play in turns of SECONDS each into a private PipeWire (pipewire,
# wireplumber and pipewire-pulse on a session bus of its own, a null sink), under the same load
# (two busy loops and a disk writer with fsync), and the underflows pipewire-pulse sends each
# client are counted from its log.
#   bench/pipewire_underruns.sh QTAM_CLI DEMO_SNG [SECONDS] [ROUNDS] [LOAD: none|cpu|cpu+disk]
# Needs pipewire, wireplumber, pipewire-pulse, dbus, hydrogen, Xvfb and xdotool.
set -uo pipefail
cli=$1; demo=$2; secs=${3:-45}; rounds=${4:-2}; load=${5:-cpu+disk}
here=$(cd "$(dirname "$0")" && pwd)
display=""  # the first free one
. "$here/private_xvfb.sh"
. "$here/private_pipewire.sh"
export DISPLAY=$display
trap 'stop_load; cleanup' EXIT
loadpids=()
start_load() {
  case $load in *cpu*) for i in 1 2; do (while :; do :; done) & loadpids+=($!); done;; esac
  case $load in *disk*) (while :; do dd if=/dev/zero of=$work/dd.bin bs=1M count=300 conv=fsync 2>/dev/null; done) & loadpids+=($!);; esac
}
stop_load() { for p in "${loadpids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; loadpids=(); rm -f $work/dd.bin; }
count() { grep -c "UNDERFLOW" "$work/pa.log"; }
h2song=/usr/share/hydrogen/data/demo_songs/GM_kit_demo1.h2song
mkdir -p "$work/h2home"
run_qtam() {
  "$cli" play "$demo" --seconds "$secs" >>"$work/q.log" 2>&1
}
run_h2() {
  HOME=$work/h2home hydrogen -n -d pulseaudio -s "$h2song" >"$work/h2.log" 2>&1 & local h=$!
  local w=""; for _ in $(seq 100); do w=$(xdotool search --onlyvisible --name 'Hydrogen' 2>/dev/null | tail -1); [ -n "$w" ] && break; sleep 0.2; done
  sleep 3; xdotool windowactivate --sync "$w" 2>/dev/null; xdotool key --window "$w" space; sleep "$secs"
  kill $h; wait $h 2>/dev/null
}
declare -A total
for r in $(seq "$rounds"); do
  for who in qtam h2; do
    sleep 2; before=$(count); start_load
    run_$who
    stop_load; sleep 1; after=$(count)
    n=$((after - before)); total[$who]=$(( ${total[$who]:-0} + n ))
    echo "round $r $who: $n underflows in $secs s"
  done
done
grep "^Sound:" "$work/q.log"
grep "fix_playback_buffer_attr" "$work/pa.log" | sed 's/.*\] //' | sort | uniq -c
echo "Q.Tam ${total[qtam]} underflows, Hydrogen ${total[h2]} underflows in $rounds x $secs s each under load $load (PipeWire)"
