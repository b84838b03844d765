#!/usr/bin/env bash
# Lists the groove panel's controls as a screen reader sees them through the desktop's
# accessibility bus (AT-SPI): runs the program under its own Xvfb and session bus, then counts
# the panel's controls that have a role and a name, and the nameless objects left, lists the
# controls whose focus a screen reader is told of as Tab and an arrow key move it, and reads the
# pattern grid's table (Ctrl+R).
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
  "$0/bin/qtam" "$0/bin/demo.sng" >/dev/null 2>&1 &
  app=$!
  sleep 4
  /usr/bin/python3 - <<"PY"  # the system Python, where Debian installs pyatspi
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
        unnamed = [n for n in nodes if not n.name and n.getRole() in CONTROLS]
        labels = [n for n in nodes if n.name and n.getRole() == pyatspi.ROLE_LABEL]
        checked = sum(1 for n in named if n.getState().contains(pyatspi.STATE_CHECKED))
        print(f"panel window (role {window.getRoleName()}): {len(named)} named controls ({checked} checked), "
              f"{len(unnamed)} controls without a name, {len(labels)} named labels, "
              f"{len(nameless)} nameless fillers")
        for n in named:
            print(f"  {n.getRoleName()}: {n.name}")
        for n in labels:
            print(f"  label: {n.name}")

# Focus changes as a screen reader hears them: Tab and an arrow key on the panel.
import subprocess, threading, time
from gi.repository import GLib

heard = []
def on_focus(event):
    if event.detail1 == 1 and event.source is not None and event.source.name:
        heard.append(event.source.name)

def press_keys():
    subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "demo", "windowfocus",
                    "--sync"], check=False)
    for key in ["Tab", "Tab", "Right"]:
        time.sleep(0.5)
        subprocess.run(["xdotool", "key", key], check=False)
    time.sleep(1)
    GLib.idle_add(pyatspi.Registry.stop)

pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
threading.Thread(target=press_keys).start()
pyatspi.Registry.start()
print("focus announced for: " + ", ".join(heard))

# The pattern grid (Ctrl+R): a table with row and column headers and a name on every cell.
subprocess.run(["xdotool", "key", "ctrl+r"], check=False)
time.sleep(2)
for app in pyatspi.Registry.getDesktop(0):
    if app is None or "qtam" not in (app.name or "").lower():
        continue
    for window in app:
        if window.name != "Pattern grid":
            continue
        tables = [n for n in walk(window) if n.getRole() == pyatspi.ROLE_TABLE]
        for t in tables:
            table = t.queryTable()
            cells = [table.getAccessibleAt(r, c) for r in range(table.nRows)
                     for c in range(table.nColumns)]
            print(f"pattern grid: a table of {table.nRows} rows and {table.nColumns} columns, "
                  f"{sum(1 for c in cells if c is not None and c.name)} named cells; "
                  f"row 1: {table.getRowDescription(0) or table.getRowHeader(0).name}; "
                  f"cell 1,1: {cells[0].name}")
PY
  kill $app
' "$build"
