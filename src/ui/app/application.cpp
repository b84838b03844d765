#include "ui/app/application.h"

#include <QApplication>
#include <QMenuBar>
#include <QPointer>
#include <QTimer>
#include <algorithm>
#include <utility>
#include <vector>

#include "song/slides.h"
#include "ui/arrangement/arrangement_window.h"
#include "ui/bank_editor/bank_editor.h"
#include "ui/bank_editor/hihat_dialog.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/device_setup_dialog.h"
#include "ui/dialogs/instrument_dialog.h"
#include "ui/dialogs/midi_setup_dialog.h"
#include "ui/dialogs/note_details_dialog.h"
#include "ui/dialogs/render_dialog.h"
#include "ui/dialogs/slide_dialog.h"
#include "ui/dialogs/song_info_window.h"
#include "ui/dialogs/value_dialog.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/main_window/main_window.h"
#include "ui/pattern_grid/pattern_grid.h"
#include "ui/qt/desktop_conventions.h"
#include "ui/qt/window_placement.h"

namespace qtam {

namespace {

// When a dialog that has the keyboard closes, the window that opened it gets the keyboard back
// (left alone, some window managers give it to the main window).
class KeyboardHandBack : public QObject {
public:
    static constexpr int kSettleMs = 50;
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::Hide && dialog->parentWidget() != nullptr &&
            (QApplication::activeWindow() == dialog || QApplication::activeWindow() == nullptr)) {
            QPointer<QWidget> owner = dialog->parentWidget()->window();
            // After the window manager has taken the dialog away and given the keyboard on.
            QTimer::singleShot(kSettleMs, owner, [owner] {
                if (owner && owner->isVisible() && QApplication::activeModalWidget() == nullptr)
                    owner->activateWindow();
            });
        }
        return false;
    }
};

}  // namespace

QtamApp::QtamApp(const std::string& commandLineSong, const std::string& configPath,
                 StandIns standIns)
    : m_(std::make_unique<Machine>()),
      pump_(events_),
      playback_(*m_, events_),
      edits_(*m_),
      songState_(edits_),
      transport_(*m_, playback_, edits_),
      playbackState_(transport_),
      config_(configPath),
      ctx_{.m = *m_,
           .events = events_,
           .playback = playback_,
           .playbackState = playbackState_,
           .dialogs = standIns.dialogs ? *standIns.dialogs : dialogs_,
           .device = device_,
           .edits = edits_,
           .songState = songState_,
           .transport = transport_} {
    m_->prompter = standIns.prompter ? standIns.prompter : &prompter_;
    // Closing the main window ends the program, whatever other windows show.
    QApplication::setQuitOnLastWindowClosed(false);

    // The windows in their fixed order; each is created once and only hidden and shown.
    // Every other window belongs to the window that opens it, and so, in the end, to the main
    // window: the desktop keeps each one above its owner (and not above other programs), and
    // a dialog opens over its owner. The main window's own window exists first, so that the
    // others are made its transients even when they show before it.
    mainWindow_ = std::make_unique<MainWindow>(ctx_, config_, commandLineSong);
    QWidget* main = mainWindow_.get();
    main->winId();
    prompter_.SetFallbackParent(main);
    dialogs_.SetFallbackParent(main);
    aboutBox_ = std::make_unique<AboutBox>(main);
    bankEditor_ = std::make_unique<BankEditor>(ctx_, main);
    panel_ = std::make_unique<GroovePanel>(ctx_, main);
    songInfo_ = std::make_unique<SongInfoWindow>(ctx_, main);
    noteDetails_ = std::make_unique<NoteDetailsDialog>(ctx_, panel_.get());
    instrumentDialog_ = std::make_unique<InstrumentDialog>(ctx_, panel_.get());
    renderDialog_ = std::make_unique<RenderDialog>(ctx_, main);
    valueDialog_ = std::make_unique<ValueDialog>(ctx_, panel_.get());
    hihatDialog_ = std::make_unique<HihatDialog>(ctx_, bankEditor_.get());
    slideDialog_ = std::make_unique<SlideDialog>(ctx_, main);
    deviceSetup_ = std::make_unique<DeviceSetupDialog>(ctx_, main);
    midiSetup_ = std::make_unique<MidiSetupDialog>(ctx_, main);
    grid_ = std::make_unique<PatternGrid>(ctx_, main);
    arrangement_ = std::make_unique<ArrangementWindow>(ctx_, main);
    ConnectWindows();
}

