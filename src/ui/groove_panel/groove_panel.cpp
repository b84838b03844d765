#include "ui/groove_panel/groove_panel.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QPixmap>
#include <QScreen>

#include "banks/kit.h"
#include "core/files.h"
#include "core/machine.h"
#include "engine/audio/playback.h"
#include "engine/audio/precision_timer.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"
#include "song/panel_edits.h"
#include "song/song_editor.h"
#include "song/song_file.h"
#include "transport/transport.h"
#include "ui/groove_panel/play_lights.h"
#include "ui/groove_panel/song_switch.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/song_notifier.h"
#include "ui/services/space_bar_keys.h"
#include "ui/services/window_captions.h"

namespace qtam {

namespace {

using skin::Picture;

const QColor kBlack{0, 0, 0};

QRect Geometry(const layout::Rect& r) {
    return {r.left, r.top, r.width, r.height};
}

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

GroovePanel::GroovePanel(AppContext& ctx, QWidget* parent) : QWidget(parent), ctx_(ctx) {
    setObjectName(QStringLiteral("GroovePanel"));
    // A tool window of the main window (its parent): above it, not above other programs.
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(kWidth, kHeight);
    setWindowTitle(QStringLiteral("Loading interface..."));
    setFocusPolicy(Qt::StrongFocus);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(192, 192, 192));  // silver, under the skin
    setPalette(pal);
    BuildControls();
    // On X11 a click or a key can reach the panel before its activation has opened the
    // device (or with no activation at all), so a start opens the device when it is closed.
    spaceBar_ = new SpaceBarKeys(ctx_.transport, true, this);

    ctx_.playback.KeyReleased = true;
    ctx_.m.editor.StartPrepared = false;

