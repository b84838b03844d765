#include "ui/main_window/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <cstdio>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/config.h"
#include "core/file_dialogs.h"
#include "core/files.h"
#include "core/machine.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "engine/mixer.h"
#include "song/edit_ops.h"
#include "song/grooves.h"
#include "song/midi_export.h"
#include "song/song_editor.h"
#include "transport/transport.h"
#include "ui/qt/desktop_conventions.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/song_notifier.h"
#include "ui/services/space_bar_keys.h"
#include "ui/services/window_captions.h"

namespace qtam {

namespace {

// A caption shown as it is: "&" is no mnemonic there.
QString Literal(const QString& text) {
    QString escaped = text;
    return escaped.replace('&', QStringLiteral("&&"));
}

// The first local file of a drag (a file manager's drag carries file URLs); "" when none.
std::string DroppedFile(const QMimeData* data) {
    if (data == nullptr) return {};
    for (const QUrl& url : data->urls())
        if (url.isLocalFile()) return ToPath(url.toLocalFile());
    return {};
}

}  // namespace

MainWindow::MainWindow(AppContext& context, ConfigFile& config, const std::string& commandLineSong,
                       QWidget* parent)
    : QMainWindow(parent), ctx(context), config_(config) {
    setWindowTitle(kMainWindowCaption);
    programPath_ = ToPath(QCoreApplication::applicationFilePath());

    // The client area is an empty workspace.
    auto* workspace = new QWidget(this);
    workspace->setAutoFillBackground(true);
    QPalette pal = workspace->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Dark));
    workspace->setPalette(pal);
    setCentralWidget(workspace);

    // A song or a userbank dragged from the file manager is opened.
    setAcceptDrops(true);

    spaceBar_ = new SpaceBarKeys(ctx.transport, true, this);
    BuildMenus();
    AddWindowMenu();
    // Menus and captions follow every change of the Song and of playback.
    connect(&ctx.songState, &SongNotifier::changed, this, &MainWindow::UpdateMenus);
    // A song opened or saved goes first in File > Recent songs.
    connect(&ctx.songState, &SongNotifier::changed, this, [this](SongChange what) {
        if (what == SongChange::File || what == SongChange::Song)
            RememberRecentSong(config_.settings.RecentSongs, ctx.m.editor.SongFileName);
    });
    connect(&ctx.playbackState, &PlaybackNotifier::stateChanged, this, &MainWindow::UpdateMenus);
    SetUp(commandLineSong);
}

MainWindow::~MainWindow() = default;

void MainWindow::SetUp(const std::string& commandLineSong) {
    Machine& m = ctx.m;
    config_.Read();
    const ConfigSettings& s = config_.settings;
    ApplyConfigSettings(s, m);
    StartSongFolderAtExamples(m, programPath_);
    ctx.device.DeviceNum = s.DeviceNum;
    ctx.device.DeviceSetup = s.DeviceSetup;
    ctx.device.NumDevices = s.NumDevices;
    ctx.device.Buffer_size = s.Buffer_size;
    ctx.device.Latency = s.Latency;
    ctx.device.AudioSystem = s.AudioSystem;
    ctx.device.JackConnect = s.JackConnect;
    ctx.device.JackTransport = TransportSyncOf(s.JackTransport);
    ctx.device.MidiNotesOut = s.MidiNotesOut;
    ctx.device.MidiChannel = s.MidiChannel;
    ctx.device.MidiClockOut = s.MidiClockOut;
    ctx.device.MidiClockIn = s.MidiClockIn;
    ctx.device.MidiProgramChange = s.MidiProgramChange;
    ParseMidiNotes(s.MidiNotes, ctx.device.MidiNotes);
    ctx.device.MidiNotesFromSounds = s.MidiNotesFromSounds;
    resize(std::clamp(s.Width, 160, 16384), std::clamp(s.Height, 120, 16384));
    move(s.PosX, s.PosY);

    m.editor.SongFileName.clear();
    m.editor.ClipboardKind = 0;
    LoadedFromCommandLine = false;
    ctx.playback.ApplySettings(ctx.device);
    ResetTransport(m);
    m.Streaming = false;
    m.editor.PasteEnabled = false;
    m.player.clock.MainVolume = 128;
    m.player.clock.MainVolumeTarget = 128;
    // A userbank opened from the desktop: the first activation loads it.
    const bool userbank = !commandLineSong.empty() && IsUserbankFile(commandLineSong);
    if (userbank) m.activation.UserbankPath = commandLineSong;
    LoadedFromCommandLine = ctx.edits.Begin(userbank ? std::string() : commandLineSong);
    if (LoadedFromCommandLine) RememberRecentSong(config_.settings.RecentSongs, commandLineSong);
    metronome_->setChecked(s.MetronomeOn != 0);
    countInRecord_->setChecked(s.CountInRecord != 0);
    countInStart_->setChecked(s.CountInStart != 0);
    // The level kept is one of the menu's, or the nearest below it.
    QAction* level = levels_.front();
    for (QAction* a : levels_)
        if (a->data().toInt() <= s.MetronomeLevel) level = a;
    level->setChecked(true);
    ApplyClicks();
    UpdateMenus();
}

