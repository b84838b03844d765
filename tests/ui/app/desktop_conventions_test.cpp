// What a user of a Linux desktop expects of the program as a whole: messages that say what went
// wrong with which file, a song's missing userbank said and shown, captions that mark unsaved
// changes and a live recording, a mnemonic on every menu item, whole titles, and keys that do
// not clash with the program's own.

#include "ui/qt/desktop_conventions.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <cstring>
#include <filesystem>

#include "banks/kit.h"
#include "core/machine.h"
#include "dialog_test_app.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/bank_editor/bank_editor.h"
#include "ui/bank_editor/hihat_dialog.h"
#include "ui/dialogs/device_setup_dialog.h"
#include "ui/dialogs/instrument_dialog.h"
#include "ui/dialogs/note_details_dialog.h"
#include "ui/dialogs/render_dialog.h"
#include "ui/dialogs/slide_dialog.h"
#include "ui/dialogs/song_info_window.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/main_window/main_window.h"
#include "ui/services/window_captions.h"

using namespace qtam;

namespace {

// The mnemonic letter of a caption ("&&" is a literal "&"); null when it has none. Sets
// `count` to the number of mnemonics.
QChar MnemonicOf(const QString& text, int& count) {
    QChar letter;
    count = 0;
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text[i] != QLatin1Char('&')) continue;
        if (text[i + 1] == QLatin1Char('&')) {
            ++i;
            continue;
        }
        ++count;
        letter = text[i + 1].toLower();
    }
    return letter;
}

// Every item of these menus and their submenus has one mnemonic, unlike its siblings'.
void CheckMnemonics(const QList<QAction*>& actions, const QString& where) {
    QString used;
    for (QAction* a : actions) {
        if (a->isSeparator()) continue;
        int count = 0;
        const QChar letter = MnemonicOf(a->text(), count);
        QVERIFY2(count == 1, qPrintable(where + " > " + a->text()));
        QVERIFY2(!used.contains(letter), qPrintable(where + " > " + a->text()));
        used += letter;
        if (a->menu() != nullptr) CheckMnemonics(a->menu()->actions(), where + " > " + a->text());
    }
}

}  // namespace

class DesktopConventionsTest : public QObject {
    Q_OBJECT
    std::unique_ptr<test::TempFolder> dir;
    test::ScriptedPrompter prompter;
    test::ScriptedFileDialogs dialogs;