    connect(&ctx_.playbackState, &PlaybackNotifier::stateChanged, this,
            &GroovePanel::SyncTransportButtons);
    connect(&ctx_.playbackState, &PlaybackNotifier::stateChanged, this, [this] {
        lights_->ShowFollow();
        songSwitch_->Show();
        lights_->Refresh();
        ShowCaption();  // a live recording says whether it runs
    });
    SyncTransportButtons();
    connect(&ctx_.songState, &SongNotifier::changed, this, &GroovePanel::ShowSongChange);
    // The panel owns playback, so it is the one to speak of the device.
    ctx_.playback.OnDeviceLost = [this](const std::string& reason, bool) { DeviceLost(reason); };
    ctx_.playback.OnDefaultDeviceInstead = [this](int n) { DefaultDeviceInstead(n); };
    ctx_.playback.OnJackUnreachable = [this](const std::string& reason) {
        SyncTransportButtons();
        ctx_.m.prompter->Warn(JackUnreachableText(reason));
    };
}

GroovePanel::~GroovePanel() {
    ctx_.playback.OnDeviceLost = nullptr;
    ctx_.playback.OnDefaultDeviceInstead = nullptr;
    ctx_.playback.OnJackUnreachable = nullptr;
}

void GroovePanel::DeviceLost(const std::string& reason) {
    SyncTransportButtons();
    ctx_.m.prompter->Warn(DeviceLostText(reason));
}

void GroovePanel::DefaultDeviceInstead(int deviceNum) {
    if (deviceNum == defaultInsteadOf_) return;
    defaultInsteadOf_ = deviceNum;
    ctx_.m.prompter->Warn(DefaultDeviceInsteadText(deviceNum));
}

void GroovePanel::BuildControls() {
    Background = new SkinPicture(Picture::Background, 16, QStringLiteral("Background"), this);
    Background->move(0, 0);

    // Each control turns the mouse's position into its value here and hands on the value.
    for (int b = 1; b <= 16; ++b) {
        const int first = (b - 1) % 4 == 0 ? 1 : 0;
        StepLit[b] =
            new SkinPicture(Picture::StepLit, first, QStringLiteral("StepLit%1").arg(b), this);
        StepLit[b]->move(layout::kStepLefts[b - 1], layout::kStepTop);
        StepLit[b]->onPress = [this, b](QMouseEvent* e) {
            e->button() == Qt::RightButton ? OpenNoteDetails(b) : PressStep(b);
        };
    }
    for (int b = 1; b <= 16; ++b) {
        const int first = (b - 1) % 4 == 0 ? 1 : 0;
        StepDark[b] =
            new SkinPicture(Picture::StepDark, first, QStringLiteral("StepDark%1").arg(b), this);
        StepDark[b]->move(layout::kStepLefts[b - 1], layout::kStepTop);
        StepDark[b]->onPress = StepLit[b]->onPress;
    }
    for (int h = 1; h <= 4; ++h) {
        StepCover[h] =
            new SkinPicture(Picture::HideCover, 0, QStringLiteral("StepCover%1").arg(h), this);
        StepCover[h]->move(layout::kStepCoverLefts[h - 1], layout::kStepTop);
        StepCover[h]->onPress = [](QMouseEvent*) {};  // a covered button takes no click
        StepCover[h]->hide();
    }
    for (int n = 1; n <= 8; ++n) {
        ChannelButton[n] =
            new SkinPicture(Picture::Channel, n, QStringLiteral("ChannelButton%1").arg(n), this);
        ChannelButton[n]->move(layout::ChannelButtonLeft(n), layout::kChannelButtonTop);
        ChannelButton[n]->onPress = [this, n](QMouseEvent*) { ChooseChannel(n); };
    }
    ChannelHighlight =
        new SkinPicture(Picture::ChannelHighlight, 0, QStringLiteral("ChannelHighlight"), this);
    ChannelHighlight->move(layout::ChannelHighlightLeft(1), layout::kChannelHighlightTop);

    for (int n = 1; n <= 8; ++n) {
        InstrumentName[n] = new PanelLabel(QStringLiteral("InstrumentName%1").arg(n),
                                           skin::kLabelBlue, false, 10, this);
        InstrumentName[n]->setGeometry(layout::kInstrumentNameLefts[n - 1],
                                       layout::kInstrumentNameTop, layout::kInstrumentNameWidth,
                                       layout::kInstrumentNameHeight);
        InstrumentName[n]->onPress = [this, n](QMouseEvent*) { ChooseInstrument(n); };
    }
    for (int n = 1; n <= 8; ++n) {
        DistortionLamp[n] =
            new SkinPicture(Picture::DarkOff, 0, QStringLiteral("DistortionLamp%1").arg(n), this);
        DistortionLamp[n]->move(layout::kLampLefts[n - 1], layout::kDistortionLampTop);
        DistortionLamp[n]->onRelease = [this, n](QMouseEvent* e) {
            if (IsClick(*DistortionLamp[n], e)) ToggleDistortion(n);
        };
        MuteLamp[n] =
            new SkinPicture(Picture::DarkOff, 0, QStringLiteral("MuteLamp%1").arg(n), this);
        MuteLamp[n]->move(layout::kLampLefts[n - 1], layout::kMuteLampTop);
        MuteLamp[n]->onRelease = [this, n](QMouseEvent* e) {
            if (IsClick(*MuteLamp[n], e)) ToggleMute(n);
        };
    }
    // The four lamp drawings, never shown: the lamps copy them.
    LampBrightOn = new SkinPicture(Picture::LiteOn, 0, QStringLiteral("LampBrightOn"), this);
    LampBrightOff = new SkinPicture(Picture::LiteOff, 0, QStringLiteral("LampBrightOff"), this);
    LampDarkOn = new SkinPicture(Picture::DarkOn, 0, QStringLiteral("LampDarkOn"), this);
    LampDarkOff = new SkinPicture(Picture::DarkOff, 0, QStringLiteral("LampDarkOff"), this);
    for (SkinPicture* lamp : {LampBrightOn, LampBrightOff, LampDarkOn, LampDarkOff}) lamp->hide();

    for (int n = 1; n <= 8; ++n) {
        PatternKey[n] =
            new SkinPicture(Picture::Pattern, n, QStringLiteral("PatternKey%1").arg(n), this);
        PatternKey[n]->move(layout::kPatternKeysLeft, layout::kPatternKeysTop);
        PatternKey[n]->onPress = [this](QMouseEvent* e) {
            ChoosePattern(PatternAtKeypad(MouseX(*e), MouseY(*e)));
        };
        PatternKey[n]->setVisible(n == 1);
    }
    MeasureCountArrows = new UpDown(QStringLiteral("MeasureCountArrows"), this);
    MeasureCountArrows->setGeometry(Geometry(layout::kMeasureCountArrows));
    MeasureCountArrows->SetRange(1, 16);
    MeasureCountArrows->SetPosition(1);
    MeasureCountArrows->onClick = [this] { SetMeasureCount(MeasureCountArrows->Position()); };
    EditMeasureArrows = new UpDown(QStringLiteral("EditMeasureArrows"), this);
    EditMeasureArrows->setGeometry(Geometry(layout::kEditMeasureArrows));
    EditMeasureArrows->SetRange(1, 1);
    EditMeasureArrows->onClick = [this] { ChooseMeasure(EditMeasureArrows->Position()); };
    MeasureCountLabel = new PanelLabel(QStringLiteral("MeasureCountLabel"), kBlack, true, 11, this);
    MeasureCountLabel->setGeometry(Geometry(layout::kMeasureCountLabel));
    EditMeasureLabel = new PanelLabel(QStringLiteral("EditMeasureLabel"), kBlack, true, 11, this);
    EditMeasureLabel->setGeometry(Geometry(layout::kEditMeasureLabel));

    const auto endDrag = [this](QMouseEvent*) { EndDrag(); };
    for (int n = 1; n <= 8; ++n) {
        VolumeSlider[n] =
            new SkinPicture(Picture::VolSlider, 0, QStringLiteral("VolumeSlider%1").arg(n), this);
        VolumeSlider[n]->move(layout::kVolumeSliderLefts[n - 1], kVolumeSliderTopMax);
        VolumeSlider[n]->onMove = [this, n](QMouseEvent* e) {
            if (!IsDrag(*e)) return;
            SkinPicture* slider = VolumeSlider[n];
            SetChannelVolume(
                n, VolumeFromSliderTop(DraggedPosition(slider->y(), MouseY(*e), kVolumeSliderTopMin,
                                                       kVolumeSliderTopMax)));
        };
        VolumeSlider[n]->onRelease = endDrag;
        VolumeLabel[n] = new PanelLabel(QStringLiteral("VolumeLabel%1").arg(n), skin::kLabelBlue,
                                        true, 10, this);
        VolumeLabel[n]->setGeometry(layout::kVolumeLabelLefts[n - 1], layout::kVolumeLabelTop,
                                    layout::kVolumeLabelWidth, layout::kVolumeLabelHeight);
    }
    // A horizontal slider's left edge where the mouse drags it.
    const auto draggedLeft = [](const SkinPicture& slider, const QMouseEvent& e, int lo, int hi) {
        return DraggedPosition(slider.x(), MouseX(e), lo, hi);
    };
    TempoSlider = new SkinPicture(Picture::HSlider, 0, QStringLiteral("TempoSlider"), this);
    TempoSlider->move(kTempoSliderLeftMin, layout::kTempoSliderTop);
    TempoSlider->onMove = [this, draggedLeft](QMouseEvent* e) {
        if (!IsDrag(*e)) return;
        const int left = draggedLeft(*TempoSlider, *e, kTempoSliderLeftMin, kTempoSliderLeftMax);
        SetTempo(TempoFromSliderOffset(left - kTempoSliderLeftMin));
    };
    TempoSlider->onRelease = endDrag;
    ShuffleSlider = new SkinPicture(Picture::HSlider, 0, QStringLiteral("ShuffleSlider"), this);
    ShuffleSlider->move(kTempoSliderLeftMin, layout::kShuffleSliderTop);
    ShuffleSlider->onMove = [this, draggedLeft](QMouseEvent* e) {
        if (!IsDrag(*e)) return;
        const int left = draggedLeft(*ShuffleSlider, *e, kTempoSliderLeftMin, kTempoSliderLeftMax);
        SetShuffle(ShuffleFromSliderOffset(left - kTempoSliderLeftMin));
    };
    ShuffleSlider->onRelease = endDrag;
    TapButton = new SkinPicture(Picture::TapButton, 0, QStringLiteral("TapButton"), this);
    TapButton->move(layout::kTapButton.left, layout::kTapButton.top);
    TapButton->setToolTip(QStringLiteral("Tap tempo (T)"));
    TapButton->onPress = [this](QMouseEvent*) { Tap(); };
    DistortionSlider =
        new SkinPicture(Picture::HSlider, 0, QStringLiteral("DistortionSlider"), this);
    DistortionSlider->move(kDistSliderLeftMin, layout::kDistortionSliderTop);
    DistortionSlider->onMove = [this, draggedLeft](QMouseEvent* e) {
        if (!IsDrag(*e)) return;
        SetDistortionGain(DistortionGainFromSliderLeft(
            draggedLeft(*DistortionSlider, *e, kDistSliderLeftMin, kDistSliderLeftMax)));
    };
    DistortionSlider->onRelease = endDrag;
    ThresholdSlider = new SkinPicture(Picture::HSlider, 0, QStringLiteral("ThresholdSlider"), this);
    ThresholdSlider->move(kDistSliderLeftMin, layout::kThresholdSliderTop);
    ThresholdSlider->onMove = [this, draggedLeft](QMouseEvent* e) {
        if (!IsDrag(*e)) return;
        SetDistortionThreshold(DistortionThresholdFromSliderLeft(
            draggedLeft(*ThresholdSlider, *e, kDistSliderLeftMin, kDistSliderLeftMax)));
    };
    ThresholdSlider->onRelease = endDrag;
    TempoLabel = new PanelLabel(QStringLiteral("TempoLabel"), kBlack, true, 11, this);
    TempoLabel->setGeometry(Geometry(layout::kTempoLabel));
    TempoLabel->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*TempoLabel, e)) EnterTempo();
    };
    ShuffleLabel = new PanelLabel(QStringLiteral("ShuffleLabel"), kBlack, true, 11, this);
    ShuffleLabel->setGeometry(Geometry(layout::kShuffleLabel));
    ShuffleLabel->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*ShuffleLabel, e)) EnterShuffle();
    };
    StartButton = new SkinPicture(Picture::StartButton, 0, QStringLiteral("StartButton"), this);
    StartButton->move(layout::kStartButtonLeft, layout::kStartButtonTop);
    StartButton->onPress = [this](QMouseEvent* e) {
        constexpr Qt::KeyboardModifiers keys =
            Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
        PressStart(e->button() == Qt::LeftButton && e->buttons() == Qt::LeftButton,
                   (e->modifiers() & keys) == Qt::ControlModifier);
    };
    StartButton->onRelease = [this](QMouseEvent*) { ReleaseStart(); };
    StopButton = new SkinPicture(Picture::StopButton, 0, QStringLiteral("StopButton"), this);
    StopButton->move(layout::kStopButtonLeft, layout::kStopButtonTop);
    StopButton->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*StopButton, e)) StopPlaying();
    };
    StopButton->hide();
    VolumeKnob = new KnobPicture(QStringLiteral("VolumeKnob"), this);
    VolumeKnob->move(layout::kKnobLeft, layout::kKnobTop);
    VolumeKnob->onPress = [this](QMouseEvent* e) {
        constexpr Qt::KeyboardModifiers keys =
            Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
        if (e->button() == Qt::LeftButton && e->buttons() == Qt::LeftButton &&
            (e->modifiers() & keys) == 0)
            knobBase_ = ctx_.m.player.clock.MainVolume;
    };
    VolumeKnob->onMove = [this](QMouseEvent* e) {
        if (IsDrag(*e)) SetMainVolume(KnobDragTarget(knobBase_, MouseY(*e)));
    };

    lights_ = std::make_unique<PlayLights>(ctx_, *this);
    songSwitch_ = std::make_unique<SongSwitch>(ctx_, *this);

    for (QWidget* w : findChildren<QWidget*>()) w->setFocusPolicy(Qt::NoFocus);
    BuildFocusSpots();
}

