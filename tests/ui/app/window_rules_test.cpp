// The rules the windows keep together: an owned window shows after its owner (a window manager
// makes it a transient only of an owner it already knows) and where it is placed, without a
// jump; the userbank editor's shortcuts are its own; the keyboard goes back where it was when a
// dialog or a menu closes; the main window does not close under a dialog; places come back,
// on the visible part of the screen.

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QWindow>
#include <algorithm>
#include <fstream>

#include "core/machine.h"
#include "dialog_test_app.h"
#include "menu_item.h"
#include "temp_folder.h"
#include "test_support.h"
#include "ui/app/application.h"
#include "ui/bank_editor/bank_editor.h"
#include "ui/dialogs/about_box.h"
#include "ui/dialogs/instrument_dialog.h"
#include "ui/dialogs/note_details_dialog.h"
#include "ui/dialogs/song_info_window.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/main_window/main_window.h"
#include "ui/pattern_grid/pattern_grid.h"

using namespace qtam;

namespace {

// Each window's place as it shows, in the order they show.
struct ShowRecorder : QObject {
    std::vector<std::pair<QWidget*, QPoint>> shown;
    bool eventFilter(QObject* o, QEvent* e) override {
        auto* w = qobject_cast<QWidget*>(o);
        if (e->type() == QEvent::Show && w != nullptr && w->isWindow())
            shown.emplace_back(w, w->pos());
        return false;
    }
};

void ActivateAndWait(QWidget* w) {
    w->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), w);
}

}  // namespace

class WindowRulesTest : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempFolder> dir;
    test::ScriptedPrompter prompter;
    test::ScriptedFileDialogs dialogs;

    std::unique_ptr<QtamApp> Start(const std::string& config = "") {
        if (!config.empty()) std::ofstream(*dir / "QTam.ini") << config;
        return std::make_unique<QtamApp>("", *dir / "QTam.ini", StandIns{&prompter, &dialogs});
    }

