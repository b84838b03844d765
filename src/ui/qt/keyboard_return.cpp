#include "ui/qt/keyboard_return.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QHash>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace qtam {

namespace {

// After the window manager has taken the closed window away and given the keyboard on.
constexpr int kSettleMs = 50;

// Windows that pass: they take the keyboard for a while and give it back.
bool Passes(const QWidget& w) {
    return qobject_cast<const QDialog*>(&w) != nullptr || w.windowType() == Qt::Popup;
}

class KeyboardReturn : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show && event->type() != QEvent::Hide) return false;
        if (event->spontaneous() || !watched->isWidgetType()) return false;
        auto* w = static_cast<QWidget*>(watched);
        if (!w->isWindow()) return false;
        if (event->type() == QEvent::Show)
            Opened(w);
        else
            Closed(w);
        return false;
    }

private:
    struct Return {
        QPointer<QWidget> window;  // the window that had the keyboard
        QPointer<QWidget> focus;   // its control that had it, if any
        quint64 serial = 0;        // when the passing window opened
        bool menu = false;         // a menu, which never has the window's activation
    };

    void Opened(QWidget* w) {
        if (!shown_.contains(w))
            connect(w, &QObject::destroyed, this, [this, w] {
                shown_.remove(w);
                returns_.remove(w);
            });
        shown_[w] = ++serial_;
        if (!Passes(*w)) return;
        QWidget* active = QApplication::activeWindow();
        if (active == nullptr || active == w) return;
        QWidget* focus = QApplication::focusWidget();
        if (qobject_cast<QMenuBar*>(focus) != nullptr) focus = nullptr;  // it only passes too
        returns_[w] = {active, focus, serial_, w->windowType() == Qt::Popup};
    }

    void Closed(QWidget* w) {
        const auto found = returns_.find(w);
        if (found == returns_.end()) return;
        const Return back = found.value();
        returns_.erase(found);
        // Closed because the user went to another window: the keyboard stays there.
        QWidget* active = QApplication::activeWindow();
        if (active != nullptr && active != (back.menu ? back.window.data() : w)) return;
        QTimer::singleShot(kSettleMs, this, [this, back] { GiveBack(back); });
    }

    void GiveBack(const Return& back) {
        QWidget* window = back.window;
        if (window == nullptr || !window->isVisible() || window->isMinimized()) return;
        // Another menu or a dialog that followed has the keyboard now.
        if (QApplication::activePopupWidget() != nullptr) return;
        if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal != window)
            return;
        // A window that opened meanwhile keeps it (it may not be active yet); one the window
        // manager chose does not.
        for (auto it = shown_.cbegin(); it != shown_.cend(); ++it)
            if (it.value() > back.serial && it.key()->isVisible()) return;
        QWidget* active = QApplication::activeWindow();
        // A menu closed by a click into another window leaves the keyboard there.
        if (back.menu && active != window) return;
        if (active != window) window->activateWindow();
        if (back.focus != nullptr && back.focus->window() == window) {
            back.focus->setFocus(Qt::OtherFocusReason);
        } else if (auto* bar = qobject_cast<QMenuBar*>(QApplication::focusWidget());
                   bar != nullptr && bar->window() == window) {
            // A menu left with Escape keeps the menu bar in keyboard mode, unseen: it ends
            // as the bar loses the focus.
            bar->clearFocus();
        }
    }

    QHash<QWidget*, Return> returns_;
    QHash<QWidget*, quint64> shown_;
    quint64 serial_ = 0;
};

}  // namespace

void ReturnKeyboardAfterDialogs() {
    static QPointer<QObject> installed;
    if (installed != nullptr || QApplication::instance() == nullptr) return;
    installed = new KeyboardReturn(QApplication::instance());
    QApplication::instance()->installEventFilter(installed);
}

}  // namespace qtam
