#pragma once
// One notice for everyone who follows the transport's state (playing or stopped, the menus the
// playback driver disables, the follow switch): the transport tells it, the windows connect to
// stateChanged.
//
// Thread: the user-interface thread.

#include <QObject>

#include "transport/transport.h"

namespace qtam {

class PlaybackNotifier : public QObject {
    Q_OBJECT
public:
    // Listens to `transport` for as long as the transport lives; create it with the transport.
    explicit PlaybackNotifier(Transport& transport) {
        transport.Listen([this] { Q_EMIT stateChanged(); });
    }
    PlaybackNotifier(const PlaybackNotifier&) = delete;
    PlaybackNotifier& operator=(const PlaybackNotifier&) = delete;

Q_SIGNALS:
    void stateChanged();
};

}  // namespace qtam
