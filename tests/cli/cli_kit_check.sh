#!/usr/bin/env bash
# qtam-cli bank from-kit against kits that mislead: outputs onto the kit's own files, archives
# whose names go beyond ASCII, and an unpacking stopped by a signal.
set -euo pipefail
cli=$1 work=$2
rm -rf "$work" && mkdir -p "$work/tmp" "$work/Kit ñ" && cd "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }
export TMPDIR="$work/tmp"
sox -n -r 44100 -c 1 -b 16 "Kit ñ/Bombo ñ.wav" synth 0.1 sine 60
printf '<drumkit_info><name>K</name><instrumentList><instrument><name>Bombo</name>%s\n' \
  '<filename>Bombo ñ.wav</filename></instrument></instrumentList></drumkit_info>' > "Kit ñ/drumkit.xml"
printf '<region> sample=Bombo ñ.wav key=36\n' > "Kit ñ/k.sfz"

# No output onto any file of the kit, -f or not.
for pair in "Kit ñ|Kit ñ/drumkit.xml" "Kit ñ|Kit ñ/Bombo ñ.wav" "Kit ñ/k.sfz|Kit ñ/Bombo ñ.wav"; do
  kit=${pair%|*} out=${pair#*|}
  cp "$out" before
  set +e; "$cli" bank from-kit "$kit" -o "$out" -f >/dev/null 2>err.txt; rc=$?; set -e
  [ "$rc" = 1 ] && grep -q "it is a file of the kit" err.txt && cmp -s "$out" before ||
    fail "from-kit $kit -o $out: exit $rc, $(cat err.txt)"
done

# Names beyond ASCII in pax and zip archives, whatever the locale.
tar --format=pax -czf kit.h2drumkit "Kit ñ"
zip -qr kit.zip "Kit ñ"
for a in kit.h2drumkit kit.zip; do
  LC_ALL=C "$cli" bank from-kit "$a" -o "$a.ubf" >out.txt 2>&1 && grep -q "Wrote $a.ubf: 1 sound" out.txt ||
    fail "$a: $(cat out.txt)"
done
# An SFZ file named without its folder: its sounds lie in the current one.
(cd "Kit ñ" && "$cli" bank from-kit k.sfz -o ../sfz.ubf) >out.txt 2>&1 && grep -q "1 sound" out.txt ||
  fail "k.sfz: $(cat out.txt)"

# Ctrl-C or SIGTERM while an archive is unpacked leaves nothing in TMPDIR. The archive's 2 GB
# of zeros behind the kit are gzip members repeated, made in a moment.
python3 - <<'PY'
import gzip, io, tarfile
buffer = io.BytesIO()
kit = tarfile.open(fileobj=buffer, mode="w", format=tarfile.PAX_FORMAT)
for name in ("Kit ñ/drumkit.xml", "Kit ñ/Bombo ñ.wav"):
    kit.add(name)
zeros = tarfile.TarInfo("Kit ñ/zeros.raw")
zeros.size = 2 << 30
head = buffer.getvalue()[:kit.offset] + zeros.tobuf(tarfile.PAX_FORMAT, "utf-8", "strict")
block = gzip.compress(bytes(4 << 20), 1)
with open("slow.h2drumkit", "wb") as out:
    out.write(gzip.compress(head) + block * 512 + gzip.compress(bytes(10240)))
PY
for sig in INT TERM; do
  "$cli" bank from-kit slow.h2drumkit -o slow.ubf -f >/dev/null 2>&1 & pid=$!
  until compgen -G "$TMPDIR/qtam-kit-*/sound-*" >/dev/null; do
    kill -0 $pid 2>/dev/null || fail "the import ended before SIG$sig"
    sleep 0.01
  done
  kill -$sig $pid
  if wait $pid; then fail "SIG$sig did not end the import"; fi
  [ -z "$(ls "$TMPDIR")" ] || fail "SIG$sig left $(ls -R "$TMPDIR")"
done
echo "kit checks passed"
