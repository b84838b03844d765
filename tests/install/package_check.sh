#!/usr/bin/env bash
# Builds the Debian package into a temporary folder and checks it: dependencies found in the
# programs (and the libraries they load by name), the files in their places for /usr, and
# no lintian error.
set -euo pipefail
build=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }

(cd "$build" && cpack -G DEB -B "$work" >"$work/cpack.log" 2>&1) || fail "$(cat "$work/cpack.log")"
deb=$(ls "$work"/qtam_*.deb)
[ "$(dpkg-deb -f "$deb" Package)" = qtam ] || fail "package name"
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6 libqt6core6 libstdc++6 libc6 libsdl2-2.0-0 \
    libsndfile1 libsoxr0 libarchive13; do
    grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
done
dpkg-deb -c "$deb" | awk '{print $6}' >"$work/files.txt"
for file in ./usr/bin/qtam ./usr/bin/qtam-cli ./usr/share/qtam/engines.dll \
    ./usr/share/qtam/songs/demo.sng ./usr/share/applications/qtam.desktop \
    ./usr/share/mime/packages/qtam.xml ./usr/share/man/man1/qtam.1.gz \
    ./usr/share/man/man1/qtam-cli.1.gz ./usr/share/doc/qtam/copyright \
    ./usr/share/doc/qtam/changelog.gz ./usr/share/icons/hicolor/scalable/apps/qtam.svg \
    ./usr/share/bash-completion/completions/qtam-cli ./usr/lib/lv2/qtam.lv2/manifest.ttl \
    ./usr/lib/lv2/qtam.lv2/qtam.ttl ./usr/lib/lv2/qtam.lv2/qtam.so ./usr/lib/clap/qtam.clap; do
    grep -qx "$file" "$work/files.txt" || fail "the package lacks $file"
done
if grep -v '^\./usr/' "$work/files.txt" | grep -qv '^\./$'; then
    fail "files outside /usr: $(grep -v '^\./usr/' "$work/files.txt")"
fi

# lintian: errors fail; what else it says is printed for the record.
lintian --fail-on error "$deb" >"$work/lintian.txt" 2>&1 || fail "lintian: $(cat "$work/lintian.txt")"
cat "$work/lintian.txt"
echo "package checked"