void MainWindow::BuildClickMenu(QMenu* various) {
    various->addSeparator();
    auto check = [this, various](const char* caption) {
        QAction* a = various->addAction(QString::fromUtf8(caption));
        a->setCheckable(true);
        connect(a, &QAction::triggered, this, &MainWindow::ApplyClicks);
        return a;
    };
    metronome_ = check("Metro&nome");
    metronome_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_K));
    shortcutActions_ << metronome_;
    QMenu* level = various->addMenu(QStringLiteral("Metronome &level"));
    auto* levels = new QActionGroup(this);
    for (int percent : {25, 50, 70, 100}) {
        QAction* a = level->addAction(QStringLiteral("&%1 %").arg(percent));
        a->setData(percent);
        a->setCheckable(true);
        levels->addAction(a);
        levels_ << a;
        connect(a, &QAction::triggered, this, &MainWindow::ApplyClicks);
    }
    countInRecord_ = check("&Count in before Record pads");
    countInStart_ = check("Count in before every s&tart");
    tap_ = various->addAction(QStringLiteral("T&ap tempo"));
    tap_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_T));
    connect(tap_, &QAction::triggered, this, &MainWindow::Tap);
    shortcutActions_ << tap_;
    tapEnd_ = new QTimer(this);
    tapEnd_->setSingleShot(true);
    tapEnd_->setInterval(static_cast<int>(TapTempo::kTimeout.count()));
    connect(tapEnd_, &QTimer::timeout, this, [this] { ctx.transport.EndTapping(); });
}

void MainWindow::ApplyClicks() {
    Transport::Clicks c;
    c.metronome = metronome_->isChecked();
    for (QAction* a : levels_)
        if (a->isChecked()) c.level = a->data().toInt();
    c.countInRecord = countInRecord_->isChecked();
    c.countInStart = countInStart_->isChecked();
    ctx.transport.SetClicks(c);
}

void MainWindow::Tap() {
    ctx.transport.Tap();
    tapEnd_->start();
}

const std::vector<std::string>& MainWindow::RecentSongs() const {
    return config_.settings.RecentSongs;
}

void MainWindow::FillRecentMenu() {
    recent_->clear();
    const std::vector<std::string>& songs = RecentSongs();
    for (std::size_t i = 0; i < songs.size(); ++i) {
        const QString path = FromPath(songs[i]);
        QAction* a =
            recent_->addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(QFileInfo(path).fileName()));
        a->setToolTip(path);
        a->setStatusTip(path);
        connect(a, &QAction::triggered, this, [this, i] { OpenRecentSong(static_cast<int>(i)); });
    }
    if (songs.empty()) recent_->addAction(QStringLiteral("(none yet)"))->setEnabled(false);
}

