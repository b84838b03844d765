#include "ui/kadra.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>
#include <cstring>

#include "banks/kit.h"
#include "core/machine.h"
#include "engine/audio/playback.h"
#include "engine/audio/precision_timer.h"
#include "engine/mixer.h"
#include "song/song_file.h"
#include "ui/app_context.h"
#include "ui/qt_text.h"
#include "ui/space_bar_keys.h"
#include "ui/window_placement.h"

namespace qtam {

namespace {

using skin::Picture;

constexpr std::array<int, 17> kStepLefts = {0,   71,  101, 131, 161, 196, 226, 256, 286,
                                            320, 350, 380, 410, 445, 475, 505, 535};
constexpr int kStepTop = 222;
constexpr std::array<int, 5> kHideLefts = {0, 161, 286, 410, 535};
constexpr std::array<int, 9> kInsLefts = {0, 19, 94, 170, 244, 320, 394, 470, 544};
constexpr std::array<int, 9> kLampLefts = {0, 58, 134, 209, 284, 359, 434, 509, 584};
constexpr std::array<int, 9> kVolSliderLefts = {0, 24, 98, 173, 247, 323, 398, 473, 547};
constexpr std::array<int, 9> kVolNumLefts = {0, 45, 119, 194, 269, 344, 420, 494, 570};
const QColor kBlack{0, 0, 0};

// Dragging reacts only while exactly the left button is held and no Shift, Ctrl or Alt.
bool IsDrag(const QMouseEvent& e) {
    constexpr Qt::KeyboardModifiers keys =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    return e.buttons() == Qt::LeftButton && (e.modifiers() & keys) == 0;
}

int MouseX(const QMouseEvent& e) {
    return int(std::floor(e.position().x()));
}
int MouseY(const QMouseEvent& e) {
    return int(std::floor(e.position().y()));
}

}  // namespace

TKadra::TKadra(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("Kadra"));
    setWindowFlags(Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint);
    setFixedSize(kWidth, kHeight);
    setWindowTitle(QStringLiteral("Loading interface..."));
    setFocusPolicy(Qt::StrongFocus);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));  // silver, under the skin
    setPalette(pal);
    BuildControls();
    // On X11 a click or a key can reach the panel before its activation has opened the
    // device (or with no activation at all), so a start opens the device when it is closed.
    spaceBar_ = new SpaceBarKeys(ctx_.playback, true, this);

    ctx_.playback.KeyReleased = true;
    ctx_.m.editor.StartPrepared = false;

    ctx_.kadra = this;
    ctx_.actions.refreshPanel = [this] { UpDateInterface(); };
    ctx_.actions.startLightShow = [this] { StartLightShow(); };
    ctx_.actions.instrumentSelected = [this] { ActivateChannel(0); };
    ctx_.actions.hidePanel = [this] { hide(); };
    ctx_.actions.showPanel = [this] { show(); };
    ctx_.actions.panelWindow = [this] { return static_cast<QWidget*>(this); };
    // The start and stop buttons follow the driver; whoever listened before still hears it.
    previousStateListener_ = ctx_.playback.OnStateChanged;
    ctx_.playback.OnStateChanged = [this] {
        SyncTransportButtons();
        AppContext::Run(previousStateListener_);
    };
    SyncTransportButtons();
}

TKadra::~TKadra() {
    if (ctx_.kadra != this) return;
    ctx_.kadra = nullptr;
    ctx_.actions.refreshPanel = nullptr;
    ctx_.actions.startLightShow = nullptr;
    ctx_.actions.instrumentSelected = nullptr;
    ctx_.actions.hidePanel = nullptr;
    ctx_.actions.showPanel = nullptr;
    ctx_.actions.panelWindow = nullptr;
    // Unless the program has already let go of every listener.
    if (ctx_.playback.OnStateChanged)
        ctx_.playback.OnStateChanged = std::move(previousStateListener_);
}