private Q_SLOTS:
    void init() {
        dir = std::make_unique<test::TempFolder>();
        prompter = {};
        dialogs = {};
    }
    void cleanup() { dir.reset(); }

    void ownedWindowsShowAfterTheirOwnerWithoutAJump() {
        auto app = Start("[Window]\nGridShown=1\nGridWidth=400\nGridHeight=300\n");
        ShowRecorder recorder;
        qApp->installEventFilter(&recorder);
        app->ShowAtStart();
        qApp->removeEventFilter(&recorder);
        QVERIFY(recorder.shown.size() >= 4);  // main window, panel, grid, splash
        std::vector<QWidget*> before;
        for (const auto& [w, at] : recorder.shown) {
            if (QWidget* owner = w->parentWidget())
                QVERIFY2(std::count(before.begin(), before.end(), owner->window()) == 1,
                         w->metaObject()->className());
            before.push_back(w);
        }
        for (const auto& [w, at] : recorder.shown)
            if (w == &app->panel()) QCOMPARE(app->panel().pos(), at);
    }

    void theEditorsShortcutsAreItsOwn() {
        auto app = Start();
        app->ShowAtStart();
        BankEditor& editor = app->bankEditor();
        editor.OpenEditor();
        ActivateAndWait(&editor);
        // The main window has each of these keys too; every file dialog is cancelled.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("Ambiguous shortcut")));
        for (const QKeySequence& key :
             {QKeySequence(Qt::CTRL | Qt::Key_S), QKeySequence(Qt::CTRL | Qt::Key_O),
              QKeySequence(Qt::CTRL | Qt::Key_N)}) {
            QAction* item = nullptr;
            for (QAction* a : editor.findChildren<QAction*>())
                if (a->shortcut() == key) item = a;
            QVERIFY2(item != nullptr, qPrintable(key.toString()));
            QSignalSpy triggered(item, &QAction::triggered);
            QTest::keyClick(&editor, key[0].key(), key[0].keyboardModifiers());
            QVERIFY2(triggered.count() == 1, qPrintable(key.toString()));
            ActivateAndWait(&editor);
        }
        QVERIFY(editor.CloseEditor());
    }

    void theKeyboardGoesBackWhereItWas() {
        auto app = Start();
        app->ShowAtStart();
        // Note details from the grid: back to the grid's table, not to the panel.
        PatternGrid& grid = app->grid();
        grid.ShowGrid();
        QTRY_COMPARE(QApplication::activeWindow(), &grid);
        QWidget* cell = QApplication::focusWidget();
        Q_EMIT grid.noteDetailsRequested();
        QWidget* details = &app->noteDetails();
        QTRY_COMPARE(QApplication::activeWindow(), details);
        QCOMPARE(details->windowHandle()->transientParent(), grid.windowHandle());
        QTest::keyClick(details, Qt::Key_Escape);
        QTRY_COMPARE(QApplication::activeWindow(), &grid);
        QTRY_COMPARE(QApplication::focusWidget(), cell);

        // The instrument dialog: back to the panel's control that opened it.
        GroovePanel& panel = app->panel();
        ActivateAndWait(&panel);
        QTest::keyClick(&panel, Qt::Key_Tab);
        QWidget* spot = QApplication::focusWidget();
        QVERIFY(spot != nullptr && spot->window() == &panel);
        Q_EMIT panel.instrumentChoiceRequested();
        QTRY_COMPARE(QApplication::activeWindow(), &app->instrumentDialog());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        QTRY_COMPARE(QApplication::activeWindow(), &panel);
        QTRY_COMPARE(QApplication::focusWidget(), spot);

        // A menu left with Escape: the menu bar lets the keyboard go, and Space plays.
        MainWindow& main = app->mainWindow();
        ActivateAndWait(&main);
        QTest::keyClick(&main, Qt::Key_F, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget() != nullptr);
        QTest::keyClick(QApplication::activePopupWidget(), Qt::Key_Escape);
        QTRY_VERIFY(!main.menuBar()->hasFocus());
        QTest::keyClick(&main, Qt::Key_Space);
        QVERIFY(QApplication::activePopupWidget() == nullptr);
        QVERIFY(app->machine().Playing);
        app->context().playback.StopPlaying();
    }

    void theMainWindowDoesNotCloseUnderADialog() {
        auto app = Start();
        app->ShowAtStart();
        for (const bool changed : {false, true}) {
            if (changed) test::MakeUnsavedEdit(app->machine());
            app->songInfo().ShowEdit();
            auto* title = app->songInfo().findChild<QLineEdit*>(QStringLiteral("SongTitle"));
            title->setText(QStringLiteral("Typed"));
            QSignalSpy ends(&app->mainWindow(), &MainWindow::LoopEnds);
            QVERIFY(!app->mainWindow().close());
            QCOMPARE(ends.count(), 0);
            QVERIFY(prompter.questions.empty());
            QVERIFY(app->songInfo().isVisible());
            QTRY_COMPARE(QApplication::activeWindow(), &app->songInfo());
            QCOMPARE(title->text(), QStringLiteral("Typed"));
        }
    }

    void placesComeBackOnTheScreen() {
        auto app = Start(
            "[Window]\nPosX=40\nPosY=30\nPanelPosX=60\nPanelPosY=90\n"
            "GridShown=1\nGridPosX=5000\nGridPosY=-4000\nGridWidth=9000\n"
            "GridHeight=500\n");
        app->ShowAtStart();
        QCOMPARE(app->mainWindow().pos(), QPoint(40, 30));
        QCOMPARE(app->panel().pos(), QPoint(60, 90));
        const QRect area = app->grid().screen()->availableGeometry();
        QVERIFY(app->grid().isVisible());
        QVERIFY(area.contains(app->grid().frameGeometry()));
        app->grid().move(5000, 5000);
        app->grid().ShowGrid();
        QVERIFY(area.contains(app->grid().frameGeometry()));

        // The close box keeps the grid shown and the panel's place.
        app->panel().move(70, 80);
        app->aboutBox().Dismiss();
        QVERIFY(app->mainWindow().close());
        app->Exit();
        ConfigFile config(*dir / "QTam.ini");
        config.Read();
        QCOMPARE(config.settings.GridShown, 1);
        QCOMPARE(QPoint(config.settings.PanelPosX, config.settings.PanelPosY), QPoint(70, 80));
    }

    // A start makes only the windows it shows. One made later, when first opened, comes where
    // it was left; one never made keeps its place in the configuration.
    void windowsNotShownAtStartAreMadeWhereTheyWereLeft() {
        auto app = Start(
            "[Window]\nGridShown=0\nGridPosX=100\nGridPosY=120\nGridWidth=500\n"
            "GridHeight=300\nArrangementShown=0\nArrangementPosX=140\nArrangementPosY=160\n"
            "ArrangementWidth=520\nArrangementHeight=340\n");
        app->ShowAtStart();
        QStringList made;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->windowType() != Qt::Popup) made << w->metaObject()->className();
        made.sort();
        QCOMPARE(made, QStringList({"qtam::AboutBox", "qtam::GroovePanel", "qtam::MainWindow"}));

        QAction* item = test::MenuItem(app->mainWindow().menuBar(), {"Window", "Pattern grid"});
        QVERIFY(item != nullptr);
        item->trigger();
        PatternGrid& grid = app->grid();
        QVERIFY(grid.isVisible());
        QCOMPARE(grid.pos(), QPoint(100, 120));
        QCOMPARE(grid.size(), QSize(500, 300));
        grid.move(110, 130);

        app->aboutBox().Dismiss();
        QVERIFY(app->mainWindow().close());
        app->Exit();
        ConfigFile config(*dir / "QTam.ini");
        config.Read();
        const ConfigSettings& s = config.settings;
        QCOMPARE(s.GridShown, 1);
        QCOMPARE(QPoint(s.GridPosX, s.GridPosY), QPoint(110, 130));
        QCOMPARE(s.ArrangementShown, 0);
        QCOMPARE(
            QRect(s.ArrangementPosX, s.ArrangementPosY, s.ArrangementWidth, s.ArrangementHeight),
            QRect(140, 160, 520, 340));
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(WindowRulesTest)
#include "window_rules_test.moc"
