// The groove panel by keyboard and screen reader: a FocusSpot over every control, Tab between
// groups of controls, arrows within a group, and keys that call the same value-taking handlers
// as a click or a drag. Enter acts on a control; Space keeps its meaning of play/stop
// everywhere.

#include <QKeyEvent>
#include <algorithm>
#include <functional>

#include "core/machine.h"
#include "song/panel_edits.h"
#include "song/slides.h"
#include "transport/transport.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/groove_panel/play_lights.h"
#include "ui/groove_panel/song_switch.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

constexpr int kPageStep = 10;
constexpr int kToTheEnd = 1000;  // more positions than any control has: a drag to its end

// The value a slider shows `positions` pixels along its travel lo..hi from `at`. A travel
// may have more pixels than values: when the pixels moved over all stand for the value at `at`,
// it goes on to the first pixel that stands for another, so that every key press moves.
int ValueAlong(int at, int positions, int lo, int hi, const std::function<int(int)>& valueAt) {
    const int now = valueAt(at);
    const int step = positions > 0 ? 1 : -1;
    int to = std::clamp(at + positions, lo, hi);
    while (valueAt(to) == now && to != (step > 0 ? hi : lo)) to += step;
    return valueAt(to);
}

QString PanText(int pan) {
    if (pan == 64) return QStringLiteral("centre");
    return pan < 64 ? QStringLiteral("left %1").arg(64 - pan)
                    : QStringLiteral("right %1").arg(pan - 64);
}

ControlDescription Checkable(QAccessible::Role role, const QString& name, bool checked,
                             const QString& value = {}) {
    ControlDescription d;
    d.role = role;
    d.name = name;
    d.checkable = true;
    d.checked = checked;
    d.value = value;
    return d;
}

ControlDescription Ranged(QAccessible::Role role, const QString& name, int current, int minimum,
                          int maximum, const QString& value) {
    ControlDescription d;
    d.role = role;
    d.name = name;
    d.ranged = true;
    d.current = current;
    d.minimum = minimum;
    d.maximum = maximum;
    d.value = value;
    return d;
}

// `value` of `full` in whole per cent, rounded.
int Percent(int value, int full) {
    return (200 * value + full) / (2 * full);
}

ControlDescription Button(const QString& name, const QString& value = {}) {
    ControlDescription d;
    d.name = name;
    d.value = value;
    return d;
}

QRect Around(const QWidget* w) {
    return w->geometry();
}

}  // namespace

FocusSpot* GroovePanel::AddSpot(const QString& name, ControlGroup group, QRect area) {
    auto* spot = new FocusSpot(name, group, this);
    spot->setGeometry(area);
    spots_.push_back(spot);
    return spot;
}