void TKadra::BuildControls() {
    BackGrnd = new SkinPicture(Picture::Background, 0, QStringLiteral("BackGrnd"), this);
    BackGrnd->move(0, 0);

    for (int b = 1; b <= 16; ++b) {
        const int first = (b - 1) % 4 == 0 ? 1 : 0;
        Step[b] = new SkinPicture(Picture::StepLit, first, QStringLiteral("Step%1").arg(b), this);
        Step[b]->move(kStepLefts[b], kStepTop);
        Step[b]->onPress = [this, b](QMouseEvent* e) { StopMouseDown(b, e->button()); };
    }
    for (int b = 1; b <= 16; ++b) {
        const int first = (b - 1) % 4 == 0 ? 1 : 0;
        Stop[b] = new SkinPicture(Picture::StepDark, first, QStringLiteral("Stop%1").arg(b), this);
        Stop[b]->move(kStepLefts[b], kStepTop);
        Stop[b]->onPress = [this, b](QMouseEvent* e) { StopMouseDown(b, e->button()); };
    }
    for (int h = 1; h <= 4; ++h) {
        Hide[h] = new SkinPicture(Picture::HideCover, 0, QStringLiteral("Hide%1").arg(h), this);
        Hide[h]->move(kHideLefts[h], kStepTop);
        Hide[h]->onPress = [](QMouseEvent*) {};  // a covered button takes no click
        Hide[h]->hide();
    }
    for (int n = 1; n <= 8; ++n) {
        Channel[n] = new SkinPicture(Picture::Channel, n, QStringLiteral("Channel%1").arg(n), this);
        Channel[n]->move(21 + 75 * (n - 1), 190);
        Channel[n]->onPress = [this, n](QMouseEvent*) { ChannelMouseDown(n); };
    }
    LightChannel = new SkinPicture(Picture::LightChannel, 0, QStringLiteral("LightChannel"), this);
    LightChannel->move(43, 101);

    for (int n = 1; n <= 8; ++n) {
        Ins[n] = new PanelLabel(QStringLiteral("Ins%1").arg(n), skin::kLabelBlue, false, 10, this);
        Ins[n]->setGeometry(kInsLefts[n], 51, 70, 13);
        Ins[n]->onPress = [this, n](QMouseEvent*) { InsMouseDown(n); };
    }
    for (int n = 1; n <= 8; ++n) {
        Disto[n] = new SkinPicture(Picture::DarkOff, 0, QStringLiteral("Disto%1").arg(n), this);
        Disto[n]->move(kLampLefts[n], 142);
        Disto[n]->onRelease = [this, n](QMouseEvent* e) {
            if (IsClick(*Disto[n], e)) Dist1Click(n);
        };
        Muto[n] = new SkinPicture(Picture::DarkOff, 0, QStringLiteral("Muto%1").arg(n), this);
        Muto[n]->move(kLampLefts[n], 169);
        Muto[n]->onRelease = [this, n](QMouseEvent* e) {
            if (IsClick(*Muto[n], e)) Mute1Click(n);
        };
    }
    // The four lamp drawings, never shown: the lamps copy them.
    Lite_On = new SkinPicture(Picture::LiteOn, 0, QStringLiteral("Lite_On"), this);
    Lite_Off = new SkinPicture(Picture::LiteOff, 0, QStringLiteral("Lite_Off"), this);
    Dark_On = new SkinPicture(Picture::DarkOn, 0, QStringLiteral("Dark_On"), this);
    Dark_Off = new SkinPicture(Picture::DarkOff, 0, QStringLiteral("Dark_Off"), this);
    for (SkinPicture* lamp : {Lite_On, Lite_Off, Dark_On, Dark_Off}) lamp->hide();

    for (int n = 1; n <= 8; ++n) {
        Pattern[n] = new SkinPicture(Picture::Pattern, n, QStringLiteral("Pattern%1").arg(n), this);
        Pattern[n]->move(130, 305);
        Pattern[n]->onPress = [this](QMouseEvent* e) { PatternMouseDown(MouseX(*e), MouseY(*e)); };
        Pattern[n]->setVisible(n == 1);
    }
    NumOfMeasures = new UpDown(QStringLiteral("NumOfMeasures"), this);
    NumOfMeasures->setGeometry(18, 305, 65, 18);
    NumOfMeasures->SetRange(1, 16);
    NumOfMeasures->SetPosition(1);
    NumOfMeasures->onClick = [this] { NumOfMeasuresClick(); };
    CurrentMeasure = new UpDown(QStringLiteral("CurrentMeasure"), this);
    CurrentMeasure->setGeometry(18, 325, 65, 18);
    CurrentMeasure->SetRange(1, 1);
    CurrentMeasure->onClick = [this] { CurrentMeasureClick(); };
    MAvailable = new PanelLabel(QStringLiteral("MAvailable"), kBlack, true, 11, this);
    MAvailable->setGeometry(86, 307, 40, 15);
    MCurrent = new PanelLabel(QStringLiteral("MCurrent"), kBlack, true, 11, this);
    MCurrent->setGeometry(86, 327, 40, 15);

    for (int n = 1; n <= 8; ++n) {
        VolSlider[n] =
            new SkinPicture(Picture::VolSlider, 0, QStringLiteral("VolSlider%1").arg(n), this);
        VolSlider[n]->move(kVolSliderLefts[n], kVolumeSliderTopMax);
        VolSlider[n]->onMove = [this, n](QMouseEvent* e) { VolSliderMouseMove(n, *e); };
        VolNum[n] =
            new PanelLabel(QStringLiteral("VolNum%1").arg(n), skin::kLabelBlue, true, 10, this);
        VolNum[n]->setGeometry(kVolNumLefts[n], 75, 40, 13);
    }
    TempoSlider = new SkinPicture(Picture::HSlider, 0, QStringLiteral("TempoSlider"), this);
    TempoSlider->move(206, 306);
    TempoSlider->onMove = [this](QMouseEvent* e) { TempoSliderMouseMove(*e); };
    ShuffleSlider = new SkinPicture(Picture::HSlider, 0, QStringLiteral("ShuffleSlider"), this);
    ShuffleSlider->move(206, 326);
    ShuffleSlider->onMove = [this](QMouseEvent* e) { ShuffleSliderMouseMove(*e); };
    DistSlider = new SkinPicture(Picture::HSlider, 0, QStringLiteral("DistSlider"), this);
    DistSlider->move(454, 306);
    DistSlider->onMove = [this](QMouseEvent* e) { DistSliderMouseMove(*e); };
    TresSlider = new SkinPicture(Picture::HSlider, 0, QStringLiteral("TresSlider"), this);
    TresSlider->move(454, 326);
    TresSlider->onMove = [this](QMouseEvent* e) { TresSliderMouseMove(*e); };
    BPM = new PanelLabel(QStringLiteral("BPM"), kBlack, true, 11, this);
    BPM->setGeometry(297, 307, 40, 15);
    BPM->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*BPM, e)) BPMClick();
    };
    ShufLabel = new PanelLabel(QStringLiteral("ShufLabel"), kBlack, true, 11, this);
    ShufLabel->setGeometry(297, 327, 40, 15);
    ShufLabel->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*ShufLabel, e)) ShufLabelClick();
    };
    StartButton = new SkinPicture(Picture::StartButton, 0, QStringLiteral("StartButton"), this);
    StartButton->move(366, 297);
    StartButton->onPress = [this](QMouseEvent* e) { StartButtonMouseDown(*e); };
    StartButton->onRelease = [this](QMouseEvent*) { StartButtonMouseUp(); };
    StopButton = new SkinPicture(Picture::StopButton, 0, QStringLiteral("StopButton"), this);
    StopButton->move(367, 324);
    StopButton->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*StopButton, e)) StopButtonClick();
    };
    StopButton->hide();
    VolumeKnob = new KnobPicture(QStringLiteral("VolumeKnob"), this);
    VolumeKnob->move(565, 302);
    VolumeKnob->onPress = [this](QMouseEvent* e) { VolumeKnobMouseDown(*e); };
    VolumeKnob->onMove = [this](QMouseEvent* e) { VolumeKnobMouseMove(*e); };

    for (QWidget* w : findChildren<QWidget*>()) w->setFocusPolicy(Qt::NoFocus);
}

