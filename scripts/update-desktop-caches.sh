#!/usr/bin/env bash
# After `make install` into PREFIX: brings the desktop's caches up to date, so the file types,
# the menu entry and the icon are seen at once. A missing tool is skipped (the desktop then
# picks the files up at its next start).
set -uo pipefail
share="${1:-/usr/local}/share"
if command -v update-mime-database >/dev/null; then update-mime-database "$share/mime"; fi
if command -v update-desktop-database >/dev/null; then
    update-desktop-database -q "$share/applications"
fi
if command -v gtk-update-icon-cache >/dev/null && [ -f "$share/icons/hicolor/index.theme" ]; then
    gtk-update-icon-cache -q -t "$share/icons/hicolor"
fi
exit 0