void MainWindow::OpenRecentSong(int index) {
    std::vector<std::string>& songs = config_.settings.RecentSongs;
    if (index < 0 || static_cast<std::size_t>(index) >= songs.size()) return;
    const std::string file = songs[static_cast<std::size_t>(index)];
    if (!IsRegularFile(file)) {
        ForgetRecentSong(songs, file);
        ctx.m.prompter->Inform("The song " + file +
                               " is no longer there; it was taken off the recent songs.");
        return;
    }
    OpenFile(file);
}

QAction* MainWindow::Item(QMenu* menu, const char* caption, const QKeySequence& shortcut,
                          void (MainWindow::*handler)()) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, handler);
    shortcutActions_ << a;
    return a;
}

QAction* MainWindow::Item(QMenu* menu, const char* caption, void (MainWindow::*handler)()) {
    QAction* a = menu->addAction(QString::fromUtf8(caption));
    connect(a, &QAction::triggered, this, handler);
    return a;
}

void MainWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto action = [this](QMenu* menu, const char* caption, std::function<void()> f) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        connect(a, &QAction::triggered, this, std::move(f));
        return a;
    };
    auto edit = [this, action](QMenu* menu, const char* caption, MenuEdit which) {
        return action(menu, caption, [this, which] { ctx.edits.ApplyMenuEdit(which); });
    };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    // Every item has a mnemonic; "…" marks the items that open a dialog.
    Item(file, "&New song", QKeySequence(Qt::CTRL | Qt::Key_N), &MainWindow::NewSong);
    Item(file, "&Open song…", QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::OpenSong);
    recent_ = file->addMenu(QStringLiteral("&Recent songs"));
    recent_->setObjectName(QStringLiteral("RecentSongs"));
    connect(recent_, &QMenu::aboutToShow, this, &MainWindow::FillRecentMenu);
    file->addSeparator();
    Item(file, "&Save song", QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::SaveSong);
    Item(file, "Save song &as…", &MainWindow::SaveSongAs);
    file->addSeparator();
    action(file, "Song &info…", [this] { Q_EMIT songInfoRequested(); });
    file->addSeparator();
    action(file, "S&tream to disk…", [this] { Q_EMIT renderRequested(); });
    Item(file, "&Export MIDI file…", &MainWindow::ExportMidi);
    file->addSeparator();
    Item(file, "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), &MainWindow::Quit);

    QMenu* editMenu = bar->addMenu(QStringLiteral("&Edit"));
    undo_ = Item(editMenu, "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), &MainWindow::Undo);
    redo_ =
        Item(editMenu, "&Redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &MainWindow::Redo);
    redo_->setShortcuts({redo_->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    editMenu->addSeparator();
    QMenu* copy = editMenu->addMenu(QStringLiteral("&Copy"));
    auto copied = [this](void (*op)(Machine&)) {
        op(ctx.m);
        UpdateMenus();  // the paste items are enabled by every copy
    };
    shortcutActions_ << action(copy, "&Channel", [=] { copied(CopyChannel); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    shortcutActions_ << action(copy, "&Measure", [=] { copied(CopyMeasure); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    action(copy, "&Pattern", [=] { copied(CopyPattern); });
    paste_ = edit(editMenu, "&Paste", MenuEdit::Paste);
    paste_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    pasteMix_ = edit(editMenu, "Paste &mix", MenuEdit::PasteMix);
    pasteMix_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    shortcutActions_ << paste_ << pasteMix_;
    editMenu->addSeparator();

    QMenu* channel = editMenu->addMenu(QStringLiteral("C&hannel"));
    edit(channel, "Fade &in", MenuEdit::FadeInChannel);
    edit(channel, "Fade &out", MenuEdit::FadeOutChannel);
    action(channel, "Custom &velocity slide…", [this] { Q_EMIT velocitySlideRequested(); });
    channel->addSeparator();
    edit(channel, "Pan &left to right", MenuEdit::PanLeftToRight);
    edit(channel, "Pan &right to left", MenuEdit::PanRightToLeft);
    edit(channel, "Pan &center", MenuEdit::PanCenter);
    edit(channel, "Pan ran&domly", MenuEdit::PanRandomly);
    edit(channel, "Pan i&nverse", MenuEdit::PanInverse);
    action(channel, "Custom &pan slide…", [this] { Q_EMIT panSlideRequested(); });
    channel->addSeparator();
    shortcutActions_ << edit(channel, "&Erase", MenuEdit::EraseChannel);
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Delete));

    QMenu* measure = editMenu->addMenu(QStringLiteral("M&easure"));
    edit(measure, "Fade &in", MenuEdit::FadeInMeasure);
    edit(measure, "Fade &out", MenuEdit::FadeOutMeasure);
    measure->addSeparator();
    shortcutActions_ << edit(measure, "&Erase", MenuEdit::EraseMeasure);
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));

    QMenu* various = bar->addMenu(QStringLiteral("&Various"));
    QMenu* grooves = various->addMenu(QStringLiteral("Apply &groove"));
    QString takenMnemonics;
    for (int i = 0; i < kGrooveMenuSize; ++i) {
        const std::string_view caption = GrooveMenuCaption(i);
        QAction* a = grooves->addAction(WithMnemonic(
            QString::fromLatin1(caption.data(), static_cast<int>(caption.size())), takenMnemonics));
        connect(a, &QAction::triggered, this, [this, i] { ctx.edits.ApplyGrooveMenuEntry(i); });
    }
    various->addSeparator();
    auto* stepGroup = new QActionGroup(this);
    steps16_ = action(various, "1&6 step measure", [this] { ChooseStepsPerMeasure(16); });
    steps12_ = action(various, "1&2 step measure", [this] { ChooseStepsPerMeasure(12); });
    for (QAction* a : {steps16_, steps12_}) {
        a->setCheckable(true);
        stepGroup->addAction(a);
    }
    various->addSeparator();
    humanize_ = action(various, "&Humanize", [this] { ctx.edits.ToggleHumanize(); });
    humanize_->setCheckable(true);
    various->addSeparator();
    deviceSetup_ =
        action(various, "&Sound device setup…", [this] { Q_EMIT deviceSetupRequested(); });
    action(various, "&MIDI setup…", [this] { Q_EMIT midiSetupRequested(); });
    // Pads played by MIDI while playing are written into the steps.
    recordPads_ = action(various, "&Record pads",
                         [this] { ctx.transport.SetRecordingPads(recordPads_->isChecked()); });
    recordPads_->setCheckable(true);
    BuildClickMenu(various);

    QMenu* userbank = bar->addMenu(QStringLiteral("&Userbank :"));
    load_ = Item(userbank, "&Load…", QKeySequence(Qt::CTRL | Qt::Key_L), &MainWindow::LoadUserbank);
    userbank->addSeparator();
    editor_ =
        Item(userbank, "&Editor", QKeySequence(Qt::CTRL | Qt::Key_E), &MainWindow::OpenBankEditor);

    // The bank item beside the menus starts the same load. Ctrl+L stays with "&Load" alone:
    // one key on two actions would reach neither.
    bankItem_ = bar->addAction(QString::fromLatin1(kNoUserbankCaption));
    connect(bankItem_, &QAction::triggered, this, &MainWindow::LoadUserbank);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    about_ = Item(help, "&About", QKeySequence(Qt::Key_F1), &MainWindow::ShowAboutBox);
    help->menuAction()->setVisible(false);

    // Shortcuts work while this window is active, whatever menu shows the item (the Help
    // menu is hidden); the panel adds the same actions to itself.
    for (QAction* a : shortcutActions_) addAction(a);
}

void MainWindow::AddWindowMenu() {
    QMenu* window = menuBar()->addMenu(QStringLiteral("&Window"));
    QAction* panel = window->addAction(QStringLiteral("&Groove panel"));
    panel->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    connect(panel, &QAction::triggered, this, [this] { Q_EMIT groovePanelRequested(); });
    shortcutActions_ << panel;
    addAction(panel);
    QAction* grid = window->addAction(QStringLiteral("&Pattern grid"));
    grid->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
    connect(grid, &QAction::triggered, this, [this] { Q_EMIT patternGridRequested(); });
    shortcutActions_ << grid;
    addAction(grid);
    QAction* arrangement = window->addAction(QStringLiteral("&Arrangement"));
    arrangement->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_J));
    connect(arrangement, &QAction::triggered, this, [this] { Q_EMIT arrangementRequested(); });
    shortcutActions_ << arrangement;
    addAction(arrangement);
}

void MainWindow::UpdateMenus() {
    const Machine& m = ctx.m;
    paste_->setEnabled(m.editor.PasteEnabled);
    pasteMix_->setEnabled(m.editor.PasteEnabled);
    steps16_->setChecked(m.song.stepsPerMeasure != 12);
    steps12_->setChecked(m.song.stepsPerMeasure == 12);
    humanize_->setChecked(m.editor.HumanizeChecked);
    recordPads_->setChecked(ctx.transport.RecordingPads());
    editor_->setEnabled(ctx.playback.EditorOptionEnabled());
    // The device belongs to the userbank editor while it is open.
    deviceSetup_->setEnabled(ctx.playback.SetupDeviceEnabled() && !m.activation.EditorActive);
    bankItem_->setText(Literal(FromCp1252(UserbankCaption(m.activation, m.banks.userbank))));
    load_->setEnabled(!m.activation.EditorActive);
    bankItem_->setEnabled(!m.activation.EditorActive);
    UpdateUndoItems();
    ShowCaption();
}

void MainWindow::ShowCaption() {
    const QString caption = QString::fromLatin1(kMainWindowCaption);
    setWindowTitle(SongChanged(ctx.m) ? QLatin1Char('*') + caption : caption);
}

void MainWindow::UpdateUndoItems() {
    const SongEditor& h = ctx.edits;
    auto caption = [](const char* item, std::string_view text) {
        QString shown = QString::fromLatin1(item);
        if (!text.empty()) shown += ' ' + Literal(FromCp1252(std::string(text)));
        return shown;
    };
    undo_->setText(caption("&Undo", h.UndoText()));
    undo_->setEnabled(h.history().CanUndo());
    redo_->setText(caption("&Redo", h.RedoText()));
    redo_->setEnabled(h.history().CanRedo());
}

QList<QAction*> MainWindow::ShortcutActions() const {
    return shortcutActions_;
}

SongDialogs MainWindow::SongFileDialogs() {
    auto request = [this](const char* title) {
        // The folder of the song in use; without one, where the last song came from.
        const std::string& song = ctx.m.editor.SongFileName;
        return FileDialogSpec{title, kSongFilter, "sng",
                              song.empty() ? ctx.m.editor.SongFolder : DirectoryOf(song)};
    };
    return {[this, request] { return ctx.dialogs.OpenFile(request("Open a song")); },
            [this, request] { return ctx.dialogs.SaveFile(request("Save a song")); }};
}

bool MainWindow::AskToSaveChanges() {
    return ctx.edits.AskToSaveChanges(SongFileDialogs());
}

bool MainWindow::AskToSaveBeforeExit() {
    return ctx.edits.AskToSaveChanges(SongFileDialogs());
}

void MainWindow::NewSong() {
    ctx.edits.NewSong(SongFileDialogs());
}

void MainWindow::OpenSong() {
    OpenSongThrough(SongFileDialogs());
}

void MainWindow::OpenSongThrough(const SongDialogs& dialogs) {
    const bool opened = ctx.edits.OpenSong(dialogs);
    if (opened && ctx.m.song.showInfoOnOpen != 0) Q_EMIT songIntroductionRequested();
}

void MainWindow::OpenFile(const std::string& file) {
    if (IsUserbankFile(file)) {
        LoadUserbankFile(file);
        return;
    }
    // As "Open song" with the file already chosen: a changed Song is asked about first.
    SongDialogs dialogs = SongFileDialogs();
    dialogs.openSong = Chosen(file);
    OpenSongThrough(dialogs);
}

void MainWindow::dragEnterEvent(QDragEnterEvent* e) {
    if (!DroppedFile(e->mimeData()).empty()) e->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* e) {
    const std::string file = DroppedFile(e->mimeData());
    if (file.empty()) return;
    e->acceptProposedAction();
    OpenFile(file);
}

void MainWindow::SaveSong() {
    ctx.edits.SaveSong(SongFileDialogs());
}

void MainWindow::SaveSongAs() {
    ctx.edits.SaveSongAs(SongFileDialogs());
}

void MainWindow::LoadUserbank() {
    // The bank being edited is the userbank in memory: a load would replace it unsaved.
    if (ctx.m.activation.EditorActive) return;
    const std::optional<std::string> chosen = ctx.dialogs.OpenFile(
        {"Load a userbank", kUserbankFilter, "ubf", ctx.m.activation.BankFolder});
    if (!chosen) return;
    LoadUserbankFile(*chosen);
}

void MainWindow::LoadUserbankFile(const std::string& file) {
    if (ctx.m.activation.EditorActive) return;
    ctx.edits.LoadUserbank(file);
}

void MainWindow::OpenBankEditor() {
    Q_EMIT bankEditorRequested();
}

void MainWindow::ChooseStepsPerMeasure(int steps) {
    ctx.edits.SetStepsPerMeasure(steps);
}

void MainWindow::Undo() {
    ctx.edits.Undo();
}

void MainWindow::Redo() {
    ctx.edits.Redo();
}

void MainWindow::Quit() {
    if (QWidget* dialog = OpenDialog()) {
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    if (CloseBankEditor && !CloseBankEditor()) return;
    if (!AskToSaveChanges()) return;
    quitting_ = true;
    Q_EMIT LoopEnds();
}

void MainWindow::ShowAboutBox() {
    if (AboutBoxWindow == nullptr) return;
    AboutBoxWindow->show();
    AboutBoxWindow->raise();
    AboutBoxWindow->activateWindow();
}

void MainWindow::ShowAtStart() {
    // Where it was left (SetUp); centred the first time.
    QScreen* screen = config_.settings.Placed ? nullptr : QGuiApplication::primaryScreen();
    if (screen != nullptr) {
        const QRect area = screen->availableGeometry();
        const QSize frame = frameGeometry().size();
        move(std::max(area.left(), area.left() + (area.width() - frame.width()) / 2),
             std::max(area.top(), area.top() + (area.height() - frame.height()) / 2));
    }
    KeepOnScreen(*this);
    if (config_.settings.State != 0)
        showMaximized();
    else
        show();
    // Its first activation loads the kit: ask for it rather than wait for the user's click.
    activateWindow();
}

void MainWindow::OnActivated() {
    ActivateMainWindow(ctx.m, programPath_);
    // The kit and the configured userbank may have been read just now.
    ctx.edits.Announce(SongChange::File);
    Q_EMIT activated();
}

QWidget* MainWindow::OpenDialog() const {
    if (QWidget* modal = QApplication::activeModalWidget()) return modal;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<QDialog*>(w) != nullptr && w->isVisible() && !w->isMinimized()) return w;
    return nullptr;
}

bool MainWindow::MayClose() {
    // A dialog the user is still filling in is not dropped: it comes forward instead.
    if (QWidget* dialog = OpenDialog()) {
        dialog->raise();
        dialog->activateWindow();
        return false;
    }
    if (AboutBoxWindow != nullptr && AboutBoxWindow->isVisible()) return false;
    // A userbank being edited is not dropped unasked: the editor asks about its changes first.
    if (CloseBankEditor && !CloseBankEditor()) return false;
    return AskToSaveBeforeExit();
}

void MainWindow::HideOtherWindows() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->isWindow() && w->isVisible()) w->hide();
    }
}