// ---------------------------------------------------------------- refreshing

void TKadra::UpDateInterface() {
    UpDateMeasures();
    UpDateTempo();
    UpDateDistortion();
    UpDateMainVolume();
    UpDateVolumes();
    const int current = ctx_.m.editor.CurrentChannel;
    for (int n = 1; n <= 8; ++n) n == current ? MakeCheckActive(n) : MakeCheckInActive(n);
    StepsPerMeasureOf(ctx_.m.song) == 12 ? TwelveStepMeasure() : SixteenStepMeasure();
    // A new or opened song starts at another pattern: the keypad shows the edited one.
    for (int n = 1; n <= 8; ++n) Pattern[n]->setVisible(n == ctx_.m.editor.CurrentPattern);
    ActivateChannel(0);
    UpdateCaption();
}

void TKadra::UpdateCaption() {
    if (!ctx_.m.editor.PanelCaption.empty()) setWindowTitle(FromCp1252(ctx_.m.editor.PanelCaption));
}

void TKadra::UpdateInstruments() {
    const Machine& m = ctx_.m;
    const ChannelSettings& s = m.song.settings(m.editor.CurrentPattern);
    for (int c = 1; c <= 8; ++c) {
        auto* label = findChild<PanelLabel*>(QStringLiteral("Ins%1").arg(c));
        if (!label) continue;
        const SampleSlot* slot = SlotOf(m.banks, s.instrument[c - 1]);
        label->setText(slot ? FromCp1252(slot->name.substr(0, 12)) : QString());
    }
}

