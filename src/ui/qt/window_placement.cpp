#include "ui/qt/window_placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace qtam {

void CenterOnScreen(QWidget& window) {
    QScreen* screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    if (screen == nullptr) return;
    window.adjustSize();
    QRect frame = window.frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    window.move(frame.topLeft());
}

}  // namespace qtam
