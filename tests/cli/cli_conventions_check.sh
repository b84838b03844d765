#!/usr/bin/env bash
# qtam-cli's conventions, command by command: help and version on stdout with exit 0, usage
# errors exit 2, failures exit 1 with the same wording in every command, options in every
# spelling, exact output names, standard output, render reports and lossless text.
set -euo pipefail
cli=$1 songs=$2 work=$3
rm -rf "$work" && mkdir -p "$work" && cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }

# check RC STREAM REGEX ARGS...: runs qtam-cli ARGS, expects exit code RC and REGEX in STREAM.
check() {
  local want=$1 stream=$2 pattern=$3; shift 3
  set +e; "$cli" "$@" >out.txt 2>err.txt; local rc=$?; set -e
  [ "$rc" = "$want" ] || fail "qtam-cli $*: exit $rc, expected $want; $(cat err.txt)"
  grep -qE -- "$pattern" "$stream.txt" || fail "qtam-cli $*: $stream lacks '$pattern': $(cat $stream.txt)"
}

"$cli" build "$songs/demo.txt" -o demo.sng >/dev/null
printf 'title "ro"\n' > ro.txt && "$cli" build ro.txt -o ro.sng >/dev/null
sox -n -r 44100 -c 1 -b 16 tone.wav synth 0.1 sine 440 2>/dev/null
"$cli" bank new bank.ubf 1=tone.wav >/dev/null
touch ro.out && chmod 444 ro.out
touch taken.out

check 0 out '^qtam-cli [0-9]+\.[0-9]+' --version
check 0 out '^usage: qtam-cli COMMAND' --help
check 0 out '^usage: qtam-cli COMMAND' help
check 2 err 'usage: qtam-cli COMMAND'
check 2 err 'unknown command frobnicate' frobnicate
check 2 err 'unknown command nope' help nope

# Every command: help both ways on stdout, an unknown option is a usage error.
for c in render info build play devices bank midi; do
  check 0 out "^usage: qtam-cli $c" help "$c"
  check 0 out "^usage: qtam-cli $c" "$c" --help
  check 0 out "^usage: qtam-cli $c" "$c" -h
  check 2 err "^qtam-cli $c: unknown option --bogus" "$c" --bogus
done

# The same failure gets the same words and exit code in every command.
check 1 err '^qtam-cli: cannot read missing.sng: No such file or directory$' render missing.sng -o a.wav
check 1 err '^qtam-cli: cannot read missing.sng: No such file or directory$' info missing.sng
check 1 err '^qtam-cli: cannot read missing.sng: No such file or directory$' midi missing.sng -o a.mid
check 1 err '^qtam-cli: cannot read missing.sng: No such file or directory$' play missing.sng --seconds 1
check 1 err '^qtam-cli: cannot read missing.sng: No such file or directory$' build missing.sng -o a.sng
check 1 err '^qtam-cli: cannot read missing.ubf: No such file or directory$' bank info missing.ubf
check 1 err '^qtam-cli: cannot read /no/kit.dll: No such file or directory$' info demo.sng --kit /no/kit.dll
check 1 err '^qtam-cli: cannot read /no/kit.dll: No such file or directory$' render demo.sng -o a.wav --kit /no/kit.dll
check 1 err '^qtam-cli: cannot read /no/kit.dll: No such file or directory$' play demo.sng --kit /no/kit.dll
check 1 err '^qtam-cli: cannot read nope.ubf: No such file or directory$' render demo.sng -o a.wav --userbank nope.ubf
check 1 err '^qtam-cli: cannot read nope.ubf: No such file or directory$' midi demo.sng -o a.mid --userbank nope.ubf
check 1 err '^qtam-cli: cannot read ro.txt: not a song file' info ro.txt
check 1 err '^qtam-cli: cannot read demo.sng: not a userbank file' bank info demo.sng
check 1 err '^qtam-cli: cannot read demo.sng: not a drum kit' info demo.sng --kit demo.sng
[ -e a.wav ] || [ -e a.mid ] || [ -e a.sng ] && fail "a failed command wrote a file"