void TKadra::JustOneChannel(int n) {
    for (int c = 1; c <= 8; ++c)
        if (c != n) Channel[c]->show();
}

void TKadra::ActivateChannel(int n) {
    EditorState& e = ctx_.m.editor;
    if (n == e.CurrentChannel) return;
    MakeCheckInActive(e.CurrentChannel);
    if (e.CurrentChannel >= 1 && e.CurrentChannel <= 8) Channel[e.CurrentChannel]->show();
    if (n == 0) n = e.CurrentChannel;
    e.CurrentChannel = static_cast<std::uint8_t>(n);
    MakeCheckActive(n);
    JustOneChannel(n);
    LightChannel->move(43 + 75 * (n - 1), 101);
    Channel[n]->hide();
    UpdateInstruments();
    DisplayLeds();
}

void TKadra::Display1Led(bool lit, int button) {
    if (button < 1 || button > 16) return;
    Stop[button]->setVisible(!lit);
}

void TKadra::DisplayLeds() {
    const Machine& m = ctx_.m;
    const int steps = StepsPerMeasureOf(m.song);
    for (int slot = 1; slot <= steps; ++slot) {
        const StepCell& c = m.song.cell(m.editor.CurrentPattern, m.editor.CurrentMeasure,
                                        m.editor.CurrentChannel, slot);
        Display1Led(c.hasNote(), ButtonOfSlot(slot, steps));
    }
}

void TKadra::MakeCheckActive(int n) {
    if (n < 1 || n > 8) return;
    const ChannelSettings& s = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern);
    Disto[n]->CopyPicture(s.distortionOn[n - 1] == 1 ? *Lite_On : *Lite_Off);
    Muto[n]->CopyPicture(s.mute[n - 1] == 1 ? *Lite_On : *Lite_Off);
}

void TKadra::MakeCheckInActive(int n) {
    if (n < 1 || n > 8) return;
    const ChannelSettings& s = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern);
    Disto[n]->CopyPicture(s.distortionOn[n - 1] == 1 ? *Dark_On : *Dark_Off);
    Muto[n]->CopyPicture(s.mute[n - 1] == 1 ? *Dark_On : *Dark_Off);
}

void TKadra::UpDateMeasures() {
    const Machine& m = ctx_.m;
    const int count = MeasureCountOf(m.song, m.editor.CurrentPattern);
    NumOfMeasures->SetPosition(count);
    MAvailable->setText(QString::number(NumOfMeasures->Position()));
    CurrentMeasure->SetRange(1, count);
    CurrentMeasure->SetPosition(m.editor.CurrentMeasure);
    CurrentMeasure->setEnabled(true);
    CurrentMeasure->update();
    MCurrent->setText(QString::number(CurrentMeasure->Position()));
}

