#!/bin/sh
# The program on a real X server with a window manager (openbox), driven with X input as a
# person would, and checked from outside through the window manager's own properties:
#   - the splash is painted (not one flat colour) while it shows, and shows for over a second;
#   - the groove panel and the userbank editor are transient for the main window and not kept
#     above other programs; at start-up the panel leaves the main window's menu bar free;
#   - Ctrl+Q and Ctrl+N on a changed song ask over the main window, on top of everything, and
#     Escape keeps the program and the song;
#   - in the userbank editor the offer to convert a stereo WAV file and, declined, its refusal
#     belong to the editor and are the topmost window; Escape returns to the editor;
#   - after a file dialog (Ctrl+L, Escape) the space bar starts playback (heard on a private
#     PulseAudio server) and stops it;
#   - the editor's Ctrl+W closes the editor (Ctrl+Q is the program's Quit);
#   - a minimised panel comes back with Ctrl+G from the main window, and stays above the main
#     window when that is clicked into;
#   - a dialog closed by Escape gives the keyboard back to the window that opened it;
#   - Ctrl+R opens the pattern grid, transient for the main window and not above other
#     programs, with the keyboard; its space bar plays and stops.
#
#   bench/desktop_check.sh BUILD_DIR [DISPLAY_NUMBER]
# Prints "ok ..." or "FAIL ..." per check, then "N passed, N failed"; exits 1 on a failure.
# Needs Xvfb, openbox, xdotool, xprop, pulseaudio, parec, sox and python3.
set -eu
build=$(cd "$1" && pwd)
display=:${2:-93}
here=$(cd "$(dirname "$0")" && pwd)
. "$here/private_xvfb.sh"
export DISPLAY=$display
mkdir -m 700 "$work/rt"
export HOME=$work XDG_RUNTIME_DIR=$work/rt
openbox --sm-disable >"$work/openbox.log" 2>&1 &
pids="$pids $!"
pulseaudio -n --daemonize=no --exit-idle-time=-1 -L module-null-sink \
    -L "module-native-protocol-unix socket=$work/pulse.sock auth-anonymous=1" \
    >"$work/pa.log" 2>&1 &
pids="$pids $!"
sleep 2
export PULSE_SERVER=unix:$work/pulse.sock QT_QPA_PLATFORM=xcb QTAM_CONFIG=$work/QTam.ini
sox -n -q -c 2 -r 44100 -b 16 "$work/stereo.wav" synth 0.2 sine 440

. "$here/x_checks.sh"
gone() {  # gone NAME-REGEX: no visible window of that name within 2 s
    for _ in $(seq 20); do
        [ -z "$(xdotool search --onlyvisible --name "$1" 2>/dev/null)" ] && return 0
        sleep 0.1
    done
    return 1
}
shows() { find_window "$1" >/dev/null; }
transient_for() { xprop -id "$1" WM_TRANSIENT_FOR | grep -q "# $(hex "$2")\$"; }
not_above() { ! xprop -id "$1" _NET_WM_STATE | grep -q ABOVE; }
topmost() { xprop -root _NET_CLIENT_LIST_STACKING | grep -q "$(hex "$1")\$"; }
alive() { kill -0 "$app" 2>/dev/null; }
space_plays_and_stops() {  # space_plays_and_stops WHERE: the space bar, heard on the sink
    xdotool key space
    level=$(peak 2)
    check "the space bar $1 starts playback (peak $level)" [ "$level" -gt 1000 ]
    xdotool key space
    sleep 0.5
    level=$(peak 1)
    check "the space bar $1 stops it again (peak $level)" [ "$level" -lt 100 ]
}
peak() {  # peak SECONDS: the loudest sample the null sink plays meanwhile
    parec --device=null.monitor --format=s16le --rate=44100 --channels=2 --raw "$work/rec.raw" &
    rec=$!
    sleep "$1"
    kill $rec
    wait $rec 2>/dev/null || true
    python3 -c "
import struct, sys
d = open('$work/rec.raw', 'rb').read()
n = len(d) // 2
print(max((abs(x) for x in struct.unpack('<%dh' % n, d[:n * 2])), default=0))"
}

"$build/bin/qtam" "$build/bin/songs/demo.sng" >"$work/app.log" 2>&1 &
app=$!
pids="$pids $app"

# The splash: painted while it shows, and shown for more than a second.
about=$(find_window "^Q.Tam Vediveve")
shown=$(date +%s%N)
painted=no
while [ -n "$(xdotool search --onlyvisible --name "^Q.Tam Vediveve" 2>/dev/null)" ]; do
    colours=$(python3 "$here/x_pixels.py" "$about" 2>/dev/null || echo 0)
    [ "$colours" -gt 10 ] && painted=yes
    [ $(($(date +%s%N) - shown)) -gt 5000000000 ] && break
    sleep 0.05
done
seen_ms=$((($(date +%s%N) - shown) / 1000000))
check "the splash is painted ($painted)" [ "$painted" = yes ]
check "the splash shows for over a second (${seen_ms} ms)" [ "$seen_ms" -gt 1000 ]

