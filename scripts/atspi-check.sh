#!/usr/bin/env bash
# Lists the groove panel's controls as a screen reader sees them through the desktop's
# accessibility bus (AT-SPI): runs the program under its own Xvfb and session bus, then counts
# the panel's controls that have a role and a name, and the nameless objects left.
# Usage: scripts/atspi-check.sh [build]   (needs at-spi2-core and python3-pyatspi)
set -euo pipefail
build=${1:-build}
display=:93
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
sleep 1
export DISPLAY=$display QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 NO_AT_BRIDGE=0
export QTAM_CONFIG=$(mktemp -d)/QTam.ini SDL_AUDIODRIVER=dummy
dbus-run-session -- bash -c '
  /usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
  sleep 1
  "$0/bin/qtam" >/dev/null 2>&1 &
  app=$!
  sleep 4
  python3 - <<"PY"
import pyatspi

CONTROLS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_CHECK_BOX, pyatspi.ROLE_RADIO_BUTTON,
            pyatspi.ROLE_SLIDER, pyatspi.ROLE_DIAL}

def walk(node, depth=0):
    yield node
    if depth > 30:
        return
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child, depth + 1)

desktop = pyatspi.Registry.getDesktop(0)
for app in desktop:
    if app is None or "qtam" not in (app.name or "").lower():
        continue
    for window in app:
        nodes = list(walk(window))
        named = [n for n in nodes if n.getRole() in CONTROLS and n.name]
        if not any(n.name == "Tempo" for n in named):
            continue
        nameless = [n for n in nodes if not n.name and n.getRole() == pyatspi.ROLE_FILLER]
        states = sum(1 for n in named if n.getState().contains(pyatspi.STATE_CHECKABLE))
        print(f"panel window: {len(named)} named controls ({states} checkable), "
              f"{len(nameless)} nameless fillers")
        for n in named[:6]:
            print(f"  {n.getRoleName()}: {n.name}")
PY
  kill $app
' "$build"