// ---------------------------------------------------------------- showing the Song

void GroovePanel::ShowSongChange(SongChange what) {
    if (what == SongChange::Step) {
        ShowStepLeds();
        ShowCaption();
    } else {
        RefreshFromSong();
    }
    ReportControlChanges();
}

void GroovePanel::RefreshFromSong() {
    ShowMeasures();
    ShowTempoAndShuffle();
    ShowDistortion();
    ShowMainVolume();
    ShowChannelVolumes();
    ShowStepMode();
    // A new or opened song starts at another pattern: the keypad shows the edited one.
    for (int n = 1; n <= 8; ++n) PatternKey[n]->setVisible(n == ctx_.m.editor.CurrentPattern);
    ShowChannelChoice();
    ShowCaption();
    lights_->Refresh();  // while playing, the keypad shows the pattern heard
}

void GroovePanel::ShowCaption() {
    const Machine& m = ctx_.m;
    // Unsaved changes are marked as desktop programs mark them; a live recording says so until
    // it is stopped, armed or running.
    QString caption = FromCp1252(SongTitleLine(m.editor.SongFileName, m.song));
    if (SongChanged(m)) caption.prepend(QLatin1Char('*'));
    if (m.Streaming) {
        const QString take = FromPath(FileNameOf(StreamFileName(m)));
        caption += m.Playing ? QStringLiteral(" - \u25CF Recording to %1").arg(take)
                             : QStringLiteral(
                                   " - \u25CF Recording armed: %1 (Start records, "
                                   "Stop ends)")
                                   .arg(take);
    }
    setWindowTitle(caption);
}

