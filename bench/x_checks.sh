# The checks the desktop scripts share, sourced by them: counting results, and finding and
# ordering windows on the X server in DISPLAY.
passed=0
failed=0
check() {  # check DESCRIPTION COMMAND...
    what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   $what"
    else
        failed=$((failed + 1))
        echo "FAIL $what"
    fi
}
hex() { printf '0x%x' "$1"; }
find_window() {  # find_window NAME-REGEX: waits up to 5 s for a visible window of that name
    for _ in $(seq 50); do
        w=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | tail -1)
        [ -n "$w" ] && { echo "$w"; return 0; }
        sleep 0.1
    done
    return 1
}
above() {  # above A B: window A lies above window B in the window manager's stacking order
    xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | tr ' ' '\n' |
        awk -v a="$(hex "$1")" -v b="$(hex "$2")" '$0 == a { ia = NR } $0 == b { ib = NR }
            END { exit !(ia > ib && ib > 0) }'
}
