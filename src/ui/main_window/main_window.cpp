#include "ui/main_window/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMimeData>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/config.h"
#include "core/file_dialogs.h"
#include "core/machine.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "engine/mixer.h"
#include "song/edit_ops.h"
#include "song/grooves.h"
#include "song/init_song.h"
#include "song/song_history.h"
#include "ui/qt/desktop_conventions.h"
#include "ui/qt/text.h"
#include "ui/services/app_context.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/space_bar_keys.h"

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

    spaceBar_ = new SpaceBarKeys(ctx.playback, true, this);
    BuildMenus();
    AddWindowMenu();
    ctx.history.Changed = [this] { UpdateUndoItems(); };
    connect(&ctx.playbackState, &PlaybackNotifier::stateChanged, this, &MainWindow::UpdateMenus);
    SetUp(commandLineSong);
}

MainWindow::~MainWindow() {
    ctx.history.Changed = nullptr;
}

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
    resize(std::clamp(s.Width, 160, 16384), std::clamp(s.Height, 120, 16384));
    move(s.PosX, s.PosY);

    m.editor.SongFileName.clear();
    m.editor.ClipboardKind = 0;
    LoadedFromCommandLine = false;
    ctx.playback.ApplySettings(ctx.device);
    ResetTransport(m);
    m.Streaming = false;
    m.editor.SongChanged = false;
    m.editor.PasteEnabled = false;
    m.clock.MainVolume = 128;
    m.clock.MainVolumeTarget = 128;
    InitSong(m);
    if (!commandLineSong.empty() && IsUserbankFile(commandLineSong)) {
        // A userbank opened from the desktop: the first activation loads it.
        m.activation.UserbankPath = commandLineSong;
    } else if (!commandLineSong.empty() && LoadSong(m, commandLineSong, false)) {
        // A song that cannot be read is reported as "Open song" would.
        m.editor.SongFileName = commandLineSong;
        LoadedFromCommandLine = true;
        // The menu check and the step timing follow the song just read, and its sounds are the
        // userbank it names.
        m.editor.HumanizeChecked = m.song.humanize != 0;
        SetTempo(m, m.song.tempo, m.song.shuffle);
        LoadSongUserbank(m);
    }
    ctx.history.Restart(m.song);
    UpdateTitle(m);
    UpdateMenus();
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

void MainWindow::Edited(void (*operation)(Machine&), bool refreshPanel) {
    operation(ctx.m);
    // A change made from the menu is a change: the question before closing protects it, and
    // a start mixed in advance no longer matches the Song.
    ctx.m.editor.MarkEdited();
    RecordEdit(ctx.m, ctx.history, MenuEditText(ctx.m, operation));
    if (refreshPanel) Q_EMIT songChanged();
}

