#!/usr/bin/env bash
# qtam-cli end to end: build the demo from its text, render it, read the WAV back with soxi.
set -euo pipefail
cli=$1 songs=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }

"$cli" build "$songs/demo.txt" -o demo.sng >/dev/null
[ "$(stat -c %s demo.sng)" = 103450 ] || fail "song file size"

# One measure at 122 BPM is round(2646000 / 488 * 16) = 86754 frames; pattern 1 has four.
"$cli" render demo.sng -o measure.wav --measure 2 >/dev/null
[ "$(soxi -s measure.wav)" = 86754 ] || fail "measure length $(soxi -s measure.wav)"
[ "$(soxi -c measure.wav)" = 2 ] && [ "$(soxi -r measure.wav)" = 44100 ] && [ "$(soxi -b measure.wav)" = 16 ] \
  || fail "format"
"$cli" render demo.sng -o pattern.wav --pattern 1 >/dev/null
[ "$(soxi -s pattern.wav)" = $((4 * 86754)) ] || fail "pattern length"
# Sound, not silence: the kit plays.
peak=$(sox pattern.wav -n stats 2>&1 | awk '/Pk lev dB/ {print $4}')
awk -v p="$peak" 'BEGIN { exit !(p > -12 && p < 0) }' || fail "peak $peak dB"

# An existing file is kept unless --force.
cp pattern.wav before.wav
if "$cli" render demo.sng -o pattern.wav --pattern 2 2>err.txt; then fail "overwrote without --force"; fi
grep -q "cannot write pattern.wav: the file exists (--force replaces it)" err.txt || fail "no reason given"
cmp -s pattern.wav before.wav || fail "existing file changed"
"$cli" render demo.sng -o pattern.wav --pattern 2 --force >/dev/null
[ "$(soxi -s pattern.wav)" = $((2 * 86754)) ] || fail "forced render"

# Failures say why and exit non-zero.
if "$cli" render missing.sng -o x.wav 2>err.txt; then fail "missing song"; fi
grep -q "cannot read missing.sng: No such file or directory" err.txt || fail "missing song message"
if "$cli" render demo.sng -o x.wav --kit nothing.dll 2>err.txt; then fail "missing kit"; fi
grep -q "cannot read nothing.dll: No such file or directory" err.txt || fail "kit message"
printf 'pattern 1\nmeasure 1\n1 x..q\n' > bad.txt
if "$cli" build bad.txt -o bad.sng 2>err.txt; then fail "bad text"; fi
grep -q "bad.txt:3:6: unknown step character \"q\"" err.txt || fail "bad text message"
[ ! -e bad.sng ] || fail "bad text wrote a song"

# A folder or an unreadable file is no song text.
mkdir textdir
if "$cli" build textdir -o dir.sng 2>err.txt; then fail "built a song from a folder"; fi
grep -q "cannot read textdir" err.txt || fail "folder text message"
[ ! -e dir.sng ] || fail "a folder wrote a song"

# A file-size limit is a write error with a message, not a signal; nothing is left behind
# and the existing file is kept.
mkdir limited && cp before.wav limited/out.wav
if (ulimit -f 100; "$cli" render demo.sng -o limited/out.wav --force 2>err.txt); then
  fail "render past the file-size limit succeeded"
fi
grep -q "File too large" err.txt || fail "file-size limit message: $(cat err.txt)"
[ "$(ls -A limited)" = out.wav ] || fail "left behind: $(ls -A limited)"
cmp -s limited/out.wav before.wav || fail "file-size limit changed the existing file"

# info names the kit's sounds and prints the grid.
"$cli" info demo.sng > info.txt
grep -q "channel 1 sound 2 volume 120  # Kick Punch" info.txt || fail "info channel line"
grep -q "    1 X... x... x... x..." info.txt || fail "info grid"
# FLAC and AIFF carry exactly the WAV's samples; Ogg Vorbis its length at about its level.
"$cli" render demo.sng -o main.wav --seed 5 >/dev/null
for f in flac aiff; do
  "$cli" render demo.sng -o "main.$f" --seed 5 >/dev/null
  sox "main.$f" -t raw - | cmp -s - <(sox main.wav -t raw -) || fail "$f samples differ from the WAV"
done
"$cli" render demo.sng -o sound --format ogg --quality 3 --seed 5 >/dev/null
[ "$(soxi -t sound)" = vorbis ] && [ "$(soxi -s sound)" = "$(soxi -s main.wav)" ] || fail "ogg: $(soxi sound)"
rms() { sox "$1" -n stats 2>&1 | awk '/RMS lev dB/ {print $4}'; }
awk -v a="$(rms sound)" -v b="$(rms main.wav)" 'BEGIN { d = a - b; exit !(d < 0.5 && d > -0.5) }' \
  || fail "ogg level $(rms sound) dB against $(rms main.wav) dB"

# Stems: main.EXT and one file per channel that sounds, named after it; a muted one has none.
sed 's/channel 2 sound 5 volume 96 /channel 2 sound 5 volume 96 mute /' "$songs/demo.txt" > muted.txt
"$cli" build muted.txt -o muted.sng >/dev/null
"$cli" render muted.sng --stems stems --format flac --seed 5 >/dev/null
[ "$(cd stems && ls | tr '\n' ' ')" = "01-Kick Punch.flac 03-Snare Tight.flac 04-HiHat Closed.flac 05-HiHat Open.flac 06-Shaker.flac 07-Tom Low.flac 08-Crash.flac main.flac " ] \
  || fail "stems: $(ls stems)"
if "$cli" render muted.sng --stems stems --format flac 2>err.txt; then fail "stems replaced without --force"; fi
echo "cli render checks passed"
