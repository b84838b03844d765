#!/usr/bin/env bash
# qtam-cli where the world is unkind: readers that leave, signals, full disks, outputs named
# like their inputs, MP3 files whose length is only estimated, and text a bank cannot hold.
set -euo pipefail
cli=$1 songs=$2 work=$3
rm -rf "$work" && mkdir -p "$work/tmp" && cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }
export TMPDIR="$work/tmp"
"$cli" build "$songs/demo.txt" -o demo.sng >/dev/null
leftovers() { find "$work" -newer demo.sng \( -name '*.pcm' -o -name '.qtam-*' -o -name 'qtam-render-*' \) | wc -l; }

# Standard output streams the WAV: the same bytes as the file, and nothing left behind when the
# reader leaves early or the render is stopped by a signal.
"$cli" render demo.sng -o file.wav --seed 3 >/dev/null
"$cli" render demo.sng -o - --seed 3 2>/dev/null > piped.wav
cmp -s file.wav piped.wav || fail "-o - differs from the file"
set +e
"$cli" render demo.sng -o - 2>/dev/null | head -c 10 >/dev/null
for sig in INT TERM; do
  { "$cli" render demo.sng -o - 2>/dev/null & echo $! > pid; wait; } | { sleep 0.3; kill -"$sig" "$(cat pid)"; cat >/dev/null; }
done
set -e
[ "$(leftovers)" = 0 ] || fail "files left behind: $(find "$work" -newer demo.sng)"

# Every command that prints fails when standard output cannot take it.
"$cli" bank new bank.ubf 1=file.wav --convert -f >/dev/null 2>&1
for words in "info demo.sng" "bank info bank.ubf" "help" "help render" "--version" "render demo.sng -o -"; do
  set +e; $cli $words >/dev/full 2>err.txt; rc=$?; set -e
  [ "$rc" = 1 ] && grep -qx "qtam-cli: cannot write standard output: No space left on device" err.txt \
    || fail "$words > /dev/full: exit $rc, $(cat err.txt)"
done

# An output is never written over an input, also through a link or another name.
printf 'tempo 99\n' > t.txt
ln -s demo.sng link.sng
for words in "render demo.sng -o demo.sng" "render demo.sng -o link.sng" "midi demo.sng -o ./demo.sng" \
             "build t.txt -o t.txt" "bank export bank.ubf 1 -o bank.ubf" "bank new file.wav 1=file.wav"; do
  cp demo.sng demo.before
  set +e; $cli $words -f >/dev/null 2>err.txt; rc=$?; set -e
  [ "$rc" = 1 ] && grep -q "it is the input file" err.txt || fail "$words -f: exit $rc, $(cat err.txt)"
  cmp -s demo.sng demo.before || fail "$words -f changed its input"
done

# play --record-pads checks its target before playing, as render does (no server needed to be
# refused); the JACK options that do not go with --jack are usage errors.
touch taken.sng && cp demo.sng ro.sng && chmod 444 ro.sng
for words in "taken.sng" "ro.sng -f" "demo.sng -f" "link.sng -f"; do
  set +e; JACK_DEFAULT_SERVER=none-$$ $cli play demo.sng --jack --record-pads $words >/dev/null 2>err.txt; rc=$?; set -e
  [ "$rc" = 1 ] && grep -Eq "exists|read-only|input file" err.txt || fail "--record-pads $words: exit $rc, $(cat err.txt)"
done
cmp -s demo.sng demo.before && [ ! -s taken.sng ] || fail "--record-pads changed a file"
for words in "--device 1" "--buffer-size 4" "--latency 100"; do
  set +e; $cli play demo.sng --jack $words 2>/dev/null; rc=$?; set -e; [ "$rc" = 2 ] || fail "--jack $words: exit $rc"
done
# A format that the extension contradicts is refused; a render that fails leaves no stems folder.
set +e; $cli render demo.sng --format ogg -o x.wav 2>/dev/null; rc=$?; set -e; [ "$rc" = 2 ] || fail "ogg into x.wav: $rc"
set +e; $cli render missing.sng --stems newdir 2>/dev/null; set -e; [ ! -e newdir ] || fail "newdir left behind"
"$cli" midi demo.sng -o - 2>/dev/null > piped.mid && [ "$(head -c 4 piped.mid)" = MThd ] || fail "midi -o -"

# Short MP3 files, whose length the decoder only estimates, are whole sounds.
sox -n -r 44100 -c 1 m.mp3 synth 1 sine 440
sox -n -r 44100 -c 2 s.mp3 synth 3 sine 440
"$cli" bank new mp3.ubf --convert 1=m.mp3 2=s.mp3 >/dev/null 2>err.txt || fail "MP3: $(cat err.txt)"
"$cli" bank info mp3.ubf | awk '$1 == 1 && $3 > 1.0 && $3 < 1.1 { a = 1 } $1 == 2 && $3 > 3.0 && $3 < 3.1 { b = 1 }
  END { exit !(a && b) }' || fail "MP3 lengths: $("$cli" bank info mp3.ubf)"

# Wrong words are usage errors; an import refusal is one line.
set +e
"$cli" play demo.sng --seconds 1e9 2>err.txt; [ $? = 2 ] && grep -q "up to 10000000, not '1e9'" err.txt || fail "--seconds 1e9"
"$cli" render demo.sng --userbank= -o x.wav 2>err.txt; [ $? = 2 ] || fail "--userbank= is a usage error"
"$cli" bank new q.ubf --description "日本" 1=file.wav 2>err.txt; [ $? = 2 ] && [ ! -e q.ubf ] || fail "--description 日本"
sox -n -r 44100 -c 8 -b 16 eight.wav synth 0.1 sine 440
"$cli" bank new e.ubf 1=eight.wav 2>err.txt; [ $? = 1 ] &&
  grep -q "^qtam-cli: cannot read eight.wav: This appears to be a WAV-file of 8 channels... A slot" err.txt \
  || fail "8 channels: $(cat err.txt)"
set -e
echo "hostile: ok"