void QtamApp::ConnectWindows() {
    MainWindow* main = mainWindow_.get();
    GroovePanel* panel = panel_.get();
    BankEditor* editor = bankEditor_.get();
    SongInfoWindow* songInfo = songInfo_.get();

    // The menu shortcuts also work while the panel is the active window (not inside dialogs).
    panel->addActions(main->ShortcutActions());

    // The main window's menus open the other windows. Edits reach every window through the
    // edit layer's notices (songState), not through the windows.
    QObject::connect(main, &MainWindow::songInfoRequested, songInfo, &SongInfoWindow::ShowEdit);
    QObject::connect(main, &MainWindow::songIntroductionRequested, songInfo,
                     &SongInfoWindow::ShowView);
    QObject::connect(main, &MainWindow::renderRequested, renderDialog_.get(),
                     &RenderDialog::ShowStreamToDisk);
    QObject::connect(main, &MainWindow::velocitySlideRequested, slideDialog_.get(),
                     [this] { slideDialog_->RunSlide(SlideField::Velocity); });
    QObject::connect(main, &MainWindow::panSlideRequested, slideDialog_.get(),
                     [this] { slideDialog_->RunSlide(SlideField::Pan); });
    QObject::connect(main, &MainWindow::deviceSetupRequested, deviceSetup_.get(),
                     &DeviceSetupDialog::RunSetup);
    QObject::connect(main, &MainWindow::midiSetupRequested, midiSetup_.get(),
                     &MidiSetupDialog::RunSetup);
    QObject::connect(main, &MainWindow::bankEditorRequested, editor, &BankEditor::OpenEditor);
    main->CloseBankEditor = [editor] { return editor->CloseEditor(); };
    main->SetAboutBox(aboutBox_.get());

    // The splash going away starts the light show (once) and shows the information of a
    // command-line song that asks for it.
    QObject::connect(aboutBox_.get(), &AboutBox::wentAway, panel, [this, main, songInfo, panel] {
        if (main->LoadedFromCommandLine && m_->song.showInfoOnOpen == 1) songInfo->ShowView();
        panel->StartLightShow();
    });

    // The panel's controls open the dialogs; the panel's activation sends the splash away.
    QObject::connect(panel, &GroovePanel::noteDetailsRequested, noteDetails_.get(),
                     &NoteDetailsDialog::ShowDetails);
    QObject::connect(panel, &GroovePanel::tempoEntryRequested, valueDialog_.get(),
                     qOverload<>(&ValueDialog::EnterTempo));
    QObject::connect(panel, &GroovePanel::shuffleEntryRequested, valueDialog_.get(),
                     qOverload<>(&ValueDialog::EnterShuffle));
    QObject::connect(panel, &GroovePanel::instrumentChoiceRequested, instrumentDialog_.get(),
                     &InstrumentDialog::ShowForCurrentChannel);
    QObject::connect(panel, &GroovePanel::activated, aboutBox_.get(), &AboutBox::GoAway);

    // The userbank editor takes the panel's place while it is open.
    editor->SetHihatDialog(hihatDialog_.get());
    QObject::connect(editor, &BankEditor::opening, panel, &QWidget::hide);
    QObject::connect(editor, &BankEditor::closing, panel, &QWidget::show);
    QObject::connect(editor, &BankEditor::menusChanged, main, &MainWindow::UpdateMenus);
    QObject::connect(editor, &BankEditor::closed, panel, [main, panel] {
        main->UpdateMenus();
        panel->RefreshFromSong();
    });

    // The device setup must not be covered by the windows that stay on top.
    deviceSetup_->HideWhileRunning({panel, editor});

    auto* handBack = new KeyboardHandBack(main);
    for (QWidget* w : std::initializer_list<QWidget*>{
             noteDetails_.get(), instrumentDialog_.get(), valueDialog_.get(), hihatDialog_.get(),
             slideDialog_.get(), renderDialog_.get(), deviceSetup_.get(), midiSetup_.get(),
             songInfo})
        w->installEventFilter(handBack);

    // Titles are shown whole in the title bar (the value dialog's prompt is wider than its
    // title; the panel and the about box are pictures of a fixed size).
    for (QWidget* w : std::initializer_list<QWidget*>{
             editor, songInfo, noteDetails_.get(), instrumentDialog_.get(), renderDialog_.get(),
             hihatDialog_.get(), slideDialog_.get(), deviceSetup_.get(), midiSetup_.get()})
        KeepTitleVisible(*w);

    // A live recording armed or finished in the render dialog shows in the panel's caption.
    QObject::connect(renderDialog_.get(), &RenderDialog::recordingChanged, panel,
                     &GroovePanel::ShowCaption);

    // A minimised or hidden panel comes back from the main window: from its menu, and when
    // the main window is clicked into.
    QObject::connect(main, &MainWindow::groovePanelRequested, panel, [this] { ShowGroovePanel(); });

    // The pattern grid: its light is the panel's, its note details the panel's dialog, and the
    // menu shortcuts work there too.
    PatternGrid* grid = grid_.get();
    grid->addActions(main->ShortcutActions());
    QObject::connect(main, &MainWindow::patternGridRequested, grid, &PatternGrid::ShowGrid);
    QObject::connect(panel, &GroovePanel::heardChanged, grid, &PatternGrid::ShowHeard);
    QObject::connect(grid, &PatternGrid::noteDetailsRequested, noteDetails_.get(),
                     &NoteDetailsDialog::ShowDetails);
    KeepTitleVisible(*grid);

    // The arrangement window: the entry heard lit.
    ArrangementWindow* arrangement = arrangement_.get();
    arrangement->addActions(main->ShortcutActions());
    QObject::connect(main, &MainWindow::arrangementRequested, arrangement,
                     &ArrangementWindow::ShowArrangement);
    QObject::connect(panel, &GroovePanel::heardChanged, arrangement, &ArrangementWindow::ShowHeard);
    arrangement->playFromEntry = [this](int entry) { PlayFromEntry(entry); };
    KeepTitleVisible(*arrangement);
    QObject::connect(main, &MainWindow::activated, panel, [this, main, panel] {
        if (panel->isVisible() && panel->isMinimized()) panel->showNormal();
        // The windows that belong to the main window stay above it when it is clicked into
        // (some window managers raise the clicked window over its own tool windows); they are
        // raised, not activated, so the keyboard stays with the main window.
        // Owners before the windows they own, so that a dialog of the panel ends above the panel.
        std::vector<std::pair<int, QWidget*>> owned;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (w == main || !w->isVisible() || w->isMinimized() || w->windowType() == Qt::Popup ||
                w->parentWidget() == nullptr)
                continue;
            int depth = 0;
            for (QWidget* o = w->parentWidget(); o != nullptr; o = o->parentWidget()) ++depth;
            owned.emplace_back(depth, w);
        }
        std::stable_sort(owned.begin(), owned.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (const auto& [depth, w] : owned) w->raise();
    });
}

