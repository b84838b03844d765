#!/bin/sh
# qtam-cli play through a real sound server that is killed while playing: the player stops at
# once, says why and how long it played, keeps its recording and exits 1.
#   cli_device_loss_check.sh QTAM_CLI SONG
set -eu
cli=$1
song=$2
work=$(mktemp -d)
server=""
cleanup() {
    [ -n "$server" ] && kill -9 "$server" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -m 700 "$work/rt"
HOME=$work XDG_RUNTIME_DIR=$work/rt pulseaudio -n --daemonize=no --exit-idle-time=-1 \
    -L module-null-sink \
    -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" \
    >"$work/pa.log" 2>&1 &
server=$!
for _ in $(seq 100); do [ -S "$work/pulse.sock" ] && break; sleep 0.1; done
export SDL_AUDIODRIVER=pulseaudio PULSE_SERVER=unix:$work/pulse.sock

fail() {
    echo "FAIL: $*"
    echo "--- stdout"; cat "$work/out"; echo "--- stderr"; cat "$work/err"
    exit 1
}

timeout 60 "$cli" play "$song" --seconds 30 --latency 80 --record "$work/live.wav" >"$work/out" 2>"$work/err" &
player=$!
sleep 4
kill -9 "$server"
server=""
killed=$(date +%s)
rc=0
wait "$player" || rc=$?
took=$(($(date +%s) - killed))

[ "$rc" -eq 1 ] || fail "exit code $rc, expected 1"
[ "$took" -le 5 ] || fail "the player went on for $took s after the server was killed"
grep -Eq '^qtam-cli: the sound device was lost after [0-9]+\.[0-9]+ s of playing: .+' \
    "$work/err" || fail "no word of the lost device"
played=$(sed -n 's/^Played \([0-9.]*\) s of pattern 1 (the sound device was lost)$/\1/p' "$work/out")
[ -n "$played" ] || fail "no line with the seconds played"
awk -v p="$played" 'BEGIN { exit !(p > 0.5 && p < 5) }' || fail "played $played s"
# What played, with the latency asked for, and the underruns the server reported.
grep -Eq '^Sound: PulseAudio, latency 80 ms \(stream [0-9]+ ms\), [0-9]+ underruns$' "$work/out" ||
    fail "no line on the sound server"
# Both messages give the same seconds.
grep -q "after $played s" "$work/err" || fail "the two messages disagree"
# The recording is finished as a stop finishes it: at least every frame played.
size=$(stat -c %s "$work/live.wav")
awk -v s="$size" -v p="$played" 'BEGIN { exit !(s - 44 >= p * 176400) }' ||
    fail "a recording of $size bytes for $played s"
echo "lost after $played s, told within $took s"