void GroovePanel::ShowInstrumentNames() {
    const Machine& m = ctx_.m;
    const ChannelSettings& s = m.song.settings(m.editor.CurrentPattern);
    for (int c = 1; c <= 8; ++c) {
        const SampleSlot* slot = SlotOf(m.banks, s.instrument[c - 1]);
        // A channel whose sound is not in memory (a userbank that is missing) says so.
        const bool missing = slot == nullptr || !slot->hasSound();
        InstrumentName[c]->setText(missing ? QString::fromLatin1(kMissingSoundName)
                                           : FromCp1252(slot->name.substr(0, 12)));
    }
}

void GroovePanel::ShowChannelChoice() {
    const int current = ctx_.m.editor.CurrentChannel;
    for (int c = 1; c <= 8; ++c) {
        ChannelButton[c]->setVisible(c != current);
        ShowLamps(c, c == current);
    }
    if (current >= 1 && current <= 8)
        ChannelHighlight->move(layout::ChannelHighlightLeft(current), layout::kChannelHighlightTop);
    ShowInstrumentNames();
    ShowStepLeds();
}

void GroovePanel::ShowStepLed(bool lit, int button) {
    if (button < 1 || button > 16) return;
    StepDark[button]->setVisible(!lit);
}

void GroovePanel::ShowStepLeds() {
    const Machine& m = ctx_.m;
    const int steps = StepsPerMeasureOf(m.song);
    for (int slot = 1; slot <= steps; ++slot) {
        const StepCell& c = m.song.cell(m.editor.CurrentPattern, m.editor.CurrentMeasure,
                                        m.editor.CurrentChannel, slot);
        ShowStepLed(c.hasNote(), ButtonOfSlot(slot, steps));
    }
}

