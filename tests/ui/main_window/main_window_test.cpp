// The program as a whole: start-up with its configuration and command-line song, the main
// window's menus, the questions before a changed Song is lost, quitting, and the space bar.

#include "ui/main_window/main_window.h"

#include <QAction>
#include <QActionGroup>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "banks/userbank_file.h"
#include "core/config.h"
#include "core/machine.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/bank_editor/bank_editor.h"
#include "ui/dialogs/about_box.h"
#include "ui/groove_panel/groove_panel.h"

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

QAction* Find(QMenuBar* bar, const QStringList& path) {
    QList<QAction*> actions = bar->actions();
    QAction* found = nullptr;
    for (const QString& caption : path) {
        found = nullptr;
        for (QAction* a : actions) {
            if (a->text() == caption) {
                found = a;
                break;
            }
        }
        if (found == nullptr) return nullptr;
        if (found->menu() != nullptr) actions = found->menu()->actions();
    }
    return found;
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
            "  New song [Ctrl+N]",
            "  Open song [Ctrl+O]",
            "  -",
            "  Save song [Ctrl+S]",
            "  Save song as...",
            "  -",
            "  Song info",
            "  -",
            "  Stream to disk",
            "  -",
            "  &Quit [Ctrl+Q]",
            "&Edit",
            "  Copy",
            "    Channel [Ctrl+C]",
            "    Measure [Ctrl+D]",
            "    Pattern",
            "  Paste [Ctrl+V] (off)",
            "  Paste mix [Ctrl+M] (off)",
            "  -",
            "  Channel",
            "    Fade in",
            "    Fade out",
            "    Custom velocity slide",
            "    -",
            "    Pan left to right",
            "    Pan right to left",
            "    Pan center",
            "    Pan randomly",
            "    Pan inverse",
            "    Custom pan slide",
            "    -",
            "    Erase [Shift+Del]",
            "  Measure",
            "    Fade in",
            "    Fade out",
            "    -",
            "    Erase [Ctrl+Del]",
            "&Various",
            "  Apply groove",
            "    Chemical Beat",
            "    Clubby Feeling",
            "    Default",
            "    Disco Fever",
            "    Drum 'n Bass",
            "    Euro Dance",
            "    Funky Drummer",
            "    Hard Trance",
            "    Hard Step",
            "    Hiphop 1",
            "    Hiphop 2",
            "    Industrial",
            "    Jungle",
            "    Latin Groove",
            "    Pop Tune",
            "    Random Chaos",
            "    Rap Vibez",
            "    Rave Nation",
            "    Techno 1",
            "    Techno 2",
            "  -",
            "  16 step measure (checked)",
            "  12 step measure",
            "  -",
            "  &Humanize",
            "  -",
            "  &Sound device setup",
            "&Userbank :",
            "  &Load [Ctrl+L]",
            "  -",
            "  &Editor [Ctrl+E]",
            "none loaded",
            "&Help (hidden) (off)",
            "  &About [F1]",
        };
        QCOMPARE(tree, expected);

        MainWindow* k = &app->mainWindow();
        QCOMPARE(k->windowTitle(), QString("Vediveve Duzuda Duvivir 1.0"));
        QCOMPARE(k->size(), QSize(644, 480));
        // Every shortcut item is offered to the panel, and the window itself carries them.
        QCOMPARE(k->ShortcutActions().size(), 13);
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
        QObject::connect(w, &MainWindow::songChanged, [&] { ++refreshed; });
        Intercept(w, &MainWindow::songInfoRequested, [&] { ++songInfo; });
        Intercept(w, &MainWindow::renderRequested, [&] { ++stream; });
        Intercept(w, &MainWindow::deviceSetupRequested, [&] { ++device; });
        Intercept(w, &MainWindow::bankEditorRequested, [&] { ++editor; });
        Intercept(w, &MainWindow::velocitySlideRequested, [&] { ++slides; });
        Intercept(w, &MainWindow::panSlideRequested, [&] { slides += 10; });

        test::SetNote(m, 1, 1, 1, 3, 100);
        Find(bar, {"&Edit", "Copy", "Channel"})->trigger();
        QVERIFY(Find(bar, {"&Edit", "Paste"})->isEnabled());
        QVERIFY(Find(bar, {"&Edit", "Paste mix"})->isEnabled());
        QVERIFY(!m.editor.SongChanged);  // a copy changes nothing
        m.editor.CurrentChannel = 2;
        Find(bar, {"&Edit", "Paste"})->trigger();
        QCOMPARE(int(m.song.cell(1, 1, 2, 3).velocity), 100);
        QVERIFY(m.editor.SongChanged);
        QCOMPARE(refreshed, 1);

        m.editor.SongChanged = false;
        Find(bar, {"&Edit", "Channel", "Fade in"})->trigger();
        QVERIFY(m.editor.SongChanged);
        QCOMPARE(refreshed, 1);  // fades keep the lit steps
        Find(bar, {"&Edit", "Channel", "Erase"})->trigger();
        QCOMPARE(int(m.song.cell(1, 1, 2, 3).velocity), -1);
        QCOMPARE(refreshed, 2);

        Find(bar, {"&Various", "Apply groove", "Random Chaos"})->trigger();
        const int chaos = m.song.cell(1, 1, 1, 3).velocity;
        QVERIFY(chaos >= 27 && chaos <= 126);
        QCOMPARE(refreshed, 3);

        Find(bar, {"&Various", "12 step measure"})->trigger();
        QCOMPARE(int(m.song.stepsPerMeasure), 12);
        QVERIFY(Find(bar, {"&Various", "12 step measure"})->isChecked());
        QVERIFY(!Find(bar, {"&Various", "16 step measure"})->isChecked());
        Find(bar, {"&Various", "16 step measure"})->trigger();
        Find(bar, {"&Various", "16 step measure"})->trigger();  // stays checked
        QCOMPARE(int(m.song.stepsPerMeasure), 16);
        QVERIFY(Find(bar, {"&Various", "16 step measure"})->isChecked());

        Find(bar, {"&Various", "&Humanize"})->trigger();
        QVERIFY(m.editor.HumanizeChecked);
        QCOMPARE(int(m.song.humanize), 1);
        QVERIFY(Find(bar, {"&Various", "&Humanize"})->isChecked());

        Find(bar, {"&File", "Song info"})->trigger();
        Find(bar, {"&File", "Stream to disk"})->trigger();
        Find(bar, {"&Various", "&Sound device setup"})->trigger();
        Find(bar, {"&Userbank :", "&Editor"})->trigger();
        Find(bar, {"&Edit", "Channel", "Custom velocity slide"})->trigger();
        Find(bar, {"&Edit", "Channel", "Custom pan slide"})->trigger();
        QCOMPARE(songInfo + stream + device + editor, 4);
        QCOMPARE(slides, 11);
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
        QAction* load = Find(app->mainWindow().menuBar(), {"&Userbank :", "&Load"});
        QVERIFY(!load->isEnabled());
        prompter.answers = {true, true};  // save first; the save dialog is cancelled both times
        QVERIFY(!app->mainWindow().MayClose());
        app->mainWindow().Quit();
        QVERIFY(m.activation.EditorActive);
        QCOMPARE(prompter.questions.size(), std::size_t{2});
        prompter.answers = {false};  // No: the bank's changes go
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
        QVERIFY(!Find(k->menuBar(), {"&Userbank :", "&Editor"})->isEnabled());
        QVERIFY(!Find(k->menuBar(), {"&Various", "&Sound device setup"})->isEnabled());
        QTest::keyClick(k, Qt::Key_E, Qt::ControlModifier);
        QCOMPARE(editor, 0);

        ctx.playback.StopPlaying();
        QVERIFY(Find(k->menuBar(), {"&Userbank :", "&Editor"})->isEnabled());
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
        QVERIFY(Find(k->menuBar(), {"[Live && loud]"}) != nullptr);

        // The bank item starts the same load; cancelled here.
        Find(k->menuBar(), {"[Live && loud]"})->trigger();
        QCOMPARE(dialogs.shown.size(), size_t(2));
        QCOMPARE(m.activation.UserbankPath, bank);

        QVERIFY(!app->aboutBox().isVisible());
        QTest::keyClick(k, Qt::Key_F1);
        QVERIFY(app->aboutBox().isVisible());
    }

    void songFlowsFromTheFileMenu() {
        auto app = Start();
        Machine& m = app->machine();
        QMenuBar* bar = app->mainWindow().menuBar();
        int infoViews = 0, refreshed = 0;
        Intercept(&app->mainWindow(), &MainWindow::songIntroductionRequested, [&] { ++infoViews; });
        QObject::connect(&app->mainWindow(), &MainWindow::songChanged, [&] { ++refreshed; });

        m.editor.SongFolder = dir->path();
        m.song.title.set("Intro");
        m.song.showInfoOnOpen = 1;
        dialogs.answers = {*dir / "intro"};
        Find(bar, {"&File", "Save song as..."})->trigger();
        QCOMPARE(dialogs.shown.back().title, std::string("Save a song"));
        QCOMPARE(dialogs.shown.back().filter,
                 std::string("Song files (*.sng)|*.sng|All files (*.*)|*.*"));
        QCOMPARE(m.editor.SongFileName, *dir / "intro.SNG");

        Find(bar, {"&File", "New song"})->trigger();
        QVERIFY(m.song.title.empty());
        dialogs.answers = {*dir / "intro.SNG"};
        Find(bar, {"&File", "Open song"})->trigger();
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
                                       "[Window]\nState=1\n[Notes]\nmine=kept\n";
        {
            auto app = Start();
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
        QCOMPARE(app->machine().editor.PanelCaption, *dir / "shell.sng" + " - \"From the shell\"");
        QVERIFY(prompter.warnings.empty());

        // A file that is no song: the warning shows even though the load is quiet.
        std::ofstream(*dir / "short.sng") << "not a song";
        auto refused = Start(*dir / "short.sng");
        QVERIFY(!refused->mainWindow().LoadedFromCommandLine);
        QVERIFY(refused->machine().editor.SongFileName.empty());
        QVERIFY(refused->machine().song.title.empty());
        QCOMPARE(prompter.warnings, std::vector<std::string>{kMsgNotASong});
        // A file that is not there: nothing is said.
        auto missing = Start(*dir / "missing.sng");
        QVERIFY(!missing->mainWindow().LoadedFromCommandLine);
        QCOMPARE(prompter.warnings.size(), size_t(1));
    }

    void closingAsksAndKeepsChanges() {
        auto app = Start();
        MainWindow* k = &app->mainWindow();
        Machine& m = app->machine();
        app->ShowAtStart();
        // The splash refuses the close without asking anything.
        m.editor.SongChanged = true;
        QVERIFY(app->aboutBox().isVisible());
        QVERIFY(!k->close());
        QVERIFY(prompter.questions.empty());
        app->aboutBox().Dismiss();

        // Cancel: open, still changed, and the next close asks again.
        prompter.answers3 = {Answer::Cancel, Answer::Yes, Answer::No};
        QVERIFY(!k->close());
        QVERIFY(m.editor.SongChanged);
        // Yes, then the save dialog is cancelled: open, still changed.
        QVERIFY(!k->close());
        QVERIFY(m.editor.SongChanged);
        QCOMPARE(dialogs.shown.size(), size_t(1));
        QCOMPARE(prompter.questions,
                 std::vector<std::string>(2, "Do you want do save your changes first ?"));
        // No: it closes, and the program's loop is told to end.
        QSignalSpy ends(k, &MainWindow::LoopEnds);
        QVERIFY(k->close());
        QCOMPARE(ends.size(), 1);
        QCOMPARE(prompter.questions.size(), size_t(3));
    }

    void quitAsksYesNo() {
        auto app = Start();
        MainWindow* k = &app->mainWindow();
        Machine& m = app->machine();
        app->ShowAtStart();  // the splash does not stop "&Quit"
        QAction* quit = Find(k->menuBar(), {"&File", "&Quit"});
        QSignalSpy ends(k, &MainWindow::LoopEnds);
        m.editor.SongChanged = true;
        // Yes, but the save dialog is cancelled: the program goes on.
        prompter.answers = {true};
        quit->trigger();
        QCOMPARE(ends.size(), 0);
        QVERIFY(m.editor.SongChanged);
        // Yes with a save that goes through: the loop ends.
        prompter.answers = {true};
        dialogs.answers = {*dir / "saved.sng"};
        quit->trigger();
        QCOMPARE(ends.size(), 1);
        QCOMPARE(prompter.warnings, std::vector<std::string>{});
        QVERIFY(!m.editor.SongChanged);
        QCOMPARE(test::ReadBytes(*dir / "saved.sng").size(), size_t(kSongSize));
        // "New song" with No drops the changes.
        m.song.title.set("dropped");
        m.editor.SongChanged = true;
        prompter.answers = {false};
        Find(k->menuBar(), {"&File", "New song"})->trigger();
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

QTEST_MAIN(MainWindowTest)
#include "main_window_test.moc"
