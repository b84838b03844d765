#include "ui/app/application.h"

#include <QAction>
#include <QApplication>
#include <QKeySequence>
#include <QList>
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
#include "ui/groove_panel/play_lights.h"
#include "ui/main_window/main_window.h"
#include "ui/pattern_grid/pattern_grid.h"
#include "ui/qt/desktop_conventions.h"
#include "ui/qt/keyboard_return.h"
#include "ui/qt/window_placement.h"

namespace qtam {

namespace {

// A dialog made the first time it is needed, over `owner`, its whole title shown.
template <typename Dialog>
Dialog& MadeOnce(std::unique_ptr<Dialog>& dialog, AppContext& ctx, QWidget* owner) {
    if (dialog == nullptr) {
        dialog = std::make_unique<Dialog>(ctx, owner);
        KeepTitleVisible(*dialog);
    }
    return *dialog;
}

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

    // Each window is created once and only hidden and shown. Every other window belongs to
    // the window that opens it, and so, in the end, to the main window: the desktop keeps each
    // one above its owner (and not above other programs), and a dialog opens over its owner.
    // The main window's own window exists first, so that the others are made its transients
    // even when they show before it. A start makes only the windows it shows; the others are
    // made the first time they are needed (their accessors below).
    mainWindow_ = std::make_unique<MainWindow>(ctx_, config_, commandLineSong);
    QWidget* main = mainWindow_.get();
    main->winId();
    ReturnKeyboardAfterDialogs();
    prompter_.SetFallbackParent(main);
    dialogs_.SetFallbackParent(main);
    aboutBox_ = std::make_unique<AboutBox>(main);
    panel_ = std::make_unique<GroovePanel>(ctx_, main);
    ConnectWindows();
}

void QtamApp::ConnectWindows() {
    MainWindow* main = mainWindow_.get();
    GroovePanel* panel = panel_.get();

    // The menu shortcuts also work while the panel is the active window (not inside dialogs).
    panel->addActions(main->ShortcutActions());

    // The main window's menus open the other windows. Edits reach every window through the
    // edit layer's notices (songState), not through the windows.
    QObject::connect(main, &MainWindow::songInfoRequested, main, [this] { songInfo().ShowEdit(); });
    QObject::connect(main, &MainWindow::songIntroductionRequested, main,
                     [this] { songInfo().ShowView(); });
    QObject::connect(main, &MainWindow::renderRequested, main,
                     [this] { renderDialog().ShowStreamToDisk(); });
    QObject::connect(main, &MainWindow::velocitySlideRequested, main,
                     [this] { slideDialog().RunSlide(SlideField::Velocity); });
    QObject::connect(main, &MainWindow::panSlideRequested, main,
                     [this] { slideDialog().RunSlide(SlideField::Pan); });
    QObject::connect(main, &MainWindow::deviceSetupRequested, main, [this] {
        // It must not be covered by the windows that stay on top.
        deviceSetup().HideWhileRunning({panel_.get(), bankEditor_.get()});
        deviceSetup().RunSetup();
    });
    QObject::connect(main, &MainWindow::midiSetupRequested, main,
                     [this] { midiSetup().RunSetup(); });
    QObject::connect(main, &MainWindow::bankEditorRequested, main,
                     [this] { bankEditor().OpenEditor(); });
    // An editor never made has nothing to close.
    main->CloseBankEditor = [this] { return bankEditor_ == nullptr || bankEditor_->CloseEditor(); };
    main->SetAboutBox(aboutBox_.get());

    // The splash going away starts the light show (once) and shows the information of a
    // command-line song that asks for it.
    QObject::connect(aboutBox_.get(), &AboutBox::wentAway, panel, [this, main, panel] {
        if (main->LoadedFromCommandLine && m_->song.showInfoOnOpen == 1) songInfo().ShowView();
        panel->StartLightShow();
    });

    // The panel's controls open the dialogs; the panel's activation sends the splash away.
    QObject::connect(panel, &GroovePanel::noteDetailsRequested, panel, [this, panel] {
        MakeTransientFor(noteDetails(), *panel);
        noteDetails().ShowDetails();
    });
    QObject::connect(panel, &GroovePanel::tempoEntryRequested, panel,
                     [this] { valueDialog().EnterTempo(); });
    QObject::connect(panel, &GroovePanel::shuffleEntryRequested, panel,
                     [this] { valueDialog().EnterShuffle(); });
    QObject::connect(panel, &GroovePanel::instrumentChoiceRequested, panel,
                     [this] { instrumentDialog().ShowForCurrentChannel(); });
    QObject::connect(panel, &GroovePanel::activated, aboutBox_.get(), &AboutBox::GoAway);
    // The panel's Tap key taps as Various > Tap tempo does, and is lit while a tapping goes on.
    QObject::connect(panel, &GroovePanel::tapRequested, main, &MainWindow::Tap);
    QObject::connect(&playbackState_, &PlaybackNotifier::stateChanged, panel,
                     [this, panel] { panel->ShowTapping(transport_.Tapping()); });

    // A minimised or hidden panel comes back from the main window: from its menu, and when
    // the main window is clicked into.
    QObject::connect(main, &MainWindow::groovePanelRequested, panel, [this] { ShowGroovePanel(); });
    QObject::connect(main, &MainWindow::patternGridRequested, main, [this] { grid().ShowGrid(); });
    QObject::connect(main, &MainWindow::arrangementRequested, main,
                     [this] { arrangementWindow().ShowArrangement(); });
    // A minimised panel comes back when the main window is clicked into. Keeping it above the
    // main window is the window manager's work: the panel is the main window's transient.
    QObject::connect(main, &MainWindow::activated, panel, [panel] {
        if (panel->isVisible() && panel->isMinimized()) panel->showNormal();
    });
    // The places are taken before the closing main window hides the others.
    QObject::connect(main, &MainWindow::LoopEnds, main, [this] { TakeWindowPlaces(); });
}

BankEditor& QtamApp::bankEditor() {
    if (bankEditor_ != nullptr) return *bankEditor_;
    MainWindow* main = mainWindow_.get();
    GroovePanel* panel = panel_.get();
    bankEditor_ = std::make_unique<BankEditor>(ctx_, main);
    BankEditor* editor = bankEditor_.get();
    hihatDialog_ = std::make_unique<HihatDialog>(ctx_, editor);
    KeepTitleVisible(*hihatDialog_);
    editor->SetHihatDialog(hihatDialog_.get());
    KeepTitleVisible(*editor);

    // The main window's shortcuts work in the userbank editor too, but for the keys the editor
    // has for itself (Ctrl+S there saves the bank, not the song).
    QList<QKeySequence> editorKeys;
    for (const QAction* a : editor->findChildren<QAction*>())
        if (!a->shortcut().isEmpty()) editorKeys << a->shortcut();
    for (QAction* a : main->ShortcutActions())
        if (!editorKeys.contains(a->shortcut())) editor->addAction(a);

    // The userbank editor takes the panel's place while it is open.
    QObject::connect(editor, &BankEditor::opening, panel, &QWidget::hide);
    QObject::connect(editor, &BankEditor::closing, panel, &QWidget::show);
    QObject::connect(editor, &BankEditor::menusChanged, main, &MainWindow::UpdateMenus);
    QObject::connect(editor, &BankEditor::closed, panel, [main, panel] {
        main->UpdateMenus();
        panel->RefreshFromSong();
    });
    return *editor;
}

HihatDialog& QtamApp::hihatDialog() {
    bankEditor();  // the dialog is the editor's, made with it
    return *hihatDialog_;
}

PatternGrid& QtamApp::grid() {
    if (grid_ != nullptr) return *grid_;
    MainWindow* main = mainWindow_.get();
    GroovePanel* panel = panel_.get();
    grid_ = std::make_unique<PatternGrid>(ctx_, main);
    PatternGrid* grid = grid_.get();
    // Its light is the panel's, its note details the panel's dialog, and the menu shortcuts
    // work there too.
    grid->addActions(main->ShortcutActions());
    grid->ShowHeard(panel->Lights().Shown());
    QObject::connect(panel, &GroovePanel::heardChanged, grid, &PatternGrid::ShowHeard);
    QObject::connect(grid, &PatternGrid::noteDetailsRequested, grid, [this, grid] {
        // It belongs to the window it was opened from, and returns there.
        MakeTransientFor(noteDetails(), *grid);
        noteDetails().ShowDetails();
    });
    QObject::connect(grid, &PatternGrid::instrumentChoiceRequested, grid,
                     [this] { instrumentDialog().ShowForCurrentChannel(); });
    KeepTitleVisible(*grid);
    const ConfigSettings& s = config_.settings;
    PlaceAsLeft(*grid, QRect(s.GridPosX, s.GridPosY, s.GridWidth, s.GridHeight));
    return *grid;
}

ArrangementWindow& QtamApp::arrangementWindow() {
    if (arrangement_ != nullptr) return *arrangement_;
    MainWindow* main = mainWindow_.get();
    GroovePanel* panel = panel_.get();
    arrangement_ = std::make_unique<ArrangementWindow>(ctx_, main);
    ArrangementWindow* arrangement = arrangement_.get();
    // The entry heard lit; Enter or a double click plays from an entry.
    arrangement->addActions(main->ShortcutActions());
    arrangement->ShowHeard(panel->Lights().Shown());
    QObject::connect(panel, &GroovePanel::heardChanged, arrangement, &ArrangementWindow::ShowHeard);
    arrangement->playFromEntry = [this](int entry) { PlayFromEntry(entry); };
    KeepTitleVisible(*arrangement);
    const ConfigSettings& s = config_.settings;
    PlaceAsLeft(*arrangement, QRect(s.ArrangementPosX, s.ArrangementPosY, s.ArrangementWidth,
                                    s.ArrangementHeight));
    return *arrangement;
}

void QtamApp::PlaceAsLeft(QWidget& window, const QRect& left) const {
    // Only once the program shows its windows: a picture drawn without a display keeps the
    // window's own size.
    if (!started_) return;
    if (left.width() > 0 && left.height() > 0) {
        window.resize(std::clamp(left.width(), 160, 16384), std::clamp(left.height(), 120, 16384));
        window.move(left.topLeft());
    }
    KeepOnScreen(window);
}

SongInfoWindow& QtamApp::songInfo() {
    return MadeOnce(songInfo_, ctx_, mainWindow_.get());
}

NoteDetailsDialog& QtamApp::noteDetails() {
    return MadeOnce(noteDetails_, ctx_, panel_.get());
}

InstrumentDialog& QtamApp::instrumentDialog() {
    return MadeOnce(instrumentDialog_, ctx_, panel_.get());
}

RenderDialog& QtamApp::renderDialog() {
    const bool made = renderDialog_ != nullptr;
    RenderDialog& dialog = MadeOnce(renderDialog_, ctx_, mainWindow_.get());
    // A live recording armed or finished here shows in the panel's caption.
    if (!made)
        QObject::connect(&dialog, &RenderDialog::recordingChanged, panel_.get(),
                         &GroovePanel::ShowCaption);
    return dialog;
}

ValueDialog& QtamApp::valueDialog() {
    // Its title stays as it is: the prompt is wider.
    if (valueDialog_ == nullptr) valueDialog_ = std::make_unique<ValueDialog>(ctx_, panel_.get());
    return *valueDialog_;
}

SlideDialog& QtamApp::slideDialog() {
    return MadeOnce(slideDialog_, ctx_, mainWindow_.get());
}

DeviceSetupDialog& QtamApp::deviceSetup() {
    return MadeOnce(deviceSetup_, ctx_, mainWindow_.get());
}

MidiSetupDialog& QtamApp::midiSetup() {
    return MadeOnce(midiSetup_, ctx_, mainWindow_.get());
}

void QtamApp::PlayFromEntry(int entry) {
    // Song mode: stopped, playback starts at the entry; playing, it follows the measure playing.
    transport_.SetSongMode(true);
    transport_.PlayEntry(entry);
}

void QtamApp::ShowGroovePanel() {
    // While the userbank editor is open it has the panel's place.
    QWidget* window = m_->activation.EditorActive ? static_cast<QWidget*>(&bankEditor())
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
    // The main window is on the screen before the windows it owns: a window manager makes a
    // window the transient of its owner only when it knows the owner as it maps the window
    // (openbox never looks again), and keeps only its transients above it.
    started_ = true;
    mainWindow_->ShowAtStart();
    WaitUntilExposed(*mainWindow_, 1000);
    const ConfigSettings& s = config_.settings;
    // The panel where it was left; the first time below the main window's menu bar, which it
    // would otherwise cover (where the menu bar is shows once the main window is framed). It is
    // placed before it shows, so that it does not jump.
    if (s.PanelPlaced) {
        panel_->move(s.PanelPosX, s.PanelPosY);
    } else {
        const QMenuBar* bar = mainWindow_->menuBar();
        PlaceBelow(*panel_, QRect(bar->mapToGlobal(QPoint(0, 0)), bar->size()));
    }
    KeepOnScreen(*panel_);
    panel_->show();
    // The panel has the keyboard, as after "&Groove panel"; its activation ends the splash.
    panel_->activateWindow();
    // The grid and the arrangement window as they were left, where they were.
    if (s.GridShown != 0) {
        PatternGrid& g = grid();
        g.show();
        KeepOnScreen(g);  // again with its frame, known once it shows
    }
    if (s.ArrangementShown != 0) {
        ArrangementWindow& a = arrangementWindow();
        a.show();
        KeepOnScreen(a);
    }
    aboutBox_->ShowAsSplash();
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
    TakeWindowPlaces();
    mainWindow_->SaveConfigurationAtExit();
}

void QtamApp::TakeWindowPlaces() {
    if (placesTaken_) return;
    placesTaken_ = true;
    ConfigSettings& s = config_.settings;
    // The userbank editor in its place leaves the panel where it was.
    s.PanelPosX = panel_->x();
    s.PanelPosY = panel_->y();
    if (grid_ != nullptr) {
        s.GridShown = grid_->isVisible() ? 1 : 0;
        s.GridPosX = grid_->x();
        s.GridPosY = grid_->y();
        s.GridWidth = grid_->width();
        s.GridHeight = grid_->height();
    }
    if (arrangement_ != nullptr) {
        s.ArrangementShown = arrangement_->isVisible() ? 1 : 0;
        s.ArrangementPosX = arrangement_->x();
        s.ArrangementPosY = arrangement_->y();
        s.ArrangementWidth = arrangement_->width();
        s.ArrangementHeight = arrangement_->height();
    }
}

}  // namespace qtam
