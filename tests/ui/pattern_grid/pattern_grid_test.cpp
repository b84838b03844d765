// The pattern grid: the same bytes as the panel for the same gestures, the keyboard's cursor and
// toggles, and the table a screen reader reads.

#include "ui/pattern_grid/pattern_grid.h"

#include <QAccessible>
#include <QApplication>
#include <QCheckBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QWheelEvent>
#include <cstring>
#include <random>

#include "dialog_test_app.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/groove_panel/panel_values.h"

using namespace qtam;

class PatternGridTest : public QObject {
    Q_OBJECT

    static QPoint CenterOf(PatternGridView& view, int row, int column) {
        return view.visualRect(view.model()->index(row, column)).center();
    }

private Q_SLOTS:
    // Random clicks and drags on the grid, and the panel's step clicks that give each cell the
    // same state, edit the same bytes, in 16 and 12 steps and in other measures.
    void editsTheSameBytesAsThePanel() {
        test::TestApp gridApp, panelApp;
        PatternGrid grid(gridApp.ctx, nullptr);
        GroovePanel panel(panelApp.ctx);
        grid.resize(700, 320);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        PatternGridView& view = grid.view();
        std::mt19937 rng(36);
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
        for (int gesture = 0; gesture < 120; ++gesture) {
            if (gesture % 40 == 0) {  // another step count and measure now and then
                const int steps = gesture == 40 ? 12 : 16;
                for (test::TestApp* app : {&gridApp, &panelApp}) {
                    app->edits.SetStepsPerMeasure(steps);
                    app->edits.SetMeasureCount(3);
                    app->edits.ChooseMeasure(1 + gesture / 40);
                }
            }
            const int steps = StepsPerMeasureOf(gridApp.m->song);
            const int row = pick(0, 7), from = pick(0, steps - 1);
            const int to = pick(0, 2) == 0 ? pick(0, steps - 1) : from;  // a drag or a click
            QTest::mousePress(view.viewport(), Qt::LeftButton, {}, CenterOf(view, row, from));
            for (int c = from; c != to; c += to > from ? 1 : -1)
                QTest::mouseMove(view.viewport(), CenterOf(view, row, c + (to > from ? 1 : -1)));
            QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, CenterOf(view, row, to));

            // The panel: the row's channel, a click on the first step, then on every step of
            // the drag whose state differs from what the first one got.
            panelApp.edits.ChooseChannel(row + 1);
            const auto press = [&](int c) { panel.PressStep(ButtonOfSlot(c + 1, steps)); };
            press(from);
            const Machine& pm = *panelApp.m;
            const auto cell = [&](int c) {
                return pm.song.cell(pm.editor.CurrentPattern, pm.editor.CurrentMeasure, row + 1,
                                    c + 1);
            };
            const bool note = cell(from).hasNote();
            for (int c = std::min(from, to); c <= std::max(from, to); ++c)
                if (cell(c).hasNote() != note) press(c);
            QVERIFY2(std::memcmp(&gridApp.m->song, &pm.song, sizeof(Song)) == 0,
                     qPrintable(QStringLiteral("gesture %1").arg(gesture)));
        }
        // Each click is one entry, each drag one more.
        QVERIFY(gridApp.edits.history().EntryCount() >= 60);
    }

    // Arrows move the cursor, 1..8 choose the row, Enter toggles, Shift+Enter asks for the
    // details of that cell, Space plays rather than toggles; every toggle is undoable.
    // A note's velocity by the wheel (a gesture one entry, held within 1..127, said to the screen
    // reader), by a held key and by a Ctrl+drag; the accent and back; a row's label, clicked or
    // reached by Left and Enter, asks for its channel's instrument.
    void velocityGesturesAndRowLabels() {
        test::TestApp app;
        PatternGrid grid(app.ctx, nullptr);
        grid.resize(700, 320);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        PatternGridView& view = grid.view();
        app.edits.ToggleCell(2, 3);  // velocity 80
        app.AsOpened();
        const StepCell& cell = app.m->song.cell(1, 1, 2, 3);
        const QPoint at = CenterOf(view, 1, 2);
        auto wheel = [&](int notches) {
            QWheelEvent e(at, view.viewport()->mapToGlobal(at), {}, QPoint(0, 120 * notches),
                          Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(view.viewport(), &e);
        };
        const auto& history = app.edits.history();
        for (int i = 0; i < 3; ++i) wheel(1);
        QCOMPARE(int(cell.velocity), 104);
        QCOMPARE(view.accessibleDescription(), QStringLiteral("Velocity 104"));
        QTRY_COMPARE(history.EntryCount(), std::size_t(1));  // the pause ends the gesture
        QCOMPARE(app.edits.UndoText(), "Velocity channel 2, step 3");
        for (int i = 0; i < 20; ++i) wheel(-1);
        QCOMPARE(int(cell.velocity), 1);
        wheel(30);
        QCOMPARE(int(cell.velocity), 127);
        QTRY_COMPARE(history.EntryCount(), std::size_t(2));
        // "-" held: one entry when it comes up.
        view.setFocus();
        for (bool repeat : {false, true, true}) {
            QKeyEvent down(QEvent::KeyPress, Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-"),
                           repeat);
            QApplication::sendEvent(&view, &down);
        }
        QCOMPARE(int(cell.velocity), 103);
        QKeyEvent up(QEvent::KeyRelease, Qt::Key_Minus, Qt::NoModifier, QStringLiteral("-"));
        QApplication::sendEvent(&view, &up);
        QCOMPARE(history.EntryCount(), std::size_t(3));
        // Ctrl+drag up 16 pixels: two steps, one entry.
        QTest::mousePress(view.viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QTest::mouseMove(view.viewport(), at - QPoint(0, 16));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, Qt::ControlModifier, at);
        QCOMPARE(int(cell.velocity), 119);
        QCOMPARE(history.EntryCount(), std::size_t(4));
        QTest::mouseClick(view.viewport(), Qt::LeftButton, Qt::ShiftModifier, at);
        QCOMPARE(int(cell.velocity), 127);
        QTest::keyClick(&view, Qt::Key_A);
        QCOMPARE(int(cell.velocity), 119);
        QVERIFY(app.edits.Undo() && app.edits.Undo() && app.edits.Undo());
        QCOMPARE(int(cell.velocity), 103);

        QSignalSpy asked(&grid, &PatternGrid::instrumentChoiceRequested);
        QHeaderView* labels = view.verticalHeader();
        QTest::mouseClick(labels->viewport(), Qt::LeftButton, {},
                          QPoint(labels->width() / 2, labels->sectionViewportPosition(4) + 5));
        QCOMPARE(asked.size(), 1);
        QCOMPARE(int(app.m->editor.CurrentChannel), 5);
        view.setCurrentIndex(view.model()->index(6, 0));
        QTest::keyClick(&view, Qt::Key_Left);
        QVERIFY(view.model()->headerData(6, Qt::Vertical).toString().startsWith(u'\u25B6'));
        QTest::keyClick(&view, Qt::Key_Enter);
        QCOMPARE(asked.size(), 2);
        QCOMPARE(int(app.m->editor.CurrentChannel), 7);

        // Another pattern heard is named; the one shown heard is not; Follow is the transport's.
        auto* playing = grid.findChild<QLabel*>(QStringLiteral("Playing"));
        grid.ShowHeard({2, 3, 5});
        QCOMPARE(playing->text(), QStringLiteral("\u25B6 Playing pattern 2, measure 3"));
        grid.ShowHeard({1, 1, 6});
        QVERIFY(playing->text().isEmpty());
        grid.findChild<QCheckBox*>(QStringLiteral("Follow"))->click();
        QVERIFY(app.transport.Following());
    }

    // The row menu, from a right click on a cell, the Menu key and a label's right click: each
    // fill is one entry from its step that keeps the notes there, and is said.
    void theRowMenuFillsAndClears() {
        test::TestApp app;
        PatternGrid grid(app.ctx, nullptr);
        grid.resize(700, 320);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        PatternGridView& view = grid.view();
        app.edits.ToggleCell(3, 5);
        app.edits.ToggleAccent(3, 5, 80);  // velocity 127
        app.AsOpened();
        const Song before = app.m->song;
        auto* menu = view.findChild<QMenu*>(QStringLiteral("RowMenu"));
        auto choose = [&](const QString& text) {
            QTRY_VERIFY(menu->isVisible());
            for (QAction* item : menu->actions())
                if (item->text().remove(QLatin1Char('&')) == text) item->trigger();
            menu->close();
        };
        const auto velocities = [&](int channel) {
            QString row;
            for (int slot = 1; slot <= 16; ++slot)
                row += QString::number(app.m->song.cell(1, 1, channel, slot).velocity) + ' ';
            return row.trimmed();
        };
        QTest::mouseClick(view.viewport(), Qt::RightButton, {}, CenterOf(view, 2, 2));
        choose(QStringLiteral("Fill every 2nd step"));
        QCOMPARE(velocities(3), QStringLiteral("-1 -1 80 -1 127 -1 80 -1 80 -1 80 -1 80 -1 80 -1"));
        QCOMPARE(app.edits.history().EntryCount(), std::size_t(1));
        QCOMPARE(app.edits.UndoText(), "Fill channel 3 every 2nd step from step 3");
        QCOMPARE(view.accessibleDescription(),
                 QStringLiteral("Filled every 2nd step from step 3, channel 3"));
        view.setFocus();
        view.setCurrentIndex(view.model()->index(0, 0));
        QTest::keyClick(&view, Qt::Key_Menu);
        choose(QStringLiteral("Fill every 4th step"));
        QCOMPARE(velocities(1), QStringLiteral("80 -1 -1 -1 80 -1 -1 -1 80 -1 -1 -1 80 -1 -1 -1"));
        // A label's menu has no note details and works from step 1.
        QHeaderView* labels = view.verticalHeader();
        Q_EMIT labels->customContextMenuRequested(
            QPoint(5, labels->sectionViewportPosition(2) + 5));
        QVERIFY(!menu->actions().front()->isVisible());
        choose(QStringLiteral("Clear row"));
        QCOMPARE(velocities(3), QStringLiteral("-1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1 -1"));
        QCOMPARE(app.edits.history().EntryCount(), std::size_t(3));
        QVERIFY(app.edits.Undo() && app.edits.Undo() && app.edits.Undo());
        QVERIFY(std::memcmp(&app.m->song, &before, sizeof(Song)) == 0);
    }

    void theKeyboardWorksTheCells() {
        test::TestApp app;
        PatternGrid grid(app.ctx, nullptr);
        QSignalSpy details(&grid, &PatternGrid::noteDetailsRequested);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        PatternGridView& view = grid.view();
        view.setFocus();
        QTest::keyClick(&view, Qt::Key_3);
        QTest::keyClick(&view, Qt::Key_Right);
        QTest::keyClick(&view, Qt::Key_Right);
        QCOMPARE(view.currentIndex().row(), 2);
        QCOMPARE(view.currentIndex().column(), 2);
        QTest::keyClick(&view, Qt::Key_Return);
        QVERIFY(app.m->song.cell(1, 1, 3, 3).hasNote());
        QTest::keyClick(&view, Qt::Key_Space);
        QVERIFY(app.m->song.cell(1, 1, 3, 3).hasNote());
        QTest::keyClick(&view, Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(details.count(), 1);
        QCOMPARE(int(app.m->editor.CurrentChannel), 3);
        QCOMPARE(int(app.m->editor.CurrentStep), 3);
        QCOMPARE(app.edits.UndoText(), std::string_view("Toggle step 3, channel 3"));
        QVERIFY(app.edits.Undo());
        QVERIFY(!app.m->song.cell(1, 1, 3, 3).hasNote());

        // The pattern and measure are the panel's, both ways; a row's label chooses its channel.
        auto* pattern = test::Child<QSpinBox>(grid, "Pattern");
        auto* measure = test::Child<QSpinBox>(grid, "Measure");
        pattern->setValue(4);
        QCOMPARE(int(app.m->editor.CurrentPattern), 4);
        app.edits.SetMeasureCount(3);
        app.edits.ChooseMeasure(3);
        QCOMPARE(measure->value(), 3);
        QTest::mouseClick(view.verticalHeader()->viewport(), Qt::LeftButton, {},
                          QPoint(10, view.rowViewportPosition(5) + 5));
        QCOMPARE(int(app.m->editor.CurrentChannel), 6);
    }

    // A table with row and column headers; a cell's name says channel, sound, step, velocity.
    void aScreenReaderReadsATable() {
        test::TestApp app;
        test::SetSound(app.m->banks.internalBank, 2, {1, 2, 3}, "Kick Punch          ");
        app.m->song.settings(1).instrument[0] = 2;
        app.m->song.settings(1).mute[1] = 1;
        test::SetNote(*app.m, 1, 1, 1, 5, 100, 30, true);
        PatternGrid grid(app.ctx, nullptr);
        grid.show();
        QVERIFY(QTest::qWaitForWindowExposed(&grid));
        QAccessibleInterface* table = QAccessible::queryAccessibleInterface(&grid.view());
        QVERIFY(table != nullptr && table->tableInterface() != nullptr);
        QCOMPARE(table->role(), QAccessible::Table);
        QCOMPARE(table->tableInterface()->rowCount(), 8);
        QCOMPARE(table->tableInterface()->columnCount(), 16);
        QAccessibleInterface* cell = table->tableInterface()->cellAt(0, 4);
        QCOMPARE(cell->text(QAccessible::Name),
                 QStringLiteral("Channel 1, Kick Punch, step 5, velocity 100, reversed, pan 30"));
        QCOMPARE(table->tableInterface()->cellAt(1, 0)->text(QAccessible::Name),
                 QStringLiteral("Channel 2, no sound, step 1, no note"));
        // Qt makes the header cells it lists for the caller, who deletes them.
        const auto rowHeaders = cell->tableCellInterface()->rowHeaderCells();
        const auto columnHeaders = cell->tableCellInterface()->columnHeaderCells();
        QCOMPARE(rowHeaders.size(), 1);
        QCOMPARE(columnHeaders.size(), 1);
        const QString rowName = rowHeaders.first()->text(QAccessible::Name);
        const QString columnName = columnHeaders.first()->text(QAccessible::Name);
        for (QAccessibleInterface* made : rowHeaders + columnHeaders)
            QAccessible::deleteAccessibleInterface(QAccessible::registerAccessibleInterface(made));
        QCOMPARE(rowName, QStringLiteral("Channel 1 Kick Punch"));
        QCOMPARE(columnName, QStringLiteral("Step 5"));
        QCOMPARE(grid.view().model()->headerData(1, Qt::Vertical, Qt::AccessibleTextRole),
                 QVariant(QStringLiteral("Channel 2 no sound, muted")));
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(PatternGridTest)
#include "pattern_grid_test.moc"