    std::unique_ptr<QtamApp> Start(const std::string& song = {}) {
        return std::make_unique<QtamApp>(song, *dir / "QTam.ini", StandIns{&prompter, &dialogs});
    }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<test::TempFolder>();
        prompter = {};
        dialogs = {};
    }
    void cleanup() { dir.reset(); }

    // A song from the command line whose userbank is gone: said with the file looked for, and
    // the channels that use it show that their sound is missing.
    void aSongsMissingUserbankIsSaidAndShown() {
        const std::string bank = *dir / "gone.ubf";
        {
            auto m = test::NewMachine();
            m->song.userbankFile.set(bank);
            m->song.settings(1).instrument[2] = 105;
            QVERIFY(SaveSong(*m, *dir / "s.sng", true));
        }
        auto app = Start(*dir / "s.sng");
        QVERIFY(app->mainWindow().LoadedFromCommandLine);
        QCOMPARE(prompter.warnings, std::vector<std::string>{SongUserbankMissingText(
                                        bank, bank, std::strerror(ENOENT))});
        app->panel().RefreshFromSong();
        app->panel().ShowInstrumentNames();
        QCOMPARE(test::Part<PanelLabel>(app->panel(), "InstrumentName", 3)->text(),
                 QString::fromLatin1(kMissingSoundName));
        QCOMPARE(UserbankCaption(app->machine().activation, app->machine().banks.userbank),
                 std::string(kNoUserbankCaption));
    }

    // Both captions carry "*" while the Song has unsaved changes, and lose it once saved.
    void captionsMarkUnsavedChanges() {
        auto app = Start();
        MainWindow& main = app->mainWindow();
        GroovePanel& panel = app->panel();
        Machine& m = app->machine();
        main.OnActivated();
        QVERIFY(!main.windowTitle().startsWith(QLatin1Char('*')));
        QVERIFY(!panel.windowTitle().startsWith(QLatin1Char('*')));

        panel.PressStep(1);
        QVERIFY(SongChanged(m));
        QTRY_VERIFY(main.windowTitle().startsWith(QLatin1Char('*')));
        QTRY_VERIFY(panel.windowTitle().startsWith(QLatin1Char('*')));

        dialogs.answers.push_back(*dir / "saved.sng");
        QVERIFY(app->context().edits.SaveSong(main.SongFileDialogs()));
        QTRY_COMPARE(main.windowTitle(), QString::fromLatin1(kMainWindowCaption));
        QTRY_VERIFY(!panel.windowTitle().startsWith(QLatin1Char('*')));
    }

    // An armed live recording shows in the panel's caption until it ends; nothing recorded
    // leaves no file.
    void anArmedLiveRecordingShowsUntilItEnds() {
        auto app = Start();
        app->mainWindow().OnActivated();
        GroovePanel& panel = app->panel();
        QVERIFY(StartLiveSession(app->machine(), *dir / "take.wav"));
        panel.ShowCaption();  // as the render dialog has it shown after arming
        QTRY_VERIFY(panel.windowTitle().contains(QStringLiteral("Recording armed: take.wav")));
        QVERIFY(FinishStream(app->machine()));
        panel.ShowCaption();
        QTRY_VERIFY(!panel.windowTitle().contains(QStringLiteral("Recording")));
        for (const auto& e : std::filesystem::directory_iterator(dir->path()))
            QVERIFY2(!e.path().filename().string().starts_with("~wavconv"), e.path().c_str());
    }

    // The header names the steps of a measure as the song has them.
    void theHeaderShowsTheSongsStepCount() {
        auto app = Start();
        GroovePanel& panel = app->panel();
        app->context().edits.SetStepsPerMeasure(12);
        QCOMPARE(test::Child<SkinPicture>(panel, "Background")->variant(), 12);
        app->context().edits.SetStepsPerMeasure(16);
        QCOMPARE(test::Child<SkinPicture>(panel, "Background")->variant(), 16);
    }

    void everyMenuItemHasItsOwnMnemonic() {
        auto app = Start();
        QList<QAction*> bar = app->mainWindow().menuBar()->actions();
        // The item beside the menus shows the bank's own description.
        bar.removeIf([](QAction* a) { return a->menu() == nullptr; });
        CheckMnemonics(bar, QStringLiteral("main window"));
        CheckMnemonics(app->bankEditor().menuBar()->actions(), QStringLiteral("editor"));
    }

    // Titles are whole in a title bar: each window is wide enough for its own.
    void titlesFit() {
        auto app = Start();
        const QList<QWidget*> windows = {&app->bankEditor(),   &app->songInfo(),
                                         &app->noteDetails(),  &app->instrumentDialog(),
                                         &app->renderDialog(), &app->hihatDialog(),
                                         &app->slideDialog(),  &app->deviceSetup()};
        for (QWidget* w : windows) {
            w->adjustSize();
            QVERIFY2(w->width() >= TitleWidthNeeded(w->windowTitle(), *w),
                     qPrintable(w->windowTitle()));
        }
    }

    // Closing the editor is Ctrl+W: Ctrl+Q stays the program's Quit.
    void theEditorsCloseKeyIsNotQuit() {
        auto app = Start();
        BankEditor& editor = app->bankEditor();
        QCOMPARE(test::Child<QAction>(editor, "CloseItem")->shortcut(),
                 QKeySequence(Qt::CTRL | Qt::Key_W));
        for (QAction* a : editor.findChildren<QAction*>())
            QVERIFY2(a->shortcut() != QKeySequence(Qt::CTRL | Qt::Key_Q), qPrintable(a->text()));
    }

    // Mnemonics go to free letters, word starts first, and "&" stays literal.
    void mnemonicsTakeFreeLetters() {
        QString taken;
        QCOMPARE(WithMnemonic(QStringLiteral("Drum & Bass"), taken),
                 QStringLiteral("&Drum && Bass"));
        QCOMPARE(WithMnemonic(QStringLiteral("Disco"), taken), QStringLiteral("D&isco"));
        QCOMPARE(WithMnemonic(QStringLiteral("Di"), taken), QStringLiteral("Di"));
        QCOMPARE(taken, QStringLiteral("di"));
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(DesktopConventionsTest)
#include "desktop_conventions_test.moc"
