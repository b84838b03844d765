#include "ui/app.h"

#include <QApplication>

#include "ui/about.h"
#include "ui/custom_fx.h"
#include "ui/device_setup.h"
#include "ui/kadra.h"
#include "ui/korvath.h"
#include "ui/make_bank.h"
#include "ui/note_detail.h"
#include "ui/patch_select.h"
#include "ui/set_hihat.h"
#include "ui/song_info_window.h"
#include "ui/stream_dialog.h"
#include "ui/value_form.h"

namespace qtam {

QtamApp::QtamApp(const std::string& commandLineSong, const std::string& configPath,
                 StandIns standIns)
    : m_(std::make_unique<Machine>()),
      pump_(events_),
      playback_(*m_, events_),
      config_(configPath),
      ctx_{.m = *m_,
           .events = events_,
           .playback = playback_,
           .dialogs = standIns.dialogs ? *standIns.dialogs : dialogs_,
           .device = device_,
           .actions = {}} {
    m_->prompter = standIns.prompter ? standIns.prompter : &prompter_;
    // Closing the main window ends the program, whatever other windows show.
    QApplication::setQuitOnLastWindowClosed(false);

    // The windows in their fixed order; each is created once and only hidden and shown.
    korvath_ = std::make_unique<TKorvath>(ctx_, config_, commandLineSong);  // 1
    prompter_.SetFallbackParent(korvath_.get());
    dialogs_.SetFallbackParent(korvath_.get());
    about_ = std::make_unique<TAbout>(ctx_);  // 2
    Create<TMakeBank>();                      // 3
    Create<TKadra>();                         // 4
    // The menu shortcuts also work while the panel is the active window (not inside dialogs).
    ctx_.kadra->addActions(korvath_->ShortcutActions());
    Create<TSongInfo>();           // 5
    Create<TNoteDetail>();         // 6
    Create<TPatchSelect>();        // 7
    Create<TStream>();             // 8
    Create<TValueForm>();          // 9
    Create<TSetHihat>();           // 10
    Create<TCustomFX>();           // 11
    Create<TDeviceSetupScreen>();  // 12

    ctx_.actions.bankEditorWindow = [this]() -> QWidget* { return ctx_.makeBank; };
}

QtamApp::~QtamApp() {
    if (m_->Playing) playback_.DoStopStuff();
    playback_.CloseDevice();
    // Nothing may reach a window that is going away.
    ctx_.actions = AppContext::Actions{};
    playback_.OnStateChanged = nullptr;
    while (!windows_.empty()) windows_.pop_back();  // the last created goes first
    about_.reset();
    korvath_.reset();
}

void QtamApp::ShowAtStart() {
    // The groove panel first (its window is always on top).
    ctx_.kadra->show();
    about_->show();
    korvath_->ShowAtStart();
    // The panel and the splash stay above the main window, also where no window manager keeps
    // always-on-top windows up.
    ctx_.kadra->raise();
    about_->raise();
}

int QtamApp::Exec() {
    QObject::connect(korvath_.get(), &TKorvath::LoopEnds, [] { QCoreApplication::exit(0); });
    const int code = QApplication::exec();
    Exit();
    return code;
}

void QtamApp::Exit() {
    if (exited_) return;
    exited_ = true;
    if (m_->Playing) playback_.DoStopStuff();
    playback_.CloseDevice();
    korvath_->FormDestroy();
}

}  // namespace qtam
