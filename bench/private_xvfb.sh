# Sourced by the bench scripts that run the program on an X server of their own: a work
# folder, the processes to stop on exit ($pids, to which the script adds its own), and Xvfb on
# $display, given a second to come up. Without $display, Xvfb takes the first free display and
# sets it. With $keep_work set, the work folder stays and its name is printed.
work=$(mktemp -d)
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    # Let them end before their folder goes: a server writes into it as it stops.
    for p in $pids; do wait "$p" 2>/dev/null || true; done
    if [ -n "${keep_work:-}" ]; then echo "kept in $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT
if [ -n "${display:-}" ]; then
    Xvfb "$display" -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
    pids="$pids $!"
    sleep 1
else
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    pids="$pids $!"
    for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
    display=:$(cat "$work/display")
fi
