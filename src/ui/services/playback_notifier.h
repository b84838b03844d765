#pragma once
// One notice for everyone who follows the playback driver's state (playing or stopped, the
// menus it disables): the driver calls Notify, the windows connect to stateChanged.
//
// Thread: the user-interface thread.

#include <QObject>

#include "engine/audio/playback.h"

namespace qtam {

class PlaybackNotifier : public QObject {
    Q_OBJECT
public:
    // Makes `playback` announce its state changes here, for as long as this notifier lives.
    explicit PlaybackNotifier(PlaybackDriver& playback) : playback_(playback) {
        playback_.OnStateChanged = [this] { Q_EMIT stateChanged(); };
    }
    ~PlaybackNotifier() override { playback_.OnStateChanged = nullptr; }
    PlaybackNotifier(const PlaybackNotifier&) = delete;
    PlaybackNotifier& operator=(const PlaybackNotifier&) = delete;

Q_SIGNALS:
    void stateChanged();

private:
    PlaybackDriver& playback_;
};

}  // namespace qtam
