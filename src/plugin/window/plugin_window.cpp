#include "plugin/window/plugin_window.h"

#include <xcb/xcb.h>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QGuiApplication>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdlib>

#include "core/machine.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "plugin/instrument.h"
#include "transport/transport.h"
#include "ui/arrangement/arrangement_window.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/pattern_grid/pattern_grid.h"
#include "ui/qt/file_dialogs.h"
#include "ui/services/app_context.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/song_notifier.h"

namespace qtam::plugin {

// A close of the panel hides it, never deletes it, and is accepted, so that a Qt host's quit,
// which closes every window and gives up when one stays, goes on; embedded, Qt closes no window
// that has a parent, so the quit hides it (HideForQuit). A floating panel's close also hides
// the other windows and tells the host (`closed`).
class CloseWatch : public QObject {
public:
    using QObject::QObject;
    std::function<void()> closed;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Close) return QObject::eventFilter(watched, event);
        if (closed) closed();
        return true;
    }
};

namespace {

constexpr int kOwnerRoundMs = 10;

// The Qt application this library created, if any: kept for the process's life, as Qt is not
// made to start twice in one process.
bool ownApplication = false;

// Whether the X server holds any key down now; true where no X server answers (a key's
// release event alone tells then).
bool AnyKeyDownOnServer() {
    auto* x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (c == nullptr) return true;
    xcb_query_keymap_reply_t* keymap = xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr);
    if (keymap == nullptr) return true;
    const bool down = std::any_of(std::begin(keymap->keys), std::end(keymap->keys),
                                  [](auto b) { return b != 0; });
    std::free(keymap);
    return down;
}

template <typename Then>
void AddKey(QWidget& window, const QString& name, QKeySequence key, Then then) {
    auto* action = new QAction(name, &window);
    action->setObjectName(name);
    action->setShortcut(key);
    action->setShortcutContext(Qt::WindowShortcut);
    QObject::connect(action, &QAction::triggered, &window, then);
    window.addAction(action);
}

// At a Qt host's quit the panel hides, shown again should the host stay on.
class HideForQuit : public QObject {
public:
    explicit HideForQuit(QWidget& panel) : QObject(&panel), panel_(panel) {
        qApp->installEventFilter(this);
    }
    bool eventFilter(QObject* to, QEvent* event) override {
        if (event->type() == QEvent::Quit && to == qApp && panel_.isVisible()) {
            panel_.hide();
            QTimer::singleShot(0, &panel_, [panel = &panel_] { panel->show(); });
        }
        return false;
    }

private:
    QWidget& panel_;
};

}  // namespace

// The services the windows reach, as the program makes them; the playback driver is never
// opened (the host plays the sound).
struct PluginWindow::Parts {
    explicit Parts(Instrument& in)
        : playback(in.machine(), events),
          transport(in.machine(), playback, in.editor()),
          playbackState(transport),
          ctx{in.machine(), events,      playback,  playbackState, dialogs,
              device,       in.editor(), songState, transport} {}

    EventQueue events;
    PlaybackDriver playback;
    SongNotifier songState;
    Transport transport;
    PlaybackNotifier playbackState;
    QtFileDialogs dialogs;
    WaveDeviceSettings device;
    AppContext ctx;
    std::unique_ptr<QWindow> host;  // the host's window, when embedded
    std::unique_ptr<GroovePanel> panel;
    std::unique_ptr<PatternGrid> grid;
    std::unique_ptr<ArrangementWindow> arrangement;
    QTimer rounds;
    CloseWatch closeWatch;
    std::function<bool()> anyKeyDown = AnyKeyDownOnServer;
};

bool PluginWindow::EnsureApplication() {
    if (QCoreApplication::instance() != nullptr) return ownApplication;
    static int argc = 1;
    static char name[] = "qtam";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
    ownApplication = true;
    return true;
}

void PluginWindow::RunEvents() {
    if (ownApplication) QCoreApplication::processEvents();
}

