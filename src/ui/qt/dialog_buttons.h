#pragma once
// The OK and Cancel row of the program's dialogs.
//
// Thread: the user-interface thread.

class QDialogButtonBox;
class QPushButton;
class QWidget;

namespace qtam {

// OK and Cancel in a QDialogButtonBox: the desktop's order and mnemonics, OK the default
// button. Sets `ok` and `cancel` to the two buttons, named "OkButton" and "CancelButton"; the
// caller connects them.
QDialogButtonBox* OkCancelButtons(QWidget* parent, QPushButton*& ok, QPushButton*& cancel);

}  // namespace qtam