void GroovePanel::ShowLamps(int n, bool bright) {
    if (n < 1 || n > 8) return;
    const ChannelSettings& s = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern);
    SkinPicture& on = bright ? *LampBrightOn : *LampDarkOn;
    SkinPicture& off = bright ? *LampBrightOff : *LampDarkOff;
    DistortionLamp[n]->CopyPicture(s.distortionOn[n - 1] == 1 ? on : off);
    MuteLamp[n]->CopyPicture(s.mute[n - 1] == 1 ? on : off);
}

void GroovePanel::ShowMeasures() {
    const Machine& m = ctx_.m;
    const int count = MeasureCountOf(m.song, m.editor.CurrentPattern);
    MeasureCountArrows->SetPosition(count);
    MeasureCountLabel->setText(QString::number(MeasureCountArrows->Position()));
    EditMeasureArrows->SetRange(1, count);
    EditMeasureArrows->SetPosition(m.editor.CurrentMeasure);
    EditMeasureArrows->setEnabled(true);
    EditMeasureArrows->update();
    EditMeasureLabel->setText(QString::number(EditMeasureArrows->Position()));
}

void GroovePanel::ShowTempoAndShuffle() {
    const Song& s = ctx_.m.song;
    TempoLabel->setText(QString::number(s.tempo));
    TempoSlider->move(TempoSliderOffset(s.tempo) + kTempoSliderLeftMin, TempoSlider->y());
    ShuffleSlider->move(ShuffleSliderOffset(s.shuffle) + kTempoSliderLeftMin, ShuffleSlider->y());
    ShuffleLabel->setText(QString::number(ShownShuffle(s.shuffle)));
}