void GroovePanel::BuildFocusSpots() {
    InstallPanelAccessibility();
    Machine& m = ctx_.m;
    const auto settings = [&m]() -> ChannelSettings& {
        return m.song.settings(m.editor.CurrentPattern);
    };
    using G = ControlGroup;
    using R = QAccessible::Role;

    for (int n = 1; n <= 8; ++n) {
        FocusSpot* s =
            AddSpot(QStringLiteral("ChannelKey%1").arg(n), G::Channels, Around(ChannelButton[n]));
        s->describe = [this, n, &m] {
            return Checkable(R::RadioButton, QStringLiteral("Channel %1").arg(n),
                             m.editor.CurrentChannel == n, InstrumentName[n]->text());
        };
        s->onEnter = [this, n] { ChooseChannel(n); };
    }
    for (int n = 1; n <= 8; ++n) {
        FocusSpot* s = AddSpot(QStringLiteral("InstrumentKey%1").arg(n), G::Instruments,
                               Around(InstrumentName[n]).adjusted(-2, -2, 2, 2));
        s->ringBand = 1;
        // The sound is in the name: a screen reader speaks a button's name, not its value.
        s->describe = [this, n] {
            return Button(QStringLiteral("Instrument of channel %1: %2")
                              .arg(n)
                              .arg(InstrumentName[n]->text().trimmed()),
                          InstrumentName[n]->text().trimmed());
        };
        s->onEnter = [this, n] { ChooseInstrument(n); };
    }
    for (int n = 1; n <= 8; ++n) {
        const QRect travel(
            VolumeSlider[n]->x(), layout::kVolumeSliderTopMin, VolumeSlider[n]->width(),
            layout::kVolumeSliderTopMax - layout::kVolumeSliderTopMin + VolumeSlider[n]->height());
        FocusSpot* s =
            AddSpot(QStringLiteral("ChannelVolumeKey%1").arg(n), G::ChannelVolumes, travel);
        s->vertical = true;
        s->describe = [n, settings] {
            const int v = settings().volume[n - 1];
            return Ranged(R::Slider, QStringLiteral("Volume of channel %1").arg(n), v, 0, 127,
                          QString::number(v));
        };
        // Up raises the volume: the cap moves up, as a drag upwards moves it.
        s->onMove = [this, n, settings](int positions) {
            const int top = VolumeSliderTop(settings().volume[n - 1]);
            SetChannelVolume(n, ValueAlong(top, -positions, kVolumeSliderTopMin,
                                           kVolumeSliderTopMax, VolumeFromSliderTop));
        };
    }
    for (int n = 1; n <= 8; ++n) {
        FocusSpot* s = AddSpot(QStringLiteral("DistortionLampKey%1").arg(n), G::DistortionLamps,
                               Around(DistortionLamp[n]).adjusted(-2, -2, 2, 2));
        s->describe = [n, settings] {
            return Checkable(R::CheckBox, QStringLiteral("Distortion on channel %1").arg(n),
                             settings().distortionOn[n - 1] == 1);
        };
        s->onEnter = [this, n] { ToggleDistortion(n); };
    }
    for (int n = 1; n <= 8; ++n) {
        FocusSpot* s = AddSpot(QStringLiteral("MuteLampKey%1").arg(n), G::MuteLamps,
                               Around(MuteLamp[n]).adjusted(-2, -2, 2, 2));
        s->describe = [n, settings] {
            return Checkable(R::CheckBox, QStringLiteral("Mute channel %1").arg(n),
                             settings().mute[n - 1] == 1);
        };
        s->onEnter = [this, n] { ToggleMute(n); };
    }
    for (int b = 1; b <= 16; ++b) {
        FocusSpot* s = AddSpot(QStringLiteral("StepKey%1").arg(b), G::Steps, Around(StepLit[b]));
        s->describe = [b, &m] {
            const int slot = SlotOfButton(b, StepsPerMeasureOf(m.song));
            const QString name =
                m.editor.CurrentChannel > 0
                    ? QStringLiteral("Step %1, channel %2").arg(b).arg(m.editor.CurrentChannel)
                    : QStringLiteral("Step %1").arg(b);
            if (slot == 0 || m.editor.CurrentChannel == 0)
                return Checkable(R::CheckBox, name, false);
            const StepCell& c = m.song.cell(m.editor.CurrentPattern, m.editor.CurrentMeasure,
                                            m.editor.CurrentChannel, slot);
            const QString value =
                c.hasNote()
                    ? QStringLiteral("velocity %1, pan %2").arg(c.velocity).arg(PanText(c.pan))
                    : QStringLiteral("no note");
            return Checkable(R::CheckBox, name, c.hasNote(), value);
        };
        s->onEnter = [this, b] { PressStep(b); };
        s->onDetails = [this, b] { OpenNoteDetails(b); };
    }
    for (int n = 1; n <= 8; ++n) {
        const int column = (n - 1) % 4;
        const int row = (n - 1) / 4;
        // The keypad's cells: columns 17 pixels wide (the last 18), rows 20 and 19 high.
        const QRect cell(layout::kPatternKeysLeft + 17 * column, layout::kPatternKeysTop + 20 * row,
                         column == 3 ? 18 : 17, row == 0 ? 20 : 19);
        FocusSpot* s = AddSpot(QStringLiteral("PatternKeyKey%1").arg(n), G::PatternKeys, cell);
        s->describe = [n, &m] {
            return Checkable(R::RadioButton, QStringLiteral("Pattern %1").arg(n),
                             m.editor.CurrentPattern == n);
        };
        s->onEnter = [this, n] { ChoosePattern(n); };
    }
    const auto measureButton = [this, &m](const QString& key, const QString& name, UpDown* arrows,
                                          bool raise, bool counting) {
        const QRect half(raise ? arrows->x() + arrows->width() / 2 : arrows->x(), arrows->y(),
                         arrows->width() / 2, arrows->height());
        FocusSpot* s = AddSpot(key, ControlGroup::Measures, half);
        s->describe = [name, counting, &m] {
            const int count = MeasureCountOf(m.song, m.editor.CurrentPattern);
            return Button(
                name,
                counting
                    ? QStringLiteral("%1 measures").arg(count)
                    : QStringLiteral("measure %1 of %2").arg(m.editor.CurrentMeasure).arg(count));
        };
        const int by = raise ? 1 : -1;
        s->onEnter = [this, counting, by, &m] {
            const int count = MeasureCountOf(m.song, m.editor.CurrentPattern);
            counting ? SetMeasureCount(count + by) : ChooseMeasure(m.editor.CurrentMeasure + by);
        };
    };
    measureButton(QStringLiteral("FewerMeasuresKey"), QStringLiteral("Fewer measures"),
                  MeasureCountArrows, false, true);
    measureButton(QStringLiteral("MoreMeasuresKey"), QStringLiteral("More measures"),
                  MeasureCountArrows, true, true);
    measureButton(QStringLiteral("PreviousMeasureKey"), QStringLiteral("Previous measure"),
                  EditMeasureArrows, false, false);
    measureButton(QStringLiteral("NextMeasureKey"), QStringLiteral("Next measure"),
                  EditMeasureArrows, true, false);

    const auto horizontal = [this](const QString& key, ControlGroup group, SkinPicture* cap, int lo,
                                   int hi) {
        return AddSpot(key, group, QRect(lo, cap->y(), hi - lo + cap->width(), cap->height()));
    };
    FocusSpot* tempo = horizontal(QStringLiteral("TempoKey"), G::TempoAndShuffle, TempoSlider,
                                  kTempoSliderLeftMin, kTempoSliderLeftMax);
    tempo->describe = [&m] {
        return Ranged(R::Slider, QStringLiteral("Tempo"), m.song.tempo, TempoFromSliderOffset(0),
                      TempoFromSliderOffset(kTempoSliderLeftMax - kTempoSliderLeftMin),
                      QStringLiteral("%1 BPM").arg(m.song.tempo));
    };
    tempo->onMove = [this, &m](int positions) {
        SetTempo(ValueAlong(TempoSliderOffset(m.song.tempo), positions, 0,
                            kTempoSliderLeftMax - kTempoSliderLeftMin, TempoFromSliderOffset));
    };
    tempo->onEnter = [this] { EnterTempo(); };
    FocusSpot* shuffle = horizontal(QStringLiteral("ShuffleKey"), G::TempoAndShuffle, ShuffleSlider,
                                    kTempoSliderLeftMin, kTempoSliderLeftMax);
    // In the panel's own unit: 0..100 %, as its label shows it.
    shuffle->describe = [&m] {
        const int shown = ShownShuffle(m.song.shuffle);
        return Ranged(R::Slider, QStringLiteral("Shuffle"), shown, 0, 100,
                      QStringLiteral("%1 %").arg(shown));
    };
    shuffle->onMove = [this, &m](int positions) {
        SetShuffle(ValueAlong(ShuffleSliderOffset(m.song.shuffle), positions, 0,
                              kTempoSliderLeftMax - kTempoSliderLeftMin, ShuffleFromSliderOffset));
    };
    shuffle->onEnter = [this] { EnterShuffle(); };
    FocusSpot* gain = horizontal(QStringLiteral("DistortionKey"), G::Distortion, DistortionSlider,
                                 kDistSliderLeftMin, kDistSliderLeftMax);
    // The distortion's sliders and the knob have no number on the panel: a screen reader hears
    // how far along they stand, in per cent (the knob's 100 % is the sound unchanged).
    gain->describe = [settings] {
        const int v = Percent(settings().distortionGain, kDistortionGainMax);
        return Ranged(R::Slider, QStringLiteral("Distortion"), v, 0, 100,
                      QStringLiteral("%1 %").arg(v));
    };
    gain->onMove = [this, settings](int positions) {
        SetDistortionGain(ValueAlong(DistSliderLeft(settings().distortionGain), positions,
                                     kDistSliderLeftMin, kDistSliderLeftMax,
                                     DistortionGainFromSliderLeft));
    };
    FocusSpot* threshold = horizontal(QStringLiteral("ThresholdKey"), G::Distortion,
                                      ThresholdSlider, kDistSliderLeftMin, kDistSliderLeftMax);
    threshold->describe = [settings] {
        const int v = Percent(settings().distortionThreshold, kDistortionThresholdMax);
        return Ranged(R::Slider, QStringLiteral("Distortion threshold"), v, 0, 100,
                      QStringLiteral("%1 %").arg(v));
    };
    threshold->onMove = [this, settings](int positions) {
        SetDistortionThreshold(ValueAlong(ThresholdSliderLeft(settings().distortionThreshold),
                                          positions, kDistSliderLeftMin, kDistSliderLeftMax,
                                          DistortionThresholdFromSliderLeft));
    };

    FocusSpot* knob = AddSpot(QStringLiteral("VolumeKnobKey"), G::VolumeKnob, Around(VolumeKnob));
    knob->describe = [&m] {
        const int v = Percent(m.player.clock.MainVolumeTarget, 128);
        return Ranged(R::Dial, QStringLiteral("Main volume"), v, 0, Percent(kMainVolumeMax, 128),
                      QStringLiteral("%1 %").arg(v));
    };
    // A turn of the knob by keys moves from where it stands, as a grab and a drag do.
    knob->onMove = [this, &m](int positions) {
        SetMainVolume(KnobDragTarget(m.player.clock.MainVolume, -positions));
    };

    FocusSpot* play = AddSpot(QStringLiteral("PlayKey"), G::Transport, Around(StartButton));
    play->describe = [&m] {
        return Button(QStringLiteral("Play"), m.Playing ? QStringLiteral("playing") : QString());
    };
    play->onEnter = [this] {
        PressStart(true, false);
        ReleaseStart();
    };
    FocusSpot* stop = AddSpot(QStringLiteral("StopKey"), G::Transport, Around(StopButton));
    stop->describe = [] { return Button(QStringLiteral("Stop")); };
    stop->onEnter = [this] { StopPlaying(); };
    FocusSpot* tap = AddSpot(QStringLiteral("TapKey"), G::TempoAndShuffle,
                             QRect(layout::kTapButton.left, layout::kTapButton.top,
                                   layout::kTapButton.width, layout::kTapButton.height));
    tap->describe = [&m] {
        return Button(QStringLiteral("Tap tempo"), QStringLiteral("%1 BPM").arg(m.song.tempo));
    };
    tap->onEnter = [this] { Tap(); };
    FocusSpot* follow = AddSpot(QStringLiteral("FollowKey"), G::Follow,
                                QRect(layout::kFollowSwitch.left, layout::kFollowSwitch.top,
                                      layout::kFollowSwitch.width, layout::kFollowSwitch.height));
    follow->describe = [this] {
        return Checkable(R::CheckBox, QStringLiteral("Follow the measure heard"),
                         ctx_.transport.Following());
    };
    follow->onEnter = [this] { lights_->ToggleFollow(); };
    FocusSpot* song = AddSpot(QStringLiteral("SongKey"), G::Follow,
                              QRect(layout::kSongSwitch.left, layout::kSongSwitch.top,
                                    layout::kSongSwitch.width, layout::kSongSwitch.height));
    song->describe = [this] {
        return Checkable(R::CheckBox, QStringLiteral("Song mode: play the arrangement"),
                         ctx_.transport.SongMode());
    };
    song->onEnter = [this] { songSwitch_->Toggle(); };

    // Clicks and drags change what the spots describe: tell the screen reader after them.
    for (QWidget* w : findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (!dynamic_cast<FocusSpot*>(w)) w->installEventFilter(this);
    for (FocusSpot* s : spots_) s->told = s->describe();
}

bool GroovePanel::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type t = event->type();
    if (t == QEvent::MouseButtonRelease || t == QEvent::MouseMove)
        QMetaObject::invokeMethod(
            this, [this] { ReportControlChanges(); }, Qt::QueuedConnection);
    return QWidget::eventFilter(watched, event);
}

