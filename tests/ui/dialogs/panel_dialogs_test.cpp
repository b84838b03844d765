// The windows the panel opens: note details, the value dialog and the instrument selection,
// driven through their actions and controls the way a user does.

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <cstring>
#include <functional>
#include <memory>
#include <type_traits>

#include "core/machine.h"
#include "dialog_test_app.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "test_support.h"
#include "ui/dialogs/instrument_dialog.h"
#include "ui/dialogs/note_details_dialog.h"
#include "ui/dialogs/value_dialog.h"
#include "ui/qt/text.h"
#include "ui/services/app_context.h"

using namespace qtam;
using qtam::test::Child;

namespace {

// One running program's worth of shared state, with the panel's side of the actions counted.
struct Env : test::TestApp {
    int instrumentSelections = 0;

    // Counts (the instrument choice) the window's going away.
    template <class Window>
    void Watch(Window& w) {
        if constexpr (std::is_same_v<Window, InstrumentDialog>)
            QObject::connect(&w, &QDialog::finished, [this] { ++instrumentSelections; });
    }
    // A copy of the Song's bytes, to prove that nothing at all was written.
    std::unique_ptr<Song> SongCopy() const { return std::make_unique<Song>(m->song); }
    bool SongIs(const Song& before) const {
        return std::memcmp(&before, &m->song, sizeof(Song)) == 0;
    }
};

void Click(QWidget* w) {
    QTest::mouseClick(w, Qt::LeftButton);
}

// A window's control, found by its object name, clicked.
void Click(QWidget& window, const char* name) {
    Click(Child<QWidget>(window, name));
}

// The text of a window's label, found by its object name.
QString Text(QWidget& window, const char* label) {
    return Child<QLabel>(window, label)->text();
}

// Runs a modal action and drives its dialog from inside the dialog's own loop.
void RunModal(const std::function<void()>& action, ValueDialog& form,
              const std::function<void(ValueDialog&)>& drive) {
    bool driven = false;
    QTimer::singleShot(0, &form, [&] {
        QVERIFY(form.isVisible());
        QVERIFY(form.isModal());
        drive(form);
        driven = true;
    });
    action();
    QVERIFY(driven);
    QVERIFY(!form.isVisible());
}

// The value dialog's spin edit.
ValueSpinBox* Field(ValueDialog& form) {
    return Child<ValueSpinBox>(form, "Value");
}

void TypeValue(ValueDialog& form, const QString& text) {
    QLineEdit* edit = Field(form)->lineEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
}

QPoint RowCenter(QListWidget* list, int row) {
    return list->visualItemRect(list->item(row)).center();
}

// Through the window, as the window system delivers it: press, release, press (a double
// click), release.
void DoubleClickRow(QListWidget* list, int row) {
    QWidget* window = list->window();
    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {},
                       list->viewport()->mapTo(window, RowCenter(list, row)));
}

int SelectedRow(QListWidget* list) {
    const auto items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.front());
}

}  // namespace

class PanelDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // ---- Note details

    void noteDetailsOnAnEmptyStepShowsNothingAndStoresNothing() {
        Env env;
        NoteDetailsDialog nd(env.ctx);
        env.Watch(nd);
        env.m->editor.CurrentStep = 7;
        const auto before = env.SongCopy();
        nd.ShowDetails();
        QVERIFY(nd.isVisible());
        QCOMPARE(nd.windowTitle(), QStringLiteral("Note details"));
        for (const char* name :
             {"VelocityScroll", "PanScroll", "Reversed", "MaxButton", "CenterButton"}) {
            QVERIFY2(!Child<QWidget>(nd, name)->isEnabled(), name);
        }
        QCOMPARE(Text(nd, "Velocity"), QString());
        QCOMPARE(Text(nd, "Panning"), QString());
        Click(nd, "OkButton");
        QVERIFY(!nd.isVisible());
        QVERIFY(env.SongIs(*before));
        QCOMPARE(env.songEdits, 0);
    }

    void noteDetailsStoreOnlyWhatChanged() {
        Env env;
        NoteDetailsDialog nd(env.ctx);
        env.Watch(nd);
        EditorState& e = env.m->editor;
        e.CurrentPattern = 4;
        e.CurrentMeasure = 2;
        e.CurrentChannel = 3;
        e.CurrentStep = 5;
        e.StartPrepared = true;
        test::SetNote(*env.m, 4, 2, 3, 5, 80, 30, 1);
        env.AsOpened();  // as an opened song holds it

        nd.ShowDetails();
        QVERIFY(Child<QScrollBar>(nd, "VelocityScroll")->isEnabled());
        QCOMPARE(Child<QScrollBar>(nd, "VelocityScroll")->value(), 80);
        QCOMPARE(Text(nd, "Velocity"), QStringLiteral("80"));
        QCOMPARE(Child<QScrollBar>(nd, "PanScroll")->value(), 30);
        QCOMPARE(Text(nd, "Panning"), QStringLiteral("30"));
        QVERIFY(Child<QCheckBox>(nd, "Reversed")->isChecked());
        // "Ok" without moving anything writes nothing.
        Click(nd, "OkButton");
        QVERIFY(!SongChanged(*env.m));
        QCOMPARE(env.songEdits, 0);

        nd.ShowDetails();
        Click(nd, "MaxButton");
        QCOMPARE(Text(nd, "Velocity"), QStringLiteral("127"));
        Click(nd, "CenterButton");
        QCOMPARE(Text(nd, "Panning"), QStringLiteral("64"));
        Click(nd, "Reversed");
        Click(nd, "OkButton");
        QVERIFY(!nd.isVisible());
        const StepCell& c = env.m->song.cell(4, 2, 3, 5);
        QCOMPARE(int(c.velocity), 127);
        QCOMPARE(int(c.pan), 64);
        QCOMPARE(int(c.reversed), 0);
        QVERIFY(SongChanged(*env.m));
        QVERIFY(e.StartPrepared);  // left as it was
        QCOMPARE(env.songEdits, 1);
        // Only the cell at CurrentStep was touched.
        QVERIFY(!env.m->song.cell(4, 2, 3, 6).hasNote());
    }

    void noteDetailsCancelAndReopenShowTheCellAgain() {
        Env env;
        NoteDetailsDialog nd(env.ctx);
        env.Watch(nd);
        env.m->editor.CurrentStep = 2;
        test::SetNote(*env.m, 1, 1, 1, 2, 40, 100, 0);
        nd.ShowDetails();
        Child<QScrollBar>(nd, "VelocityScroll")->setValue(10);
        QCOMPARE(Text(nd, "Velocity"), QStringLiteral("10"));
        Click(nd, "CancelButton");
        QVERIFY(!nd.isVisible());
        QCOMPARE(int(env.m->song.cell(1, 1, 1, 2).velocity), 40);
        nd.ShowDetails();
        QCOMPARE(Child<QScrollBar>(nd, "VelocityScroll")->value(), 40);
        QCOMPARE(Text(nd, "Velocity"), QStringLiteral("40"));
        // A note of velocity 0 is still a note.
        test::SetNote(*env.m, 1, 1, 1, 2, 0, 100, 0);
        nd.hide();
        nd.ShowDetails();
        QVERIFY(Child<QScrollBar>(nd, "VelocityScroll")->isEnabled());
        QCOMPARE(Text(nd, "Velocity"), QStringLiteral("0"));
    }

    void noteDetailsHideWhenTheyLoseTheFocus() {
        Env env;
        NoteDetailsDialog nd(env.ctx);
        env.Watch(nd);
        QWidget panel;
        panel.resize(200, 100);
        panel.show();
        env.m->editor.CurrentStep = 3;
        test::SetNote(*env.m, 1, 1, 1, 3, 90);
        env.AsOpened();
        for (int round = 0; round < 2; ++round) {  // the second opening behaves the same
            nd.ShowDetails();
            QVERIFY(QTest::qWaitForWindowActive(&nd));
            Child<QScrollBar>(nd, "VelocityScroll")->setValue(20);
            panel.activateWindow();  // a click outside the window
            QTRY_VERIFY(!nd.isVisible());
            QCOMPARE(int(env.m->song.cell(1, 1, 1, 3).velocity), 90);
            QVERIFY(!SongChanged(*env.m));
        }
        // Shown but never active (the panel kept the focus): it stays.
        nd.show();
        QTest::qWait(50);
        QVERIFY(nd.isVisible());
    }

    // ---- Value dialog

    void tempoEntry_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("byEnter");
        QTest::addColumn<int>("tempo");
        QTest::newRow("in range") << "133" << false << 133;
        QTest::newRow("in range, Enter") << "133" << true << 133;
        QTest::newRow("above") << "300" << false << 250;
        QTest::newRow("below, Enter") << "20" << true << 50;
        QTest::newRow("not a number") << "x1" << false << 50;
        QTest::newRow("not a number, Enter") << "1x" << true << 50;
        QTest::newRow("empty") << "" << false << 50;
        QTest::newRow("cut at 3 characters") << "2000" << false << 200;
    }
    void tempoEntry() {
        QFETCH(QString, typed);
        QFETCH(bool, byEnter);
        QFETCH(int, tempo);
        Env env;
        ValueDialog form(env.ctx);
        env.Watch(form);
        env.m->song.tempo = 120;
        env.m->editor.StartPrepared = true;
        RunModal([&] { form.EnterTempo(); }, form,
                 [&](ValueDialog& f) {
                     // The title and the prompt name the value and its range.
                     QCOMPARE(f.windowTitle(), QStringLiteral("Tempo (50 to 250 BPM)"));
                     QVERIFY(Text(f, "ValueLabel").contains(QStringLiteral("from 50 to 250")));
                     QCOMPARE(f.Text(), QStringLiteral("120"));
                     QCOMPARE(Field(f)->minimum(), 50);
                     QCOMPARE(Field(f)->maximum(), 250);
                     QTRY_VERIFY(Field(f)->hasFocus());
                     TypeValue(f, typed);
                     // What the field holds (cut to its length) before anything is corrected.
                     const bool corrected = f.Text() != QString::number(tempo);
                     auto confirm = [&] {
                         if (byEnter) {
                             QTest::keyClick(Field(f)->lineEdit(), Qt::Key_Return);
                         } else {
                             Click(f, "OkButton");
                         }
                     };
                     confirm();
                     // A value that is stored otherwise is first shown corrected: the dialog
                     // stays, and the next confirmation takes what it shows.
                     QCOMPARE(f.isVisible(), corrected);
                     if (!corrected) return;
                     QCOMPARE(f.Text(), QString::number(tempo));
                     QVERIFY(Child<QLabel>(f, "CorrectionLabel")->isVisible());
                     QVERIFY(Text(f, "CorrectionLabel").contains(QString::number(tempo)));
                     confirm();
                 });
        QCOMPARE(int(env.m->song.tempo), tempo);
        QVERIFY(SongChanged(*env.m));
        QVERIFY(!env.m->editor.StartPrepared);
        QCOMPARE(env.songEdits, 1);
    }

    void shuffleEntryHalvesAndArrowsStepByTwo() {
        Env env;
        ValueDialog form(env.ctx);
        env.Watch(form);
        env.m->song.shuffle = 100;
        RunModal([&] { form.EnterShuffle(); }, form,
                 [](ValueDialog& f) {
                     QCOMPARE(f.windowTitle(), QStringLiteral("Shuffle (0 to 100)"));
                     QCOMPARE(f.Text(), QStringLiteral("0"));
                     TypeValue(f, QStringLiteral("51"));
                     Click(f, "OkButton");
                     // 51 is off the grid of two: 50 is shown before it is stored.
                     QVERIFY(f.isVisible());
                     QCOMPARE(f.Text(), QStringLiteral("50"));
                     Click(f, "OkButton");
                 });
        QCOMPARE(int(env.m->song.shuffle), 125);
        RunModal([&] { form.EnterShuffle(); }, form,
                 [](ValueDialog& f) {
                     QCOMPARE(f.Text(), QStringLiteral("50"));  // the odd entry lost its half
                     QTest::keyClick(Field(f), Qt::Key_Up);
                     QCOMPARE(f.Text(), QStringLiteral("52"));
                     Click(f, "OkButton");
                 });
        QCOMPARE(int(env.m->song.shuffle), 126);
        RunModal([&] { form.EnterShuffle(); }, form,
                 [](ValueDialog& f) {
                     TypeValue(f, QStringLiteral("120"));
                     QCOMPARE(f.EnteredValue(), 100);
                     Click(f, "OkButton");
                     QCOMPARE(f.Text(), QStringLiteral("100"));
                     // Typing again takes the correction's note away.
                     TypeValue(f, QStringLiteral("100"));
                     QVERIFY(!Child<QLabel>(f, "CorrectionLabel")->isVisible());
                     Click(f, "OkButton");
                 });
        QCOMPARE(int(env.m->song.shuffle), 150);
        QCOMPARE(env.songEdits, 3);
    }

    void valueCancelChangesNothing() {
        Env env;
        ValueDialog form(env.ctx);
        env.Watch(form);
        env.m->song.tempo = 120;
        env.AsOpened();
        env.m->editor.StartPrepared = true;
        const auto before = env.SongCopy();
        RunModal([&] { form.EnterTempo(); }, form,
                 [](ValueDialog& f) {
                     TypeValue(f, QStringLiteral("200"));
                     Click(f, "CancelButton");
                 });
        RunModal([&] { form.EnterShuffle(); }, form,
                 [](ValueDialog& f) {
                     TypeValue(f, QStringLiteral("90"));
                     QTest::keyClick(Field(f)->lineEdit(), Qt::Key_Escape);
                 });
        QVERIFY(env.SongIs(*before));
        QVERIFY(env.m->editor.StartPrepared);
        QCOMPARE(env.songEdits, 0);
    }

    // ---- Instrument selection

    void patchSelectOpensOnTheChannelsSound() {
        Env env;
        InstrumentDialog ps(env.ctx);
        QListWidget* kit = Child<QListWidget>(ps, "KitList");
        QListWidget* userbank = Child<QListWidget>(ps, "UserbankList");
        env.Watch(ps);
        test::SetSound(env.m->banks.internalBank, 1, {1, 2, 3}, "Kick");
        test::SetSound(env.m->banks.userbank, 3, {1, 2, 3}, "Caf\xE9");
        env.m->banks.userbank.slot(4).name = "stale name";  // no sound: listed as empty
        env.m->editor.CurrentPattern = 2;
        env.m->editor.CurrentChannel = 3;
        env.m->song.settings(2).instrument[2] = 103;
        ps.ShowForCurrentChannel();
        QVERIFY(ps.isVisible());
        QCOMPARE(ps.windowTitle(), QStringLiteral("Select an instrument"));
        QCOMPARE(kit->count(), 20);
        QCOMPARE(userbank->count(), 20);
        QCOMPARE(kit->item(0)->text(), QStringLiteral("Kick"));
        QCOMPARE(kit->item(1)->text(), QStringLiteral("<empty>"));
        QCOMPARE(userbank->item(2)->text(), QString::fromUtf8("Café"));
        QCOMPARE(userbank->item(3)->text(), QStringLiteral("<empty>"));
        QCOMPARE(SelectedRow(userbank), 2);
        QCOMPARE(SelectedRow(kit), -1);

        // Another channel on a kit sound: the selection moves across.
        Click(ps, "CancelButton");
        env.m->editor.CurrentChannel = 4;
        env.m->song.settings(2).instrument[3] = 20;
        ps.ShowForCurrentChannel();
        QCOMPARE(SelectedRow(kit), 19);
        QCOMPARE(SelectedRow(userbank), -1);

        // Numbers naming no slot select nothing, and "Ok" then keeps them.
        for (int odd : {0, 21, 100, 121}) {
            Click(ps, "CancelButton");
            env.m->song.settings(2).instrument[3] = static_cast<std::uint8_t>(odd);
            ps.ShowForCurrentChannel();
            QCOMPARE(SelectedRow(kit), -1);
            QCOMPARE(SelectedRow(userbank), -1);
            Click(ps, "OkButton");
            QCOMPARE(int(env.m->song.settings(2).instrument[3]), odd);
        }
    }

    // Each entry selected by the arrows or the mouse is heard (the device opened and fed),
    // and the Song's bytes never change until "Ok".
    void patchSelectPlaysTheSelectedSound() {
        Env env;
        InstrumentDialog ps(env.ctx);
        QListWidget* kit = Child<QListWidget>(ps, "KitList");
        for (int n = 1; n <= 3; ++n)
            test::SetSound(env.m->banks.internalBank, n, std::vector<std::int16_t>(4000, 3000));
        env.m->song.settings(1).instrument[0] = 1;
        const auto before = env.SongCopy();
        ps.ShowForCurrentChannel();
        QVERIFY(!env.playback.Playback.IsOpen());  // opening shows, plays nothing
        QTest::keyClick(kit, Qt::Key_Down);
        QVERIFY(env.playback.Playback.IsOpen());
        const std::uint64_t written = env.playback.Playback.NextSerial();
        QVERIFY(env.playback.Playback.IsPlaying());
        QTest::mouseClick(kit->viewport(), Qt::LeftButton, {},
                          kit->visualItemRect(kit->item(2)).center());
        QCOMPARE(SelectedRow(kit), 2);
        // One block a selection: the sound heard before is cut short by the new one.
        QCOMPARE(env.playback.Playback.NextSerial(), written + 1);
        QVERIFY(env.playback.Playback.IsPlaying());
        QVERIFY(env.SongIs(*before));
        Click(ps, "OkButton");
        QCOMPARE(int(env.m->song.settings(1).instrument[0]), 3);
    }

    void patchSelectKeepsOneSelectionAcrossBothLists() {
        Env env;
        InstrumentDialog ps(env.ctx);
        QListWidget* kit = Child<QListWidget>(ps, "KitList");
        QListWidget* userbank = Child<QListWidget>(ps, "UserbankList");
        env.Watch(ps);
        env.m->song.settings(1).instrument[0] = 2;
        ps.ShowForCurrentChannel();
        QTest::mouseClick(userbank->viewport(), Qt::LeftButton, {}, RowCenter(userbank, 6));
        QCOMPARE(SelectedRow(userbank), 6);
        QCOMPARE(SelectedRow(kit), -1);
        QTest::mouseClick(kit->viewport(), Qt::LeftButton, {}, RowCenter(kit, 8));
        QCOMPARE(SelectedRow(kit), 8);
        QCOMPARE(SelectedRow(userbank), -1);
        QTest::mouseClick(userbank->viewport(), Qt::LeftButton, {}, RowCenter(userbank, 11));
        QCOMPARE(SelectedRow(kit), -1);
        Click(ps, "OkButton");
        QVERIFY(!ps.isVisible());
        QCOMPARE(int(env.m->song.settings(1).instrument[0]), 112);
        QVERIFY(SongChanged(*env.m));
        QCOMPARE(env.songEdits, 1);
        QCOMPARE(env.instrumentSelections, 1);  // the panel re-activates its channel
    }

    void patchSelectDoubleClickIsOk() {
        Env env;
        InstrumentDialog ps(env.ctx);
        QListWidget* kit = Child<QListWidget>(ps, "KitList");
        env.Watch(ps);
        env.m->song.settings(1).instrument[0] = 105;
        env.AsOpened();
        ps.ShowForCurrentChannel();
        DoubleClickRow(kit, 4);
        QTRY_VERIFY(!ps.isVisible());
        QCOMPARE(int(env.m->song.settings(1).instrument[0]), 5);
        QVERIFY(SongChanged(*env.m));
        QCOMPARE(env.instrumentSelections, 1);

        // Choosing the sound the channel already has marks nothing.
        env.AsOpened();
        ps.ShowForCurrentChannel();
        DoubleClickRow(kit, 4);
        QTRY_VERIFY(!ps.isVisible());
        QVERIFY(!SongChanged(*env.m));
        QCOMPARE(env.songEdits, 0);
        QCOMPARE(env.instrumentSelections, 2);
    }

    void patchSelectCancelKeepsTheSound() {
        Env env;
        InstrumentDialog ps(env.ctx);
        QListWidget* userbank = Child<QListWidget>(ps, "UserbankList");
        env.Watch(ps);
        env.m->song.settings(1).instrument[0] = 7;
        env.AsOpened();
        const auto before = env.SongCopy();
        ps.ShowForCurrentChannel();
        QTest::mouseClick(userbank->viewport(), Qt::LeftButton, {}, RowCenter(userbank, 0));
        Click(ps, "CancelButton");
        QVERIFY(!ps.isVisible());
        QVERIFY(env.SongIs(*before));
        QVERIFY(!SongChanged(*env.m));
        QCOMPARE(env.instrumentSelections, 1);
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(PanelDialogsTest)
#include "panel_dialogs_test.moc"