void GroovePanel::ShowDistortion() {
    const ChannelSettings& s = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern);
    DistortionSlider->move(DistSliderLeft(s.distortionGain), DistortionSlider->y());
    ThresholdSlider->move(ThresholdSliderLeft(s.distortionThreshold), ThresholdSlider->y());
}

void GroovePanel::ShowMainVolume() {
    EraseKnobPointer();
    DrawKnobPointer();
}

void GroovePanel::ShowChannelVolumes() {
    const ChannelSettings& s = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern);
    for (int n = 1; n <= 8; ++n) {
        VolumeSlider[n]->move(VolumeSlider[n]->x(), VolumeSliderTop(s.volume[n - 1]));
        VolumeLabel[n]->setText(QString::number(s.volume[n - 1]));
    }
}

// The 16/12-step switch: the covers over every fourth button, the header's number.
void GroovePanel::ShowStepMode() {
    const int steps = StepsPerMeasureOf(ctx_.m.song);
    for (int h = 1; h <= 4; ++h) StepCover[h]->setVisible(steps == 12);
    const int variant = skin::BackgroundVariant(steps, sampleRate_);
    Background->SetPicture(Picture::Background, variant);
    // The print, for a screen reader.
    Background->setAccessibleDescription(skin::HeaderText(variant));
}

void GroovePanel::ShowSampleRate(int hz) {
    if (hz == sampleRate_) return;
    sampleRate_ = hz;
    ShowStepMode();
}

// ---------------------------------------------------------------- handlers

void GroovePanel::PressStep(int button) {
    const int slot = SlotOfButton(button, StepsPerMeasureOf(ctx_.m.song));
    if (slot != 0) ctx_.edits.ToggleStep(slot);  // 0: under a cover, cannot be reached
}

void GroovePanel::OpenNoteDetails(int button) {
    const int slot = SlotOfButton(button, StepsPerMeasureOf(ctx_.m.song));
    if (slot == 0) return;
    ctx_.edits.ChooseStep(slot);
    Q_EMIT noteDetailsRequested();
}

void GroovePanel::ChooseChannel(int n) {
    ctx_.edits.ChooseChannel(n);
}

void GroovePanel::ChooseInstrument(int n) {
    ChooseChannel(n);
    Q_EMIT instrumentChoiceRequested();
}

void GroovePanel::ToggleDistortion(int n) {
    ctx_.edits.ToggleDistortion(n);
}

void GroovePanel::ToggleMute(int n) {
    ctx_.edits.ToggleMute(n);
}

void GroovePanel::ChoosePattern(int pattern) {
    ctx_.transport.QueuePattern(pattern);
}

void GroovePanel::SetMeasureCount(int count) {
    ctx_.edits.SetMeasureCount(count);
}

void GroovePanel::ChooseMeasure(int measure) {
    ctx_.transport.LocateMeasure(measure);
}

void GroovePanel::SetChannelVolume(int n, int volume) {
    ChooseChannel(n);
    ctx_.edits.DragChannelVolume(n, volume);
}

void GroovePanel::SetTempo(int tempo) {
    ctx_.edits.DragTempo(tempo);
}

void GroovePanel::SetShuffle(int shuffle) {
    ctx_.edits.DragShuffle(shuffle);
}

void GroovePanel::SetDistortionGain(int gain) {
    ctx_.edits.DragDistortionGain(gain);
}