main=$(find_window "^Vediveve Duzuda")
panel=$(find_window "demo")
check "the panel is transient for the main window" transient_for "$panel" "$main"
check "the panel does not stay above other programs" not_above "$panel"
top() { xwininfo -id "$1" | sed -n 's/.*Absolute upper-left Y: *//p'; }
frame_top() { echo $(($(top "$1") - $(xprop -id "$1" _NET_FRAME_EXTENTS | cut -d, -f3))); }
# The menu bar is the first line of the main window, at least 15 pixels high.
check "the panel leaves the menu bar free (panel's frame at $(frame_top "$panel"), main window at $(top "$main"))" \
    [ "$(frame_top "$panel")" -ge $(($(top "$main") + 15)) ]

# A step set on the panel changes the song; Ctrl+Q and Ctrl+N, then Escape.
xdotool mousemove --window "$panel" 110 235 click 1  # step 2, without a note
sleep 0.3
for keys in ctrl+q ctrl+n; do
    xdotool windowactivate --sync "$main" 2>/dev/null || true
    xdotool key "$keys"
    box=$(find_window "^Confirm" || true)
    check "$keys asks over the main window" transient_for "${box:-0}" "$main"
    check "$keys's question is the topmost window" topmost "${box:-0}"
    check "$keys's question is not kept above other programs" not_above "${box:-0}"
    xdotool key Escape
    check "Escape closes $keys's question" gone "^Confirm"
    check "the program goes on after $keys and Escape" alive
done

# The userbank editor, a refused WAV file, the warning over the editor.
xdotool windowactivate --sync "$main" 2>/dev/null || true
xdotool key ctrl+e
editor=$(find_window "^Userbank editor")
check "the editor is transient for the main window" transient_for "$editor" "$main"
check "the editor does not stay above other programs" not_above "$editor"
xdotool key ctrl+i
files=$(find_window "^Import a sample")
check "the import dialog belongs to the editor" transient_for "${files:-0}" "$editor"
sleep 0.5
xdotool type --delay 20 "$work/stereo.wav"
xdotool key Return
# A stereo file is offered the conversion first; Escape declines it, and the refusal follows.
offer=$(find_window "^Confirm" || true)
check "the offer to convert belongs to the editor" transient_for "${offer:-0}" "$editor"
check "the offer to convert is the topmost window" topmost "${offer:-0}"
xdotool key Escape
warning=$(find_window "^Warning" || true)
check "the warning belongs to the editor" transient_for "${warning:-0}" "$editor"
check "the warning is the topmost window" topmost "${warning:-0}"
xdotool key Escape
check "Escape closes the warning" gone "^Warning"
sleep 0.3
check "the editor is active again" [ "$(xdotool getactivewindow)" = "$editor" ]
sleep 0.5  # the editor reopens its sound device as it becomes active again
xdotool key ctrl+w
check "the editor's Ctrl+W closes the editor" gone "^Userbank editor"
sleep 1

# The space bar after a file dialog, from the main window.
xdotool windowactivate --sync "$main" 2>/dev/null || true
xdotool key ctrl+l
find_window "^Load a userbank" >/dev/null || true
xdotool key Escape
gone "^Load a userbank" || true
sleep 1
check "the main window has the keyboard back after the file dialog" \
    [ "$(xdotool getactivewindow)" = "$main" ]
space_plays_and_stops "after a file dialog"

# A minimised panel comes back with Ctrl+G.
xdotool windowminimize --sync "$panel" 2>/dev/null || true
check "the panel is minimised" gone "demo"
xdotool windowactivate --sync "$main" 2>/dev/null || true
xdotool key ctrl+g
check "Ctrl+G brings the panel back" shows "demo"

# A click on the main window's title leaves the panel above it.
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 300)) $((Y - 10)) click 1
sleep 0.5
check "the panel stays above the main window clicked into" above "$panel" "$main"

# The pattern grid: Ctrl+R, its owner, the keyboard, the space bar.
xdotool key ctrl+r
grid=$(find_window "^Pattern grid") || grid=0
check "Ctrl+R opens the pattern grid" [ "$grid" != 0 ]
check "the grid is transient for the main window" transient_for "$grid" "$main"
check "the grid is not above other programs" not_above "$grid"
sleep 0.5
check "the grid has the keyboard" [ "$(xdotool getactivewindow)" = "$grid" ]
space_plays_and_stops "in the grid"


# Note details (a right click on a step) closed by Escape: the panel has the keyboard again.
xdotool windowactivate --sync "$panel" 2>/dev/null || true
eval "$(xdotool getwindowgeometry --shell "$panel")"
xdotool mousemove $((X + 85)) $((Y + 245)) click 3
details=$(find_window "^Note details") || details=0
xdotool key Escape
gone "^Note details" || true
sleep 0.5
check "after Note details the panel has the keyboard again" \
    [ "$details" != 0 -a "$(xdotool getactivewindow)" = "$panel" ]
space_plays_and_stops "on the panel after Note details"

echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