void TKadra::UpDateTempo() {
    const Song& s = ctx_.m.song;
    BPM->setText(QString::number(s.tempo));
    TempoSlider->move(TempoSliderOffset(s.tempo) + kTempoSliderLeftMin, TempoSlider->y());
    ShuffleSlider->move(ShuffleSliderOffset(s.shuffle) + kTempoSliderLeftMin, ShuffleSlider->y());
    ShufLabel->setText(QString::number(2 * (s.shuffle - 100)));
}

void TKadra::UpDateDistortion() {
    const ChannelSettings& s = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern);
    DistSlider->move(DistSliderLeft(s.distortionGain), DistSlider->y());
    TresSlider->move(TresSliderLeft(s.distortionThreshold), TresSlider->y());
}

void TKadra::UpDateMainVolume() {
    if (!ctx_.m.Playing) ctx_.m.clock.MainVolume = ctx_.m.clock.MainVolumeTarget;
    DrawKnobLine();
}

void TKadra::UpDateVolumes() {
    const ChannelSettings& s = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern);
    for (int n = 1; n <= 8; ++n) {
        auto* slider = findChild<SkinPicture*>(QStringLiteral("VolSlider%1").arg(n));
        auto* number = findChild<PanelLabel*>(QStringLiteral("VolNum%1").arg(n));
        if (!slider || !number) continue;
        slider->move(slider->x(), VolumeSliderTop(s.volume[n - 1]));
        number->setText(QString::number(s.volume[n - 1]));
    }
}

// ---------------------------------------------------------------- 16/12 steps

void TKadra::SetStepMode(int steps) {
    for (int h = 1; h <= 4; ++h) Hide[h]->setVisible(steps == 12);
    SetStepsPerMeasure(ctx_.m, steps);
    DisplayLeds();
    AppContext::Run(ctx_.actions.refreshMenus);  // the check marks of the two menu items
}

void TKadra::SixteenStepMeasure() {
    SetStepMode(16);
}

void TKadra::TwelveStepMeasure() {
    SetStepMode(12);
}

// ---------------------------------------------------------------- the step grid

void TKadra::StopMouseDown(int button, Qt::MouseButton pressed) {
    Machine& m = ctx_.m;
    if (pressed == Qt::RightButton) {
        More1Click(button);
        return;
    }
    const int slot = SlotOfButton(button, StepsPerMeasureOf(m.song));
    if (slot == 0) return;  // under a cover: cannot be reached
    StepCell& c = m.song.cell(m.editor.CurrentPattern, m.editor.CurrentMeasure,
                              m.editor.CurrentChannel, slot);
    const bool wasNote = c.hasNote();
    // The reserved byte of the cell is left as it is; its 16-bit field is cleared.
    c.velocity = static_cast<std::int8_t>(wasNote ? -1 : 80);
    c.pan = 64;
    c.reversed = 0;
    c.reserved2 = 0;
    Display1Led(!wasNote, button);
    m.editor.MarkEdited();
}

void TKadra::More1Click(int button) {
    const int slot = SlotOfButton(button, StepsPerMeasureOf(ctx_.m.song));
    ctx_.m.editor.CurrentStep = static_cast<std::uint8_t>(slot);
    AppContext::Run(ctx_.actions.showNoteDetails);
}

void TKadra::ChannelMouseDown(int n) {
    ActivateChannel(n);
}

void TKadra::InsMouseDown(int n) {
    ActivateChannel(n);
    AppContext::Run(ctx_.actions.selectInstrument);
    ctx_.m.editor.MarkEdited();
}

void TKadra::Dist1Click(int n) {
    EditorState& e = ctx_.m.editor;
    std::uint8_t& on = ctx_.m.song.settings(e.CurrentPattern).distortionOn[n - 1];
    on = on == 1 ? 0 : 1;
    n == e.CurrentChannel ? MakeCheckActive(n) : MakeCheckInActive(n);
    e.MarkEdited();
}