void QtamApp::PlayFromEntry(int entry) {
    // Song mode: stopped, playback starts at the entry; playing, it follows the measure playing.
    transport_.SetSongMode(true);
    transport_.PlayEntry(entry);
}

void QtamApp::ShowGroovePanel() {
    // While the userbank editor is open it has the panel's place.
    QWidget* window = m_->activation.EditorActive ? static_cast<QWidget*>(bankEditor_.get())
                                                  : static_cast<QWidget*>(panel_.get());
    window->showNormal();
    window->raise();
    window->activateWindow();
}

QtamApp::~QtamApp() {
    if (m_->Playing) playback_.StopPlaying();
    playback_.CloseDevice();
    // The windows go in the reverse order of their creation (the members' order).
}

void QtamApp::ShowAtStart() {
    panel_->show();
    // The grid as it was left: where it was, open or not.
    const ConfigSettings& s = config_.settings;
    if (s.GridWidth > 0 && s.GridHeight > 0) {
        grid_->resize(std::clamp(s.GridWidth, 160, 16384), std::clamp(s.GridHeight, 120, 16384));
        grid_->move(s.GridPosX, s.GridPosY);
    }
    if (s.GridShown != 0) grid_->show();
    if (s.ArrangementWidth > 0 && s.ArrangementHeight > 0) {
        arrangement_->resize(std::clamp(s.ArrangementWidth, 160, 16384),
                             std::clamp(s.ArrangementHeight, 120, 16384));
        arrangement_->move(s.ArrangementPosX, s.ArrangementPosY);
    }
    if (s.ArrangementShown != 0) arrangement_->show();
    aboutBox_->ShowAsSplash();
    mainWindow_->ShowAtStart();
    // The panel lies below the main window's menu bar, which it would otherwise cover (where
    // the menu bar is on the screen is known once the window manager has framed the window).
    WaitUntilExposed(*mainWindow_, 1000);
    const QMenuBar* bar = mainWindow_->menuBar();
    PlaceBelow(*panel_, QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size()));
    // The panel and the splash stay above the main window, also where no window manager keeps
    // transient windows up.
    panel_->raise();
    aboutBox_->raise();
}

void QtamApp::QuitNow() {
    quitRequested_ = true;
    QCoreApplication::exit(0);
}

int QtamApp::Exec() {
    QObject::connect(mainWindow_.get(), &MainWindow::LoopEnds, [] { QCoreApplication::exit(0); });
    const int code = quitRequested_ ? 0 : QApplication::exec();
    Exit();
    return code;
}

void QtamApp::Exit() {
    if (exited_) return;
    exited_ = true;
    if (m_->Playing) playback_.StopPlaying();
    playback_.CloseDevice();
    ConfigSettings& s = config_.settings;
    s.GridShown = grid_->isVisible() ? 1 : 0;
    s.GridPosX = grid_->x();
    s.GridPosY = grid_->y();
    s.GridWidth = grid_->width();
    s.GridHeight = grid_->height();
    s.ArrangementShown = arrangement_->isVisible() ? 1 : 0;
    s.ArrangementPosX = arrangement_->x();
    s.ArrangementPosY = arrangement_->y();
    s.ArrangementWidth = arrangement_->width();
    s.ArrangementHeight = arrangement_->height();
    mainWindow_->SaveConfigurationAtExit();
}

}  // namespace qtam
