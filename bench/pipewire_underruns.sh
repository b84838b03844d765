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
work=$(mktemp -d /tmp/pwunderrun.XXXX); pids=()
cleanup() { stop_load; for p in "${pids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; }
trap cleanup EXIT
disp=:$((40 + RANDOM % 40))
Xvfb $disp -screen 0 1600x1000x24 -nolisten tcp >/dev/null 2>&1 & pids+=($!)
mkdir -m 700 "$work/rt"
export XDG_RUNTIME_DIR=$work/rt HOME=$work DISPLAY=$disp
export DBUS_SESSION_BUS_ADDRESS=unix:path=$work/bus
dbus-daemon --session --address="$DBUS_SESSION_BUS_ADDRESS" --nofork --nopidfile >"$work/dbus.log" 2>&1 & pids+=($!)
sleep 0.5
pipewire >"$work/pw.log" 2>&1 & pids+=($!)
sleep 1
wireplumber >"$work/wp.log" 2>&1 & pids+=($!)
# Info level: pipewire-pulse logs each UNDERFLOW it sends a client.
PIPEWIRE_DEBUG=3 pipewire-pulse >"$work/pp.log" 2>&1 & pids+=($!)
for _ in $(seq 50); do [ -S "$work/rt/pulse/native" ] && break; sleep 0.1; done
export PULSE_SERVER=unix:$work/rt/pulse/native
pactl load-module module-null-sink sink_name=null >/dev/null
pactl set-default-sink null
sleep 1
loadpids=()
start_load() {
  case $load in *cpu*) for i in 1 2; do (while :; do :; done) & loadpids+=($!); done;; esac
  case $load in *disk*) (while :; do dd if=/dev/zero of=$work/dd.bin bs=1M count=300 conv=fsync 2>/dev/null; done) & loadpids+=($!);; esac
}
stop_load() { for p in "${loadpids[@]}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done; loadpids=(); rm -f $work/dd.bin; }
count() { grep -c "UNDERFLOW" "$work/pp.log"; }
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
grep "fix_playback_buffer_attr" "$work/pp.log" | sed 's/.*\] //' | sort | uniq -c
echo "work: $work"
echo "Q.Tam ${total[qtam]} underflows, Hydrogen ${total[h2]} underflows in $rounds x $secs s each under load $load (PipeWire)"
