// The groove panel driven as a user drives it: the control at a tabled point is found with
// childAt, and the mouse is pressed, moved and released there through the window, so each
// check covers the geometry and the behaviour together.

#include "ui/groove_panel/groove_panel.h"

#include <QDir>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <cstring>
#include <memory>

#include "core/machine.h"
#include "dialog_test_app.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"
#include "song/edit_ops.h"
#include "song/song_file.h"
#include "test_support.h"
#include "ui/dialogs/instrument_dialog.h"
#include "ui/dialogs/value_dialog.h"
#include "ui/groove_panel/play_lights.h"
#include "ui/services/app_context.h"
#include "ui/services/event_pump.h"

using namespace qtam;

// A named namespace: the file is compiled in a batch with others, where GCC warns about lambdas
// of the test class that capture a type of an unnamed one.
namespace groove_panel_test {

// One running panel with everything it reaches.
struct PanelRig : test::TestApp {
    EventPump pump{events};
    std::unique_ptr<GroovePanel> panel;
    int noteDetailsShown = 0;
    int instrumentChoices = 0;
    bool exposed = false;
    quint64 keyClock = 100000;

    explicit PanelRig(bool show = true) {
        ResetTransport(*m);
        SetTempo(PlayerOf(*m), m->song.tempo, m->song.shuffle);
        panel = std::make_unique<GroovePanel>(ctx);
        QObject::connect(panel.get(), &GroovePanel::noteDetailsRequested,
                         [this] { ++noteDetailsShown; });
        QObject::connect(panel.get(), &GroovePanel::instrumentChoiceRequested,
                         [this] { ++instrumentChoices; });
        if (!show) return;
        panel->show();
        exposed = QTest::qWaitForWindowExposed(panel.get());
    }
    ~PanelRig() {
        if (m->Playing) playback.StopPlaying();
        panel.reset();
    }

    QWindow* window() const { return panel->windowHandle(); }
    QString at(int x, int y) const {
        QWidget* w = panel->childAt(x, y);
        return w ? w->objectName() : QString();
    }
    void press(int x, int y, Qt::MouseButton b = Qt::LeftButton,
               Qt::KeyboardModifiers k = Qt::NoModifier) {
        QTest::mousePress(window(), b, k, QPoint(x, y));
    }
    void release(int x, int y, Qt::MouseButton b = Qt::LeftButton,
                 Qt::KeyboardModifiers k = Qt::NoModifier) {
        QTest::mouseRelease(window(), b, k, QPoint(x, y));
    }
    void click(int x, int y, Qt::MouseButton b = Qt::LeftButton,
               Qt::KeyboardModifiers k = Qt::NoModifier) {
        press(x, y, b, k);
        release(x, y, b, k);
    }
    void move(int x, int y, Qt::KeyboardModifiers k = Qt::NoModifier) {
        QTest::mouseEvent(QTest::MouseMove, window(), Qt::NoButton, k, QPoint(x, y));
    }
    // A drag with the left button from one point to another.
    void drag(int x0, int y0, int x1, int y1, Qt::MouseButton b = Qt::LeftButton,
              Qt::KeyboardModifiers k = Qt::NoModifier) {
        press(x0, y0, b);
        move(x1, y1, k);
        release(x1, y1, b);
    }
    StepCell& cell(int slot, int measure = 1, int channel = 0) {
        return m->song.cell(m->editor.CurrentPattern, measure,
                            channel ? channel : m->editor.CurrentChannel, slot);
    }
    // The buttons whose LED is lit (their dark picture hidden).
    QList<int> litButtons() const {
        QList<int> lit;
        for (int b = 1; b <= 16; ++b)
            if (test::Part<SkinPicture>(*panel, "StepDark", b)->isHidden()) lit << b;
        return lit;
    }
    void key(QEvent::Type type, int key, bool autoRepeat = false, quint64 timestamp = 0) {
        QKeyEvent e(type, key, Qt::NoModifier, QString(), autoRepeat);
        // a key event of its own time unless one is given
        e.setTimestamp(timestamp != 0 ? timestamp : (keyClock += 100));
        QCoreApplication::sendEvent(panel.get(), &e);
    }
};

// Step button b's left edge, from the panel's layout table.
int StepLeft(int b) {
    return layout::kStepLefts[b - 1];
}

}  // namespace groove_panel_test

using namespace groove_panel_test;

class GroovePanelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    // Every control at the corners of its tabled rectangle, in the stacking the panel declares.
    void controlsLieAtTheirTabledPlaces() {
        {
            PanelRig hidden(false);
            QCOMPARE(hidden.panel->windowTitle(), QStringLiteral("Loading interface..."));
        }
        PanelRig r;
        QCOMPARE(r.panel->size(), QSize(636, 385));
        const struct {
            int x, y;
            const char* name;
        } points[] = {
            {71, 222, "StepDark1"},          {97, 265, "StepDark1"},
            {98, 240, "Background"},         {535, 222, "StepDark16"},
            {561, 265, "StepDark16"},        {19, 51, "InstrumentName1"},
            {613, 63, "InstrumentName8"},    {45, 75, "VolumeLabel1"},
            {609, 87, "VolumeLabel8"},       {24, 94, "VolumeSlider1"},
            {38, 115, "VolumeSlider1"},      {58, 142, "DistortionLamp1"},
            {69, 153, "DistortionLamp1"},    {584, 169, "MuteLamp8"},
            {44, 102, "ChannelHighlight"},   {96, 190, "ChannelButton2"},
            {161, 211, "ChannelButton2"},    {21, 190, "Background"},
            {130, 305, "PatternKey1"},       {198, 343, "PatternKey1"},
            {18, 305, "MeasureCountArrows"}, {82, 322, "MeasureCountArrows"},
            {18, 325, "EditMeasureArrows"},  {86, 307, "MeasureCountLabel"},
            {125, 341, "EditMeasureLabel"},  {297, 307, "TempoLabel"},
            {336, 341, "ShuffleLabel"},      {366, 297, "StartButton"},
            {420, 322, "StartButton"},       {380, 340, "Background"},
            {565, 302, "VolumeKnob"},        {617, 354, "VolumeKnob"},
            {464, 306, "DistortionSlider"},  {464, 340, "ThresholdSlider"},
            {568, 262, "FollowSwitch"},      {619, 277, "FollowSwitch"},
            {568, 223, "Background"},        {72, 270, "Background"},
        };
        for (const auto& p : points) QCOMPARE(r.at(p.x, p.y), QString::fromLatin1(p.name));
        // A close request is refused: the panel is only hidden.
        QVERIFY(!r.panel->close());
        QVERIFY(r.panel->isVisible());
        // Once shown, the caption is the song title line, and follows the Song.
        QCOMPARE(r.panel->windowTitle(), QStringLiteral("\"Untitled song\""));
        r.m->song.title.set("Groove");
        MarkSongSaved(*r.m);  // no changed mark before it
        r.panel->RefreshFromSong();
        QCOMPARE(r.panel->windowTitle(), QStringLiteral("\"Groove\""));
    }

    void stepClicksToggleTheCellAndItsLed() {
        PanelRig r;
        StepCell& c = r.cell(5);
        c.reversed = 1;
        c.reserved1 = 7;
        c.reserved2 = 0x1234;
        r.m->editor.StartPrepared = true;
        // the dark picture lies over the lit one and takes the click
        QCOMPARE(r.at(StepLeft(5), 222), QStringLiteral("StepDark5"));
        r.click(StepLeft(5), 222);
        QCOMPARE(int(c.velocity), 80);
        QCOMPARE(int(c.pan), 64);
        QCOMPARE(int(c.reversed), 0);
        QCOMPARE(int(c.reserved2), 0);
        QCOMPARE(int(c.reserved1), 7);  // never written
        QVERIFY(SongChanged(*r.m));
        QVERIFY(!r.m->editor.StartPrepared);
        QCOMPARE(r.litButtons(), QList<int>{5});
        // now the lit picture shows and takes the click, at the other corner
        QCOMPARE(r.at(StepLeft(5) + 26, 265), QStringLiteral("StepLit5"));
        r.click(StepLeft(5) + 26, 265);
        QCOMPARE(static_cast<std::uint8_t>(c.velocity), 255);
        QCOMPARE(int(c.pan), 64);
        QVERIFY(r.litButtons().isEmpty());

        // velocity 0 is a note: shown lit, and a click empties it
        r.cell(2).velocity = 0;
        r.panel->ShowStepLeds();
        QCOMPARE(r.litButtons(), QList<int>{2});
        r.click(StepLeft(2) + 3, 230);
        QVERIFY(!r.cell(2).hasNote());

        // the right button opens the note details of that step and edits nothing
        r.AsOpened();
        const Song before = r.m->song;
        r.click(StepLeft(9) + 10, 240, Qt::RightButton);
        QCOMPARE(r.noteDetailsShown, 1);
        QCOMPARE(int(r.m->editor.CurrentStep), 9);
        QVERIFY(std::memcmp(&before, &r.m->song, sizeof(Song)) == 0);
        QVERIFY(!SongChanged(*r.m));
    }

    void twelveStepMeasureCoversFourButtonsAndMapsTheRest() {
        PanelRig r;
        r.edits.SetStepsPerMeasure(12);  // as the menu item does: the panel follows its notice
        QCOMPARE(int(r.m->song.stepsPerMeasure), 12);
        for (int h = 1; h <= 4; ++h) {
            const int left = StepLeft(4 * h);
            QCOMPARE(r.at(left, 222), QStringLiteral("StepCover%1").arg(h));
            QCOMPARE(r.at(left + 28, 267), QStringLiteral("StepCover%1").arg(h));
        }
        // a covered button takes no click
        const Song before = r.m->song;
        r.click(StepLeft(4) + 5, 240);
        r.click(StepLeft(16) + 5, 240, Qt::RightButton);
        QVERIFY(std::memcmp(&before, &r.m->song, sizeof(Song)) == 0);
        QCOMPARE(r.noteDetailsShown, 0);
        // buttons 5, 6, 7 edit slots 4, 5, 6
        r.click(StepLeft(5) + 5, 240);
        r.click(StepLeft(7) + 5, 240);
        QVERIFY(r.cell(4).hasNote());
        QVERIFY(r.cell(6).hasNote());
        QVERIFY(!r.cell(5).hasNote() && !r.cell(7).hasNote());
        r.click(StepLeft(15) + 5, 240, Qt::RightButton);
        QCOMPARE(int(r.m->editor.CurrentStep), 12);
        // slot 12 shows on button 15
        r.cell(12).velocity = 100;
        r.panel->ShowStepLeds();
        QCOMPARE(r.litButtons(), (QList<int>{5, 7, 15}));
        // and back: no covers, slot n on button n
        r.edits.SetStepsPerMeasure(16);
        QCOMPARE(r.at(StepLeft(4), 222), QStringLiteral("StepLit4"));
        QCOMPARE(r.litButtons(), (QList<int>{4, 6, 12}));
    }

    void keypadChoosesThePatternByClickPosition() {
        const struct {
            int x, y, pattern;
        } table[] = {{0, 0, 1},   {16, 19, 1}, {17, 0, 2},  {33, 19, 2}, {34, 0, 3},
                     {50, 10, 3}, {51, 0, 4},  {68, 19, 4}, {0, 20, 5},  {16, 38, 5},
                     {17, 20, 6}, {34, 38, 7}, {51, 20, 8}, {68, 38, 8}};
        PanelRig r;
        for (const auto& t : table) {
            // start from another pattern than the one to choose
            r.panel->ChoosePattern(t.pattern == 1 ? 2 : 1);
            r.m->editor.CurrentMeasure = 3;
            r.click(130 + t.x, 305 + t.y);
            QCOMPARE(int(r.m->editor.CurrentPattern), t.pattern);
            QCOMPARE(r.at(130 + t.x, 305 + t.y), QStringLiteral("PatternKey%1").arg(t.pattern));
            QCOMPARE(int(r.m->editor.CurrentMeasure), 1);
        }
        QVERIFY(!SongChanged(*r.m));

        // while playing the choice is only queued
        r.click(130, 305);  // pattern 1
        r.panel->StartPlaying();
        QVERIFY(r.m->Playing);
        r.m->editor.CurrentMeasure = 2;
        r.click(130 + 20, 305 + 30);  // pattern 6
        QCOMPARE(int(r.m->player.clock.NextPattern), 6);
        QCOMPARE(int(r.m->player.clock.PlayPattern), 1);
        QCOMPARE(int(r.m->editor.CurrentMeasure), 1);
        // choosing it again does nothing
        r.m->editor.CurrentMeasure = 1;
        r.m->editor.StartPrepared = true;
        r.click(130 + 20, 305 + 30);
        QVERIFY(r.m->editor.StartPrepared);
        r.panel->StopPlaying();
        // stopped, the playing pattern follows at once
        r.click(130 + 40, 305 + 5);  // pattern 3
        QCOMPARE(int(r.m->player.clock.PlayPattern), 3);
    }

    void measureCountBelowTheEditedMeasure() {
        PanelRig r;
        auto raise = [&](int x) { r.click(x, 312); };  // MeasureCountArrows row
        for (int i = 0; i < 3; ++i) raise(18 + 50);
        QCOMPARE(int(r.m->song.measureCount[0]), 4);
        QCOMPARE(test::Child<PanelLabel>(*r.panel, "MeasureCountLabel")->text(),
                 QStringLiteral("4"));
        QVERIFY(SongChanged(*r.m));
        for (int i = 0; i < 5; ++i) r.click(18 + 50, 332);  // CurrentMeasure: stops at 4
        QCOMPARE(int(r.m->editor.CurrentMeasure), 4);
        QCOMPARE(test::Child<PanelLabel>(*r.panel, "EditMeasureLabel")->text(),
                 QStringLiteral("4"));
        r.cell(2, 4).velocity = 90;
        r.panel->ShowStepLeds();
        for (int i = 0; i < 2; ++i) raise(18 + 5);  // the left arrow lowers
        QCOMPARE(int(r.m->song.measureCount[0]), 2);
        QCOMPARE(int(r.m->editor.CurrentMeasure), 4);
        QCOMPARE(r.litButtons(), QList<int>{2});  // still the LEDs of measure 4
        QCOMPARE(test::Child<UpDown>(*r.panel, "EditMeasureArrows")->Max(), 2);
        // the count does not go below 1 or above 16
        for (int i = 0; i < 3; ++i) raise(18 + 5);
        QCOMPARE(int(r.m->song.measureCount[0]), 1);
        for (int i = 0; i < 20; ++i) raise(18 + 50);
        QCOMPARE(int(r.m->song.measureCount[0]), 16);
    }

    void channelsLampsAndInstrumentLabels() {
        PanelRig r;
        QCOMPARE(r.at(96 + 5, 195), QStringLiteral("ChannelButton2"));
        r.click(96 + 5, 195);
        QCOMPARE(int(r.m->editor.CurrentChannel), 2);
        QVERIFY(test::Part<SkinPicture>(*r.panel, "ChannelButton", 2)->isHidden() &&
                !test::Part<SkinPicture>(*r.panel, "ChannelButton", 1)->isHidden());
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "ChannelHighlight")->x(), 118);
        QVERIFY(!SongChanged(*r.m));

        // the distortion lamp of channel 5: on, in the dark style; channel 2 stays selected
        r.click(359 + 5, 142 + 5);
        QCOMPARE(int(r.m->song.settings(1).distortionOn[4]), 1);
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "DistortionLamp", 5)->picture(),
                 skin::Picture::DarkOn);
        QCOMPARE(int(r.m->editor.CurrentChannel), 2);
        QVERIFY(SongChanged(*r.m));
        // the mute lamp of the selected channel uses the lit style; a second click clears it
        r.click(134 + 5, 169 + 5);
        QCOMPARE(int(r.m->song.settings(1).mute[1]), 1);
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "MuteLamp", 2)->picture(),
                 skin::Picture::LiteOn);
        r.click(134 + 5, 169 + 5);
        QCOMPARE(int(r.m->song.settings(1).mute[1]), 0);
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "MuteLamp", 2)->picture(),
                 skin::Picture::LiteOff);
        // selecting channel 5 redraws its lamps in the lit style, channel 2's in the dark one
        r.click(321 + 5, 195);
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "DistortionLamp", 5)->picture(),
                 skin::Picture::LiteOn);
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "DistortionLamp", 2)->picture(),
                 skin::Picture::DarkOff);

        // an instrument label selects its channel and opens the instrument selection
        r.AsOpened();
        r.click(470 + 10, 55);
        QCOMPARE(int(r.m->editor.CurrentChannel), 7);
        QCOMPARE(r.instrumentChoices, 1);
        QVERIFY(!SongChanged(*r.m));  // choosing is no edit until a sound is chosen
        // when the selection goes away the labels show the new instrument
        test::SetSound(r.m->banks.userbank, 3, {1, 2, 3}, "A very long sound name");
        r.m->song.settings(1).instrument[6] = 103;
        r.panel->ShowChannelChoice();
        QCOMPARE(test::Part<PanelLabel>(*r.panel, "InstrumentName", 7)->text(),
                 QStringLiteral("A very long "));
        QCOMPARE(int(r.m->editor.CurrentChannel), 7);
    }

    void volumeSlidersAtTheTabledTops() {
        const struct {
            int top, volume;
        } table[] = {{75, 127}, {76, 126}, {94, 100}, {119, 64}, {163, 0}};
        PanelRig r;
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "VolumeSlider", 1)->y(),
                 94);  // a new song's volume 100
        for (const auto& t : table) {
            const int x = 24 + 7;
            const int y = test::Part<SkinPicture>(*r.panel, "VolumeSlider", 1)->y() + 11;
            r.drag(x, y, x, t.top + 11);
            QCOMPARE(test::Part<SkinPicture>(*r.panel, "VolumeSlider", 1)->y(), t.top);
            QCOMPARE(int(r.m->song.settings(1).volume[0]), t.volume);
            QCOMPARE(test::Part<PanelLabel>(*r.panel, "VolumeLabel", 1)->text(),
                     QString::number(t.volume));
        }
        // the drag keeps reaching the slider far outside it, and the travel holds it
        r.drag(31, test::Part<SkinPicture>(*r.panel, "VolumeSlider", 1)->y() + 5, 300, 20);
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "VolumeSlider", 1)->y(), 75);
        // nudging a slider at 100 gives 100 again
        r.m->song.settings(1).volume[0] = 100;
        r.panel->ShowChannelVolumes();
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "VolumeSlider", 1)->y(), 94);
        r.drag(31, 94 + 11, 31, 94 + 11 + 1);
        r.drag(31, 95 + 11, 31, 94 + 11);
        QCOMPARE(int(r.m->song.settings(1).volume[0]), 100);

        // dragging channel 6's slider selects channel 6 and shows its LEDs
        r.cell(3, 1, 6).velocity = 70;
        r.drag(398 + 7, 94 + 11, 398 + 7, 94 + 20);
        QCOMPARE(int(r.m->editor.CurrentChannel), 6);
        QCOMPARE(r.litButtons(), QList<int>{3});

        // the right button, or a held Shift, Ctrl or Alt, moves nothing
        const Song before = r.m->song;
        r.drag(473 + 7, 94 + 11, 473 + 7, 150, Qt::RightButton);
        for (Qt::KeyboardModifier k : {Qt::ShiftModifier, Qt::ControlModifier, Qt::AltModifier})
            r.drag(473 + 7, 94 + 11, 473 + 7, 150, Qt::LeftButton, k);
        QCOMPARE(test::Part<SkinPicture>(*r.panel, "VolumeSlider", 7)->y(), 94);
        QVERIFY(std::memcmp(&before, &r.m->song, sizeof(Song)) == 0);
    }

    void tempoShuffleAndDistortionSliders() {
        const struct {
            int offset, tempo, shuffle;
        } table[] = {{0, 50, 100},   {1, 53, 101},   {4, 62, 103},  {12, 88, 109},
                     {30, 144, 123}, {32, 150, 125}, {64, 250, 150}};
        PanelRig r;
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x(),
                 236);  // the new song's 145
        QCOMPARE(test::Child<PanelLabel>(*r.panel, "TempoLabel")->text(), QStringLiteral("145"));
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "DistortionSlider")->x(),
                 464);  // the new song's gain 10
        for (const auto& t : table) {
            const std::int32_t stepBefore = r.m->player.clock.StepLength[1];
            r.drag(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x() + 11, 313,
                   206 + t.offset + 11, 313);
            QCOMPARE(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x(), 206 + t.offset);
            QCOMPARE(int(r.m->song.tempo), t.tempo);
            QCOMPARE(test::Child<PanelLabel>(*r.panel, "TempoLabel")->text(),
                     QString::number(t.tempo));
            if (t.offset != 0)
                QVERIFY(r.m->player.clock.StepLength[1] != stepBefore);  // SetTempo ran
            r.drag(test::Child<SkinPicture>(*r.panel, "ShuffleSlider")->x() + 11, 333,
                   206 + t.offset + 11, 333);
            QCOMPARE(int(r.m->song.shuffle), t.shuffle);
            QCOMPARE(test::Child<PanelLabel>(*r.panel, "ShuffleLabel")->text(),
                     QString::number(2 * (t.shuffle - 100)));
        }
        // past both ends
        r.drag(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x() + 11, 313, 600, 313);
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x(), 270);
        r.drag(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x() + 11, 313, 10, 313);
        QCOMPARE(int(r.m->song.tempo), 50);

        // gain and threshold: 0..64 and steps of 79
        r.drag(test::Child<SkinPicture>(*r.panel, "DistortionSlider")->x() + 11, 313, 454 + 20 + 11,
               313);
        QCOMPARE(int(r.m->song.settings(1).distortionGain), 20);
        r.drag(test::Child<SkinPicture>(*r.panel, "ThresholdSlider")->x() + 11, 333,
               454 + 64 + 11 + 40, 333);
        QCOMPARE(int(r.m->song.settings(1).distortionThreshold), 64 * 79);
        r.m->song.settings(1).distortionThreshold = 79 * 3 + 50;
        r.panel->ShowDistortion();
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "ThresholdSlider")->x(), 457);
        r.AsOpened();  // as an opened song holds it
        r.drag(test::Child<SkinPicture>(*r.panel, "DistortionSlider")->x() + 11, 313, 600, 313,
               Qt::LeftButton, Qt::ShiftModifier);
        QCOMPARE(int(r.m->song.settings(1).distortionGain), 20);
        QVERIFY(!SongChanged(*r.m));
    }

    void knobDrawsItsPointerAndSetsTheMainVolume() {
        PanelRig r;
        KnobPicture* knob = test::Child<KnobPicture>(*r.panel, "VolumeKnob");
        // 128: straight up, from (26, 14) to (26, 5), its white shadow one pixel right and down
        QCOMPARE(r.panel->KnobPointer().inner, (KnobPoint{26, 14}));
        QCOMPARE(r.panel->KnobPointer().outer, (KnobPoint{26, 5}));
        QCOMPARE(knob->PixelAt({26, 10}), QColor(Qt::black));
        QCOMPARE(knob->PixelAt({27, 11}), QColor(Qt::white));

        // a press near the centre and a move of one pixel drop the target 27 below the base
        r.m->editor.StartPrepared = true;
        r.press(565 + 26, 302 + 26);
        r.move(565 + 26, 302 + 27);
        QVERIFY(!r.m->editor.StartPrepared);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 101);
        QCOMPARE(int(r.m->player.clock.MainVolume), 101);
        // the old line is erased to the face's grey, the new one drawn
        QCOMPARE(knob->PixelAt({26, 10}), skin::kKnobFace);
        QCOMPARE(knob->PixelAt({27, 11}), skin::kKnobFace);
        const KnobLine now = KnobLineFor(101);
        QCOMPARE(r.panel->KnobPointer().inner, now.inner);
        QCOMPARE(knob->PixelAt({now.inner.x, now.inner.y}), QColor(Qt::black));
        // far below and far above the knob: the ends of the travel
        r.move(565 + 26, 302 + 300);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 0);
        QCOMPARE(r.panel->KnobPointer().inner, (KnobPoint{19, 35}));
        QCOMPARE(r.panel->KnobPointer().outer, (KnobPoint{14, 42}));
        r.move(565 + 26, 2);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 255);
        QCOMPARE(r.panel->KnobPointer().inner, (KnobPoint{33, 35}));
        r.release(565 + 26, 2);
        QVERIFY(!SongChanged(*r.m));  // the main volume is not part of the Song

        // while playing only the target moves; the mixer takes MainVolume there
        r.panel->StartPlaying();
        r.press(565 + 26, 302 + 26);
        r.move(565 + 26, 302 + 100);
        QCOMPARE(int(r.m->player.clock.MainVolume), 255);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 155);
        r.release(565 + 26, 302 + 100);
        // the right button sets no base and turns nothing
        r.panel->StopPlaying();
        r.drag(565 + 26, 302 + 26, 565 + 26, 302 + 40, Qt::RightButton);
        QCOMPARE(int(r.m->player.clock.MainVolumeTarget), 155);
    }

    void startStopAndThePreparedStart() {
        PanelRig r;
        QTemporaryDir dir;
        // Ctrl-press: prepared, not playing, menus off, busy cursor until the release
        r.press(366 + 20, 297 + 10, Qt::LeftButton, Qt::ControlModifier);
        QVERIFY(r.m->editor.StartPrepared);
        QVERIFY(!r.m->Playing);
        QVERIFY(!r.playback.EditorOptionEnabled());
        QCOMPARE(r.prompter.busyDepth, 1);
        r.release(366 + 20, 297 + 10, Qt::LeftButton, Qt::ControlModifier);
        QCOMPARE(r.prompter.busyDepth, 0);
        QCOMPARE(r.at(366 + 20, 297 + 10), QStringLiteral("StartButton"));
        // a plain click starts at once and swaps the buttons; it opens the device when the
        // panel's activation has not (yet) done so
        r.playback.CloseDevice();
        r.click(366 + 20, 297 + 10);
        QVERIFY(r.playback.Playback.IsOpen());
        QVERIFY(r.m->Playing);
        QVERIFY(!r.m->editor.StartPrepared);
        QCOMPARE(r.at(366 + 20, 297 + 10), QStringLiteral("Background"));
        QCOMPARE(r.at(367, 324), QStringLiteral("StopButton"));
        // the blocks come back through Qt's loop and are answered
        QTRY_VERIFY_WITH_TIMEOUT(r.playback.PlayedFrames() > 0, 5000);
        r.click(367 + 20, 324 + 10);
        QVERIFY(!r.m->Playing);
        QVERIFY(r.playback.EditorOptionEnabled());
        QCOMPARE(r.at(366 + 20, 297 + 10), QStringLiteral("StartButton"));

        // Stop ends a live recording: the file is a finished WAV file
        const std::string wav = (dir.path() + "/live.wav").toStdString();
        QVERIFY(StartLiveSession(*r.m, wav));
        r.click(366 + 20, 297 + 10);
        QTRY_VERIFY_WITH_TIMEOUT(r.playback.PlayedFrames() > 0, 5000);
        r.click(367 + 20, 324 + 10);
        QVERIFY(!r.m->Streaming);
        QFile f(QString::fromStdString(wav));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.read(4), QByteArray("RIFF"));
        QVERIFY(f.size() > 44);
    }

    void spaceBarTogglesOncePerPress() {
        PanelRig r;
        r.playback.CloseDevice();
        r.key(QEvent::KeyPress, Qt::Key_Space);
        QVERIFY(r.m->Playing);
        QVERIFY(r.playback.Playback.IsOpen());
        // held: the X server repeats it as release and press pairs
        for (int i = 0; i < 3; ++i) {
            r.key(QEvent::KeyRelease, Qt::Key_Space, true);
            r.key(QEvent::KeyPress, Qt::Key_Space, true);
        }
        QVERIFY(r.m->Playing);
        // a repeated pair Qt did not mark: the press carries the release's timestamp
        for (quint64 t = 1000; t < 1100; t += 40) {
            r.key(QEvent::KeyRelease, Qt::Key_Space, false, t);
            r.key(QEvent::KeyPress, Qt::Key_Space, false, t);
        }
        QVERIFY(r.m->Playing);
        r.key(QEvent::KeyRelease, Qt::Key_Space, false, 2000);
        r.key(QEvent::KeyPress, Qt::Key_Space, false, 2300);
        QVERIFY(!r.m->Playing);
        // another key down clears the guard until a key comes up
        r.key(QEvent::KeyRelease, Qt::Key_Space);
        r.key(QEvent::KeyPress, Qt::Key_A);
        r.key(QEvent::KeyPress, Qt::Key_Space);
        QVERIFY(!r.m->Playing);
        r.key(QEvent::KeyRelease, Qt::Key_A);
        r.key(QEvent::KeyPress, Qt::Key_Space);
        QVERIFY(r.m->Playing);
    }

    // The running light, tick by tick, ends on the LEDs of the edit position.
    void lightShowSequence() {
        PanelRig r;
        r.cell(3, 2).velocity = 60;
        r.cell(9, 2).velocity = 60;
        r.panel->StartLightShow();
        for (int t = 1; t <= 31; ++t) {
            r.panel->LightShowTick();
            const int lit = t <= 16 ? t : 32 - t;
            QCOMPARE(r.litButtons(), QList<int>{lit});
        }
        r.m->editor.CurrentMeasure = 2;  // the edit position moved
        r.panel->LightShowTick();
        QVERIFY(r.panel->LightShowDone);
        QCOMPARE(r.litButtons(), (QList<int>{3, 9}));
        // it runs once only
        r.panel->StartLightShow();
        r.panel->LightShowTick();
        QCOMPARE(r.panel->LightShowTickCount, 32);
    }

    // On the real timer; an edit made while it runs keeps the song marked changed.
    void lightShowKeepsAnEditMadeWhileItRuns() {
        PanelRig r;
        r.panel->StartLightShow();
        QTRY_VERIFY_WITH_TIMEOUT(r.panel->LightShowTickCount >= 5, 5000);
        r.click(StepLeft(12) + 5, 240);
        QTRY_VERIFY_WITH_TIMEOUT(r.panel->LightShowDone, 10000);
        QCOMPARE(int(r.panel->LightShowTickTimes.size()), 32);
        QVERIFY(SongChanged(*r.m));
        QCOMPARE(r.litButtons(), QList<int>{12});
    }

    // With the real dialogs: the value labels and the instrument labels open them, and what
    // they store shows on the panel.
    void valueLabelsAndInstrumentLabelsOpenTheirDialogs() {
        PanelRig r;
        ValueDialog valueForm(r.ctx);
        InstrumentDialog patchSelect(r.ctx);
        GroovePanel* panel = r.panel.get();
        QObject::connect(panel, &GroovePanel::tempoEntryRequested, &valueForm,
                         &ValueDialog::EnterTempo);
        QObject::connect(panel, &GroovePanel::shuffleEntryRequested, &valueForm,
                         &ValueDialog::EnterShuffle);
        QObject::connect(panel, &GroovePanel::instrumentChoiceRequested, &patchSelect,
                         &InstrumentDialog::ShowForCurrentChannel);
        // answers the dialog once it shows (modal: from inside its own loop); a value the
        // dialog corrects takes a second "OK"
        auto answer = [&](const QString& text, bool ok) {
            auto* poll = new QTimer(&valueForm);
            auto typed = std::make_shared<bool>(false);
            QObject::connect(poll, &QTimer::timeout, &valueForm,
                             [&valueForm, poll, text, ok, typed] {
                                 if (!valueForm.isVisible()) return;
                                 if (!*typed) {
                                     auto* value = test::Child<ValueSpinBox>(valueForm, "Value");
                                     value->lineEdit()->selectAll();
                                     QTest::keyClicks(value->lineEdit(), text);
                                     *typed = true;
                                 }
                                 const char* button = ok ? "OkButton" : "CancelButton";
                                 test::Child<QPushButton>(valueForm, button)->click();
                                 if (valueForm.isVisible()) return;  // corrected: OK again
                                 poll->stop();
                                 poll->deleteLater();
                             });
            poll->start(10);
        };
        answer(QStringLiteral("120"), true);
        r.click(297 + 20, 307 + 7);
        QCOMPARE(int(r.m->song.tempo), 120);
        QCOMPARE(test::Child<PanelLabel>(*r.panel, "TempoLabel")->text(), QStringLiteral("120"));
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "TempoSlider")->x(), 206 + 22);
        answer(QStringLiteral("200"), false);
        r.click(297 + 20, 307 + 7);
        QCOMPARE(int(r.m->song.tempo), 120);
        answer(QStringLiteral("45"), true);
        r.click(297 + 20, 327 + 7);
        QCOMPARE(int(r.m->song.shuffle), 122);
        QCOMPARE(test::Child<PanelLabel>(*r.panel, "ShuffleLabel")->text(), QStringLiteral("44"));

        test::SetSound(r.m->banks.internalBank, 5, {1, 2}, "Clap");
        r.click(170 + 10, 55);  // channel 3's name
        QCOMPARE(int(r.m->editor.CurrentChannel), 3);
        QVERIFY(patchSelect.isVisible());
        // a double click on the fifth sound, through the dialog's window
        QListWidget* list = test::Child<QListWidget>(patchSelect, "KitList");
        const QPoint cell = list->visualItemRect(list->item(4)).center();
        QTest::mouseDClick(patchSelect.windowHandle(), Qt::LeftButton, {},
                           list->viewport()->mapTo(&patchSelect, cell));
        QTRY_VERIFY(!patchSelect.isVisible());
        QCOMPARE(int(r.m->song.settings(1).instrument[2]), 5);
        QCOMPARE(test::Part<PanelLabel>(*r.panel, "InstrumentName", 3)->text(),
                 QStringLiteral("Clap"));
        QCOMPARE(int(r.m->editor.CurrentChannel), 3);
    }

    // The light over the number of the step heard, at scale 1: only that number's pixels
    // change, never a note LED; a step heard in another measure is marked otherwise; with
    // nothing heard the panel is pixel for pixel what it was.
    void runningLightMarksTheHeardStepOnly() {
        PanelRig r;
        for (int slot : {1, 3, 7, 8}) r.cell(slot).velocity = 90;
        r.panel->RefreshFromSong();
        PlayLights& lights = r.panel->Lights();
        const QImage stopped = r.panel->grab().toImage();
        QCOMPARE(stopped.size(), QSize(636, 385));
        auto region = [](const QImage& img, int left, int top, int width, int height) {
            return img.copy(left, top, width, height);
        };
        auto number = [&](const QImage& img, int b) {
            return region(img, layout::kStepLefts[b - 1] - 2, layout::kStepLightTop, 31, 11);
        };
        auto button = [&](const QImage& img, int b) {
            return region(img, layout::kStepLefts[b - 1], layout::kStepTop, 27, 44);
        };
        for (int steps : {16, 12}) {
            r.edits.SetStepsPerMeasure(steps);
            const QImage before = r.panel->grab().toImage();
            for (int slot = 1; slot <= steps; ++slot) {
                const int lit = ButtonOfSlot(slot, steps);
                lights.Show({1, 1, slot, 0, -1}, true);
                const QImage here = r.panel->grab().toImage();
                lights.Show({1, 2, slot, 0, -1}, true);  // heard in measure 2, measure 1 shown
                const QImage elsewhere = r.panel->grab().toImage();
                for (int b = 1; b <= 16; ++b) {
                    QCOMPARE(button(here, b), button(before, b));
                    QCOMPARE(button(elsewhere, b), button(before, b));
                    QCOMPARE(number(here, b) == number(before, b), b != lit);
                    QCOMPARE(number(elsewhere, b) == number(before, b), b != lit);
                }
                QVERIFY(number(here, lit) != number(elsewhere, lit));
            }
            lights.Show({}, false);
            QCOMPARE(r.panel->grab().toImage(), before);
        }
        r.edits.SetStepsPerMeasure(16);
        QCOMPARE(r.panel->grab().toImage(), stopped);
        // the measure heard shows while a step is heard
        lights.Show({1, 3, 5, 0, -1}, true);
        QVERIFY(test::Child<SkinPicture>(*r.panel, "PlayingMeasure")->isVisible());
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "PlayingMeasure")->variant(), 3);
        QCOMPARE(r.at(layout::kPlayingMeasure.left, layout::kPlayingMeasure.top),
                 QStringLiteral("PlayingMeasure"));
        lights.Show({}, false);
        QVERIFY(test::Child<SkinPicture>(*r.panel, "PlayingMeasure")->isHidden());
    }

    // A pattern chosen while another is heard blinks on its key beside the lit key of the one
    // heard, until it is heard itself; a click on the keypad still chooses by position.
    void queuedPatternBlinksUntilItIsHeard() {
        PanelRig r;
        PlayLights& lights = r.panel->Lights();
        r.m->editor.CurrentPattern = 2;
        for (bool blink : {true, false, true}) {
            lights.Show({1, 1, 4, 0, -1}, blink);
            QCOMPARE(test::Part<SkinPicture>(*r.panel, "PatternKey", 1)->isVisible(), true);
            QCOMPARE(test::Part<SkinPicture>(*r.panel, "PatternKey", 2)->isVisible(), false);
            QCOMPARE(test::Child<SkinPicture>(*r.panel, "QueuedKeys")->isVisible(), blink);
            QCOMPARE(test::Child<SkinPicture>(*r.panel, "QueuedKeys")->variant(),
                     1 + skin::kQueuedKey * 2);
        }
        QCOMPARE(r.at(130 + 2, 305 + 2), QStringLiteral("QueuedKeys"));
        lights.Show({2, 1, 1, 0, -1}, true);  // pattern 2 heard: it is the lit key
        QVERIFY(test::Part<SkinPicture>(*r.panel, "PatternKey", 2)->isVisible());
        QVERIFY(test::Part<SkinPicture>(*r.panel, "PatternKey", 1)->isHidden());
        QVERIFY(test::Child<SkinPicture>(*r.panel, "QueuedKeys")->isHidden());
        // the blinking keypad takes clicks as the keypad does
        r.m->editor.CurrentPattern = 2;
        lights.Show({1, 1, 4, 0, -1}, true);
        r.click(130 + 40, 305 + 25);  // key 7
        QCOMPARE(int(r.m->editor.CurrentPattern), 7);
    }

    // With the follow switch on, the edit measure moves to the measure heard in the edited
    // pattern; off, or with another pattern heard, it stays where the user put it.
    void followSwitchMovesTheEditMeasure() {
        PanelRig r;
        PlayLights& lights = r.panel->Lights();
        r.m->song.measureCount[0] = 4;
        r.cell(5, 3).velocity = 70;
        r.panel->RefreshFromSong();
        lights.Show({1, 3, 2, 0, -1}, true);
        QCOMPARE(int(r.m->editor.CurrentMeasure), 1);
        QVERIFY(!r.transport.Following());
        r.click(layout::kFollowSwitch.left + 5, layout::kFollowSwitch.top + 8);
        QVERIFY(r.transport.Following());
        QCOMPARE(test::Child<SkinPicture>(*r.panel, "FollowSwitch")->variant(), 1);
        lights.Show({1, 3, 2, 0, -1}, true);
        QCOMPARE(int(r.m->editor.CurrentMeasure), 3);
        QCOMPARE(test::Child<PanelLabel>(*r.panel, "EditMeasureLabel")->text(),
                 QStringLiteral("3"));
        QCOMPARE(r.litButtons(), QList<int>{5});
        lights.Show({2, 2, 2, 0, -1}, true);  // another pattern heard
        QCOMPARE(int(r.m->editor.CurrentMeasure), 3);
        r.click(layout::kFollowSwitch.left + 5, layout::kFollowSwitch.top + 8);
        QVERIFY(!r.transport.Following());
        lights.Show({1, 4, 2, 0, -1}, true);
        QCOMPARE(int(r.m->editor.CurrentMeasure), 3);
    }

    // Real playback on SDL's dummy device: the light comes on and moves, and goes at the stop.
    void lightRunsWhilePlayingAndGoesAtTheStop() {
        PanelRig r;
        QList<int> steps;
        r.panel->Lights().onStepShown = [&steps](const PlayPosition& p) { steps << p.step; };
        r.panel->StartPlaying();
        QVERIFY(r.m->Playing);
        QTRY_VERIFY_WITH_TIMEOUT(steps.size() >= 3, 10000);
        QVERIFY(test::Child<SkinPicture>(*r.panel, "StepLight")->isVisible());
        // (a loaded machine may look late and miss a step: the order is left to the bench)
        for (int step : steps) QVERIFY(step >= 1 && step <= StepsPerMeasureOf(r.m->song));
        r.panel->StopPlaying();
        QVERIFY(test::Child<SkinPicture>(*r.panel, "StepLight")->isHidden());
        QVERIFY(test::Child<SkinPicture>(*r.panel, "PlayingMeasure")->isHidden());
    }

    void screenshotIsDrawnAtTheScale() {
        PanelRig r;
        r.cell(1).velocity = 100;
        QTemporaryDir dir;
        for (qreal scale : {1.0, 2.0}) {
            const QString path = dir.filePath(QStringLiteral("panel%1.png").arg(scale));
            QVERIFY(WritePanelScreenshot(*r.panel, path, scale));
            QImage img(path);
            QCOMPARE(img.size(), QSize(int(636 * scale), int(385 * scale)));
            auto at = [&](int x, int y) {
                return img.pixelColor(int((x + 0.5) * scale), int((y + 0.5) * scale));
            };
            // the LED window of a lit button glows red; the next one is dark
            QVERIFY(at(71 + 13, 222 + 5).red() > 200 && at(71 + 13, 222 + 5).green() < 200);
            QVERIFY(at(101 + 13, 222 + 5).red() < 120);
            // the knob's face is the erasing pen's grey, away from the pointer
            QCOMPARE(at(565 + 36, 302 + 36), skin::kKnobFace);
            QCOMPARE(at(565 + 26, 302 + 10), QColor(Qt::black));
        }
        QVERIFY(!WritePanelScreenshot(*r.panel, dir.filePath("no/such/folder/x.png"), 1));
    }

    // The windows' icon: the installed files at the window sizes (never a larger one), else
    // drawn at every window size.
    void windowIconFromItsFilesOrDrawn() {
        QTemporaryDir prefix;
        QVERIFY(QDir().mkpath(prefix.filePath("bin")));
        QList<QSize> installed;
        for (int size : {16, 32, 48, 256}) {
            const QString folder =
                prefix.filePath(QStringLiteral("share/icons/hicolor/%1x%1/apps").arg(size));
            QVERIFY(QDir().mkpath(folder));
            QImage image(size, size, QImage::Format_ARGB32);
            image.fill(QColor(size, 0, 0));
            QVERIFY(image.save(folder + "/qtam.png"));
            if (size <= 128) installed << QSize(size, size);
        }
        const QIcon icon = skin::WindowIcon(prefix.filePath("bin"));
        QCOMPARE(icon.availableSizes(), installed);
        QCOMPARE(icon.pixmap(QSize(32, 32)).toImage().pixelColor(5, 5), QColor(32, 0, 0));

        QList<QSize> drawn;
        for (int size : skin::kWindowIconSizes) drawn << QSize(size, size);
        QCOMPARE(skin::WindowIcon(prefix.filePath("elsewhere/bin")).availableSizes(), drawn);
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(GroovePanelTest)
#include "groove_panel_test.moc"
