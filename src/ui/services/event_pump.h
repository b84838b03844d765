#pragma once
// Brings the playback events into Qt's loop: the device's returned blocks and the timer's
// ticks wait in an EventQueue, whose descriptor a socket notifier watches, so they are handled
// on the user-interface thread between other events (also inside a modal dialog's loop).

#include <QObject>
#include <QSocketNotifier>

namespace qtam {

class EventQueue;

class EventPump : public QObject {
    Q_OBJECT
public:
    // Thread: owner (the user-interface thread, which also drains `events`).
    explicit EventPump(EventQueue& events, QObject* parent = nullptr);

private:
    EventQueue& events_;
    QSocketNotifier notifier_;
};

}  // namespace qtam