void TKadra::Mute1Click(int n) {
    EditorState& e = ctx_.m.editor;
    std::uint8_t& on = ctx_.m.song.settings(e.CurrentPattern).mute[n - 1];
    on = on == 1 ? 0 : 1;
    n == e.CurrentChannel ? MakeCheckActive(n) : MakeCheckInActive(n);
    e.MarkEdited();
}

void TKadra::PatternMouseDown(int x, int y) {
    Machine& m = ctx_.m;
    const int pattern = PatternAtKeypad(x, y);
    if (pattern == m.editor.CurrentPattern) return;
    for (int n = 1; n <= 8; ++n) Pattern[n]->setVisible(n == pattern);
    m.editor.CurrentPattern = static_cast<std::uint8_t>(pattern);
    m.editor.CurrentMeasure = 1;
    m.clock.NextPattern = static_cast<std::uint8_t>(pattern);
    // A running playback changes to the queued pattern at the end of its measure.
    if (!m.Playing) m.clock.PlayPattern = static_cast<std::uint8_t>(pattern);
    m.editor.StartPrepared = false;
    UpDateInterface();
}

void TKadra::NumOfMeasuresClick() {
    Machine& m = ctx_.m;
    CurrentMeasure->SetRange(1, NumOfMeasures->Position());
    CurrentMeasure->setEnabled(true);
    CurrentMeasure->update();
    m.song.measureCount[m.editor.CurrentPattern - 1] =
        static_cast<std::uint8_t>(NumOfMeasures->Position());
    UpDateMeasures();
    m.editor.MarkEdited();
}

void TKadra::CurrentMeasureClick() {
    ctx_.m.editor.CurrentMeasure = static_cast<std::uint8_t>(CurrentMeasure->Position());
    UpDateMeasures();
    DisplayLeds();
}

// ---------------------------------------------------------------- sliders and knob

void TKadra::VolSliderMouseMove(int n, const QMouseEvent& e) {
    if (!IsDrag(e)) return;
    ActivateChannel(n);
    SkinPicture* slider = VolSlider[n];
    const int top =
        DraggedPosition(slider->y(), MouseY(e), kVolumeSliderTopMin, kVolumeSliderTopMax);
    slider->move(slider->x(), top);
    const int value = VolumeFromSliderTop(top);
    ctx_.m.song.settings(ctx_.m.editor.CurrentPattern).volume[n - 1] =
        static_cast<std::uint8_t>(value);
    VolNum[n]->setText(QString::number(value));
    ctx_.m.editor.MarkEdited();
}

void TKadra::TempoSliderMouseMove(const QMouseEvent& e) {
    if (!IsDrag(e)) return;
    Song& s = ctx_.m.song;
    const int left =
        DraggedPosition(TempoSlider->x(), MouseX(e), kTempoSliderLeftMin, kTempoSliderLeftMax);
    TempoSlider->move(left, TempoSlider->y());
    s.tempo = static_cast<std::uint16_t>(TempoFromSliderOffset(left - kTempoSliderLeftMin));
    BPM->setText(QString::number(s.tempo));
    SetTempo(ctx_.m, s.tempo, s.shuffle);
    ctx_.m.editor.MarkEdited();
}

void TKadra::ShuffleSliderMouseMove(const QMouseEvent& e) {
    if (!IsDrag(e)) return;
    Song& s = ctx_.m.song;
    const int left =
        DraggedPosition(ShuffleSlider->x(), MouseX(e), kTempoSliderLeftMin, kTempoSliderLeftMax);
    ShuffleSlider->move(left, ShuffleSlider->y());
    s.shuffle = static_cast<std::uint8_t>(ShuffleFromSliderOffset(left - kTempoSliderLeftMin));
    BPM->setText(QString::number(s.tempo));
    SetTempo(ctx_.m, s.tempo, s.shuffle);
    ShufLabel->setText(QString::number(2 * (s.shuffle - 100)));
    ctx_.m.editor.MarkEdited();
}

void TKadra::DistSliderMouseMove(const QMouseEvent& e) {
    if (!IsDrag(e)) return;
    const int left =
        DraggedPosition(DistSlider->x(), MouseX(e), kDistSliderLeftMin, kDistSliderLeftMax);
    DistSlider->move(left, DistSlider->y());
    ctx_.m.song.settings(ctx_.m.editor.CurrentPattern).distortionGain =
        static_cast<std::uint16_t>(DistortionGainFromSliderLeft(left));
    ctx_.m.editor.MarkEdited();
}