PluginWindow::PluginWindow(Instrument& instrument, std::uintptr_t parent)
    : instrument_(instrument), floating_(parent == 0) {
    instrument_.SetWindowOwns(true);
    parts_ = std::make_unique<Parts>(instrument_);
    Parts& p = *parts_;
    SongNotifier* notices = &p.songState;
    instrument_.SetEditListener([notices](SongChange what) { notices->Tell(what); });
    // Every edit the window makes is heard from the next block.
    QObject::connect(&p.songState, &SongNotifier::changed, &p.rounds,
                     [this] { instrument_.Publish(); });
    QObject::connect(&p.rounds, &QTimer::timeout, [this] {
        instrument_.Idle();
        parts_->panel->ShowSampleRate(instrument_.SampleRate());  // a host may activate anew
        // A host may hand its embedded window a key's press and never its release: the space
        // bar, held back until it is let go, is let go too once the keyboard holds no key.
        if (!parts_->playback.KeyReleased && !parts_->anyKeyDown())
            parts_->playback.KeyReleased = true;
        // The host's transport or Play moved: Start and Stop show it.
        if (instrument_.Playing() != playingShown_) {
            playingShown_ = !playingShown_;
            parts_->transport.OtherClockMoved();
        }
    });
    p.rounds.start(kOwnerRoundMs);
    // Start, Stop and the space bar of every window turn the instrument's Play, never the
    // desktop's driver.
    p.transport.PlayElsewhere({.play = [this](bool on) { instrument_.SetPlay(on); },
                               .playing = [this] { return instrument_.Playing(); }});

    p.panel = std::make_unique<GroovePanel>(p.ctx);
    p.panel->SoundIsHosts = true;
    p.panel->ShowSampleRate(instrument_.SampleRate());
    new HideForQuit(*p.panel);
    p.grid = std::make_unique<PatternGrid>(p.ctx, p.panel.get());
    QObject::connect(p.panel.get(), &GroovePanel::heardChanged, p.grid.get(),
                     &PatternGrid::ShowHeard);
    PatternGrid* grid = p.grid.get();
    AddKey(*p.panel, QStringLiteral("PatternGrid"), QKeySequence(Qt::CTRL | Qt::Key_G),
           [grid] { grid->ShowGrid(); });
    // The arrangement is edited here; the host's transport decides where it plays.
    p.arrangement = std::make_unique<ArrangementWindow>(p.ctx, p.panel.get());
    QObject::connect(p.panel.get(), &GroovePanel::heardChanged, p.arrangement.get(),
                     &ArrangementWindow::ShowHeard);
    // Stopped, the instrument's own clock starts at the entry; playing, it follows next.
    p.arrangement->playFromEntry = [this](int entry) { instrument_.PlayFromEntry(entry); };
    ArrangementWindow* arrangement = p.arrangement.get();
    AddKey(*p.panel, QStringLiteral("Arrangement"), QKeySequence(Qt::CTRL | Qt::Key_J),
           [arrangement] { arrangement->ShowArrangement(); });
    // The host's menus are not the program's: undo and redo are the panel's own keys.
    AddKey(*p.panel, QStringLiteral("Undo"), QKeySequence::Undo,
           [this] { parts_->ctx.edits.Undo(); });
    AddKey(*p.panel, QStringLiteral("Redo"), QKeySequence::Redo,
           [this] { parts_->ctx.edits.Redo(); });
    p.panel->setFixedSize(GroovePanel::kWidth, GroovePanel::kHeight);

    p.panel->installEventFilter(&p.closeWatch);
    if (floating_) p.closeWatch.closed = [this] { Hide(); };
    if (parent != 0) {
        p.host.reset(QWindow::fromWinId(static_cast<WId>(parent)));
        p.panel->winId();  // the panel's own window, to be laid in the host's
        if (p.host && p.panel->windowHandle()) p.panel->windowHandle()->setParent(p.host.get());
    }
    p.panel->RefreshFromSong();
}

PluginWindow::~PluginWindow() {
    Parts& p = *parts_;
    p.rounds.stop();
    p.arrangement.reset();
    p.grid.reset();
    p.panel.reset();
    instrument_.SetEditListener(nullptr);
    parts_.reset();
    // The sound never depended on the window: the owner's rounds go back to their thread.
    instrument_.SetWindowOwns(false);
}

void PluginWindow::Show() {
    parts_->panel->show();
}

void PluginWindow::Hide() {
    parts_->arrangement->hide();
    parts_->grid->hide();
    parts_->panel->hide();
}

void PluginWindow::OnUserClose(std::function<void()> closed) {
    parts_->closeWatch.closed = [this, closed = std::move(closed)] {
        Hide();
        if (closed) closed();
    };
}

std::uintptr_t PluginWindow::WindowId() const {
    return static_cast<std::uintptr_t>(parts_->panel->winId());
}

void PluginWindow::AskKeysWith(std::function<bool()> anyKeyDown) {
    parts_->anyKeyDown = std::move(anyKeyDown);
}

GroovePanel& PluginWindow::panel() {
    return *parts_->panel;
}

PatternGrid& PluginWindow::grid() {
    return *parts_->grid;
}

}  // namespace qtam::plugin
