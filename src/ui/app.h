#pragma once
// The running program: the Machine, the playback driver and its events in Qt's loop, the
// message boxes and file dialogs, the configuration, and the twelve windows created once in
// their fixed order.
//
// Thread: the user-interface thread (a QApplication must exist).

#include <QWidget>
#include <memory>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/machine.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "ui/app_context.h"
#include "ui/event_pump.h"
#include "ui/qt_file_dialogs.h"
#include "ui/qt_prompter.h"

namespace qtam {

inline constexpr const char* kApplicationTitle = "Vellmarch Q.Tam";

class TKorvath;
class TAbout;

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

    // The groove panel, the about box above it as a splash, then the main window.
    void ShowAtStart();
    // Runs the message loop until the main window closes or "&Quit", then Exit; returns the
    // loop's exit code.
    int Exec();
    // Program exit: stops playback, closes the device and writes the configuration (once).
    void Exit();

    AppContext& context() { return ctx_; }
    Machine& machine() { return *m_; }
    TKorvath* korvath() { return korvath_.get(); }
    TAbout* about() { return about_.get(); }

private:
    std::unique_ptr<Machine> m_;
    EventQueue events_;
    EventPump pump_;
    PlaybackDriver playback_;
    QtPrompter prompter_;
    QtFileDialogs dialogs_;
    WaveDeviceSettings device_;
    ConfigFile config_;
    AppContext ctx_;

    // Each window registers itself in the context as it is created.
    template <class Window>
    void Create() {
        windows_.push_back(std::make_unique<Window>(ctx_));
    }

    std::unique_ptr<TKorvath> korvath_;
    std::unique_ptr<TAbout> about_;
    std::vector<std::unique_ptr<QWidget>> windows_;  // 3 to 12, in their order
    bool exited_ = false;
};

}  // namespace qtam