void GroovePanel::SetDistortionThreshold(int threshold) {
    ctx_.edits.DragDistortionThreshold(threshold);
}

void GroovePanel::EndDrag() {
    ctx_.edits.EndDrag();
}

void GroovePanel::EnterTempo() {
    // The value dialog stores an accepted tempo through the edit layer.
    Q_EMIT tempoEntryRequested();
}

void GroovePanel::EnterShuffle() {
    Q_EMIT shuffleEntryRequested();
}

// The main volume is the mixer's, not the Song's: nothing to undo.
void GroovePanel::SetMainVolume(int target) {
    qtam::SetMainVolume(ctx_.m, target);
    ctx_.playback.SongEdited();  // JACK mixes a copy: the new level goes there too
    ShowMainVolume();
}

void GroovePanel::DrawKnobPointer() {
    const KnobLine line = KnobLineFor(ctx_.m.player.clock.MainVolumeTarget);
    const QPoint inner(line.inner.x, line.inner.y);
    const QPoint outer(line.outer.x, line.outer.y);
    VolumeKnob->DrawLine(inner + QPoint(1, 1), outer + QPoint(1, 1), Qt::white);
    VolumeKnob->DrawLine(inner, outer, Qt::black);
    VolumeKnob->SetPointer(inner, outer, true);
    knobInner_ = line.inner;
    knobOuter_ = line.outer;
}

void GroovePanel::EraseKnobPointer() {
    const QPoint inner(knobInner_.x, knobInner_.y);
    const QPoint outer(knobOuter_.x, knobOuter_.y);
    VolumeKnob->DrawLine(inner, outer, skin::kKnobFace);
    VolumeKnob->DrawLine(inner + QPoint(1, 1), outer + QPoint(1, 1), skin::kKnobFace);
    VolumeKnob->SetPointer(inner, outer, false);
}

// ---------------------------------------------------------------- transport

void GroovePanel::SyncTransportButtons() {
    const bool stopShown = ctx_.transport.StopShown();
    StartButton->setVisible(!stopShown);
    StopButton->setVisible(stopShown);
    // Only the button that shows is there for the keyboard and a screen reader; the focus
    // moves over to it when its partner goes.
    auto* play = findChild<FocusSpot*>(QStringLiteral("PlayKey"));
    auto* stop = findChild<FocusSpot*>(QStringLiteral("StopKey"));
    if (play == nullptr || stop == nullptr) return;
    const bool focused = play->hasFocus() || stop->hasFocus();
    play->setVisible(!stopShown);
    stop->setVisible(stopShown);
    if (focused) (play->isVisible() ? play : stop)->setFocus();
}

void GroovePanel::StartPlaying() {
    ctx_.transport.Start();
    SyncTransportButtons();
}

void GroovePanel::StopPlaying() {
    ctx_.transport.Stop();
    SyncTransportButtons();
}

void GroovePanel::PressStart(bool leftButtonOnly, bool ctrlHeld) {
    ctx_.transport.PressStart(leftButtonOnly, ctrlHeld);
    SyncTransportButtons();
}

void GroovePanel::ReleaseStart() {
    ctx_.transport.ReleaseStart();
}

void GroovePanel::Tap() {
    Q_EMIT tapRequested();
}

void GroovePanel::ShowTapping(bool tapping) {
    TapButton->SetPicture(Picture::TapButton, tapping ? 1 : 0);
}

void GroovePanel::keyPressEvent(QKeyEvent* event) {
    if (HandleControlKey(event)) return;
    if (event->key() == Qt::Key_T && event->modifiers() == Qt::NoModifier) {
        if (!event->isAutoRepeat()) Tap();
        return;
    }
    spaceBar_->KeyPress(*event);
    SyncTransportButtons();
}

void GroovePanel::keyReleaseEvent(QKeyEvent* event) {
    // A slider moved by a held key is one edit, complete when the key comes up.
    if (!event->isAutoRepeat()) EndDrag();
    spaceBar_->KeyRelease(*event);
}

// ---------------------------------------------------------------- window

