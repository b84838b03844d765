#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR and checks the installed tree as a desktop would
# see it: the installed programs find their data relative to themselves, the desktop entry and
# the metadata validate, songs and userbanks are recognised by their contents and open with
# qtam, the icons have their sizes, the manual pages format cleanly, and the shell completion
# completes.
set -euo pipefail
build=$1 work=$2
rm -rf "$work" && mkdir -p "$work"
fail() { echo "FAILED: $*" >&2; exit 1; }

stage=$work/stage
DESTDIR=$stage cmake --install "$build" --prefix /usr >"$work/install.log"
usr=$stage/usr
share=$usr/share
cli=$usr/bin/qtam-cli
[ -x "$usr/bin/qtam" ] && [ -x "$cli" ] || fail "programs not in bin/"
[ ! -e "$usr/bin/engines.dll" ] || fail "the kit lies beside the installed programs"
[ -f "$share/qtam/engines.dll" ] || fail "the kit is not in share/qtam"

# The installed qtam-cli finds the kit in ../share/qtam: info names the kit's sounds.
demo=$share/qtam/songs/demo.sng
[ -f "$demo" ] || fail "no demo song in share/qtam/songs"
"$cli" info "$demo" >"$work/demo.txt"
grep -q "# Kick Punch" "$work/demo.txt" || fail "the installed qtam-cli did not load the kit"

# Every pattern of the demo plays notes, and no two sound the same.
for p in 1 2 3 4 5 6 7 8; do
    "$cli" render "$demo" -o "$work/pattern$p.wav" --pattern "$p" >"$work/render$p.txt" 2>&1 ||
        fail "render of pattern $p: $(cat "$work/render$p.txt")"
    if grep -qi "warning" "$work/render$p.txt"; then
        fail "pattern $p: $(cat "$work/render$p.txt")"
    fi
done
[ "$(md5sum "$work"/pattern*.wav | cut -d' ' -f1 | sort -u | wc -l)" = 8 ] ||
    fail "two patterns of the demo render the same sound"
