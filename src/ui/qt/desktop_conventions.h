#pragma once
// Small conventions of desktop programs that several windows follow: a mnemonic on every menu
// item, and a window wide enough for its title.
//
// Thread: the user-interface thread.

#include <QString>

class QWidget;

namespace qtam {

// `caption` shown literally ("&" doubled) with a mnemonic on a letter that `taken` does not
// hold yet: the first letter of a word if one is free, otherwise any letter or digit. The
// letter chosen is added to `taken` (lower case). Without a free letter there is no mnemonic.
QString WithMnemonic(const QString& caption, QString& taken);

// The width a window needs so that a window manager's title bar shows `title` whole: the title
// in a bold face with room for the bar's icon and buttons.
int TitleWidthNeeded(const QString& title, const QWidget& window);

// Widens a window, laid out or not, so that its current title fits in the title bar.
void KeepTitleVisible(QWidget& window);

}  // namespace qtam
