# Sourced by the bench scripts that run the program on an X server of their own: a work
# folder, the processes to stop on exit ($pids, to which the script adds its own), and Xvfb on
# $display, given a second to come up.
work=$(mktemp -d)
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null || true; done
    # Let them end before their folder goes: a server writes into it as it stops.
    for p in $pids; do wait "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT
Xvfb "$display" -screen 0 1280x1024x24 >"$work/xvfb.log" 2>&1 &
pids="$pids $!"
sleep 1
