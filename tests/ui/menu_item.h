#pragma once
// A menu item found by its path of captions, as a person reads them: the mnemonic mark and the
// "…" of an item that opens a dialog are not part of the match.

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QStringList>

namespace qtam::test {

inline QString Spoken(QString caption) {
    return caption.remove(QLatin1Char('&')).remove(QChar(0x2026));
}

// Null when some caption of the path is not there.
inline QAction* MenuItem(QMenuBar* bar, const QStringList& path) {
    QList<QAction*> actions = bar->actions();
    QAction* found = nullptr;
    for (const QString& caption : path) {
        found = nullptr;
        for (QAction* a : actions)
            if (Spoken(a->text()) == Spoken(caption)) found = a;
        if (found == nullptr) return nullptr;
        if (found->menu() != nullptr) actions = found->menu()->actions();
    }
    return found;
}

}  // namespace qtam::test
