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
#include "ui/main_window/main_window.h"
#include "ui/pattern_grid/pattern_grid.h"
#include "ui/qt/desktop_conventions.h"
#include "ui/qt/keyboard_return.h"
#include "ui/qt/window_placement.h"

namespace qtam {

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
    ReturnKeyboardAfterDialogs();
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
    QObject::connect(panel, &GroovePanel::noteDetailsRequested, noteDetails_.get(), [this, panel] {
        MakeTransientFor(*noteDetails_, *panel);
        noteDetails_->ShowDetails();
    });
    QObject::connect(panel, &GroovePanel::tempoEntryRequested, valueDialog_.get(),
                     qOverload<>(&ValueDialog::EnterTempo));
    QObject::connect(panel, &GroovePanel::shuffleEntryRequested, valueDialog_.get(),
                     qOverload<>(&ValueDialog::EnterShuffle));
    QObject::connect(panel, &GroovePanel::instrumentChoiceRequested, instrumentDialog_.get(),
                     &InstrumentDialog::ShowForCurrentChannel);
    QObject::connect(panel, &GroovePanel::activated, aboutBox_.get(), &AboutBox::GoAway);
    // The panel's Tap key taps as Various > Tap tempo does, and is lit while a tapping goes on.
    QObject::connect(panel, &GroovePanel::tapRequested, main, &MainWindow::Tap);
    QObject::connect(&playbackState_, &PlaybackNotifier::stateChanged, panel,
                     [this, panel] { panel->ShowTapping(transport_.Tapping()); });

    // The main window's shortcuts work in the userbank editor too, but for the keys the editor
    // has for itself (Ctrl+S there saves the bank, not the song).
    QList<QKeySequence> editorKeys;
    for (const QAction* a : editor->findChildren<QAction*>())
        if (!a->shortcut().isEmpty()) editorKeys << a->shortcut();
    for (QAction* a : main->ShortcutActions())
        if (!editorKeys.contains(a->shortcut())) editor->addAction(a);

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
    QObject::connect(grid, &PatternGrid::noteDetailsRequested, noteDetails_.get(), [this, grid] {
        // It belongs to the window it was opened from, and returns there.
        MakeTransientFor(*noteDetails_, *grid);
        noteDetails_->ShowDetails();
    });
    QObject::connect(grid, &PatternGrid::instrumentChoiceRequested, instrumentDialog_.get(),
                     &InstrumentDialog::ShowForCurrentChannel);
    KeepTitleVisible(*grid);

    // The arrangement window: the entry heard lit.
    ArrangementWindow* arrangement = arrangement_.get();
    arrangement->addActions(main->ShortcutActions());
    QObject::connect(main, &MainWindow::arrangementRequested, arrangement,
                     &ArrangementWindow::ShowArrangement);
    QObject::connect(panel, &GroovePanel::heardChanged, arrangement, &ArrangementWindow::ShowHeard);
    arrangement->playFromEntry = [this](int entry) { PlayFromEntry(entry); };
    KeepTitleVisible(*arrangement);
    // A minimised panel comes back when the main window is clicked into. Keeping it above the
    // main window is the window manager's work: the panel is the main window's transient.
    QObject::connect(main, &MainWindow::activated, panel, [panel] {
        if (panel->isVisible() && panel->isMinimized()) panel->showNormal();
    });
    // The places are taken before the closing main window hides the others.
    QObject::connect(main, &MainWindow::LoopEnds, main, [this] { TakeWindowPlaces(); });
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
    // The main window is on the screen before the windows it owns: a window manager makes a
    // window the transient of its owner only when it knows the owner as it maps the window
    // (openbox never looks again), and keeps only its transients above it.
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
    // The grid as it was left: where it was, open or not.
    if (s.GridWidth > 0 && s.GridHeight > 0) {
        grid_->resize(std::clamp(s.GridWidth, 160, 16384), std::clamp(s.GridHeight, 120, 16384));
        grid_->move(s.GridPosX, s.GridPosY);
    }
    KeepOnScreen(*grid_);
    if (s.GridShown != 0) {
        grid_->show();
        KeepOnScreen(*grid_);  // again with its frame, known once it shows
    }
    if (s.ArrangementWidth > 0 && s.ArrangementHeight > 0) {
        arrangement_->resize(std::clamp(s.ArrangementWidth, 160, 16384),
                             std::clamp(s.ArrangementHeight, 120, 16384));
        arrangement_->move(s.ArrangementPosX, s.ArrangementPosY);
    }
    KeepOnScreen(*arrangement_);
    if (s.ArrangementShown != 0) {
        arrangement_->show();
        KeepOnScreen(*arrangement_);
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
    s.GridShown = grid_->isVisible() ? 1 : 0;
    s.GridPosX = grid_->x();
    s.GridPosY = grid_->y();
    s.GridWidth = grid_->width();
    s.GridHeight = grid_->height();
    // The userbank editor in its place leaves the panel where it was.
    s.PanelPosX = panel_->x();
    s.PanelPosY = panel_->y();
    s.ArrangementShown = arrangement_->isVisible() ? 1 : 0;
    s.ArrangementPosX = arrangement_->x();
    s.ArrangementPosY = arrangement_->y();
    s.ArrangementWidth = arrangement_->width();
    s.ArrangementHeight = arrangement_->height();
}

}  // namespace qtam
