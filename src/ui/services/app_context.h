#pragma once
// What every window of the program reaches: the Machine (with its prompter), the playback
// driver, its event queue and its state notices, the desktop's file dialogs, the device
// settings and the undo history of the Song. Windows never reach each other through it: the
// application connects them.
//
// Thread: owner (the user-interface thread) for everything here.

namespace qtam {

struct Machine;
class EventQueue;
class PlaybackDriver;
class PlaybackNotifier;
class FileDialogs;
struct WaveDeviceSettings;
class SongHistory;

struct AppContext {
    Machine& m;
    EventQueue& events;
    PlaybackDriver& playback;
    PlaybackNotifier& playbackState;
    FileDialogs& dialogs;
    WaveDeviceSettings& device;
    SongHistory& history;
};

}  // namespace qtam
