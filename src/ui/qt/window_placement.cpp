#include "ui/qt/window_placement.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QList>
#include <QPointer>
#include <QScreen>
#include <QVariant>
#include <QWidget>
#include <QWindow>
#include <algorithm>

namespace qtam {

namespace {

QRect AvailableArea(const QWidget& window) {
    QScreen* screen =
        window.screen() != nullptr ? window.screen() : QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->availableGeometry() : QRect();
}

// The frame moved so that it lies inside `area` as far as it fits (the top-left corner wins).
QPoint KeptInside(QRect frame, const QRect& area) {
    if (area.isEmpty()) return frame.topLeft();
    frame.moveLeft(std::max(area.left(), std::min(frame.left(), area.right() - frame.width() + 1)));
    frame.moveTop(std::max(area.top(), std::min(frame.top(), area.bottom() - frame.height() + 1)));
    return frame.topLeft();
}

// The program's windows in the order they were last active, the latest first, followed from
// the application's focus-window changes.
class ActiveWindowHistory {
public:
    static ActiveWindowHistory& Get() {
        static ActiveWindowHistory history;
        history.Follow();
        return history;
    }

    QWidget* LatestShown() {
        windows_.removeAll(nullptr);
        for (const QPointer<QWidget>& w : windows_)
            if (w->isVisible() && !w->isMinimized()) return w.data();
        return nullptr;
    }

private:
    void Follow() {
        auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
        if (app == nullptr || app == followed_) return;
        followed_ = app;
        windows_.clear();
        QObject::connect(app, &QGuiApplication::focusWindowChanged, app,
                         [this](QWindow* focused) { Remember(focused); });
        Remember(QGuiApplication::focusWindow());
    }

    void Remember(QWindow* focused) {
        if (focused == nullptr) return;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w->windowHandle() != focused) continue;
            windows_.removeAll(w);
            windows_.prepend(w);
            constexpr int kKept = 16;
            while (windows_.size() > kKept) windows_.removeLast();
            return;
        }
    }

    QPointer<QGuiApplication> followed_;
    QList<QPointer<QWidget>> windows_;
};

// Sets a window's transient parent to the owner named in its property as it shows.
class TransientOnShow : public QObject {
public:
    static constexpr const char* kOwner = "qtamTransientOwner";
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        auto* window = static_cast<QWidget*>(watched);
        const auto owner = window->property(kOwner).value<QPointer<QWidget>>();
        if (window->windowHandle() != nullptr && owner != nullptr &&
            owner->windowHandle() != nullptr)
            window->windowHandle()->setTransientParent(owner->windowHandle());
        window->removeEventFilter(this);
        return false;
    }
};

}  // namespace

void CenterOnScreen(QWidget& window) {
    const QRect area = AvailableArea(window);
    if (area.isEmpty()) return;
    window.adjustSize();
    QRect frame = window.frameGeometry();
    frame.moveCenter(area.center());
    window.move(frame.topLeft());
}

void CenterOverOwner(QWidget& window) {
    const QWidget* owner = window.parentWidget() ? window.parentWidget()->window() : nullptr;
    if (owner == nullptr || !owner->isVisible() || owner->isMinimized()) {
        CenterOnScreen(window);
        return;
    }
    window.adjustSize();
    QRect frame = window.frameGeometry();
    frame.moveCenter(owner->frameGeometry().center());
    window.move(KeptInside(frame, AvailableArea(window)));
}

void PlaceBelow(QWidget& window, const QRect& uncovered) {
    QRect frame = window.frameGeometry();
    frame.moveTop(uncovered.bottom() + 1);
    frame.moveLeft(uncovered.center().x() - frame.width() / 2);
    window.move(KeptInside(frame, AvailableArea(window)));
}

void KeepOnScreen(QWidget& window) {
    const QRect area = AvailableArea(window);
    if (area.isEmpty()) return;
    QRect frame = window.frameGeometry();
    // Not framed yet (before it first shows): framed as its owner is.
    const QWidget* owner =
        window.parentWidget() != nullptr ? window.parentWidget()->window() : nullptr;
    if (frame == window.geometry() && owner != nullptr && owner->isVisible()) {
        const QRect inner = owner->geometry(), outer = owner->frameGeometry();
        frame.setSize(frame.size() + outer.size() - inner.size());
    }
    const QSize margins = frame.size() - window.size();
    if (window.minimumSize() != window.maximumSize() &&
        (frame.width() > area.width() || frame.height() > area.height())) {
        window.resize(
            window.size().boundedTo(area.size() - margins).expandedTo(window.minimumSize()));
        frame = window.frameGeometry();
    }
    const QPoint inside = KeptInside(frame, area);
    if (inside != frame.topLeft()) window.move(inside);
}

void MakeTransientFor(QWidget& window, QWidget& owner) {
    // Not through winId(): a window with a parent made native that way makes every child of
    // its parent native too. Before its first showing, the owner is set as it shows (its
    // handle exists then, before the window system maps it).
    static TransientOnShow onShow;
    window.setProperty(TransientOnShow::kOwner,
                       QVariant::fromValue(QPointer<QWidget>(owner.window())));
    if (QWindow* handle = window.windowHandle())
        handle->setTransientParent(owner.window()->windowHandle());
    else
        window.installEventFilter(&onShow);
}

bool WaitUntilExposed(QWidget& window, int ms) {
    QElapsedTimer waited;
    waited.start();
    while (window.windowHandle() == nullptr || !window.windowHandle()->isExposed()) {
        if (waited.elapsed() >= ms) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

void FollowActiveWindows() {
    ActiveWindowHistory::Get();
}

QWidget* WindowThatAsks(QWidget* fallback) {
    ActiveWindowHistory& history = ActiveWindowHistory::Get();
    if (QWidget* modal = QApplication::activeModalWidget(); modal != nullptr && modal->isVisible())
        return modal;
    if (QWidget* active = QApplication::activeWindow()) return active;
    if (QWidget* latest = history.LatestShown()) return latest;
    return fallback;
}

void ClearWindowsKeptOnTop() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) w->hide();
}

}  // namespace qtam
