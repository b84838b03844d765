// The program as a whole: start-up with its configuration and command-line song, the main
// window's menus, the questions before a changed Song is lost, quitting, and the space bar.

#include "ui/main_window/main_window.h"

#include <sys/stat.h>

#include <QAction>
#include <QActionGroup>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <filesystem>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/config.h"
#include "core/machine.h"
#include "core/messages.h"
#include "dialog_test_app.h"
#include "menu_item.h"
#include "song/midi_export.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/bank_editor/bank_editor.h"
#include "ui/dialogs/about_box.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/qt/text.h"
#include "ui/services/song_notifier.h"
#include "ui/services/window_captions.h"

using namespace qtam;

namespace {

// The menu bar as text: one line per item, nested items indented, "-" for a separator,
// shortcuts in brackets, "(hidden)", "(off)" and "(checked)" where they apply.
void Describe(const QList<QAction*>& actions, const QString& indent, QStringList& out) {
    for (QAction* a : actions) {
        if (a->isSeparator()) {
            out << indent + "-";
            continue;
        }
        QString line = indent + a->text();
        if (!a->shortcut().isEmpty()) line += " [" + a->shortcut().toString() + "]";
        if (!a->isVisible()) line += " (hidden)";
        if (!a->isEnabled()) line += " (off)";
        if (a->isChecked()) line += " (checked)";
        out << line;
        if (a->menu() != nullptr) Describe(a->menu()->actions(), indent + "  ", out);
    }
}

// A key of the keyboard, as the window system delivers it, at `time` milliseconds.
void Key(QWidget* w, QEvent::Type type, Qt::Key key, quint64 time, bool autoRepeat = false) {
    QKeyEvent e(type, key, Qt::NoModifier, key == Qt::Key_Space ? " " : "", autoRepeat);
    e.setTimestamp(time);
    QApplication::sendEvent(w, &e);
}

// Takes a signal of the main window away from the window it opens, to count it instead.
template <class Signal>
void Intercept(MainWindow* w, Signal signal, std::function<void()> instead) {
    QObject::disconnect(w, signal, nullptr, nullptr);
    QObject::connect(w, signal, std::move(instead));
}

// Drags `urls` over the window's middle and drops them there, as a file manager does: the
// events go to the widget at that point. True when the drag was accepted.
bool DropOnto(QWidget* window, const QList<QUrl>& urls) {
    const QPoint middle(window->width() / 2, window->height() / 2);
    QWidget* target = window->childAt(middle);
    if (target == nullptr) target = window;
    const QPoint at = target->mapFrom(window, middle);
    QMimeData data;
    data.setUrls(urls);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &enter);
    if (!enter.isAccepted()) return false;
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(target, &drop);
    return drop.isAccepted();
}