void GroovePanel::ReportControlChanges() {
    for (FocusSpot* s : spots_) {
        if (s->group() == ControlGroup::Steps) {
            // a step a 12-step measure leaves out is neither reached nor shown
            const int b = int(s->objectName().mid(7).toInt());
            s->setVisible(SlotOfButton(b, StepsPerMeasureOf(ctx_.m.song)) != 0);
        }
        ReportChanges(*s);
    }
}

// The spot a group is entered at: the selected channel, pattern, or the group's first.
static FocusSpot* EntryOf(const std::vector<FocusSpot*>& group, const Machine& m) {
    const ControlGroup g = group.front()->group();
    const bool perChannel = g == ControlGroup::Channels || g == ControlGroup::Instruments ||
                            g == ControlGroup::ChannelVolumes ||
                            g == ControlGroup::DistortionLamps || g == ControlGroup::MuteLamps;
    const int chosen = perChannel                       ? m.editor.CurrentChannel
                       : g == ControlGroup::PatternKeys ? m.editor.CurrentPattern
                                                        : 1;
    if (chosen >= 1 && chosen <= int(group.size()) &&
        group[chosen - 1]->isVisibleTo(group[0]->parentWidget()))
        return group[chosen - 1];
    for (FocusSpot* s : group)
        if (s->isVisibleTo(s->parentWidget())) return s;
    return nullptr;
}