# The example songs all load.
for song in "$share"/qtam/songs/*.sng; do
    "$cli" render "$song" -o "$work/example.wav" --force >/dev/null 2>&1 || fail "render $song"
done

# The plugins lie where hosts look, and lilv reads the installed bundle.
[ -f "$usr/lib/clap/qtam.clap" ] || fail "no qtam.clap in lib/clap"
LV2_PATH=$usr/lib/lv2 lv2info https://qtam.example.org/plugins/qtam >"$work/lv2info.txt" 2>&1 ||
    fail "lv2info: $(cat "$work/lv2info.txt")"
grep -q "qtam.lv2/qtam.so" "$work/lv2info.txt" || fail "lv2info: no binary in the bundle"

# The installed qtam draws the panel (with the kit's names) without a display.
QT_QPA_PLATFORM=offscreen QTAM_CONFIG=$work/QTam.ini \
    "$usr/bin/qtam" --screenshot "$work/panel.png" "$demo"
file "$work/panel.png" | grep -q "PNG image data, 636 x 385" || fail "screenshot: $(file "$work/panel.png")"

# The desktop entry and the metadata are valid.
desktop-file-validate "$share/applications/qtam.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$share"/metainfo/*.metainfo.xml >"$work/appstream.txt" ||
    fail "metainfo: $(cat "$work/appstream.txt")"
grep -qx "Exec=qtam %f" "$share/applications/qtam.desktop" || fail "Exec line"

# Icons: every PNG size is drawn at its size, and the scalable one is an SVG.
for size in 16 22 24 32 48 64 128 256; do
    png=$share/icons/hicolor/${size}x${size}/apps/qtam.png
    file "$png" | grep -q "PNG image data, $size x $size," || fail "icon $size: $(file "$png")"
done
grep -q "<svg" "$share/icons/hicolor/scalable/apps/qtam.svg" || fail "scalable icon"

# File types: the installed database, and the desktop looking only at this tree.
update-mime-database "$share/mime" >"$work/mime.log" 2>&1 || fail "$(cat "$work/mime.log")"
update-desktop-database "$share/applications" || fail "update-desktop-database"
# (qtam on the PATH, as the entry's TryExec asks; xdg-mime asks gio, as under a desktop.)
export XDG_DATA_DIRS=$share XDG_DATA_HOME=$work/home-data XDG_CONFIG_HOME=$work/home-config
export PATH=$usr/bin:$PATH XDG_CURRENT_DESKTOP=GNOME
mkdir -p "$XDG_DATA_HOME" "$XDG_CONFIG_HOME"
type_of() { gio info -a standard::content-type "$1" | awk '/standard::content-type/ {print $2}'; }
cp "$demo" "$work/a song without its extension"
head -c 4096 /dev/urandom >"$work/noise.dat"
"$cli" bank new "$work/bank.ubf" 1="$work/noise.dat" >/dev/null 2>&1 || fail "bank new"
cp "$work/bank.ubf" "$work/a bank without its extension"
[ "$(type_of "$demo")" = application/x-qtam-song ] || fail "demo.sng is $(type_of "$demo")"
[ "$(type_of "$work/a song without its extension")" = application/x-qtam-song ] ||
    fail "a song by its contents is $(type_of "$work/a song without its extension")"
[ "$(type_of "$work/bank.ubf")" = application/x-qtam-userbank ] || fail "bank.ubf"
[ "$(type_of "$work/a bank without its extension")" = application/x-qtam-userbank ] ||
    fail "a bank by its contents is $(type_of "$work/a bank without its extension")"
[ "$(type_of "$work/noise.dat")" != application/x-qtam-song ] || fail "noise is a song"
# (Read whole first: grep -q leaves early, and under pipefail gio's broken pipe would count.)
handler=$(gio mime application/x-qtam-song)
grep -q "Default application for .*: qtam.desktop" <<<"$handler" ||
    fail "qtam is not the songs' handler: $handler"
[ "$(xdg-mime query filetype "$work/a song without its extension")" = application/x-qtam-song ] ||
    fail "xdg-mime: $(xdg-mime query filetype "$work/a song without its extension")"
[ "$(xdg-mime query default application/x-qtam-song)" = qtam.desktop ] ||
    fail "xdg-mime names $(xdg-mime query default application/x-qtam-song)"
handler=$(gio mime application/x-qtam-userbank)
grep -q "Default application for .*: qtam.desktop" <<<"$handler" ||
    fail "qtam is not the userbanks' handler: $handler"

# Manual pages: compressed, and formatted without a warning.
for page in qtam qtam-cli; do
    gz=$usr/share/man/man1/$page.1.gz
    gzip -t "$gz" || fail "$page.1.gz"
    warnings=$(MANWIDTH=80 man --warnings -l "$gz" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "man $page: $warnings"
done

# Shell completion: commands, options, and only songs (and folders) where a song goes.
mkdir -p "$work/files/sub"
touch "$work/files/a.sng" "$work/files/B.SNG" "$work/files/c.wav" "$work/files/d.txt"
complete_words() {
    # The line as words; the last word is the one being completed.
    bash -c '
        source "$1"; shift
        COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
        _qtam_cli
        printf "%s\n" "${COMPREPLY[@]}" | sort' _ "$share/bash-completion/completions/qtam-cli" "$@"
}
[ "$(complete_words qtam-cli re)" = render ] || fail "command: $(complete_words qtam-cli re)"
[ "$(complete_words qtam-cli render --pa)" = --pattern ] || fail "option"
[ "$(complete_words qtam-cli bank "")" = "$(printf 'export\nfrom-kit\ninfo\nnew')" ] || fail "bank"
expected=$(printf '%s\n' "$work/files/B.SNG" "$work/files/a.sng" "$work/files/sub" | sort)
[ "$(complete_words qtam-cli render "$work/files/")" = "$expected" ] ||
    fail "song files: $(complete_words qtam-cli render "$work/files/")"
[ "$(complete_words qtam-cli build "$work/files/d")" = "$work/files/d.txt" ] || fail "text files"
[ "$(complete_words qtam-cli render x.sng -o "$work/files/")" = \
  "$(printf '%s\n' "$work/files/c.wav" "$work/files/sub" | sort)" ] || fail "WAV output"
[ "$(complete_words qtam-cli bank new b.ubf "3=$work/files/c")" = "3=$work/files/c.wav" ] ||
    fail "slot file: $(complete_words qtam-cli bank new b.ubf "3=$work/files/c")"
echo "installed tree checked"
