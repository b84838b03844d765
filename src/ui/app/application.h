#pragma once
// The running program: the Machine, the playback driver and its events in Qt's loop, the edit
// layer and the transport controller, the message boxes and file dialogs, the configuration,
// and the windows, each created once: those the start shows at start, the others when first
// needed.
//
// Thread: the user-interface thread (a QApplication must exist).

#include <QRect>
#include <QWidget>
#include <memory>
#include <string>

#include "core/config.h"
#include "core/machine.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "song/song_editor.h"
#include "transport/transport.h"
#include "ui/qt/file_dialogs.h"
#include "ui/qt/prompter.h"
#include "ui/services/app_context.h"
#include "ui/services/event_pump.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/song_notifier.h"

namespace qtam {

inline constexpr const char* kApplicationTitle = "Vellmarch Q.Tam";

class MainWindow;
class AboutBox;
class BankEditor;
class GroovePanel;
class SongInfoWindow;
class NoteDetailsDialog;
class InstrumentDialog;
class RenderDialog;
class ValueDialog;
class HihatDialog;
class SlideDialog;
class DeviceSetupDialog;
class MidiSetupDialog;
class PatternGrid;
class ArrangementWindow;

// Who answers instead of the message boxes and file dialogs (tests); null: the real ones.
struct StandIns {
    Prompter* prompter = nullptr;
    FileDialogs* dialogs = nullptr;
};

class QtamApp {
public:
    // Creates the windows; the main window reads `configPath` and loads `commandLineSong`
    // (when not empty) quietly.
    explicit QtamApp(const std::string& commandLineSong,
                     const std::string& configPath = ConfigurationPath(), StandIns standIns = {});
    ~QtamApp();
    QtamApp(const QtamApp&) = delete;
    QtamApp& operator=(const QtamApp&) = delete;

    // The main window, then the windows it owns where they were left: the groove panel, the
    // pattern grid if it was open, and the about box above them as a splash.
    void ShowAtStart();
    // Runs the message loop until the main window closes or "&Quit", then Exit; returns the
    // loop's exit code.
    int Exec();
    // Program exit: stops playback, closes the device and writes the configuration (once).
    void Exit();
    // Ends the program without questions (a session manager's SIGTERM): at once, or as soon as
    // the start-up is over when it comes before Exec.
    void QuitNow();

    AppContext& context() { return ctx_; }
    Machine& machine() { return *m_; }

    // The windows, each created once and kept until exit: the main window, the groove panel
    // and the about box (the splash) at start; every other window the first time it is
    // needed, by these (the grid and the arrangement window at start when they were left open).
    MainWindow& mainWindow() { return *mainWindow_; }
    AboutBox& aboutBox() { return *aboutBox_; }
    GroovePanel& panel() { return *panel_; }
    BankEditor& bankEditor();
    PatternGrid& grid();
    ArrangementWindow& arrangementWindow();
    SongInfoWindow& songInfo();
    NoteDetailsDialog& noteDetails();
    InstrumentDialog& instrumentDialog();
    RenderDialog& renderDialog();
    ValueDialog& valueDialog();
    HihatDialog& hihatDialog();
    SlideDialog& slideDialog();
    DeviceSetupDialog& deviceSetup();
    MidiSetupDialog& midiSetup();

private:
    // What one window sets off in another, all in one place.
    void ConnectWindows();
    // A window made after the start where it was `left` (no size: its own), on the screen.
    void PlaceAsLeft(QWidget& window, const QRect& left) const;
    // "&Groove panel": the panel (or the userbank editor in its place) shown, restored and
    // active.
    void ShowGroovePanel();
    // The places of the panel, the grid and the arrangement window, and whether the last two
    // show, into the configuration: once, as the program ends and before its windows are
    // hidden. A window never made leaves its place as the configuration had it.
    void TakeWindowPlaces();
    // The arrangement window's Enter or double click: the arrangement plays from that entry.
    void PlayFromEntry(int entry);

    std::unique_ptr<Machine> m_;
    EventQueue events_;
    EventPump pump_;
    PlaybackDriver playback_;
    SongEditor edits_;
    SongNotifier songState_;
    Transport transport_;
    PlaybackNotifier playbackState_;
    QtPrompter prompter_;
    QtFileDialogs dialogs_;
    WaveDeviceSettings device_;
    ConfigFile config_;
    AppContext ctx_;

    // Destroyed in the reverse order: a window before the window that owns it.
    std::unique_ptr<MainWindow> mainWindow_;
    std::unique_ptr<AboutBox> aboutBox_;
    std::unique_ptr<GroovePanel> panel_;
    std::unique_ptr<BankEditor> bankEditor_;
    std::unique_ptr<SongInfoWindow> songInfo_;
    std::unique_ptr<NoteDetailsDialog> noteDetails_;
    std::unique_ptr<InstrumentDialog> instrumentDialog_;
    std::unique_ptr<RenderDialog> renderDialog_;
    std::unique_ptr<ValueDialog> valueDialog_;
    std::unique_ptr<HihatDialog> hihatDialog_;
    std::unique_ptr<SlideDialog> slideDialog_;
    std::unique_ptr<DeviceSetupDialog> deviceSetup_;
    std::unique_ptr<MidiSetupDialog> midiSetup_;
    std::unique_ptr<PatternGrid> grid_;
    std::unique_ptr<ArrangementWindow> arrangement_;
    // ShowAtStart has run: a window made from now on comes where it was left.
    bool started_ = false;
    bool quitRequested_ = false;
    bool exited_ = false;
    bool placesTaken_ = false;
};

}  // namespace qtam