void MainWindow::ExportMidi() {
    FileDialogSpec request;
    // In song mode the export writes the whole arrangement.
    const bool whole = ctx.m.editor.SongMode && !ctx.m.arrangement.empty();
    request.title =
        whole ? "Export the arrangement as a MIDI file" : "Export the pattern as a MIDI file";
    request.filter = "MIDI files (*.mid)|*.mid|All files (*.*)|*.*";
    request.defaultExtension = "mid";
    request.initialFolder = ctx.m.editor.SongFolder;
    if (const auto chosen = ctx.dialogs.SaveFile(request)) ExportPatternAsMidi(ctx.m, *chosen);
}

bool MainWindow::SaveConfigurationAtExit() {
    ConfigSettings& s = config_.settings;
    TakeConfigSettings(ctx.m, s);
    s.DeviceNum = ctx.device.DeviceNum;
    s.DeviceSetup = ctx.device.DeviceSetup;
    s.NumDevices = ctx.device.NumDevices;
    s.Buffer_size = ctx.device.Buffer_size;
    s.Latency = ctx.device.Latency;
    s.AudioSystem = ctx.device.AudioSystem;
    s.JackConnect = ctx.device.JackConnect;
    s.JackTransport = static_cast<int>(ctx.device.JackTransport);
    s.MidiNotesOut = ctx.device.MidiNotesOut;
    s.MidiChannel = ctx.device.MidiChannel;
    s.MidiClockOut = ctx.device.MidiClockOut;
    s.MidiClockIn = ctx.device.MidiClockIn;
    s.MidiProgramChange = ctx.device.MidiProgramChange;
    s.MidiNotes = MidiNotesText(ctx.device.MidiNotes);
    s.MidiNotesFromSounds = ctx.device.MidiNotesFromSounds;
    const Transport::Clicks& clicks = ctx.transport.clicks();
    s.MetronomeOn = clicks.metronome ? 1 : 0;
    s.MetronomeLevel = clicks.level;
    s.CountInRecord = clicks.countInRecord ? 1 : 0;
    s.CountInStart = clicks.countInStart ? 1 : 0;
    // A maximised window keeps the place and size it returns to.
    const bool maximised = isMaximized();
    const QRect normal = maximised ? normalGeometry() : QRect(pos(), size());
    s.PosX = normal.x();
    s.PosY = normal.y();
    s.Width = normal.width();
    s.Height = normal.height();
    s.State = maximised ? 1 : 0;
    // A read-only file is the user's wish: it stays as it is, said once on the way out.
    if (config_.ReadOnly()) {
        std::fprintf(stderr, "qtam: %s is read-only; the settings of this session are not kept\n",
                     config_.path().c_str());
        return true;
    }
    if (config_.Write()) return true;
    ctx.m.prompter->Warn(UnableToWriteText(config_.path()));
    return false;
}

bool MainWindow::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) OnActivated();
    if (e->type() == QEvent::WindowDeactivate) spaceBar_->Flush();
    return QMainWindow::event(e);
}

void MainWindow::closeEvent(QCloseEvent* e) {
    if (quitting_) {
        e->accept();
        return;
    }
    if (!MayClose()) {
        e->ignore();
        return;
    }
    // The loop ends (and the windows' places are taken) before the other windows go.
    Q_EMIT LoopEnds();
    HideOtherWindows();
    e->accept();
}

void MainWindow::keyPressEvent(QKeyEvent* e) {
    spaceBar_->KeyPress(*e);
    QMainWindow::keyPressEvent(e);
}

void MainWindow::keyReleaseEvent(QKeyEvent* e) {
    spaceBar_->KeyRelease(*e);
    QMainWindow::keyReleaseEvent(e);
}

}  // namespace qtam

#include "moc_main_window.cpp"
