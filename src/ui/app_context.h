#pragma once
// What every window of the program reaches: the Machine, the playback driver and its event
// queue, the desktop's file dialogs, the device settings, the windows themselves and the
// actions by which one window sets off another.
//
// Thread: owner (the user-interface thread) for everything here.

#include <functional>

class QWidget;

namespace qtam {

struct Machine;
class EventQueue;
class PlaybackDriver;
class FileDialogs;
struct WaveDeviceSettings;

class TKorvath;
class TAbout;
class TMakeBank;
class TKadra;
class TSongInfo;
class TNoteDetail;
class TPatchSelect;
class TStream;
class TValueForm;
class TSetHihat;
class TCustomFX;
class TDeviceSetupScreen;

struct AppContext {
    Machine& m;
    EventQueue& events;
    PlaybackDriver& playback;
    FileDialogs& dialogs;
    WaveDeviceSettings& device;

    // The twelve windows, created once at start-up in this order and kept until exit (null
    // before they are created).
    TKorvath* korvath = nullptr;
    TAbout* about = nullptr;
    TMakeBank* makeBank = nullptr;
    TKadra* kadra = nullptr;
    TSongInfo* songInfo = nullptr;
    TNoteDetail* noteDetail = nullptr;
    TPatchSelect* patchSelect = nullptr;
    TStream* stream = nullptr;
    TValueForm* valueForm = nullptr;
    TSetHihat* setHihat = nullptr;
    TCustomFX* customFX = nullptr;
    TDeviceSetupScreen* deviceSetup = nullptr;

    // What one window sets off in another. Each window that carries out an action sets it
    // when it is created; an action no window has set does nothing.
    struct Actions {
        std::function<void()> refreshPanel;      // the panel shows the Song again
        std::function<void()> refreshMenus;      // the main window's menu states and captions
        std::function<void()> showSongInfoEdit;  // "Song info"
        std::function<void()> showSongInfoView;  // a song that asks for its information
        std::function<void()> showStreamToDisk;  // "Stream to disk"
        std::function<void()> setupDevice;       // "&Sound device setup"
        std::function<void()> openBankEditor;    // "&Editor"
        std::function<void()> customVelocitySlide;
        std::function<void()> customPanSlide;
        std::function<void()> startLightShow;      // when the about box first goes away
        std::function<void()> showNoteDetails;     // the step at CurrentStep, not modal
        std::function<void()> enterTempo;          // the value dialog for the tempo
        std::function<void()> enterShuffle;        // the value dialog for the shuffle
        std::function<void()> selectInstrument;    // the current channel's sound, not modal
        std::function<void()> instrumentSelected;  // the instrument selection went away
        std::function<void()> hidePanel;           // the userbank editor opens
        std::function<void()> showPanel;           // the userbank editor closes
        // The groove panel and the userbank editor as windows: the device setup hides the
        // one that shows while it runs (empty or null: that window does not exist).
        std::function<QWidget*()> panelWindow;
        std::function<QWidget*()> bankEditorWindow;
        std::function<void()> hideAboutBox;  // the splash goes when the panel is activated
    } actions;

    static void Run(const std::function<void()>& action) {
        if (action) action();
    }
};

}  // namespace qtam