bool GroovePanel::focusNextPrevChild(bool next) {
    EndDrag();  // the keys leave the slider they held
    ReportControlChanges();
    constexpr int kGroups = int(ControlGroup::Follow) + 1;
    auto* current = dynamic_cast<FocusSpot*>(focusWidget());
    int g = current ? int(current->group()) : (next ? -1 : kGroups);
    for (int tries = 0; tries < kGroups; ++tries) {
        g = (g + (next ? 1 : -1) + kGroups) % kGroups;
        std::vector<FocusSpot*> group;
        for (FocusSpot* s : spots_)
            if (int(s->group()) == g) group.push_back(s);
        if (group.empty()) continue;
        if (FocusSpot* entry = EntryOf(group, ctx_.m)) {
            entry->setFocus(next ? Qt::TabFocusReason : Qt::BacktabFocusReason);
            return true;
        }
    }
    return false;
}

void GroovePanel::MoveWithinGroup(FocusSpot* from, int direction) {
    const auto at = std::find(spots_.begin(), spots_.end(), from);
    if (at == spots_.end()) return;
    int i = int(at - spots_.begin());
    for (;;) {
        i += direction;
        if (i < 0 || i >= int(spots_.size()) || spots_[i]->group() != from->group()) return;
        if (spots_[i]->isVisibleTo(this)) break;
    }
    spots_[i]->setFocus(Qt::OtherFocusReason);
}