void TKadra::TresSliderMouseMove(const QMouseEvent& e) {
    if (!IsDrag(e)) return;
    const int left =
        DraggedPosition(TresSlider->x(), MouseX(e), kDistSliderLeftMin, kDistSliderLeftMax);
    TresSlider->move(left, TresSlider->y());
    ctx_.m.song.settings(ctx_.m.editor.CurrentPattern).distortionThreshold =
        static_cast<std::uint16_t>(DistortionThresholdFromSliderLeft(left));
    ctx_.m.editor.MarkEdited();
}

void TKadra::BPMClick() {
    // The value dialog stores an accepted tempo (with the step timing and the changed mark).
    AppContext::Run(ctx_.actions.enterTempo);
    UpDateTempo();
}

void TKadra::ShufLabelClick() {
    AppContext::Run(ctx_.actions.enterShuffle);
    UpDateTempo();
}

void TKadra::VolumeKnobMouseDown(const QMouseEvent& e) {
    constexpr Qt::KeyboardModifiers keys =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    if (e.button() == Qt::LeftButton && e.buttons() == Qt::LeftButton &&
        (e.modifiers() & keys) == 0)
        KnobBase = ctx_.m.clock.MainVolume;
    ctx_.m.editor.StartPrepared = false;
}

void TKadra::VolumeKnobMouseMove(const QMouseEvent& e) {
    if (!IsDrag(e)) return;
    RemoveKnobLine();
    ctx_.m.clock.MainVolumeTarget = static_cast<std::int16_t>(KnobDragTarget(KnobBase, MouseY(e)));
    UpDateMainVolume();
}

void TKadra::DrawKnobLine() {
    const KnobLine line = KnobLineFor(ctx_.m.clock.MainVolumeTarget);
    const QPoint inner(line.inner.x, line.inner.y);
    const QPoint outer(line.outer.x, line.outer.y);
    VolumeKnob->DrawLine(inner + QPoint(1, 1), outer + QPoint(1, 1), Qt::white);
    VolumeKnob->DrawLine(inner, outer, Qt::black);
    VolumeKnob->SetPointer(inner, outer, true);
    KnobInner = line.inner;
    KnobOuter = line.outer;
}

void TKadra::RemoveKnobLine() {
    const QPoint inner(KnobInner.x, KnobInner.y);
    const QPoint outer(KnobOuter.x, KnobOuter.y);
    VolumeKnob->DrawLine(inner, outer, skin::kKnobFace);
    VolumeKnob->DrawLine(inner + QPoint(1, 1), outer + QPoint(1, 1), skin::kKnobFace);
    VolumeKnob->SetPointer(inner, outer, false);
}

// ---------------------------------------------------------------- transport

void TKadra::SyncTransportButtons() {
    StartButton->setVisible(ctx_.playback.StartButtonVisible());
    StopButton->setVisible(ctx_.playback.StopButtonVisible());
}

void TKadra::DoPlayStuff() {
    ctx_.playback.OpenDevice();
    ctx_.playback.DoPlayStuff();
    SyncTransportButtons();
}

void TKadra::DoStopStuff() {
    ctx_.playback.DoStopStuff();
    SyncTransportButtons();
}

void TKadra::StartButtonMouseDown(const QMouseEvent& e) {
    constexpr Qt::KeyboardModifiers keys =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    const bool leftOnly = e.button() == Qt::LeftButton && e.buttons() == Qt::LeftButton;
    const bool ctrlOnly = (e.modifiers() & keys) == Qt::ControlModifier;
    if (!(leftOnly && ctrlOnly)) ctx_.playback.OpenDevice();
    ctx_.playback.StartButtonMouseDown(leftOnly, ctrlOnly);
    SyncTransportButtons();
}

void TKadra::StartButtonMouseUp() {
    ctx_.playback.StartButtonMouseUp();
}

void TKadra::StopButtonClick() {
    DoStopStuff();
}

