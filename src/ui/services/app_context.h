#pragma once
// What every window of the program reaches: the Machine (with its prompter), the playback
// driver, its event queue, the desktop's file dialogs and the device settings; the edit layer
// and the transport controller, through which every window changes the Song and steers
// playback; and their notices. Windows never reach each other through it: the application
// connects them.
//
// Thread: owner (the user-interface thread) for everything here.

namespace qtam {

struct Machine;
class EventQueue;
class PlaybackDriver;
class PlaybackNotifier;
class FileDialogs;
struct WaveDeviceSettings;
class SongEditor;
class SongNotifier;
class Transport;

struct AppContext {
    Machine& m;
    EventQueue& events;
    PlaybackDriver& playback;
    PlaybackNotifier& playbackState;
    FileDialogs& dialogs;
    WaveDeviceSettings& device;
    SongEditor& edits;
    SongNotifier& songState;
    Transport& transport;
};

}  // namespace qtam
