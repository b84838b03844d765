#include "ui/korvath.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QMenuBar>
#include <QScreen>
#include <QWindow>
#include <algorithm>

#include "banks/kit.h"
#include "core/config.h"
#include "core/file_dialogs.h"
#include "core/machine.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "engine/mixer.h"
#include "song/edit_ops.h"
#include "song/grooves.h"
#include "song/init_song.h"
#include "ui/about.h"
#include "ui/app_context.h"
#include "ui/make_bank.h"
#include "ui/panel_values.h"
#include "ui/qt_text.h"
#include "ui/space_bar_keys.h"

namespace qtam {

namespace {

// A caption shown as it is: "&" is no mnemonic there.
QString Literal(const QString& text) {
    QString escaped = text;
    return escaped.replace('&', QStringLiteral("&&"));
}

}  // namespace

TKorvath::TKorvath(AppContext& context, ConfigFile& config, const std::string& commandLineSong,
                   QWidget* parent)
    : QMainWindow(parent), ctx(context), config_(config) {
    ctx.korvath = this;
    setWindowTitle(kMainWindowCaption);
    programPath_ = ToPath(QCoreApplication::applicationFilePath());

    // The client area is an empty workspace.
    auto* workspace = new QWidget(this);
    workspace->setAutoFillBackground(true);
    QPalette pal = workspace->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Dark));
    workspace->setPalette(pal);
    setCentralWidget(workspace);

    spaceBar_ = new SpaceBarKeys(ctx.playback, true, this);
    BuildMenus();
    ctx.actions.refreshMenus = [this] { UpdateMenus(); };
    // The panel may listen as well: whoever set the notice first still gets it.
    std::function<void()> previous = ctx.playback.OnStateChanged;
    ctx.playback.OnStateChanged = [this, previous] {
        if (previous) previous();
        UpdateMenus();
    };
    FormCreate(commandLineSong);
}

TKorvath::~TKorvath() {
    if (ctx.korvath == this) ctx.korvath = nullptr;
}

void TKorvath::FormCreate(const std::string& commandLineSong) {
    Machine& m = ctx.m;
    config_.Read();
    const ConfigSettings& s = config_.settings;
    ApplyConfigSettings(s, m);
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
    if (!commandLineSong.empty() && LoadSong(m, commandLineSong, true)) {
        m.editor.SongFileName = commandLineSong;
        LoadedFromCommandLine = true;
        // The menu check and the step timing follow the song just read.
        m.editor.HumanizeChecked = m.song.humanize != 0;
        SetTempo(m, m.song.tempo, m.song.shuffle);
    }
    UpdateTitle(m);
    UpdateMenus();
}

QAction* TKorvath::Item(QMenu* menu, const char* caption, const QKeySequence& shortcut,
                        void (TKorvath::*handler)()) {
    QAction* a = menu->addAction(QString::fromLatin1(caption));
    a->setShortcut(shortcut);
    connect(a, &QAction::triggered, this, handler);
    shortcutActions_ << a;
    return a;
}

QAction* TKorvath::Item(QMenu* menu, const char* caption, void (TKorvath::*handler)()) {
    QAction* a = menu->addAction(QString::fromLatin1(caption));
    connect(a, &QAction::triggered, this, handler);
    return a;
}

void TKorvath::Edited(void (*operation)(Machine&), bool refreshPanel) {
    operation(ctx.m);
    // A change made from the menu is a change: the question before closing protects it, and
    // a start mixed in advance no longer matches the Song.
    ctx.m.editor.MarkEdited();
    if (refreshPanel) AppContext::Run(ctx.actions.refreshPanel);
}

