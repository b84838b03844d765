// The arrangement window: its keys and drags make one undoable edit each, Enter plays from the
// entry with the cursor, and the entry heard is lit.

#include "ui/arrangement/arrangement_window.h"

#include <QTest>

#include "core/arrangement.h"
#include "dialog_test_app.h"

using namespace qtam;

class ArrangementWindowTest : public QObject {
    Q_OBJECT

    // "pattern x repeats m mutes" per entry, and the loop.
    static QString Listed(const Arrangement& a) {
        QString s;
        for (int e = 1; e <= a.count; ++e)
            s += QStringLiteral("%1x%2m%3 ")
                     .arg(a.entry(e).pattern)
                     .arg(a.entry(e).repeats)
                     .arg(a.entry(e).mutes);
        return s + QStringLiteral("loop %1").arg(a.loopTo);
    }

private Q_SLOTS:
    void keysAndDragsMakeOneUndoableEditEach() {
        test::TestApp app;
        ArrangementWindow window(app.ctx, nullptr);
        int played = 0;
        window.playFromEntry = [&played](int entry) { played = entry; };
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        ArrangementView& view = window.view();
        const struct {
            Qt::Key key;
            Qt::KeyboardModifiers mods;
            const char* after;
        } steps[] = {
            {Qt::Key_A, {}, "1x1m0 loop 0"},
            {Qt::Key_Insert, {}, "1x1m0 1x1m0 loop 0"},
            {Qt::Key_3, {}, "1x1m0 3x1m0 loop 0"},
            {Qt::Key_Plus, {}, "1x1m0 3x2m0 loop 0"},
            {Qt::Key_4, Qt::ControlModifier, "1x1m0 3x2m8 loop 0"},
            {Qt::Key_D, {}, "1x1m0 3x2m8 3x2m8 loop 0"},
            {Qt::Key_Minus, {}, "1x1m0 3x2m8 3x1m8 loop 0"},
            {Qt::Key_Up, Qt::ControlModifier, "1x1m0 3x1m8 3x2m8 loop 0"},
            {Qt::Key_L, {}, "1x1m0 3x1m8 3x2m8 loop 2"},
            {Qt::Key_Delete, {}, "1x1m0 3x2m8 loop 0"},
        };
        std::size_t entries = app.edits.history().EntryCount();
        for (const auto& s : steps) {
            QTest::keyClick(&view, s.key, s.mods);
            QCOMPARE(Listed(app.m->arrangement), QString::fromLatin1(s.after));
            QCOMPARE(app.edits.history().EntryCount(), ++entries);
        }
        // Entry 1 dragged onto entry 2 moves there; Enter plays from where the cursor is.
        const auto row = [&](int r) { return view.visualRect(view.model()->index(r, 1)).center(); };
        QTest::mousePress(view.viewport(), Qt::LeftButton, {}, row(0));
        QTest::mouseMove(view.viewport(), row(1));
        QTest::mouseRelease(view.viewport(), Qt::LeftButton, {}, row(1));
        QCOMPARE(Listed(app.m->arrangement), QStringLiteral("3x2m8 1x1m0 loop 0"));
        QCOMPARE(app.edits.history().EntryCount(), ++entries);
        QTest::keyClick(&view, Qt::Key_Return);
        QCOMPARE(played, 2);
        for (std::size_t n = 0; n <= std::size(steps); ++n) QVERIFY(app.edits.Undo());
        QCOMPARE(Listed(app.m->arrangement), QStringLiteral("loop 0"));
        QCOMPARE(view.model()->rowCount(), 0);
    }

    // The lit entry follows the reported place, and a screen reader hears which it is.
    void theEntryHeardIsLit() {
        test::TestApp app;
        for (int p : {2, 5, 7}) app.edits.AddEntry(app.m->arrangement.count + 1, p, 2);
        ArrangementWindow window(app.ctx, nullptr);
        for (int entry : {2, 3, 1, 0}) {
            PlayPosition heard;
            heard.pattern = heard.measure = 1;
            heard.step = entry > 0 ? 3 : 0;
            heard.entry = entry;
            window.ShowHeard(heard);
            for (int row = 0; row < 3; ++row) {
                const QModelIndex at = window.model().index(row, ArrangementModel::kEntry);
                QCOMPARE(at.data(Qt::BackgroundRole).isValid(), row + 1 == entry);
                QCOMPARE(at.data(Qt::AccessibleTextRole).toString().endsWith(u"playing"),
                         row + 1 == entry);
            }
        }
    }
};

QTAM_TEST_CLASS(ArrangementWindowTest)
#include "arrangement_window_test.moc"