void MainWindow::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto action = [this](QMenu* menu, const char* caption, std::function<void()> f) {
        QAction* a = menu->addAction(QString::fromUtf8(caption));
        connect(a, &QAction::triggered, this, std::move(f));
        return a;
    };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    // Every item has a mnemonic; "…" marks the items that open a dialog.
    Item(file, "&New song", QKeySequence(Qt::CTRL | Qt::Key_N), &MainWindow::NewSong);
    Item(file, "&Open song…", QKeySequence(Qt::CTRL | Qt::Key_O), &MainWindow::OpenSong);
    file->addSeparator();
    Item(file, "&Save song", QKeySequence(Qt::CTRL | Qt::Key_S), &MainWindow::SaveSong);
    Item(file, "Save song &as…", &MainWindow::SaveSongAs);
    file->addSeparator();
    action(file, "Song &info…", [this] { Q_EMIT songInfoRequested(); });
    file->addSeparator();
    action(file, "S&tream to disk…", [this] { Q_EMIT renderRequested(); });
    file->addSeparator();
    Item(file, "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), &MainWindow::Quit);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    undo_ = Item(edit, "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z), &MainWindow::Undo);
    redo_ = Item(edit, "&Redo", QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), &MainWindow::Redo);
    redo_->setShortcuts({redo_->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    edit->addSeparator();
    QMenu* copy = edit->addMenu(QStringLiteral("&Copy"));
    auto copied = [this](void (*op)(Machine&)) {
        op(ctx.m);
        UpdateMenus();  // the paste items are enabled by every copy
    };
    shortcutActions_ << action(copy, "&Channel", [=] { copied(CopyChannel); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    shortcutActions_ << action(copy, "&Measure", [=] { copied(CopyMeasure); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    action(copy, "&Pattern", [=] { copied(CopyPattern); });
    paste_ = action(edit, "&Paste", [this] { Edited(Paste, true); });
    paste_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    pasteMix_ = action(edit, "Paste &mix", [this] { Edited(PasteMix, true); });
    pasteMix_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    shortcutActions_ << paste_ << pasteMix_;
    edit->addSeparator();

    QMenu* channel = edit->addMenu(QStringLiteral("C&hannel"));
    action(channel, "Fade &in", [this] { Edited(FadeInChannel, false); });
    action(channel, "Fade &out", [this] { Edited(FadeOutChannel, false); });
    action(channel, "Custom &velocity slide…", [this] { Q_EMIT velocitySlideRequested(); });
    channel->addSeparator();
    action(channel, "Pan &left to right", [this] { Edited(PanLeftToRight, false); });
    action(channel, "Pan &right to left", [this] { Edited(PanRightToLeft, false); });
    action(channel, "Pan &center", [this] { Edited(PanCenter, false); });
    action(channel, "Pan ran&domly", [this] { Edited(PanRandomly, false); });
    action(channel, "Pan i&nverse", [this] { Edited(PanInverse, false); });
    action(channel, "Custom &pan slide…", [this] { Q_EMIT panSlideRequested(); });
    channel->addSeparator();
    shortcutActions_ << action(channel, "&Erase", [this] { Edited(EraseChannel, true); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Delete));

    QMenu* measure = edit->addMenu(QStringLiteral("M&easure"));
    action(measure, "Fade &in", [this] { Edited(FadeInMeasure, false); });
    action(measure, "Fade &out", [this] { Edited(FadeOutMeasure, false); });
    measure->addSeparator();
    shortcutActions_ << action(measure, "&Erase", [this] { Edited(EraseMeasure, true); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));

    QMenu* various = bar->addMenu(QStringLiteral("&Various"));
    QMenu* grooves = various->addMenu(QStringLiteral("Apply &groove"));
    QString takenMnemonics;
    for (int i = 0; i < kGrooveMenuSize; ++i) {
        const std::string_view caption = GrooveMenuCaption(i);
        QAction* a = grooves->addAction(WithMnemonic(
            QString::fromLatin1(caption.data(), static_cast<int>(caption.size())), takenMnemonics));
        connect(a, &QAction::triggered, this, [this, i, caption] {
            ChooseGrooveMenuEntry(ctx.m, i);
            RecordEdit(ctx.m, ctx.history,
                       i == kRandomChaosMenuIndex ? std::string(caption)
                                                  : "Apply groove " + std::string(caption));
            Q_EMIT songChanged();
        });
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
    humanize_ = action(various, "&Humanize", [this] {
        ToggleHumanize(ctx.m);
        RecordEdit(ctx.m, ctx.history, "Humanize");
        UpdateMenus();
    });
    humanize_->setCheckable(true);
    various->addSeparator();
    deviceSetup_ =
        action(various, "&Sound device setup…", [this] { Q_EMIT deviceSetupRequested(); });

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
}

void MainWindow::UpdateMenus() {
    const Machine& m = ctx.m;
    paste_->setEnabled(m.editor.PasteEnabled);
    pasteMix_->setEnabled(m.editor.PasteEnabled);
    steps16_->setChecked(m.song.stepsPerMeasure != 12);
    steps12_->setChecked(m.song.stepsPerMeasure == 12);
    humanize_->setChecked(m.editor.HumanizeChecked);
    editor_->setEnabled(ctx.playback.EditorOptionEnabled());
    // The device belongs to the userbank editor while it is open.
    deviceSetup_->setEnabled(ctx.playback.SetupDeviceEnabled() && !m.activation.EditorActive);
    bankItem_->setText(Literal(FromCp1252(m.activation.UserbankCaption)));
    load_->setEnabled(!m.activation.EditorActive);
    bankItem_->setEnabled(!m.activation.EditorActive);
    ShowCaption();
}

void MainWindow::ShowCaption() {
    const QString caption = QString::fromLatin1(kMainWindowCaption);
    setWindowTitle(ctx.m.editor.SongChanged ? QLatin1Char('*') + caption : caption);
}

void MainWindow::UpdateUndoItems() {
    const SongHistory& h = ctx.history;
    auto caption = [](const char* item, std::string_view text) {
        QString shown = QString::fromLatin1(item);
        if (!text.empty()) shown += ' ' + Literal(FromCp1252(std::string(text)));
        return shown;
    };
    undo_->setText(caption("&Undo", h.UndoText()));
    undo_->setEnabled(h.CanUndo());
    redo_->setText(caption("&Redo", h.RedoText()));
    redo_->setEnabled(h.CanRedo());
}

QList<QAction*> MainWindow::ShortcutActions() const {
    return shortcutActions_;
}

SongDialogs MainWindow::SongFileDialogs() {
    auto request = [this](const char* title) {
        return FileDialogSpec{title, kSongFilter, "sng", ctx.m.editor.SongFolder};
    };
    return {[this, request] { return ctx.dialogs.OpenFile(request("Open a song")); },
            [this, request] { return ctx.dialogs.SaveFile(request("Save a song")); }};
}

bool MainWindow::AskToSaveChanges() {
    return qtam::AskToSaveChanges(ctx.m, SongFileDialogs());
}

bool MainWindow::AskToSaveBeforeExit() {
    return qtam::AskToSaveBeforeExit(ctx.m, SongFileDialogs());
}

void MainWindow::NewSong() {
    if (NewSongFlow(ctx.m, SongFileDialogs())) ctx.history.Restart(ctx.m.song);
    UpdateMenus();
    Q_EMIT songChanged();
}

void MainWindow::OpenSong() {
    OpenSongThrough(SongFileDialogs());
}

void MainWindow::OpenSongThrough(const SongDialogs& dialogs) {
    const bool opened = OpenSongFlow(ctx.m, dialogs);
    opened ? ctx.history.Restart(ctx.m.song) : TakeSavedState(ctx.m, ctx.history);
    if (opened && ctx.m.song.showInfoOnOpen != 0) Q_EMIT songIntroductionRequested();
    UpdateMenus();
    Q_EMIT songChanged();
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
    SaveSongFlow(ctx.m, SongFileDialogs());
    TakeSavedState(ctx.m, ctx.history);
    Q_EMIT songChanged();  // the caption may name the file now
}

void MainWindow::SaveSongAs() {
    SaveSongAsFlow(ctx.m, SongFileDialogs());
    TakeSavedState(ctx.m, ctx.history);
    Q_EMIT songChanged();
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
    LoadUserbankFromMenu(ctx.m, file);
    ctx.history.ForgetSaved();  // the Song names another userbank than its file
    UpdateMenus();
    Q_EMIT songChanged();
}

void MainWindow::OpenBankEditor() {
    Q_EMIT bankEditorRequested();
}

void MainWindow::ChooseStepsPerMeasure(int steps) {
    SetStepsPerMeasure(ctx.m, steps);
    RecordEdit(ctx.m, ctx.history, steps == 12 ? "12 step measure" : "16 step measure");
    UpdateMenus();
    Q_EMIT songChanged();
}

void MainWindow::Undo() {
    if (!UndoEdit(ctx.m, ctx.history)) return;
    UpdateMenus();
    Q_EMIT songChanged();
}

void MainWindow::Redo() {
    if (!RedoEdit(ctx.m, ctx.history)) return;
    UpdateMenus();
    Q_EMIT songChanged();
}

void MainWindow::Quit() {
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
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        const QSize frame = frameGeometry().size();
        move(std::max(area.left(), area.left() + (area.width() - frame.width()) / 2),
             std::max(area.top(), area.top() + (area.height() - frame.height()) / 2));
    }
    if (config_.settings.State != 0)
        showMaximized();
    else
        show();
    // Its first activation loads the kit: ask for it rather than wait for the user's click.
    activateWindow();
}

void MainWindow::OnActivated() {
    ActivateMainWindow(ctx.m, programPath_);
    UpdateMenus();
    Q_EMIT songChanged();
    Q_EMIT activated();
}

bool MainWindow::MayClose() {
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

bool MainWindow::SaveConfigurationAtExit() {
    ConfigSettings& s = config_.settings;
    TakeConfigSettings(ctx.m, s);
    s.DeviceNum = ctx.device.DeviceNum;
    s.DeviceSetup = ctx.device.DeviceSetup;
    s.NumDevices = ctx.device.NumDevices;
    s.Buffer_size = ctx.device.Buffer_size;
    // A maximised window keeps the place and size it returns to.
    const bool maximised = isMaximized();
    const QRect normal = maximised ? normalGeometry() : QRect(pos(), size());
    s.PosX = normal.x();
    s.PosY = normal.y();
    s.Width = normal.width();
    s.Height = normal.height();
    s.State = maximised ? 1 : 0;
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
    HideOtherWindows();
    e->accept();
    Q_EMIT LoopEnds();
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
