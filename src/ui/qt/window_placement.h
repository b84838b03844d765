#pragma once
// Where the program's windows appear and which window a message box or file dialog belongs to.

#include <QRect>

class QWidget;

namespace qtam {

// Thread: owner (the user-interface thread), for every function here.
void CenterOnScreen(QWidget& window);

// Centred over the window it belongs to (its parent's window) while that shows, else on the
// screen; kept on the screen either way.
void CenterOverOwner(QWidget& window);

// Moves `window` (its frame) just below `uncovered`, a rectangle in screen coordinates,
// centred under it and kept on the screen; it may rise over `uncovered` only where the screen
// is too short for both.
void PlaceBelow(QWidget& window, const QRect& uncovered);

// Moves `window` so that its frame lies on the visible area of its screen, made smaller first
// where it is resizable and larger than that area. A place kept from another screen or another
// scale (QT_SCALE_FACTOR) may lie far outside.
void KeepOnScreen(QWidget& window);

// Makes `window` the transient of `owner` for the window manager (kept above it, and handed
// back to it), whatever its parent widget.
void MakeTransientFor(QWidget& window, QWidget& owner);

// Handles events until the window system shows `window` (exposed), for at most `ms`
// milliseconds; true when it does. Its frame and place on the screen are known from then on.
bool WaitUntilExposed(QWidget& window, int ms);

// The window that asks a question or opens a file dialog, and so the one the box belongs to
// and lies over: the modal dialog that runs, else the active window, else the last of the
// program's windows to have been active that still shows (right after a dialog closed no
// window is active yet), else `fallback`.
QWidget* WindowThatAsks(QWidget* fallback);
// Hides the program's windows that are kept above all others (the splash) before a box or a
// dialog shows: it must not hide beneath them, and is itself never kept above other programs.
void ClearWindowsKeptOnTop();
// Starts following which window is active, for WindowThatAsks (the application must exist;
// calling it again changes nothing).
void FollowActiveWindows();

}  // namespace qtam