# An existing target needs --force; a read-only one is refused by every command, --force or not.
for f in "" -f; do
  why='the file exists \(--force replaces it\)'
  [ -n "$f" ] && why=unused
  if [ -z "$f" ]; then
    check 1 err "^qtam-cli: cannot write taken.out: $why" render demo.sng -o taken.out
    check 1 err "^qtam-cli: cannot write taken.out: $why" build ro.txt -o taken.out
    check 1 err "^qtam-cli: cannot write taken.out: $why" midi demo.sng -o taken.out
    check 1 err "^qtam-cli: cannot write taken.out: $why" bank new taken.out 1=tone.wav
    check 1 err "^qtam-cli: cannot write taken.out: $why" bank export bank.ubf 1 -o taken.out
    check 1 err "^qtam-cli: cannot write taken.out: $why" play demo.sng --record taken.out
  fi
  check 1 err '^qtam-cli: cannot write ro.out: the file is read-only$' render demo.sng -o ro.out $f
  check 1 err '^qtam-cli: cannot write ro.out: the file is read-only$' build ro.txt -o ro.out $f
  check 1 err '^qtam-cli: cannot write ro.out: the file is read-only$' midi demo.sng -o ro.out $f
  check 1 err '^qtam-cli: cannot write ro.out: the file is read-only$' bank new ro.out 1=tone.wav $f
  check 1 err '^qtam-cli: cannot write ro.out: the file is read-only$' bank export bank.ubf 1 -o ro.out $f
  check 1 err '^qtam-cli: cannot write ro.out: the file is read-only$' play demo.sng --record ro.out $f
done
[ ! -s taken.out ] && [ ! -s ro.out ] || fail "a refused target was written"
check 1 err '^qtam-cli: cannot write no/such/dir/x.wav: No such file or directory$' render demo.sng -o no/such/dir/x.wav
check 0 out '^Wrote taken.out' render demo.sng -o taken.out --force
[ "$(grep -c 'Yes\|No' err.txt || true)" = 0 ] || fail "--force printed a question"

# Usage errors exit 2 in every command.
check 2 err 'render: --pattern takes a whole number from 1 to 8' render demo.sng -o x.wav -p 9
check 2 err 'midi: --pattern takes a whole number from 1 to 8' midi demo.sng -o x.mid --pattern=0
check 2 err 'play: --pattern takes a whole number from 1 to 8' play demo.sng -p x
check 2 err 'play: --program-change takes in, out or both' play demo.sng --jack --program-change inout
check 2 err 'play: --clock-in follows the MIDI clock instead of the JACK transport' \
  play demo.sng --jack --clock-in --transport follow
check 2 err 'play: --transport, --no-connect and the MIDI options go with --jack' play demo.sng --clock-in
check 2 err 'play: --transport, --no-connect and the MIDI options go with --jack' play demo.sng --transport off
check 2 err 'render: no output given' render demo.sng
check 2 err 'build: no output file given' build ro.txt
check 2 err 'info: more than one song given' info demo.sng demo.sng
check 2 err 'render: --force is given twice' render demo.sng -o x.wav -f --force
check 2 err 'devices: devices takes no arguments' devices extra
check 2 err 'bank: expected new, from-kit, info or export' bank
[ ! -e x.wav ] && [ ! -e x.mid ] || fail "a usage error wrote a file"

# Every spelling of an option; the file name is used exactly as given.
check 0 out 'pattern 2, 2 measure' render demo.sng --pattern=2 --output=plain
check 0 out 'pattern 2, measure 1' render demo.sng -p2 -m 1 -o plain -f
[ -e plain ] && [ ! -e plain.WAV ] && [ ! -e plain.wav ] || fail "the name was changed: $(ls)"
[ "$(soxi -s plain)" = 86754 ] || fail "measure length"
"$cli" render demo.sng -o - -p 2 2>err.txt | cat > piped.wav
[ "$(soxi -s piped.wav)" = $((2 * 86754)) ] || fail "the WAV on standard output"
grep -q 'Wrote standard output' err.txt || fail "the report of -o - belongs on stderr"
[ ! -e ./- ] || fail "-o - wrote a file named -"
"$cli" build - -o fromstdin < ro.txt >/dev/null && [ -e fromstdin ] && [ ! -e fromstdin.SNG ] \
  || fail "build from standard input under the exact name"
printf 'pattern 1\n  measure 1\n    1 x..q\n' > bad.txt
check 1 err '^qtam-cli: bad.txt:3:10: unknown step character "q"' build bad.txt -o bad.sng
[ ! -e bad.sng ] || fail "bad text wrote a song"

