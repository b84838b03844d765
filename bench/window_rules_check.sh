#!/bin/sh
# The program as a new user meets it (no configuration yet), on a real X server with the openbox
# window manager, driven with X input, and checked from outside (the stacking order, the active
# window, the pixels shown):
#   - "File" clicked in the main window's menu bar, then Escape: the panel stays above the main
#     window; so it does after Ctrl+G and each of two clicks on the main window's title bar;
#   - Escape in the instrument dialog: the panel has the keyboard again;
#   - note details from the grid (Ctrl+R, 1, Home, Shift+Enter, Escape): the grid has the
#     keyboard again, and the next Right arrow leaves the panel as it was;
#   - Ctrl+S from the panel: the panel keeps the keyboard;
#   - Escape from an opened menu, then Space: the menu does not open again.
#
#   bench/window_rules_check.sh BUILD_DIR [DISPLAY_NUMBER]
# Prints "ok ..." or "FAIL ..." per check, then "N passed, N failed"; exits 1 on a failure, and
# 0 with "skipped" when Xvfb, openbox, xdotool, xprop or xwd is missing.
set -eu
for tool in Xvfb openbox xdotool xprop xwd xwininfo; do
    command -v "$tool" >/dev/null 2>&1 || { echo "skipped: $tool is missing"; exit 0; }
done
build=$(cd "$1" && pwd)
display=:${2:-94}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private_xvfb.sh"
export DISPLAY=$display
mkdir -m 700 "$work/rt"
export HOME=$work XDG_RUNTIME_DIR=$work/rt QT_QPA_PLATFORM=xcb QTAM_CONFIG=$work/QTam.ini
export SDL_AUDIODRIVER=dummy
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids="$pids $!"
sleep 1

. "$here/x_checks.sh"
active_is() { sleep 0.5; [ "$(xdotool getactivewindow 2>/dev/null)" = "$1" ]; }
corner() {  # corner WINDOW: its client area's top left on the screen, as "X Y"
    xwininfo -id "$1" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
        END { print x, y }'
}
pixels() { xwd -silent -id "$1" | md5sum; }
# Windows the X server shows with the program's class: a menu adds one.
shown() { xdotool search --onlyvisible --classname qtam 2>/dev/null | wc -l; }

"$build/bin/qtam" "$build/bin/songs/demo.sng" >"$work/app.log" 2>&1 &
app=$!
pids="$pids $app"
main=$(find_window "^Vediveve Duzuda")
panel=$(find_window "demo.sng")
sleep 3  # the splash goes

set -- $(corner "$main")
mx=$1 my=$2
xdotool mousemove $((mx + 20)) $((my + 10)) click 1  # "File"
sleep 0.7
xdotool key Escape
sleep 0.7
check "after File and Escape the panel is above the main window" above "$panel" "$main"

xdotool key ctrl+g
sleep 0.7
for click in first second; do
    xdotool mousemove $((mx + 300)) $((my - 10)) click 1  # the main window's title bar
    sleep 0.7
    check "after Ctrl+G and the $click click on the title bar the panel is above" \
        above "$panel" "$main"
done

set -- $(corner "$panel")
xdotool mousemove $(($1 + 50)) $(($2 + 57)) click 1  # channel 1's instrument name
find_window "^Select an instrument" >/dev/null || true
xdotool key Escape
check "after Escape in the instrument dialog the panel has the keyboard" active_is "$panel"

xdotool key ctrl+r
grid=$(find_window "^Pattern grid") || grid=0
sleep 0.5
xdotool key 1 Home shift+Return
find_window "^Note details" >/dev/null || true
xdotool key Escape
check "after Escape in note details from the grid the grid has the keyboard" active_is "$grid"
before=$(pixels "$panel")
xdotool key Right
sleep 0.5
check "the next Right arrow leaves the panel as it was" [ "$(pixels "$panel")" = "$before" ]

xdotool windowactivate --sync "$panel" 2>/dev/null || true
sleep 0.5
xdotool key ctrl+s
sleep 1
check "after Ctrl+S the panel keeps the keyboard" active_is "$panel"

xdotool windowactivate --sync "$main" 2>/dev/null || true
sleep 0.5
closed=$(shown)
xdotool mousemove $((mx + 20)) $((my + 10)) click 1
sleep 0.7
xdotool key Escape
sleep 0.7
xdotool key space
sleep 0.7
check "Space after Escape from a menu opens no menu" [ "$(shown)" = "$closed" ]
xdotool key space

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
