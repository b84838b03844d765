#!/usr/bin/env bash
# qtam-cli bank and midi, read back with independent readers: sox/soxi for the WAV files,
# Python's mido (Debian's python3-mido) for the MIDI file.
set -euo pipefail
cli=$1 here=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }
py=/usr/bin/python3
[ -x "$py" ] || py=python3

# Sounds made by sox: WAV at 44100 and 22050 Hz, raw 16-bit mono.
sox -n -r 44100 -c 1 -b 16 "Kick 808.wav" synth 0.25 sine 60 vol 0.8
sox -n -r 44100 -c 1 -b 16 -t raw snare.raw synth 0.2 whitenoise vol 0.5
cp snare.raw zap.raw
sox -n -r 44100 -c 1 -b 16 openhat.wav synth 0.3 pinknoise vol 0.4
sox -n -r 22050 -c 1 -b 16 low.wav synth 0.1 sine 300
sox -n -r 44100 -c 2 -b 16 stereo.wav synth 0.1 sine 300

# bank new: the import's question is answered No without --force, Yes with it.
if "$cli" bank new slow.ubf 1=low.wav 2>err.txt; then fail "a 22050 Hz file imported without -f"; fi
grep -q "cannot import low.wav: The samplefrequency is less than 44KHz.* No (--force answers Yes)" err.txt \
  || fail "question not reported: $(cat err.txt)"
[ ! -e slow.ubf ] || fail "a failed bank was written"
if "$cli" bank new st.ubf 1=stereo.wav 2>err.txt; then fail "a stereo file imported"; fi
grep -qx "qtam-cli: cannot read stereo.wav: This appears to be stereo WAV-file... A slot holds .*" err.txt || fail "stereo: $(cat err.txt)"
if "$cli" bank new st.ubf 1=tone.wav 2>err.txt; then fail "a missing file imported"; fi
grep -q "^qtam-cli: cannot read tone.wav: No such file or directory$" err.txt || fail "missing: $(cat err.txt)"
"$cli" bank new slow.ubf 1=low.wav --force >/dev/null
# The slot is named as the userbank editor names it (its test imports the same name).
odd=$(printf 'Caf\xc3\xa9 \xe2\x82 kick drum.wav') && cp "Kick 808.wav" "$odd"
"$cli" bank new odd.ubf "1=$odd" >/dev/null
"$cli" bank info odd.ubf | grep -q "^   1  Café ?? kick drum.wa " || fail "slot name: $("$cli" bank info odd.ubf)"

# Any other sound file is converted with --convert (or -f) and refused, saying what it is,
# without; the converted sound is sox's own conversion but for the resampler's differences.
sox -n -r 48000 -c 2 -b 24 hat.flac synth 0.2 sine 5000 vol 0.5
if "$cli" bank new fl.ubf 1=hat.flac 2>err.txt; then fail "a FLAC file imported without --convert"; fi
grep -q "cannot import hat.flac: This file is FLAC, 24 bit, stereo, 48000 Hz. Convert it to 16-bit mono 44100 Hz? No" err.txt \
  || fail "conversion question not reported: $(cat err.txt)"
grep -q "^qtam-cli: --convert converts hat.flac to 16-bit mono 44100 Hz$" err.txt || fail "no hint: $(cat err.txt)"
[ ! -e fl.ubf ] || fail "a refused conversion wrote a bank"
"$cli" bank new fl.ubf 1=hat.flac 2=stereo.wav --convert >/dev/null
"$cli" bank new fl-f.ubf 1=hat.flac 2=stereo.wav -f >/dev/null
cmp -s fl.ubf fl-f.ubf || fail "--convert and -f made different banks"
"$cli" bank info fl.ubf | grep -q "^   1  hat.flac  *0.200 " || fail "converted length: $("$cli" bank info fl.ubf)"
"$cli" bank export fl.ubf 1 -o hat.wav >/dev/null
sox hat.flac -b 16 -c 1 -r 44100 -D hat-sox.wav
largest=$(sox -m -v 1 hat.wav -v -1 hat-sox.wav -n stat 2>&1 | awk '/Maximum amplitude/ {print $3}')
awk -v d="$largest" 'BEGIN { exit !(d < 0.002) }' || fail "converted sound differs from sox's by $largest"

