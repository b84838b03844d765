// The groove panel by keyboard and through Qt's accessibility layer: every control described,
// the focus ring, and a beat made by keys alone against the same beat made by the mouse.

#include <QAccessible>
#include <QKeyEvent>
#include <QPixmap>
#include <QScrollBar>
#include <QSet>
#include <QTest>
#include <QWindow>
#include <cstring>
#include <memory>
#include <tuple>
#include <vector>

#include "core/machine.h"
#include "dialog_test_app.h"
#include "engine/audio/playback.h"
#include "engine/mixer.h"
#include "song/edit_ops.h"
#include "ui/dialogs/note_details_dialog.h"
#include "ui/dialogs/slide_dialog.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/services/app_context.h"
#include "ui/services/event_pump.h"

using namespace qtam;

namespace {

std::vector<QAccessible::Event> g_events;
std::vector<QObject*> g_eventObjects;

void RecordEvent(QAccessibleEvent* event) {
    g_events.push_back(event->type());
    g_eventObjects.push_back(event->object());
}

// The panel's focus spots in Tab order (their order of creation).
std::vector<FocusSpot*> Spots(GroovePanel& panel) {
    std::vector<FocusSpot*> spots;
    for (QWidget* w : panel.findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (auto* s = dynamic_cast<FocusSpot*>(w)) spots.push_back(s);
    return spots;
}

struct KeysRig : test::TestApp {
    EventPump pump{events};
    std::unique_ptr<GroovePanel> panel;

    KeysRig() {
        ResetTransport(*m);
        SetTempo(PlayerOf(*m), m->song.tempo, m->song.shuffle);
        panel = std::make_unique<GroovePanel>(ctx);
        panel->show();
        panel->activateWindow();
        (void)QTest::qWaitForWindowActive(panel.get());
    }
    ~KeysRig() {
        if (m->Playing) playback.StopPlaying();
        panel.reset();
    }

    FocusSpot* spot(const QString& name) const { return panel->findChild<FocusSpot*>(name); }
    QString focused() const {
        QWidget* w = panel->focusWidget();
        return w ? w->objectName() : QString();
    }
    void key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QWidget* target = panel->focusWidget() ? panel->focusWidget() : panel.get();
        QTest::keyClick(target, Qt::Key(key), mods);
    }
    void keys(int key, int times) {
        for (int i = 0; i < times; ++i) this->key(key);
    }
    // A click at the middle of a control, through the window, on whatever lies there.
    void clickMiddleOf(const QWidget* w) {
        const QPoint at = w->geometry().center();
        QTest::mouseClick(panel->windowHandle(), Qt::LeftButton, Qt::NoModifier, at);
    }
};

QAccessibleInterface* AccessibleOf(QWidget* w) {
    return QAccessible::queryAccessibleInterface(w);
}

}  // namespace

class PanelKeysTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() {
        QAccessible::installUpdateHandler(RecordEvent);
        QAccessible::setActive(true);
    }

    // Every control has a role and a name of its own, lies over its picture without taking
    // the mouse, and a click on it shows in its state.
    void everyControlIsDescribedAndFollowsClicks() {
        KeysRig r;
        QSet<QString> names;
        for (FocusSpot* s : Spots(*r.panel)) {
            QAccessibleInterface* a = AccessibleOf(s);
            QVERIFY(a);
            const QString name = a->text(QAccessible::Name);
            QVERIFY2(!name.isEmpty(), qPrintable(s->objectName()));
            QVERIFY2(!names.contains(name), qPrintable(name));
            names.insert(name);
            QVERIFY(a->role() != QAccessible::Client && a->role() != QAccessible::NoRole);
            QVERIFY(a->state().focusable);
            QVERIFY(r.panel->childAt(s->geometry().center()) != s);
        }
        QCOMPARE(names.size(),
                 8 * 5 + 16 + 8 + 4 + 2 + 2 + 1 + 2 + 1 + 1 + 1);  // tap, follow, song

        for (FocusSpot* s : Spots(*r.panel)) {
            QAccessibleInterface* a = AccessibleOf(s);
            if (!a->state().checkable) continue;
            const bool before = a->state().checked;
            g_events.clear();
            g_eventObjects.clear();
            r.clickMiddleOf(s);
            QCoreApplication::processEvents();
            if (a->role() == QAccessible::RadioButton) {
                QVERIFY2(a->state().checked, qPrintable(s->objectName()));
            } else {
                QVERIFY2(a->state().checked != before, qPrintable(s->objectName()));
            }
        }
        // values: the tempo in BPM, with its number in range
        QAccessibleInterface* tempo = AccessibleOf(r.spot(QStringLiteral("TempoKey")));
        QCOMPARE(tempo->text(QAccessible::Value), QStringLiteral("%1 BPM").arg(r.m->song.tempo));
        QVERIFY(tempo->valueInterface());
        QCOMPARE(tempo->valueInterface()->currentValue().toInt(), int(r.m->song.tempo));
        QCOMPARE(tempo->role(), QAccessible::Slider);
        QCOMPARE(AccessibleOf(r.spot(QStringLiteral("VolumeKnobKey")))->role(), QAccessible::Dial);
        // the others in the units the panel shows: shuffle 0..100 %, the rest in per cent
        r.m->song.shuffle = 113;  // the panel shows 26
        r.m->song.settings(r.m->editor.CurrentPattern).distortionGain = 16;
        r.m->player.clock.MainVolumeTarget = 128;
        for (auto [key, text, lo, hi, value] : {std::tuple{"ShuffleKey", "26 %", 0, 100, 26},
                                                {"DistortionKey", "25 %", 0, 100, 25},
                                                {"VolumeKnobKey", "100 %", 0, 199, 100}}) {
            QAccessibleInterface* a = AccessibleOf(r.spot(QString::fromLatin1(key)));
            QCOMPARE(a->text(QAccessible::Value), QString::fromLatin1(text));
            QCOMPARE(a->valueInterface()->minimumValue().toInt(), lo);
            QCOMPARE(a->valueInterface()->maximumValue().toInt(), hi);
            QCOMPARE(a->valueInterface()->currentValue().toInt(), value);
        }
    }

    // Tab moves between groups (entering at the selected channel), arrows within one, the
    // focus is told, and the ring is drawn sharp at 1x and 2x.
    void tabGroupsArrowsAndTheRing() {
        KeysRig r;
        QVERIFY(r.panel->isActiveWindow());
        // the window's activation focuses the first group
        QCOMPARE(r.focused(), QStringLiteral("ChannelKey1"));
        r.key(Qt::Key_Right);
        r.key(Qt::Key_Right);
        QCOMPARE(r.focused(), QStringLiteral("ChannelKey3"));
        r.key(Qt::Key_Return);
        QCOMPARE(int(r.m->editor.CurrentChannel), 3);
        g_eventObjects.clear();
        r.key(Qt::Key_Tab);
        QCOMPARE(r.focused(), QStringLiteral("InstrumentKey3"));

        r.key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(r.focused(), QStringLiteral("ChannelKey3"));
        r.key(Qt::Key_Backtab, Qt::ShiftModifier);  // wraps to the follow switch
        QCOMPARE(r.focused(), QStringLiteral("FollowKey"));
        r.key(Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(r.focused(), QStringLiteral("PlayKey"));

        // Shift+Enter on a step opens its details, as a right click does
        int details = 0;
        QObject::connect(r.panel.get(), &GroovePanel::noteDetailsRequested, [&] { ++details; });
        for (int i = 0; i < 7; ++i) r.key(Qt::Key_Tab);  // by the follow switch
        QCOMPARE(r.focused(), QStringLiteral("StepKey1"));
        r.key(Qt::Key_Return, Qt::ShiftModifier);
        QCOMPARE(details, 1);
        r.key(Qt::Key_Menu);
        QCOMPARE(details, 2);

        FocusSpot* s = r.spot(QStringLiteral("StepKey1"));
        for (const qreal scale : {1.0, 2.0}) {
            QPixmap shot(QSize(GroovePanel::kWidth, GroovePanel::kHeight) * scale);
            shot.setDevicePixelRatio(scale);
            r.panel->render(&shot);
            const QImage img = shot.toImage();
            const int x = int(s->x() * scale);
            const int y = int(s->y() * scale);
            const int k = int(scale);
            // black on the two outer logical pixels, yellow on the next two, nothing blended
            for (int i = 0; i < 2 * k; ++i) {
                QCOMPARE(img.pixelColor(x + i, y + 5 * k), QColor(Qt::black));
                QCOMPARE(img.pixelColor(x + 2 * k + i, y + 5 * k), QColor(255, 230, 0));
            }
        }
    }

    // A whole beat made by keys alone gives the same Song as the same beat made by clicks.
    void beatByKeysEqualsBeatByClicks() {
        Song clicked;
        {
            KeysRig r;
            GroovePanel& p = *r.panel;
            r.clickMiddleOf(test::Part<SkinPicture>(p, "ChannelButton", 1));
            for (int b : {1, 5, 9, 13}) r.clickMiddleOf(test::Part<SkinPicture>(p, "StepLit", b));
            r.clickMiddleOf(test::Part<SkinPicture>(p, "ChannelButton", 2));
            for (int b : {3, 11}) r.clickMiddleOf(test::Part<SkinPicture>(p, "StepLit", b));
            const QPoint grab =
                test::Child<SkinPicture>(p, "TempoSlider")->geometry().topLeft() + QPoint(11, 7);
            QWindow* w = p.windowHandle();
            QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, grab);
            QTest::mouseMove(w, grab + QPoint(3, 0));
            QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, grab + QPoint(3, 0));
            QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier,
                              QPoint(layout::kPatternKeysLeft + 25, layout::kPatternKeysTop + 9));
            r.clickMiddleOf(test::Child<SkinPicture>(p, "StartButton"));
            QVERIFY(r.m->Playing);
            r.clickMiddleOf(test::Child<SkinPicture>(p, "StopButton"));
            QVERIFY(!r.m->Playing);
            clicked = r.m->song;
        }
        Song typed;
        {
            KeysRig r;
            QCOMPARE(r.focused(), QStringLiteral("ChannelKey1"));
            r.key(Qt::Key_Return);  // channel 1
            r.keys(Qt::Key_Tab, 5);
            QCOMPARE(r.focused(), QStringLiteral("StepKey1"));
            for (int i = 0; i < 4; ++i) {
                r.key(Qt::Key_Return);
                r.keys(Qt::Key_Right, 4);
            }
            r.keys(Qt::Key_Backtab, 5);
            r.key(Qt::Key_Right);
            QCOMPARE(r.focused(), QStringLiteral("ChannelKey2"));
            r.key(Qt::Key_Return);
            r.keys(Qt::Key_Tab, 5);
            r.keys(Qt::Key_Right, 2);
            r.key(Qt::Key_Return);
            r.keys(Qt::Key_Right, 8);
            r.key(Qt::Key_Return);
            r.keys(Qt::Key_Tab, 3);
            QCOMPARE(r.focused(), QStringLiteral("TempoKey"));
            r.keys(Qt::Key_Right, 3);
            r.keys(Qt::Key_Backtab, 2);
            r.key(Qt::Key_2);
            QCOMPARE(r.focused(), QStringLiteral("PatternKeyKey2"));
            r.keys(Qt::Key_Tab, 5);
            QCOMPARE(r.focused(), QStringLiteral("PlayKey"));
            r.key(Qt::Key_Return);
            QVERIFY(r.m->Playing);
            r.key(Qt::Key_Right);
            r.key(Qt::Key_Return);
            QVERIFY(!r.m->Playing);
            typed = r.m->song;
        }
        QCOMPARE(int(typed.tempo), int(clicked.tempo));
        QVERIFY(std::memcmp(&typed, &clicked, sizeof(Song)) == 0);
    }

    // On a slider: arrows by one position, Page Up/Down by ten, Home/End to the ends, with the
    // values a drag gives at those positions.
    void slidersAndKnobByKeys() {
        KeysRig r;
        FocusSpot* tempo = r.spot(QStringLiteral("TempoKey"));
        tempo->setFocus();
        r.key(Qt::Key_Home);
        QCOMPARE(int(r.m->song.tempo), TempoFromSliderOffset(0));
        r.key(Qt::Key_PageUp);
        QCOMPARE(int(r.m->song.tempo), TempoFromSliderOffset(10));
        r.key(Qt::Key_Right);
        QCOMPARE(int(r.m->song.tempo), TempoFromSliderOffset(11));
        r.key(Qt::Key_End);
        QCOMPARE(int(r.m->song.tempo),
                 TempoFromSliderOffset(kTempoSliderLeftMax - kTempoSliderLeftMin));
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x(), kTempoSliderLeftMax);

        r.spot(QStringLiteral("ChannelVolumeKey4"))->setFocus();
        r.key(Qt::Key_End);
        QCOMPARE(int(r.m->song.settings(r.m->editor.CurrentPattern).volume[3]), 127);
        r.key(Qt::Key_Down);
        QCOMPARE(int(r.m->song.settings(r.m->editor.CurrentPattern).volume[3]),
                 VolumeFromSliderTop(kVolumeSliderTopMin + 1));
        QCOMPARE(int(r.m->editor.CurrentChannel), 4);  // as a drag of that slider

        r.spot(QStringLiteral("VolumeKnobKey"))->setFocus();
        r.key(Qt::Key_Home);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 0);
        r.key(Qt::Key_Up);
        r.key(Qt::Key_PageUp);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 11);
        r.key(Qt::Key_End);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 255);
    }

    // In Note details and the slide dialog, Tab reaches every scroll bar.
    void dialogScrollBarsTakeTab() {
        test::TestApp env;
        NoteDetailsDialog details(env.ctx);
        SlideDialog slide(env.ctx);
        for (QWidget* dialog : {static_cast<QWidget*>(&details), static_cast<QWidget*>(&slide)}) {
            dialog->show();
            dialog->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(dialog));
            QSet<QWidget*> reached;
            for (int i = 0; i < 60; ++i) {
                QWidget* at = dialog->focusWidget() ? dialog->focusWidget() : dialog;
                reached.insert(at);
                QTest::keyClick(at, Qt::Key_Tab);
            }
            const QList<QScrollBar*> bars = dialog->findChildren<QScrollBar*>();
            QVERIFY(!bars.isEmpty());
            // the value bars are named; a list's own scroll bars are not
            for (QScrollBar* bar : bars)
                if (!bar->objectName().isEmpty())
                    QVERIFY2(reached.contains(bar), qPrintable(bar->objectName()));
            dialog->hide();
        }
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(PanelKeysTest)
#include "panel_keys_test.moc"