void TKadra::keyPressEvent(QKeyEvent* event) {
    spaceBar_->KeyPress(*event);
    SyncTransportButtons();
}

void TKadra::keyReleaseEvent(QKeyEvent* event) {
    spaceBar_->KeyRelease(*event);
}

// ---------------------------------------------------------------- window

void TKadra::closeEvent(QCloseEvent* event) {
    event->ignore();  // the panel is only ever hidden
}

void TKadra::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    if (!centred_) {
        centred_ = true;
        CenterOnScreen(*this);
    }
    ctx_.playback.OpenDevice();
    UpDateInterface();
}

void TKadra::ReleaseDeviceWhenIdle() {
    // Blocks still queued keep the device open until they have come back.
    if (!ctx_.playback.Playback.IsPlaying()) ctx_.playback.CloseDevice();
}

void TKadra::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) ReleaseDeviceWhenIdle();
}

void TKadra::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (isActiveWindow()) {
        const bool hadUserbank = ctx_.m.activation.UserbankLoaded;
        ActivateGroovePanel(ctx_.m);
        UpdateTitle(ctx_.m);
        UpdateCaption();
        AppContext::Run(ctx_.actions.hideAboutBox);
        ctx_.playback.OpenDevice();
        if (!hadUserbank && ctx_.m.activation.UserbankLoaded) ActivateChannel(0);
    } else {
        spaceBar_->Flush();
        ReleaseDeviceWhenIdle();
    }
}

// ---------------------------------------------------------------- light show

void TKadra::StartLightShow() {
    if (IntroDone || IntroTimer) return;
    UpdateInstruments();
    introSnapshot_ = std::make_unique<Song>(ctx_.m.song);
    IntroTick = 0;
    IntroTickTimes.clear();
    IntroTickTimes.reserve(kIntroTicks);
    IntroTimer = std::make_unique<PrecisionTimer>(ctx_.events);
    IntroTimer->SetInterval(kIntroInterval);
    IntroTimer->OnTimer = [this](PrecisionTimer&) { IntroTimerTimer(); };
    IntroTimer->SetEnabled(true);
}

void TKadra::IntroTimerTimer() {
    if (IntroDone) return;
    IntroTickTimes.push_back(std::chrono::steady_clock::now());
    const int t = ++IntroTick;
    if (t == 1) {
        Display1Led(true, 1);
    } else if (t <= 16) {
        Display1Led(false, t - 1);
        Display1Led(true, t);
    } else if (t <= 31) {
        Display1Led(false, 33 - t);
        Display1Led(true, 32 - t);
    } else {
        Display1Led(false, 1);
        IntroDone = true;
        DisplayLeds();
        // The show hides a change mark left by the start-up, not an edit the user made while
        // it ran. The userbank the activation takes into the Song is not an edit.
        if (introSnapshot_) {
            introSnapshot_->userbankFile = ctx_.m.song.userbankFile;
            introSnapshot_->userbankDescription = ctx_.m.song.userbankDescription;
            if (std::memcmp(introSnapshot_.get(), &ctx_.m.song, sizeof(Song)) == 0)
                ctx_.m.editor.SongChanged = false;
        }
        introSnapshot_.reset();
        if (IntroTimer) {
            IntroTimer->SetEnabled(false);
            // released once this tick has returned from the timer
            QMetaObject::invokeMethod(
                this, [this] { IntroTimer.reset(); }, Qt::QueuedConnection);
        }
    }
}

// ---------------------------------------------------------------- screenshot

bool WritePanelScreenshot(AppContext& ctx, const QString& path, qreal scale) {
    if (scale <= 0) scale = 1;
    std::unique_ptr<TKadra> own;
    TKadra* panel = ctx.kadra;
    if (!panel) {
        own = std::make_unique<TKadra>(ctx);
        panel = own.get();
    }
    panel->UpDateInterface();
    QPixmap pixmap(
        QSize(int(std::ceil(TKadra::kWidth * scale)), int(std::ceil(TKadra::kHeight * scale))));
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::black);
    panel->render(&pixmap);
    return pixmap.save(path, "PNG");
}

}  // namespace qtam