bool GroovePanel::HandleControlKey(QKeyEvent* event) {
    auto* spot = dynamic_cast<FocusSpot*>(focusWidget());
    if (!spot || (event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) return false;
    const int key = event->key();
    const bool shift = event->modifiers() & Qt::ShiftModifier;
    const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
    bool handled = true;
    if (enter && shift && spot->onDetails) {
        spot->onDetails();
    } else if (key == Qt::Key_Menu && spot->onDetails) {
        spot->onDetails();
    } else if (enter && !shift && spot->onEnter) {
        spot->onEnter();
    } else if (spot->group() == ControlGroup::PatternKeys && key >= Qt::Key_1 && key <= Qt::Key_8) {
        int n = 0;
        for (FocusSpot* s : spots_) {
            if (s->group() != ControlGroup::PatternKeys || ++n != key - Qt::Key_0) continue;
            s->setFocus(Qt::OtherFocusReason);
            s->onEnter();
        }
    } else {
        // Sliders take the arrows along their travel (the knob takes all four); the other
        // arrows move within the group.
        const bool dial = spot->group() == ControlGroup::VolumeKnob;
        const bool along = spot->vertical ? (key == Qt::Key_Up || key == Qt::Key_Down)
                                          : (key == Qt::Key_Left || key == Qt::Key_Right);
        const bool raise = key == Qt::Key_Up || key == Qt::Key_Right;
        int positions = 0;
        if (spot->onMove && (along || dial) &&
            (key == Qt::Key_Up || key == Qt::Key_Down || key == Qt::Key_Left ||
             key == Qt::Key_Right))
            positions = raise ? 1 : -1;
        else if (spot->onMove && key == Qt::Key_PageUp)
            positions = kPageStep;
        else if (spot->onMove && key == Qt::Key_PageDown)
            positions = -kPageStep;
        else if (spot->onMove && key == Qt::Key_Home)
            positions = -kToTheEnd;
        else if (spot->onMove && key == Qt::Key_End)
            positions = kToTheEnd;

        if (positions != 0) {
            spot->onMove(positions);
        } else if (key == Qt::Key_Left || key == Qt::Key_Up) {
            EndDrag();
            MoveWithinGroup(spot, -1);
        } else if (key == Qt::Key_Right || key == Qt::Key_Down) {
            EndDrag();
            MoveWithinGroup(spot, 1);
        } else {
            handled = false;
        }
    }
    if (handled) ReportControlChanges();
    return handled;
}

}  // namespace qtam
