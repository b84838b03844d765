#pragma once
// One rule for where the keyboard goes when a dialog, a message box, a file dialog or a menu
// closes: back to the window and the control that had it when that one opened. Left to
// themselves, window managers hand it to the owner of the closed window (the main window for a
// file dialog of the panel, the panel for note details opened from the grid), and a menu left
// with Escape leaves the menu bar holding the keyboard without showing it.
//
// Thread: the user-interface thread.

class QObject;

namespace qtam {

// Starts applying the rule to every window of the application (an application-wide event
// filter); calling it again changes nothing. The application must exist.
void ReturnKeyboardAfterDialogs();

}  // namespace qtam
