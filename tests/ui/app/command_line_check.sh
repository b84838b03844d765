#!/usr/bin/env bash
# qtam's command line never waits for a person: --screenshot with a song that cannot be read
# says why on stderr, exits 1 at once and writes no picture; a good song gives the picture.
# Both programs give the same version number.
set -euo pipefail
qtam=$1 cli=$2 songs=$3 work=$4
rm -rf "$work" && mkdir -p "$work/folder.sng" && cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }
export QT_QPA_PLATFORM=offscreen HOME="$work"

"$cli" build "$songs/demo.txt" -o demo.sng >/dev/null
: > empty.sng
head -c 50000 demo.sng > truncated.sng
sox -n -r 44100 -c 1 -b 16 tone.wav synth 0.1 sine 440 2>/dev/null

# refused SONG REASON: the screenshot of SONG fails with exit 1 within a few seconds, names the
# song and REASON on stderr, and leaves no picture.
refused() {
  local song=$1 reason=$2
  rm -f out.png
  set +e; timeout 20 "$qtam" --screenshot out.png "$song" >out.txt 2>err.txt; local rc=$?; set -e
  [ "$rc" = 1 ] || fail "--screenshot $song: exit $rc, expected 1; $(cat err.txt)"
  grep -qF -- "$song" err.txt || fail "--screenshot $song: stderr does not name it: $(cat err.txt)"
  grep -qF -- "$reason" err.txt || fail "--screenshot $song: stderr lacks '$reason': $(cat err.txt)"
  [ ! -e out.png ] || fail "--screenshot $song wrote a picture"
}

refused /nonexistent.sng "No such file or directory"
refused folder.sng "Is a directory"
refused empty.sng "this file has 0"
refused truncated.sng "this file has 50000"
refused tone.wav "not to be a valid songfile"

timeout 20 "$qtam" --screenshot good.png demo.sng 2>err.txt || fail "good song: $(cat err.txt)"
[ -s good.png ] || fail "good song: no picture"

# A name without a dot that exists is opened as given, not as NAME.SNG beside it; one that does
# not exist still gets ".SNG".
cp demo.sng noext && cp demo.sng twin && cp tone.wav twin.SNG
timeout 20 "$qtam" --screenshot noext.png noext 2>err.txt && [ -s noext.png ] || fail "noext: $(cat err.txt)"
timeout 20 "$qtam" --screenshot twin.png twin 2>err.txt && [ -s twin.png ] || fail "twin: $(cat err.txt)"
cp demo.sng named.SNG
timeout 20 "$qtam" --screenshot named.png named 2>err.txt && [ -s named.png ] || fail "named: $(cat err.txt)"

# Without its kit the picture would lie: the run says so and fails.
mkdir -p nokit && cp "$qtam" nokit/
set +e; timeout 20 nokit/qtam --screenshot nokit.png demo.sng 2>err.txt; rc=$?; set -e
[ "$rc" = 1 ] || fail "kit missing: exit $rc; $(cat err.txt)"

qtam_version=$("$qtam" --version | awk '{print $2}')
cli_version=$("$cli" --version | awk '{print $2}')
[ -n "$qtam_version" ] && [ "$qtam_version" = "$cli_version" ] ||
  fail "versions differ: qtam $qtam_version, qtam-cli $cli_version"
echo "command line: ok"
