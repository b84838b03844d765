// Every input reaches the Song through the edit layer: random edits by the panel's mouse and
// keys, the dialogs and the menus, on random songs, in the running program's windows.

#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QMenuBar>
#include <QScrollBar>
#include <QTest>
#include <QWindow>
#include <cstring>
#include <functional>
#include <random>

#include "core/machine.h"
#include "dialog_test_app.h"
#include "menu_item.h"
#include "song/song_editor.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/dialogs/instrument_dialog.h"
#include "ui/dialogs/note_details_dialog.h"
#include "ui/dialogs/value_dialog.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/groove_panel/panel_controls.h"
#include "ui/main_window/main_window.h"

using namespace qtam;

namespace {

bool Same(const Song& a, const Song& b) {
    return std::memcmp(&a, &b, sizeof(Song)) == 0;
}

}  // namespace

class EditPathsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> dir;
    test::ScriptedPrompter prompter;
    test::ScriptedFileDialogs dialogs;
    std::unique_ptr<QtamApp> app;
    std::mt19937 random{20261209u};

    int Draw(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }
    GroovePanel& Panel() { return app->panel(); }
    QMenuBar* Bar() { return app->mainWindow().menuBar(); }
    QPoint Centre(const char* name, int number = 0) {
        QWidget* w = number ? test::Part<QWidget>(Panel(), name, number)
                            : test::Child<QWidget>(Panel(), name);
        return w->geometry().center();
    }
    void Click(QPoint at, Qt::MouseButton button = Qt::LeftButton) {
        QTest::mouseClick(Panel().windowHandle(), button, {}, at);
    }
    void Drag(QPoint from, QPoint by) {
        QWindow* w = Panel().windowHandle();
        QTest::mousePress(w, Qt::LeftButton, {}, from);
        for (int i = 1; i <= 3; ++i) QTest::mouseMove(w, from + by * i / 3);
        QTest::mouseRelease(w, Qt::LeftButton, {}, from + by);
    }
    // A key on the control whose focus spot is named: held (repeating) `repeats` times.
    void Key(const QString& spot, int key, int repeats = 1) {
        Panel().findChild<QWidget*>(spot)->setFocus();
        for (int i = 0; i < repeats; ++i) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(), i > 0);
            QCoreApplication::sendEvent(&Panel(), &press);
        }
        QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier);
        QCoreApplication::sendEvent(&Panel(), &release);
    }

    // One edit by one of the inputs, chosen at random.
    int input = 0;  // the last input chosen, for the messages
    void RandomInput() {
        const int b = Draw(1, 16), n = Draw(1, 8);
        switch (input = Draw(0, 11)) {
            case 0:
                return Click(Centre("StepLit", b));
            case 1:
                return Click(Centre(Draw(0, 1) ? "MuteLamp" : "DistortionLamp", n));
            case 2:
                return Drag(Centre(Draw(0, 1) ? "TempoSlider" : "ShuffleSlider"),
                            QPoint(Draw(-40, 40), 0));
            case 3:
                return Drag(Centre("VolumeSlider", n), QPoint(0, Draw(-40, 40)));
            case 4:
                return Key(QStringLiteral("StepKey%1").arg(b), Qt::Key_Return);
            case 5: {
                const char* sliders[] = {"TempoKey", "ShuffleKey", "DistortionKey", "ThresholdKey"};
                return Key(QString::fromLatin1(sliders[Draw(0, 3)]),
                           Draw(0, 1) ? Qt::Key_Left : Qt::Key_PageUp, Draw(1, 6));
            }
            case 6:
                return Key(Draw(0, 1) ? QStringLiteral("MuteLampKey%1").arg(n)
                                      : QStringLiteral("MoreMeasuresKey"),
                           Qt::Key_Return);
            case 7: {  // the note details of a step, by a right click
                Click(Centre("StepLit", b), Qt::RightButton);
                NoteDetailsDialog& d = app->noteDetails();
                test::Child<QScrollBar>(d, "VelocityScroll")->setValue(Draw(0, 127));
                return QTest::mouseClick(test::Child<QWidget>(d, "OkButton"), Qt::LeftButton);
            }
            case 8: {  // the instrument of a channel, by its name
                Click(Centre("InstrumentName", n));
                InstrumentDialog& d = app->instrumentDialog();
                test::Child<QListWidget>(d, "KitList")->setCurrentRow(Draw(0, 19));
                return QTest::mouseClick(test::Child<QWidget>(d, "OkButton"), Qt::LeftButton);
            }
            case 9: {  // a typed tempo (modal)
                ValueDialog& d = app->valueDialog();
                test::WhileShown(
                    d,
                    [&] {
                        auto* edit = test::Child<QWidget>(d, "Value")->findChild<QLineEdit*>();
                        edit->selectAll();
                        QTest::keyClicks(edit, QString::number(Draw(50, 250)));
                    },
                    "OkButton");
                return Click(Centre("TempoLabel"));
            }
            case 10: {
                const QStringList items[] = {{"&Edit", "C&hannel", "Fade &in"},
                                             {"&Edit", "C&hannel", "Pan ran&domly"},
                                             {"&Edit", "M&easure", "&Erase"},
                                             {"&Various", "&Humanize"},
                                             {"&Various", "1&2 step measure"},
                                             {"&Various", "1&6 step measure"},
                                             {"&Various", "Apply &groove", "&Random Chaos"}};
                return test::MenuItem(Bar(), items[Draw(0, 6)])->trigger();
            }
            default:
                test::MenuItem(Bar(), {"&Edit", "&Copy", Draw(0, 1) ? "&Channel" : "&Measure"})
                    ->trigger();
                Click(Centre("ChannelButton", n));
                return test::MenuItem(Bar(), {"&Edit", Draw(0, 1) ? "&Paste" : "Paste &mix"})
                    ->trigger();
        }
    }

    bool CaptionMarked() {
        return app->mainWindow().windowTitle().startsWith(QLatin1Char('*')) &&
               Panel().windowTitle().startsWith(QLatin1Char('*'));
    }
    bool CaptionClear() {
        return !app->mainWindow().windowTitle().startsWith(QLatin1Char('*')) &&
               !Panel().windowTitle().startsWith(QLatin1Char('*'));
    }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<test::TempFolder>();
        prompter = {};
        dialogs = {};
        app = std::make_unique<QtamApp>("", *dir / "QTam.ini", StandIns{&prompter, &dialogs});
        app->mainWindow().OnActivated();  // the kit
        Panel().show();
        QVERIFY(QTest::qWaitForWindowExposed(&Panel()));
    }
    void cleanup() {
        app.reset();
        dir.reset();
    }

    // After each edit by any input, one undo gives exactly the bytes before it and one redo
    // the bytes after; undoing all gives the start, redoing all the end; the captions carry
    // "*" exactly when the bytes differ from those last saved.
    void everyInputIsOneUndoableEdit() {
        Machine& m = app->machine();
        const SongHistory& history = app->context().edits.history();
        QAction* undo = test::MenuItem(Bar(), {"&Edit", "&Undo"});
        QAction* redo = test::MenuItem(Bar(), {"&Edit", "&Redo"});
        for (int round = 0; round < 3; ++round) {
            for (int i = 0; i < 40; ++i)
                test::SetNote(m, 1, Draw(1, 2), Draw(1, 8), Draw(1, 16), Draw(0, 127));
            app->context().edits.TakeSong();  // as opened
            const Song start = m.song;
            Song saved = m.song;
            for (int step = 0; step < 60; ++step) {
                const Song before = m.song;
                const std::size_t entries = history.Position();
                RandomInput();
                const Song after = m.song;
                if (!Same(before, after)) {
                    QVERIFY2(history.Position() == entries + 1, qPrintable(QString::number(input)));
                    undo->trigger();
                    QVERIFY2(Same(m.song, before), qPrintable(undo->text()));
                    redo->trigger();
                    QVERIFY(Same(m.song, after));
                } else {
                    QCOMPARE(history.Position(), entries);
                }
                if (Draw(0, 15) == 0) {
                    if (m.editor.SongFileName.empty()) dialogs.answers.push_back(*dir / "s.sng");
                    test::MenuItem(Bar(), {"&File", "&Save song"})->trigger();
                    saved = m.song;
                }
                QVERIFY(Same(m.song, saved) ? CaptionClear() : CaptionMarked());
            }
            const Song end = m.song;
            while (undo->isEnabled()) undo->trigger();
            QVERIFY(Same(m.song, start));
            while (redo->isEnabled()) redo->trigger();
            QVERIFY(Same(m.song, end));
            QVERIFY(Same(m.song, saved) ? CaptionClear() : CaptionMarked());
        }
    }

    // Opening the instrument choice and leaving it with Escape is no edit.
    void instrumentChoiceEscapedLeavesNoMark() {
        for (int i = 0; i < 3; ++i) {
            Click(Centre("InstrumentName", 2));
            InstrumentDialog& d = app->instrumentDialog();
            QVERIFY(d.isVisible());
            QTest::keyClick(&d, Qt::Key_Escape);
            QVERIFY(!d.isVisible());
            QVERIFY(!SongChanged(app->machine()));
            QVERIFY(CaptionClear());
        }
        test::MenuItem(Bar(), {"&File", "&New song"})->trigger();
        QVERIFY(prompter.questions.empty());  // nothing to save
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(EditPathsTest)
#include "edit_paths_test.moc"