"$cli" bank new kit.ubf --description "Test kit" --stretch 4=2 --hihat 3=1,2 \
  "1=Kick 808.wav" 2=snare.raw 3=openhat.wav 4=zap.raw >out.txt
grep -q "^Wrote kit.ubf: 4 sound(s)" out.txt || fail "bank new report: $(cat out.txt)"
"$cli" bank info kit.ubf >info.txt
grep -q '^description "Test kit"$' info.txt || fail "description: $(cat info.txt)"
grep -qE '^   1  Kick 808.wav +0.250 +0  0,0$' info.txt || fail "slot 1: $(cat info.txt)"
grep -qE '^   2  snare.raw +0.200 +0  0,0$' info.txt || fail "slot 2: $(cat info.txt)"
grep -qE '^   3  openhat.wav +0.300 +0  1,2$' info.txt || fail "slot 3: $(cat info.txt)"
grep -qE '^   4  zap.raw +0.200 +2  0,0$' info.txt || fail "slot 4: $(cat info.txt)"
grep -qE '^   5  <empty> +0.000 +0  0,0$' info.txt || fail "slot 5: $(cat info.txt)"

# bank export: the same samples come back out, as a mono 44100 Hz 16-bit WAV file.
"$cli" bank export kit.ubf 1 -o kick-out.wav >/dev/null
[ "$(soxi -c kick-out.wav)" = 1 ] && [ "$(soxi -r kick-out.wav)" = 44100 ] && [ "$(soxi -b kick-out.wav)" = 16 ] \
  || fail "export format"
sox "Kick 808.wav" -t raw in.raw && sox kick-out.wav -t raw out.raw
# 11025 samples: the import keeps an even number, 11024.
[ "$(stat -c %s out.raw)" = 22048 ] || fail "exported length $(stat -c %s out.raw)"
head -c 22048 in.raw | cmp -s - out.raw || fail "exported samples differ"
"$cli" bank export kit.ubf 2 -o snare-out.wav >/dev/null
sox snare-out.wav -t raw snare-back.raw && cmp -s snare.raw snare-back.raw || fail "raw import and export"
if "$cli" bank export kit.ubf 5 -o empty.wav 2>err.txt; then fail "an empty slot exported"; fi
grep -q "slot 5 of kit.ubf is empty" err.txt && [ ! -e empty.wav ] || fail "empty slot: $(cat err.txt)"
if "$cli" bank export kit.ubf 21 -o x.wav 2>err.txt; then fail "slot 21"; fi

# midi: a song whose notes and shuffle are known, with a muted channel and userbank names.
cat > groove.txt <<'TXT'
tempo 120
shuffle 50
userbank "kit.ubf"
pattern 2
  measures 2
  channel 1 sound 2
  channel 2 sound 3 mute
  channel 3 sound u3
  channel 4 sound u2
  channel 5 sound u4
  measure 1
    1 X7x. xxxx xxxx xxxx
    2 xxxx xxxx xxxx xxxx
    3 ..x. ..x. ..x. ..x.
    4 x... .... .... ....
    5 0... x... .... ....
  measure 2
    1 x... .... .... ....
TXT
"$cli" build groove.txt -o groove.sng >/dev/null
"$cli" midi groove.sng -o groove.mid -p 2 >out.txt
grep -q "^Wrote groove.mid: pattern 2, 2 measure(s) at 120 BPM" out.txt || fail "midi report: $(cat out.txt)"
"$py" "$here/midi_check.py" groove.mid || fail "the MIDI file read back"
echo "cli bank and midi checks passed"
