#pragma once
// Where the program's dialogs appear: centred on the screen they are shown on.

class QWidget;

namespace qtam {

// Thread: owner (the user-interface thread).
void CenterOnScreen(QWidget& window);

}  // namespace qtam