void TKorvath::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto action = [this](QMenu* menu, const char* caption, std::function<void()> f) {
        QAction* a = menu->addAction(QString::fromLatin1(caption));
        connect(a, &QAction::triggered, this, std::move(f));
        return a;
    };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    Item(file, "New song", QKeySequence(Qt::CTRL | Qt::Key_N), &TKorvath::NewSongClick);
    Item(file, "Open song", QKeySequence(Qt::CTRL | Qt::Key_O), &TKorvath::OpenSongClick);
    file->addSeparator();
    Item(file, "Save song", QKeySequence(Qt::CTRL | Qt::Key_S), &TKorvath::SaveSongClick);
    Item(file, "Save song as...", &TKorvath::SaveSongAsClick);
    file->addSeparator();
    action(file, "Song info", [this] { AppContext::Run(ctx.actions.showSongInfoEdit); });
    file->addSeparator();
    action(file, "Stream to disk", [this] { AppContext::Run(ctx.actions.showStreamToDisk); });
    file->addSeparator();
    Item(file, "&Quit", QKeySequence(Qt::CTRL | Qt::Key_Q), &TKorvath::QuitMenuClick);

    QMenu* edit = bar->addMenu(QStringLiteral("&Edit"));
    QMenu* copy = edit->addMenu(QStringLiteral("Copy"));
    auto copied = [this](void (*op)(Machine&)) {
        op(ctx.m);
        UpdateMenus();  // the paste items are enabled by every copy
    };
    shortcutActions_ << action(copy, "Channel", [=] { copied(CopyChannel); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    shortcutActions_ << action(copy, "Measure", [=] { copied(CopyMeasure); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    action(copy, "Pattern", [=] { copied(CopyPattern); });
    paste_ = action(edit, "Paste", [this] { Edited(Paste, true); });
    paste_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
    pasteMix_ = action(edit, "Paste mix", [this] { Edited(PasteMix, true); });
    pasteMix_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_M));
    shortcutActions_ << paste_ << pasteMix_;
    edit->addSeparator();

    QMenu* channel = edit->addMenu(QStringLiteral("Channel"));
    action(channel, "Fade in", [this] { Edited(FadeInChannel, false); });
    action(channel, "Fade out", [this] { Edited(FadeOutChannel, false); });
    action(channel, "Custom velocity slide",
           [this] { AppContext::Run(ctx.actions.customVelocitySlide); });
    channel->addSeparator();
    action(channel, "Pan left to right", [this] { Edited(PanLeftToRight, false); });
    action(channel, "Pan right to left", [this] { Edited(PanRightToLeft, false); });
    action(channel, "Pan center", [this] { Edited(PanCenter, false); });
    action(channel, "Pan randomly", [this] { Edited(PanRandomly, false); });
    action(channel, "Pan inverse", [this] { Edited(PanInverse, false); });
    action(channel, "Custom pan slide", [this] { AppContext::Run(ctx.actions.customPanSlide); });
    channel->addSeparator();
    shortcutActions_ << action(channel, "Erase", [this] { Edited(EraseChannel, true); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::SHIFT | Qt::Key_Delete));

    QMenu* measure = edit->addMenu(QStringLiteral("Measure"));
    action(measure, "Fade in", [this] { Edited(FadeInMeasure, false); });
    action(measure, "Fade out", [this] { Edited(FadeOutMeasure, false); });
    measure->addSeparator();
    shortcutActions_ << action(measure, "Erase", [this] { Edited(EraseMeasure, true); });
    shortcutActions_.back()->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Delete));

    QMenu* various = bar->addMenu(QStringLiteral("&Various"));
    QMenu* grooves = various->addMenu(QStringLiteral("Apply groove"));
    for (int i = 0; i < kGrooveMenuSize; ++i) {
        const std::string_view caption = GrooveMenuCaption(i);
        QAction* a = grooves->addAction(
            Literal(QString::fromLatin1(caption.data(), static_cast<int>(caption.size()))));
        connect(a, &QAction::triggered, this, [this, i] {
            ChooseGrooveMenuEntry(ctx.m, i);
            AppContext::Run(ctx.actions.refreshPanel);
        });
    }
    various->addSeparator();
    auto* stepGroup = new QActionGroup(this);
    steps16_ = action(various, "16 step measure", [this] { StepsClick(16); });
    steps12_ = action(various, "12 step measure", [this] { StepsClick(12); });
    for (QAction* a : {steps16_, steps12_}) {
        a->setCheckable(true);
        stepGroup->addAction(a);
    }
    various->addSeparator();
    humanize_ = action(various, "&Humanize", [this] {
        ToggleHumanize(ctx.m);
        UpdateMenus();
    });
    humanize_->setCheckable(true);
    various->addSeparator();
    deviceSetup_ = action(various, "&Sound device setup",
                          [this] { AppContext::Run(ctx.actions.setupDevice); });

    QMenu* userbank = bar->addMenu(QStringLiteral("&Userbank :"));
    load_ =
        Item(userbank, "&Load", QKeySequence(Qt::CTRL | Qt::Key_L), &TKorvath::LoadUserbankClick);
    userbank->addSeparator();
    editor_ = Item(userbank, "&Editor", QKeySequence(Qt::CTRL | Qt::Key_E), &TKorvath::EditorClick);

    // The bank item beside the menus starts the same load. Ctrl+L stays with "&Load" alone:
    // one key on two actions would reach neither.
    bankItem_ = bar->addAction(QString::fromLatin1(kNoUserbankCaption));
    connect(bankItem_, &QAction::triggered, this, &TKorvath::LoadUserbankClick);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    about_ = Item(help, "&About", QKeySequence(Qt::Key_F1), &TKorvath::AboutmenuClick);
    help->menuAction()->setVisible(false);

    // Shortcuts work while this window is active, whatever menu shows the item (the Help
    // menu is hidden); the panel adds the same actions to itself.
    for (QAction* a : shortcutActions_) addAction(a);
}

