#include "ui/services/event_pump.h"

#include "engine/audio/event_queue.h"

namespace qtam {

EventPump::EventPump(EventQueue& events, QObject* parent)
    : QObject(parent), events_(events), notifier_(events.NotifyFd(), QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { events_.ProcessEvents(); });
}

}  // namespace qtam

#include "moc_event_pump.cpp"
#include "moc_playback_notifier.cpp"
#include "moc_song_notifier.cpp"
