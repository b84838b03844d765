# Sourced by the scripts that drive the whole program under X: its windows found by name.

# The first window whose name matches, waited for up to 30 s.
window() {
    for _ in $(seq 300); do
        w=$(xdotool search --name "$1" 2>/dev/null | head -1)
        [ -n "$w" ] && { echo "$w"; return; }
        sleep 0.1
    done
    echo "no window named $1" >&2
    exit 1
}

# The splash clicked away once it shows; then the groove panel of the demo song.
panel_after_splash() {
    about=$(window "^Q.Tam Vediveve")
    sleep 1
    xdotool mousemove --window "$about" 160 100 click 1
    sleep 2.5
    window demo
}