void TKorvath::UpdateMenus() {
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
}

QList<QAction*> TKorvath::ShortcutActions() const {
    return shortcutActions_;
}

SongDialogs TKorvath::SongFileDialogs() {
    auto request = [this](const char* title) {
        return FileDialogSpec{title, kSongFilter, "sng", ctx.m.editor.SongFolder};
    };
    return {[this, request] { return ctx.dialogs.OpenFile(request("Open a song")); },
            [this, request] { return ctx.dialogs.SaveFile(request("Save a song")); }};
}

bool TKorvath::CheckSongChange() {
    return qtam::CheckSongChange(ctx.m, SongFileDialogs());
}

bool TKorvath::CheckSongChangeExit() {
    return qtam::CheckSongChangeExit(ctx.m, SongFileDialogs());
}

void TKorvath::NewSongClick() {
    NewSongFlow(ctx.m, SongFileDialogs());
    UpdateMenus();
    AppContext::Run(ctx.actions.refreshPanel);
}

void TKorvath::OpenSongClick() {
    if (OpenSongFlow(ctx.m, SongFileDialogs()) && ctx.m.song.showInfoOnOpen != 0)
        AppContext::Run(ctx.actions.showSongInfoView);
    UpdateMenus();
    AppContext::Run(ctx.actions.refreshPanel);
}

void TKorvath::SaveSongClick() {
    SaveSongFlow(ctx.m, SongFileDialogs());
    AppContext::Run(ctx.actions.refreshPanel);  // the caption may name the file now
}

void TKorvath::SaveSongAsClick() {
    SaveSongAsFlow(ctx.m, SongFileDialogs());
    AppContext::Run(ctx.actions.refreshPanel);
}

void TKorvath::LoadUserbankClick() {
    // The bank being edited is the userbank in memory: a load would replace it unsaved.
    if (ctx.m.activation.EditorActive) return;
    const std::optional<std::string> chosen = ctx.dialogs.OpenFile(
        {"Load a userbank", kUserbankFilter, "ubf", ctx.m.activation.BankFolder});
    if (!chosen) return;
    LoadUserbankFromMenu(ctx.m, chosen);
    UpdateMenus();
    AppContext::Run(ctx.actions.refreshPanel);
}

void TKorvath::EditorClick() {
    AppContext::Run(ctx.actions.openBankEditor);
}

void TKorvath::StepsClick(int steps) {
    SetStepsPerMeasure(ctx.m, steps);
    UpdateMenus();
    AppContext::Run(ctx.actions.refreshPanel);
}

void TKorvath::QuitMenuClick() {
    if (ctx.makeBank != nullptr && !ctx.makeBank->CloseEditor()) return;
    if (!CheckSongChange()) return;
    quitting_ = true;
    Q_EMIT LoopEnds();
}

void TKorvath::AboutmenuClick() {
    if (ctx.about == nullptr) return;
    ctx.about->show();
    ctx.about->raise();
    ctx.about->activateWindow();
}

void TKorvath::ShowAtStart() {
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

void TKorvath::FormActivate() {
    ActivateMainWindow(ctx.m, programPath_);
    UpdateMenus();
    AppContext::Run(ctx.actions.refreshPanel);
}

bool TKorvath::FormCloseQuery() {
    if (ctx.about != nullptr && ctx.about->isVisible()) return false;
    // A userbank being edited is not dropped unasked: the editor asks about its changes first.
    if (ctx.makeBank != nullptr && !ctx.makeBank->CloseEditor()) return false;
    return CheckSongChangeExit();
}

void TKorvath::FormClose() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w != this && w->isWindow() && w->isVisible()) w->hide();
    }
}

bool TKorvath::FormDestroy() {
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

bool TKorvath::event(QEvent* e) {
    if (e->type() == QEvent::WindowActivate) FormActivate();
    if (e->type() == QEvent::WindowDeactivate) spaceBar_->Flush();
    return QMainWindow::event(e);
}

void TKorvath::closeEvent(QCloseEvent* e) {
    if (quitting_) {
        e->accept();
        return;
    }
    if (!FormCloseQuery()) {
        e->ignore();
        return;
    }
    FormClose();
    e->accept();
    Q_EMIT LoopEnds();
}

void TKorvath::keyPressEvent(QKeyEvent* e) {
    spaceBar_->KeyPress(*e);
    QMainWindow::keyPressEvent(e);
}

void TKorvath::keyReleaseEvent(QKeyEvent* e) {
    spaceBar_->KeyRelease(*e);
    QMainWindow::keyReleaseEvent(e);
}

}  // namespace qtam