# The text form is lossless: info then build gives the same song file.
"$cli" info demo.sng | "$cli" build - -o again.sng >/dev/null
cmp -s demo.sng again.sng || fail "info | build changed the demo"
# Any record comes back byte for byte, values outside the ranges Q.Tam plays too; bytes after
# the record are not part of the song, and info says so.
py=/usr/bin/python3; [ -x "$py" ] || py=python3
"$py" -c 'import random, sys; random.seed(7); sys.stdout.buffer.write(bytes(random.getrandbits(8) for _ in range(103450)))' > noise.sng
"$cli" info noise.sng | "$cli" build - -o noise1.sng >/dev/null
cmp -s noise.sng noise1.sng || fail "info | build changed a song"
{ cat noise.sng; printf 'tail'; } > tail.sng
"$cli" info tail.sng 2>err.txt | "$cli" build - -o tail1.sng >/dev/null
cmp -s noise.sng tail1.sng && grep -q "4 byte(s) after the song's record" err.txt \
  || fail "bytes after the record: $(cat err.txt)"
printf '\xef\xbb\xbftempo 99\n' > bom.txt
check 0 out 'Wrote bom.sng' build bom.txt -o bom.sng

# Render reports: peak and clipping, empty patterns, measures beyond the pattern, the seed.
check 0 out '^Peak -[0-9.]+ dBFS, 0 clipped sample' render demo.sng -o r.wav -f
cat > loud.txt <<'TXT'
pattern 1
  distortion gain 64 threshold 0
  channel 1 sound 2 volume 127 distortion
  channel 2 sound 2 volume 127 distortion
  channel 3 sound 2 volume 127 distortion
  channel 4 sound 2 volume 127 distortion
  measure 1
    1 XXXX XXXX XXXX XXXX
    2 XXXX XXXX XXXX XXXX
    3 XXXX XXXX XXXX XXXX
    4 XXXX XXXX XXXX XXXX
TXT
"$cli" build loud.txt -o loud.sng >/dev/null
check 0 err 'warning: [0-9]+ samples are clipped at full scale' render loud.sng -o r.wav -f
grep -qE '^Peak 0.0 dBFS, [1-9][0-9]* clipped' out.txt || fail "clipped samples not counted: $(cat out.txt)"
check 0 err 'warning: pattern 3 has no notes to play' render ro.sng -o r.wav -f -p 3
check 0 err 'warning: measure 5 lies beyond the 4 measure\(s\) pattern 1 plays' render demo.sng -o r.wav -f -m 5
printf 'humanize on\npattern 1\n  measure 1\n    1 xxxx xxxx xxxx xxxx\n' > human.txt
"$cli" build human.txt -o human.sng >/dev/null
check 0 out '^Humanize seed [0-9]+ \(--seed [0-9]+ repeats this take\)' render human.sng -o h1.wav
seed=$(sed -n 's/^Humanize seed \([0-9]*\) .*/\1/p' out.txt)
check 0 out "^Humanize seed $seed " render human.sng -o h2.wav --seed "$seed"
cmp -s h1.wav h2.wav || fail "--seed did not repeat the take"

# A song's userbank is looked up beside the song when its stored path is gone.
mkdir -p trip && cp bank.ubf trip/kit.ubf
printf 'userbank "/gone/elsewhere/kit.ubf"\npattern 1\n  channel 1 sound u1\n  measure 1\n    1 x... .... .... ....\n' > trip/t.txt
"$cli" build trip/t.txt -o trip/t.sng >/dev/null
check 0 err 'using the userbank trip/kit.ubf beside the song \(the song names /gone/elsewhere/kit.ubf\)' \
  render trip/t.sng -o u.wav
peak=$(sox u.wav -n stats 2>&1 | awk '/Pk lev dB/ {print $4}')
awk -v p="$peak" 'BEGIN { exit !(p > -30) }' || fail "the userbank found beside the song was not played ($peak dB)"
# A stored path reaches the terminal escaped, never as control characters.
printf 'userbank "/gone/a\\x1B[2Jb\\nc.ubf"\n' > esc.txt
"$cli" build esc.txt -o esc.sng >/dev/null
check 0 err "the song's userbank /gone/a\\\\x1B\\[2Jb\\\\x0Ac.ubf could not be loaded" render esc.sng -o esc.wav
! grep -q $'\x1b' err.txt || fail "an escape character reached the terminal"
echo "cli convention checks passed"