void GroovePanel::closeEvent(QCloseEvent* event) {
    event->ignore();  // the panel is only ever hidden
}

void GroovePanel::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (event->spontaneous()) return;
    OpenDeviceShortly();
    RefreshFromSong();
}

void GroovePanel::OpenDeviceShortly() {
    // Opened before the first start, so that it sounds as soon as later ones (the sound
    // library's first load happens off this thread); but not while the program starts, whose
    // windows would show later for it. A start before then opens the device itself.
    constexpr int kDeviceOpenDelayMs = 400;
    if (SoundIsHosts) return;
    if (deviceOpenTimer_ == nullptr) {
        deviceOpenTimer_ = new QTimer(this);
        deviceOpenTimer_->setSingleShot(true);
        connect(deviceOpenTimer_, &QTimer::timeout, this, [this] {
            if (isVisible()) ctx_.playback.OpenDeviceSoon();
        });
    }
    deviceOpenTimer_->start(kDeviceOpenDelayMs);
}

void GroovePanel::ReleaseDeviceWhenIdle() {
    if (deviceOpenTimer_ != nullptr) deviceOpenTimer_->stop();
    // A JACK client stays: the transport may roll from another program's window at any time.
    if (ctx_.playback.UsesJack()) return;
    // Blocks still queued keep the device open until they have come back.
    if (!ctx_.playback.Playback.IsPlaying()) ctx_.playback.CloseDevice();
}

void GroovePanel::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    if (!event->spontaneous()) ReleaseDeviceWhenIdle();
}

void GroovePanel::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    if (isActiveWindow()) {
        const bool hadUserbank = ctx_.m.activation.UserbankLoaded;
        if (!SoundIsHosts) LoadActiveUserbankIfNone(ctx_.m);
        ShowCaption();
        Q_EMIT activated();
        OpenDeviceShortly();
        if (!hadUserbank && ctx_.m.activation.UserbankLoaded) ShowChannelChoice();
    } else {
        EndDrag();  // a key held on a slider comes up elsewhere
        spaceBar_->Flush();
        ReleaseDeviceWhenIdle();
    }
}

// ---------------------------------------------------------------- light show

void GroovePanel::StartLightShow() {
    if (LightShowDone || lightShowTimer_) return;
    ShowInstrumentNames();
    LightShowTickCount = 0;
    LightShowTickTimes.clear();
    LightShowTickTimes.reserve(kLightShowTicks);
    lightShowTimer_ = std::make_unique<PrecisionTimer>(ctx_.events);
    lightShowTimer_->SetInterval(kLightShowInterval);
    lightShowTimer_->OnTimer = [this](PrecisionTimer&) { LightShowTick(); };
    lightShowTimer_->SetEnabled(true);
}

void GroovePanel::LightShowTick() {
    if (LightShowDone) return;
    LightShowTickTimes.push_back(std::chrono::steady_clock::now());
    const int t = ++LightShowTickCount;
    if (t == 1) {
        ShowStepLed(true, 1);
    } else if (t <= 16) {
        ShowStepLed(false, t - 1);
        ShowStepLed(true, t);
    } else if (t <= 31) {
        ShowStepLed(false, 33 - t);
        ShowStepLed(true, 32 - t);
    } else {
        ShowStepLed(false, 1);
        LightShowDone = true;
        ShowStepLeds();
        if (lightShowTimer_) {
            lightShowTimer_->SetEnabled(false);
            // released once this tick has returned from the timer
            QMetaObject::invokeMethod(
                this, [this] { lightShowTimer_.reset(); }, Qt::QueuedConnection);
        }
    }
}

// ---------------------------------------------------------------- screenshot

bool WritePanelScreenshot(GroovePanel& panel, const QString& path, qreal scale) {
    if (scale <= 0) scale = 1;
    panel.RefreshFromSong();
    QPixmap pixmap(QSize(int(std::ceil(GroovePanel::kWidth * scale)),
                         int(std::ceil(GroovePanel::kHeight * scale))));
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::black);
    panel.render(&pixmap);
    return pixmap.save(path, "PNG");
}

}  // namespace qtam

#include "moc_groove_panel.cpp"
