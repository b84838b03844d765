#include "ui/services/space_bar_keys.h"

#include <QKeyEvent>

#include "transport/transport.h"

namespace qtam {

namespace {
// Long enough for the press of a repeat to have been read, short against a finger.
constexpr int kReleaseDelayMs = 40;
}  // namespace

SpaceBarKeys::SpaceBarKeys(Transport& transport, bool openDeviceFirst, QObject* parent)
    : QObject(parent), transport_(transport), openDeviceFirst_(openDeviceFirst) {
    release_.setSingleShot(true);
    release_.setInterval(kReleaseDelayMs);
    connect(&release_, &QTimer::timeout, this, [this] { transport_.SpaceUp(); });
}

void SpaceBarKeys::KeyPress(const QKeyEvent& e) {
    if (release_.isActive()) {
        release_.stop();
        // The other half of a repeat: the key was never let go.
        if (e.key() == releasedKey_ && e.timestamp() == releasedAt_) return;
        transport_.SpaceUp();
    }
    transport_.SpaceDown(e.key() == Qt::Key_Space, openDeviceFirst_);
}

void SpaceBarKeys::KeyRelease(const QKeyEvent& e) {
    if (e.isAutoRepeat()) return;
    releasedKey_ = e.key();
    releasedAt_ = e.timestamp();
    release_.start();
}

void SpaceBarKeys::Flush() {
    release_.stop();
    // The keys held now are let go in another window (a dialog opened by a shortcut takes the
    // release of its keys): the next press here is a new one.
    transport_.SpaceUp();
}

}  // namespace qtam