QUrl FileUrl(const std::string& path) {
    return QUrl::fromLocalFile(QString::fromStdString(path));
}

}  // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> dir;
    test::ScriptedPrompter prompter;
    test::ScriptedFileDialogs dialogs;

    std::unique_ptr<QtamApp> Start(const std::string& song = {}) {
        return std::make_unique<QtamApp>(song, ConfigPath(), StandIns{&prompter, &dialogs});
    }
    std::string ConfigPath() const { return *dir / "cfg/QTam.ini"; }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<test::TempFolder>();
        prompter = {};
        dialogs = {};
    }
    void cleanup() { dir.reset(); }

    void menuTreeAtStartUp() {
        auto app = Start();
        QStringList tree;
        Describe(app->mainWindow().menuBar()->actions(), "", tree);
        const QStringList expected = {
            "&File",
            "  &New song [Ctrl+N]",
            "  &Open song… [Ctrl+O]",
            "  &Recent songs",
            "  -",
            "  &Save song [Ctrl+S]",
            "  Save song &as…",
            "  -",
            "  Song &info…",
            "  -",
            "  S&tream to disk…",
            "  &Export MIDI file…",
            "  -",
            "  &Quit [Ctrl+Q]",
            "&Edit",
            "  &Undo [Ctrl+Z] (off)",
            "  &Redo [Ctrl+Shift+Z] (off)",
            "  -",
            "  &Copy",
            "    &Channel [Ctrl+C]",
            "    &Measure [Ctrl+D]",
            "    &Pattern",
            "  &Paste [Ctrl+V] (off)",
            "  Paste &mix [Ctrl+M] (off)",
            "  -",
            "  C&hannel",
            "    Fade &in",
            "    Fade &out",
            "    Custom &velocity slide…",
            "    -",
            "    Pan &left to right",
            "    Pan &right to left",
            "    Pan &center",
            "    Pan ran&domly",
            "    Pan i&nverse",
            "    Custom &pan slide…",
            "    -",
            "    &Erase [Shift+Del]",
            "  M&easure",
            "    Fade &in",
            "    Fade &out",
            "    -",
            "    &Erase [Ctrl+Del]",
            "&Various",
            "  Apply &groove",
            "    &Chemical Beat",
            "    Clubby &Feeling",
            "    &Default",
            "    D&isco Fever",
            "    Drum 'n &Bass",
            "    &Euro Dance",
            "    F&unky Drummer",
            "    &Hard Trance",
            "    Hard &Step",
            "    Hiphop &1",
            "    Hiphop &2",
            "    I&ndustrial",
            "    &Jungle",
            "    &Latin Groove",
            "    &Pop Tune",
            "    &Random Chaos",
            "    Rap &Vibez",
            "    R&ave Nation",
            "    &Techno 1",
            "    Techn&o 2",
            "  -",
            "  1&6 step measure (checked)",
            "  1&2 step measure",
            "  -",
            "  &Humanize",
            "  -",
            "  &Sound device setup…",
            "  &MIDI setup…",
            "  &Record pads",
            "  -",
            "  Metro&nome [Ctrl+K]",
            "  Metronome &level",
            "    &25 %",
            "    &50 %",
            "    &70 % (checked)",
            "    &100 %",
            "  &Count in before Record pads (checked)",
            "  Count in before every s&tart",
            "  T&ap tempo [Ctrl+T]",
            "&Userbank :",
            "  &Load… [Ctrl+L]",
            "  -",
            "  &Editor [Ctrl+E]",
            "none loaded",
            "&Help (hidden) (off)",
            "  &About [F1]",
            "&Window",
            "  &Groove panel [Ctrl+G]",
            "  &Pattern grid [Ctrl+R]",
            "  &Arrangement [Ctrl+J]",
        };
        QCOMPARE(tree, expected);

        MainWindow* k = &app->mainWindow();
        QCOMPARE(k->windowTitle(), QString("Vediveve Duzuda Duvivir 1.0"));
        QCOMPARE(k->size(), QSize(644, 480));
        // Every shortcut item is offered to the panel, and the window itself carries them.
        QCOMPARE(k->ShortcutActions().size(), 20);
        for (QAction* a : k->ShortcutActions()) {
            QVERIFY(!a->shortcut().isEmpty());
            QVERIFY(k->actions().contains(a));
        }
    }

    // The menus change the Song and set off what other windows do.
    void menuItemsDoTheirWork() {
        auto app = Start();
        Machine& m = app->machine();
        QMenuBar* bar = app->mainWindow().menuBar();
        int refreshed = 0, songInfo = 0, stream = 0, device = 0, editor = 0, slides = 0;
        MainWindow* w = &app->mainWindow();
        QObject::connect(&app->context().songState, &SongNotifier::changed, [&] { ++refreshed; });
        Intercept(w, &MainWindow::songInfoRequested, [&] { ++songInfo; });
        Intercept(w, &MainWindow::renderRequested, [&] { ++stream; });
        Intercept(w, &MainWindow::deviceSetupRequested, [&] { ++device; });
        Intercept(w, &MainWindow::bankEditorRequested, [&] { ++editor; });
        Intercept(w, &MainWindow::velocitySlideRequested, [&] { ++slides; });
        Intercept(w, &MainWindow::panSlideRequested, [&] { slides += 10; });

        test::SetNote(m, 1, 1, 1, 3, 100);
        app->context().edits.TakeSong();  // as opened
        refreshed = 0;
        test::MenuItem(bar, {"&Edit", "&Copy", "&Channel"})->trigger();
        QVERIFY(test::MenuItem(bar, {"&Edit", "&Paste"})->isEnabled());
        QVERIFY(test::MenuItem(bar, {"&Edit", "Paste &mix"})->isEnabled());
        QVERIFY(!SongChanged(m));  // a copy changes nothing
        m.editor.CurrentChannel = 2;
        test::MenuItem(bar, {"&Edit", "&Paste"})->trigger();
        QCOMPARE(int(m.song.cell(1, 1, 2, 3).velocity), 100);
        QVERIFY(SongChanged(m));
        QCOMPARE(refreshed, 1);

        MarkSongSaved(m);
        test::MenuItem(bar, {"&Edit", "C&hannel", "Fade &in"})->trigger();
        QVERIFY(SongChanged(m));
        QCOMPARE(refreshed, 2);
        test::MenuItem(bar, {"&Edit", "C&hannel", "&Erase"})->trigger();
        QCOMPARE(int(m.song.cell(1, 1, 2, 3).velocity), -1);
        QCOMPARE(refreshed, 3);

        test::MenuItem(bar, {"&Various", "Apply &groove", "&Random Chaos"})->trigger();
        const int chaos = m.song.cell(1, 1, 1, 3).velocity;
        QVERIFY(chaos >= 27 && chaos <= 126);
        QCOMPARE(refreshed, 4);

        test::MenuItem(bar, {"&Various", "1&2 step measure"})->trigger();
        QCOMPARE(int(m.song.stepsPerMeasure), 12);
        QVERIFY(test::MenuItem(bar, {"&Various", "1&2 step measure"})->isChecked());
        QVERIFY(!test::MenuItem(bar, {"&Various", "1&6 step measure"})->isChecked());
        test::MenuItem(bar, {"&Various", "1&6 step measure"})->trigger();
        test::MenuItem(bar, {"&Various", "1&6 step measure"})->trigger();  // stays checked
        QCOMPARE(int(m.song.stepsPerMeasure), 16);
        QVERIFY(test::MenuItem(bar, {"&Various", "1&6 step measure"})->isChecked());

        test::MenuItem(bar, {"&Various", "&Humanize"})->trigger();
        QVERIFY(m.editor.HumanizeChecked);
        QCOMPARE(int(m.song.humanize), 1);
        QVERIFY(test::MenuItem(bar, {"&Various", "&Humanize"})->isChecked());

        test::MenuItem(bar, {"&File", "Song &info…"})->trigger();
        test::MenuItem(bar, {"&File", "S&tream to disk…"})->trigger();
        test::MenuItem(bar, {"&Various", "&Sound device setup…"})->trigger();
        test::MenuItem(bar, {"&Userbank :", "&Editor"})->trigger();
        test::MenuItem(bar, {"&Edit", "C&hannel", "Custom &velocity slide…"})->trigger();
        test::MenuItem(bar, {"&Edit", "C&hannel", "Custom &pan slide…"})->trigger();
        QCOMPARE(songInfo + stream + device + editor, 4);
        QCOMPARE(slides, 11);
    }

    // File > Export MIDI file writes the edited pattern as qtam-cli midi writes it, under the
    // name chosen (".mid" added), and asks before it replaces a file.
    void exportMidiWritesTheEditedPattern() {
        auto app = Start();
        Machine& m = app->machine();
        test::SetNote(m, 3, 1, 2, 5, 100, 64, false);
        m.song.measureCount[2] = 2;
        m.editor.CurrentPattern = 3;
        dialogs.answers = {*dir / "beat", *dir / "beat.mid"};
        QAction* item =
            test::MenuItem(app->mainWindow().menuBar(), {"&File", "&Export MIDI file…"});
        item->trigger();
        const std::vector<std::uint8_t> want = PatternAsMidi(m, 3);
        QCOMPARE(test::ReadBytes(*dir / "beat.mid"), want);
        QCOMPARE(dialogs.shown.back().defaultExtension, std::string("mid"));
        prompter.answers = {false};  // the second time the file exists: No keeps it
        m.song.measureCount[2] = 1;
        item->trigger();
        QCOMPARE(prompter.questions.back(), std::string(kMsgFileExists));
        QCOMPARE(test::ReadBytes(*dir / "beat.mid"), want);
    }

    // Closing or quitting with a userbank being edited: the editor asks first, and a save that
    // does not go through keeps the program and the edited bank.
    void closingKeepsAnEditedUserbank() {
        auto app = Start();
        Machine& m = app->machine();
        app->bankEditor().OpenEditor();
        QVERIFY(m.activation.EditorActive);
        m.activation.BankChanged = true;
        // Meanwhile no userbank is loaded over the one being edited.
        QAction* load = test::MenuItem(app->mainWindow().menuBar(), {"&Userbank :", "&Load…"});
        QVERIFY(!load->isEnabled());
        prompter.answers3 = {Answer::Yes,
                             Answer::Yes};  // save first; the save dialog is cancelled both times
        QVERIFY(!app->mainWindow().MayClose());
        app->mainWindow().Quit();
        QVERIFY(m.activation.EditorActive);
        QCOMPARE(prompter.questions.size(), std::size_t{2});
        prompter.answers3 = {Answer::No};  // No: the bank's changes go
        QVERIFY(app->mainWindow().MayClose());
        QVERIFY(!m.activation.EditorActive);
        QVERIFY(load->isEnabled());
    }

    // The menu's shortcuts reach the Song while the groove panel is the active window.
    void shortcutsFromThePanel() {
        auto app = Start();
        Machine& m = app->machine();
        QWidget* panel = &app->panel();
        panel->show();
        panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(panel));
        test::SetNote(m, 1, 1, 1, 3, 100);
        QTest::keyClick(panel, Qt::Key_C, Qt::ControlModifier);  // "Copy" > "Channel"
        QCOMPARE(int(m.editor.ClipboardKind), 1);
        m.editor.CurrentChannel = 2;
        QTest::keyClick(panel, Qt::Key_V, Qt::ControlModifier);  // "Paste"
        QCOMPARE(int(m.song.cell(1, 1, 2, 3).velocity), 100);
        panel->hide();
    }

    // Edits on the panel and from the menus are taken back and done again from the Edit menu and
    // with the keys in both windows; a drag is one edit; the changed mark follows the saved
    // state, and a new song starts with nothing to undo.
    void undoAndRedoFromTheMenuAndTheKeys() {
        auto app = Start();
        Machine& m = app->machine();
        MainWindow* main = &app->mainWindow();
        QMenuBar* bar = main->menuBar();
        const QList<QAction*> items = test::MenuItem(bar, {"&Edit"})->menu()->actions();
        QAction* undo = items[0];
        QAction* redo = items[1];
        QCOMPARE(undo->text(), QString("&Undo"));
        QCOMPARE(redo->shortcuts(),
                 QList<QKeySequence>({QKeySequence("Ctrl+Shift+Z"), QKeySequence("Ctrl+Y")}));

        GroovePanel* panel = &app->panel();
        panel->show();
        panel->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(panel));
        QWindow* window = panel->windowHandle();
        auto note = [&m] { return m.song.cell(1, 1, 1, 5).hasNote(); };
        const QPoint step = test::Part<SkinPicture>(*panel, "StepDark", 5)->geometry().center();
        QCOMPARE(panel->childAt(step),
                 static_cast<QWidget*>(test::Part<SkinPicture>(*panel, "StepDark", 5)));
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, step);
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, step);
        QVERIFY(note());
        QCOMPARE(undo->text(), QString("&Undo Toggle step 5"));
        QVERIFY(undo->isEnabled());
        QVERIFY(SongChanged(m));

        const int tempo = m.song.tempo;
        const QPoint grab = test::Child<SkinPicture>(*panel, "TempoSlider")->geometry().center();
        QCOMPARE(panel->childAt(grab),
                 static_cast<QWidget*>(test::Child<SkinPicture>(*panel, "TempoSlider")));
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, grab);
        for (int dx = 5; dx <= 40; dx += 5) QTest::mouseMove(window, grab + QPoint(dx, 0));
        QTest::mouseRelease(window, Qt::LeftButton, Qt::NoModifier, grab + QPoint(40, 0));
        const int dragged = m.song.tempo;
        QVERIFY(dragged > tempo);
        QCOMPARE(undo->text(), QString("&Undo Tempo"));

        QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);  // the whole drag at once
        QCOMPARE(int(m.song.tempo), tempo);
        QCOMPARE(test::Child<PanelLabel>(*panel, "TempoLabel")->text(), QString::number(tempo));
        QCOMPARE(redo->text(), QString("&Redo Tempo"));
        QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(!note());
        QVERIFY(test::Part<SkinPicture>(*panel, "StepDark", 5)->isVisible());
        QVERIFY(!SongChanged(m));
        QVERIFY(!undo->isEnabled());
        QCOMPARE(redo->text(), QString("&Redo Toggle step 5"));
        QTest::keyClick(panel, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(note());
        QTest::keyClick(panel, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(int(m.song.tempo), dragged);
        QVERIFY(!redo->isEnabled());
        panel->hide();

        // A menu edit, undone with the key in the main window and redone from the menu.
        test::MenuItem(bar, {"&Edit", "Channel", "Erase"})->trigger();
        QVERIFY(!note());
        QCOMPARE(undo->text(), QString("&Undo Erase channel"));
        main->show();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main));
        QTest::keyClick(main, Qt::Key_Z, Qt::ControlModifier);
        QVERIFY(note());
        redo->trigger();
        QVERIFY(!note());

        // Saved here: undoing away from it marks the Song changed, redoing back clears it.
        dialogs.answers.push_back(*dir / "take.sng");
        test::MenuItem(bar, {"&File", "Save song"})->trigger();
        QVERIFY(!SongChanged(m));
        undo->trigger();
        QVERIFY(SongChanged(m));
        QTest::keyClick(main, Qt::Key_Y, Qt::ControlModifier);
        QVERIFY(!SongChanged(m));

        test::MenuItem(bar, {"&File", "New song"})->trigger();
        QVERIFY(!undo->isEnabled());
        QVERIFY(!redo->isEnabled());
        QCOMPARE(undo->text(), QString("&Undo"));
    }

    // "&Editor" and "&Sound device setup" are off while playing, their shortcuts too.
    void playbackDisablesEditorAndDeviceSetup() {
        auto app = Start();
        AppContext& ctx = app->context();
        MainWindow* k = &app->mainWindow();
        int editor = 0;
        Intercept(k, &MainWindow::bankEditorRequested, [&] { ++editor; });
        k->show();
        QVERIFY(QTest::qWaitForWindowActive(k));

        ctx.playback.OpenDevice();
        ctx.playback.StartPlaying();
        QVERIFY(app->machine().Playing);
        QVERIFY(!test::MenuItem(k->menuBar(), {"&Userbank :", "&Editor"})->isEnabled());
        QVERIFY(!test::MenuItem(k->menuBar(), {"&Various", "&Sound device setup…"})->isEnabled());
        QTest::keyClick(k, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(editor, 0);

        ctx.playback.StopPlaying();
        QVERIFY(test::MenuItem(k->menuBar(), {"&Userbank :", "&Editor"})->isEnabled());
        QTest::keyClick(k, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(editor, 1);
    }

    // Ctrl+L loads once (one key on two items would reach neither); the bank item shows the
    // bank; F1 opens the about box although its menu is hidden.
    void userbankLoadAndHiddenHelp() {
        auto app = Start();
        Machine& m = app->machine();
        MainWindow* k = &app->mainWindow();
        k->show();
        QVERIFY(QTest::qWaitForWindowActive(k));
        app->aboutBox().hide();

        m.banks.userbank.description = "Live & loud";
        const std::string bank = *dir / "live.ubf";
        QVERIFY(SaveUserbank(m, bank, true));
        m.activation.BankFolder = dir->path();
        dialogs.answers = {bank};
        QTest::keyClick(k, Qt::Key_L, Qt::ControlModifier);
        QCOMPARE(dialogs.shown.size(), size_t(1));
        QCOMPARE(dialogs.shown[0].title, std::string("Load a userbank"));
        QCOMPARE(dialogs.shown[0].filter,
                 std::string("Userbank files (*.ubf)|*.ubf|All files (*.*)|*.*"));
        QCOMPARE(dialogs.shown[0].initialFolder, dir->path());
        QCOMPARE(m.activation.UserbankPath, bank);
        QVERIFY(test::MenuItem(k->menuBar(), {"[Live && loud]"}) != nullptr);

        // The bank item starts the same load; cancelled here.
        test::MenuItem(k->menuBar(), {"[Live && loud]"})->trigger();
        QCOMPARE(dialogs.shown.size(), size_t(2));
        QCOMPARE(m.activation.UserbankPath, bank);

        QVERIFY(!app->aboutBox().isVisible());
        QTest::keyClick(k, Qt::Key_F1);
        QVERIFY(app->aboutBox().isVisible());
    }

    // File > Recent songs: the songs saved and opened, newest first; one that has gone is taken
    // off with a message; the list outlives the program.
    void recentSongsFromTheFileMenu() {
        {
            auto app = Start();
            MainWindow& k = app->mainWindow();
            Machine& m = app->machine();
            m.editor.SongFolder = dir->path();
            for (const char* name : {"a", "b"}) {
                dialogs.answers = {*dir / name};
                test::MenuItem(k.menuBar(), {"&File", "Save song &as…"})->trigger();
            }
            const std::string a = *dir / "a.SNG", b = *dir / "b.SNG";
            QCOMPARE(k.RecentSongs(), (std::vector<std::string>{b, a}));
            auto* recent = k.findChild<QMenu*>(QStringLiteral("RecentSongs"));
            Q_EMIT recent->aboutToShow();
            QCOMPARE(recent->actions().size(), 2);
            QCOMPARE(recent->actions()[1]->text(), QStringLiteral("&2 a.SNG"));
            recent->actions()[1]->trigger();
            QCOMPARE(m.editor.SongFileName, a);
            QCOMPARE(k.RecentSongs(), (std::vector<std::string>{a, b}));
            std::filesystem::remove(b);
            k.OpenRecentSong(1);
            QCOMPARE(k.RecentSongs(), std::vector<std::string>{a});
            QVERIFY(!prompter.notes.empty());
            QVERIFY(prompter.notes.back().find("no longer there") != std::string::npos);
            QCOMPARE(m.editor.SongFileName, a);
            app->Exit();
        }
        auto again = Start();
        QCOMPARE(again->mainWindow().RecentSongs(), std::vector<std::string>{*dir / "a.SNG"});
    }

    void songFlowsFromTheFileMenu() {
        auto app = Start();
        Machine& m = app->machine();
        QMenuBar* bar = app->mainWindow().menuBar();
        int infoViews = 0, refreshed = 0;
        Intercept(&app->mainWindow(), &MainWindow::songIntroductionRequested, [&] { ++infoViews; });
        QObject::connect(&app->context().songState, &SongNotifier::changed, [&] { ++refreshed; });

        m.editor.SongFolder = dir->path();
        m.song.title.set("Intro");
        m.song.showInfoOnOpen = 1;
        dialogs.answers = {*dir / "intro"};
        test::MenuItem(bar, {"&File", "Save song &as…"})->trigger();
        QCOMPARE(dialogs.shown.back().title, std::string("Save a song"));
        QCOMPARE(dialogs.shown.back().filter,
                 std::string("Song files (*.sng)|*.sng|All files (*.*)|*.*"));
        QCOMPARE(m.editor.SongFileName, *dir / "intro.SNG");

        test::MenuItem(bar, {"&File", "&New song"})->trigger();
        QVERIFY(m.song.title.empty());
        dialogs.answers = {*dir / "intro.SNG"};
        test::MenuItem(bar, {"&File", "&Open song…"})->trigger();
        QCOMPARE(dialogs.shown.back().title, std::string("Open a song"));
        QCOMPARE(dialogs.shown.back().initialFolder, dir->path());
        QCOMPARE(m.song.title.str(), std::string("Intro"));
        QCOMPARE(infoViews, 1);
        QVERIFY(refreshed >= 3);
    }

    // First run: defaults, a window of 644 x 480, and at exit all keys with Times_Used 1.
    void configurationFirstRunAndBack() {
        {
            auto app = Start();
            // The song dialogs start where the example songs are (built beside the programs).
            const std::string examples =
                ExampleSongsFolderFor(ToPath(QCoreApplication::applicationFilePath()));
            QVERIFY(std::filesystem::exists(examples + "/demo.sng"));
            QCOMPARE(app->machine().editor.SongFolder, examples);
            QCOMPARE(app->context().device.Buffer_size, 8);
            QCOMPARE(app->context().playback.BlockFrames, 8192);
            QVERIFY(app->machine().activation.UserbankPath.empty());
            app->ShowAtStart();
            QVERIFY(!app->mainWindow().isMaximized());
            QCOMPARE(app->mainWindow().size(), QSize(644, 480));
            app->machine().editor.SongFolder = "/songs";
            app->Exit();
        }
        ConfigFile written(ConfigPath());
        written.Read();
        QCOMPARE(written.settings.Times_Used, 1);
        QCOMPARE(written.settings.Songfolder, std::string("/songs"));
        QCOMPARE(written.settings.Width, 644);
        QCOMPARE(written.settings.State, 0);
        QVERIFY(prompter.warnings.empty());

        // "0x4" and State 1, with a line of someone else's.
        std::ofstream(ConfigPath()) << "[General]\nTimes_Used=1\n[WaveDevice]\nBuffer_size=0x4\n"
                                       "[Window]\nState=1\n[Notes]\nmine=kept\n"
                                       "[Paths]\nSongfolder=/mine\n";
        {
            auto app = Start();
            QCOMPARE(app->machine().editor.SongFolder, std::string("/mine"));
            QCOMPARE(app->context().playback.BlockFrames, 4096);
            app->ShowAtStart();
            QVERIFY(app->mainWindow().isMaximized());
            app->Exit();
        }
        written.Read();
        QCOMPARE(written.settings.Times_Used, 2);
        QCOMPARE(written.settings.State, 1);
        QCOMPARE(written.settings.Buffer_size, 4);
        QVERIFY(test::ReadBytes(ConfigPath()).size() > 0);
        std::ifstream in(ConfigPath());
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        QVERIFY(text.find("mine=kept") != std::string::npos);
    }

    void configurationThatCannotBeWritten() {
        // A file stands where the configuration's folder should be.
        std::ofstream(*dir / "cfg") << "x";
        auto app = Start();
        app->Exit();
        QCOMPARE(prompter.warnings, std::vector<std::string>{"Unable to write to " + ConfigPath()});
    }

    void commandLineSong() {
        {
            auto m = test::NewMachine();
            m->song.title.set("From the shell");
            QVERIFY(SaveSong(*m, *dir / "shell.sng", true));
        }
        auto app = Start(*dir / "shell.sng");
        QVERIFY(app->mainWindow().LoadedFromCommandLine);
        QCOMPARE(app->machine().editor.SongFileName, *dir / "shell.sng");
        QCOMPARE(SongTitleLine(app->machine().editor.SongFileName, app->machine().song),
                 *dir / "shell.sng" + " - \"From the shell\"");
        QVERIFY(prompter.warnings.empty());

        // A song that cannot be opened gets the message "Open song" gives, with the file and
        // the reason; the new song stays.
        std::ofstream(*dir / "short.sng") << "not a song";
        ::mkdir((*dir / "folder.sng").c_str(), 0700);
        struct Case {
            std::string file;
            const char* message;
        };
        const Case cases[] = {{*dir / "short.sng", kMsgNotASong},
                              {*dir / "missing.sng", kMsgSongOpenFailed},
                              {*dir / "folder.sng", kMsgSongOpenFailed}};
        for (const Case& c : cases) {
            prompter.warnings.clear();
            auto refused = Start(c.file);
            QVERIFY(!refused->mainWindow().LoadedFromCommandLine);
            QVERIFY(refused->machine().editor.SongFileName.empty());
            QVERIFY(refused->machine().song.title.empty());
            QCOMPARE(prompter.warnings.size(), size_t(1));
            QVERIFY2(prompter.warnings[0].starts_with(c.message), prompter.warnings[0].c_str());
            QVERIFY2(prompter.warnings[0].find("File: " + c.file) != std::string::npos,
                     prompter.warnings[0].c_str());
        }
    }

    // A userbank named on the command line (as the desktop opens one) becomes the active bank.
    void commandLineUserbank() {
        {
            auto m = test::NewMachine();
            m->banks.userbank.description = "From the desktop";
            QVERIFY(SaveUserbank(*m, *dir / "desk.ubf", true));
        }
        // Known by its contents (a name without any dot would get the userbank extension added).
        std::filesystem::rename(*dir / "desk.ubf", *dir / "desk.bank");
        auto app = Start(*dir / "desk.bank");
        app->mainWindow().OnActivated();
        QVERIFY(!app->mainWindow().LoadedFromCommandLine);
        QCOMPARE(app->machine().activation.UserbankPath, *dir / "desk.bank");
        QVERIFY(app->machine().activation.UserbankLoaded);
        QVERIFY(test::MenuItem(app->mainWindow().menuBar(), {"[From the desktop]"}) != nullptr);
        QVERIFY(prompter.warnings.empty());
    }

    // Files dragged from the file manager: a song opens as "Open song" opens it (the changed
    // Song asked about first), a userbank loads, anything else that is no file is refused.
    void droppedSongsAndUserbanks() {
        {
            auto m = test::NewMachine();
            m->song.title.set("Dropped");
            QVERIFY(SaveSong(*m, *dir / "dropped.sng", true));
            m->banks.userbank.description = "Dropped bank";
            QVERIFY(SaveUserbank(*m, *dir / "dropped.ubf", true));
        }
        auto app = Start();
        Machine& m = app->machine();
        MainWindow* w = &app->mainWindow();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->OnActivated();
        int refreshed = 0;
        QObject::connect(&app->context().songState, &SongNotifier::changed, [&] { ++refreshed; });

        QVERIFY(!DropOnto(w, {QUrl("https://example.org/beat.sng")}));
        QVERIFY(!DropOnto(w, {}));

        // Changed: "save first?" Yes, and the save dialog cancelled: the Song stays.
        m.song.title.set("Mine");
        test::MakeUnsavedEdit(m);
        prompter.answers3 = {Answer::Yes};
        QVERIFY(DropOnto(w, {FileUrl(*dir / "dropped.sng")}));
        QCOMPARE(prompter.questions.size(), size_t(1));
        QCOMPARE(m.song.title.str(), std::string("Mine"));
        QVERIFY(SongChanged(m));
        // No: the dropped song replaces it.
        prompter.answers3 = {Answer::No};
        QVERIFY(DropOnto(w, {QUrl("https://example.org/x"), FileUrl(*dir / "dropped.sng")}));
        QCOMPARE(m.song.title.str(), std::string("Dropped"));
        QCOMPARE(m.editor.SongFileName, *dir / "dropped.sng");
        QVERIFY(!SongChanged(m));
        QVERIFY(refreshed >= 2);

        QVERIFY(DropOnto(w, {FileUrl(*dir / "dropped.ubf")}));
        QCOMPARE(m.activation.UserbankPath, *dir / "dropped.ubf");
        QVERIFY(test::MenuItem(w->menuBar(), {"[Dropped bank]"}) != nullptr);
        QCOMPARE(m.song.title.str(), std::string("Dropped"));  // a bank is no song
        QVERIFY(prompter.warnings.empty());

        // A file that is neither: the song load's warning, and the Song as it was.
        // (The bank loaded into the Song is a change: No to saving it first.)
        std::ofstream(*dir / "notes.txt") << "not a song";
        prompter.answers3 = {Answer::No};
        QVERIFY(DropOnto(w, {FileUrl(*dir / "notes.txt")}));
        QVERIFY(prompter.answers3.empty());
        QCOMPARE(test::Sentences(prompter.warnings), std::vector<std::string>{kMsgNotASong});
        QCOMPARE(m.editor.SongFileName, *dir / "dropped.sng");
    }

    void closingAsksAndKeepsChanges() {
        auto app = Start();
        MainWindow* k = &app->mainWindow();
        Machine& m = app->machine();
        app->ShowAtStart();
        // The splash refuses the close without asking anything.
        test::MakeUnsavedEdit(m);
        QVERIFY(app->aboutBox().isVisible());
        QVERIFY(!k->close());
        QVERIFY(prompter.questions.empty());
        app->aboutBox().Dismiss();

        // Cancel: open, still changed, and the next close asks again.
        prompter.answers3 = {Answer::Cancel, Answer::Yes, Answer::No};
        QVERIFY(!k->close());
        QVERIFY(SongChanged(m));
        // Yes, then the save dialog is cancelled: open, still changed.
        QVERIFY(!k->close());
        QVERIFY(SongChanged(m));
        QCOMPARE(dialogs.shown.size(), size_t(1));
        QCOMPARE(prompter.questions,
                 std::vector<std::string>(2, "Do you want to save your changes first?"));
        // No: it closes, and the program's loop is told to end.
        QSignalSpy ends(k, &MainWindow::LoopEnds);
        QVERIFY(k->close());
        QCOMPARE(ends.size(), 1);
        QCOMPARE(prompter.questions.size(), size_t(3));
    }

    void quitAsksYesNoCancel() {
        auto app = Start();
        MainWindow* k = &app->mainWindow();
        Machine& m = app->machine();
        app->ShowAtStart();  // the splash does not stop "&Quit"
        QAction* quit = test::MenuItem(k->menuBar(), {"&File", "&Quit"});
        QSignalSpy ends(k, &MainWindow::LoopEnds);
        test::MakeUnsavedEdit(m);
        // Yes, but the save dialog is cancelled: the program goes on.
        prompter.answers3 = {Answer::Yes};
        quit->trigger();
        QCOMPARE(ends.size(), 0);
        QVERIFY(SongChanged(m));
        // Yes with a save that goes through: the loop ends.
        prompter.answers3 = {Answer::Yes};
        dialogs.answers = {*dir / "saved.sng"};
        quit->trigger();
        QCOMPARE(ends.size(), 1);
        QCOMPARE(prompter.warnings, std::vector<std::string>{});
        QVERIFY(!SongChanged(m));
        QCOMPARE(test::ReadBytes(*dir / "saved.sng").size(), size_t(kSongSize));
        // "New song" with No drops the changes.
        m.song.title.set("dropped");
        test::MakeUnsavedEdit(m);
        prompter.answers3 = {Answer::No};
        test::MenuItem(k->menuBar(), {"&File", "&New song"})->trigger();
        QVERIFY(m.song.title.empty());
        QCOMPARE(prompter.questions.size(), size_t(3));
    }

    // Holding the space bar starts playback once; releasing and pressing again stops it.
    void spaceBarGuard() {
        auto app = Start();
        MainWindow* k = &app->mainWindow();
        Machine& m = app->machine();
        const auto press = QEvent::KeyPress;
        const auto release = QEvent::KeyRelease;
        Key(k, press, Qt::Key_Space, 100);
        QVERIFY(m.Playing);
        for (quint64 t = 600; t < 1000; t += 40) {  // the keyboard's repeat
            Key(k, release, Qt::Key_Space, t, true);
            Key(k, press, Qt::Key_Space, t, true);
        }
        // Repeats not marked as such: release and press with one timestamp.
        for (quint64 t = 1000; t < 1200; t += 40) {
            Key(k, release, Qt::Key_Space, t);
            Key(k, press, Qt::Key_Space, t);
        }
        QVERIFY(m.Playing);
        Key(k, release, Qt::Key_Space, 1300);
        Key(k, press, Qt::Key_Space, 1500);
        QVERIFY(!m.Playing);
        // Another key pressed in between: the space bar waits for its release.
        Key(k, release, Qt::Key_Space, 1600);
        Key(k, press, Qt::Key_A, 1700);
        Key(k, press, Qt::Key_Space, 1800);
        QVERIFY(!m.Playing);
        Key(k, release, Qt::Key_A, 1900);
        Key(k, press, Qt::Key_Space, 2000);
        QVERIFY(m.Playing);
        // A release counts after a moment without a press, for the panel's keys as well.
        Key(k, release, Qt::Key_Space, 2100);
        QVERIFY(!app->context().playback.KeyReleased);
        QTRY_VERIFY(app->context().playback.KeyReleased);
        app->context().playback.StopPlaying();
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(MainWindowTest)
#include "main_window_test.moc"
