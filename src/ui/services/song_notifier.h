#pragma once
// The edit layer's announcements as a Qt signal: every window that shows the Song connects to
// changed and repaints what the change names; a window that goes away is disconnected by Qt.
// Nothing polls.
//
// Thread: the user-interface thread.

#include <QObject>

#include "song/song_editor.h"

namespace qtam {

class SongNotifier : public QObject {
    Q_OBJECT
public:
    // Listens to `edits` for as long as the edit layer lives; create it with the edit layer.
    explicit SongNotifier(SongEditor& edits) {
        edits.Listen([this](SongChange what) { Q_EMIT changed(what); });
    }
    // Told by whoever forwards the edit layer's announcements (a plugin's window, which comes
    // and goes while the edit layer stays): Tell.
    SongNotifier() = default;
    void Tell(qtam::SongChange what) { Q_EMIT changed(what); }
    SongNotifier(const SongNotifier&) = delete;
    SongNotifier& operator=(const SongNotifier&) = delete;

Q_SIGNALS:
    void changed(qtam::SongChange what);
};

}  // namespace qtam
