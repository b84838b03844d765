#include "ui/groove_panel/play_lights.h"

#include <QMouseEvent>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "core/machine.h"
#include "engine/audio/playback.h"
#include "transport/transport.h"
#include "ui/groove_panel/groove_panel.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

constexpr int kBytesPerFrame = 4;

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

bool SameStep(const PlayPosition& a, const PlayPosition& b) {
    return a.step == b.step && a.measure == b.measure && a.pattern == b.pattern &&
           a.start == b.start;
}

}  // namespace

PlayLights::PlayLights(AppContext& ctx, GroovePanel& panel) : ctx_(ctx), panel_(panel) {
    using skin::Picture;
    StepLight = new SkinPicture(Picture::StepLight, 1, QStringLiteral("StepLight"), &panel);
    StepLight->move(layout::kStepLefts[0] - 2, layout::kStepLightTop);
    StepLight->hide();
    PlayingMeasure =
        new SkinPicture(Picture::PlayingMeasure, 1, QStringLiteral("PlayingMeasure"), &panel);
    PlayingMeasure->move(layout::kPlayingMeasure.left, layout::kPlayingMeasure.top);
    PlayingMeasure->hide();
    QueuedKeys = new SkinPicture(Picture::Pattern, 1, QStringLiteral("QueuedKeys"), &panel);
    QueuedKeys->move(layout::kPatternKeysLeft, layout::kPatternKeysTop);
    QueuedKeys->onPress = [&panel](QMouseEvent* e) {
        panel.ChoosePattern(PatternAtKeypad(int(std::floor(e->position().x())),
                                            int(std::floor(e->position().y()))));
    };
    QueuedKeys->hide();
    FollowSwitch =
        new SkinPicture(Picture::FollowSwitch, 0, QStringLiteral("FollowSwitch"), &panel);
    FollowSwitch->move(layout::kFollowSwitch.left, layout::kFollowSwitch.top);
    FollowSwitch->onRelease = [this](QMouseEvent* e) {
        if (IsClick(*FollowSwitch, e)) ToggleFollow();
    };

    timer_.setSingleShot(true);
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &panel, [this] { Refresh(); });
}

void PlayLights::ToggleFollow() {
    ctx_.transport.SetFollow(!ctx_.transport.Following());
}

void PlayLights::ShowFollow() {
    const bool follow = ctx_.transport.Following();
    FollowSwitch->SetPicture(skin::Picture::FollowSwitch, follow ? 1 : 0);
    if (follow) Show(shown_, !QueuedKeys->isHidden());
}

void PlayLights::Refresh() {
    if (!ctx_.m.Playing) {
        timer_.stop();
        clock_.Reset();
        Show({}, false);
        return;
    }
    const double now = NowMs();
    PlaybackDriver& driver = ctx_.playback;
    if (driver.UsesJack()) {
        // JACK's frame time says what is heard; looked at often, it needs no estimate.
        Show(driver.JackHeard(), std::fmod(now, 2.0 * kBlinkMs) < kBlinkMs);
        timer_.start(kJackLookMs);
        return;
    }
    const int chunk = driver.Playback.DeviceBufferFrames();
    const WaveOut::TakenAndLatency device = driver.Playback.TakenAndLatencyNow();
    const auto taken = static_cast<std::int64_t>(device.takenBytes / kBytesPerFrame);
    const double heard =
        clock_.Observe(taken, now, device.latencyFrames, chunk, device.latencyFramesNow) -
        static_cast<double>(driver.SoundStartFrame());
    const PlayPosition at = StepAtFrame(driver.StepStarts(), std::int64_t(std::floor(heard)));
    Show(at, std::fmod(now, 2.0 * kBlinkMs) < kBlinkMs);

    double wait = kLongestWaitMs;
    const double until = FramesUntilNextStep(at, heard, driver.StepStarts().mixedFrames);
    if (until >= 0) wait = std::min(wait, clock_.MsOf(until));
    if (at.known() && at.pattern != ctx_.m.editor.CurrentPattern)
        wait = std::min(wait, kBlinkMs - std::fmod(now, kBlinkMs));
    // Until the server has estimated the latency with the stream playing, it is a guess: look
    // again soon after the estimate comes, which may move the next step by tens of milliseconds.
    if (!device.latencyKnown) wait = std::min(wait, double(kGuessLookMs));
    timer_.start(std::max(1, int(std::ceil(wait))));
}

// `heard` is a copy: following it repaints the panel, which may look at playback again.
void PlayLights::Show(PlayPosition heard, bool blinkOn) {
    const Machine& m = ctx_.m;
    const EditorState& e = m.editor;
    const int steps = StepsPerMeasureOf(m.song);
    const bool known = heard.known() && heard.step <= steps;

    // With the follow switch on, the transport moves the edit measure to the one heard.
    if (known) ctx_.transport.Heard(heard.pattern, heard.measure);

    if (known) {
        const int button = ButtonOfSlot(heard.step, steps);
        const bool shownMeasure =
            heard.pattern == e.CurrentPattern && heard.measure == e.CurrentMeasure;
        StepLight->SetPicture(skin::Picture::StepLight,
                              button + (shownMeasure ? 0 : skin::kStepLightElsewhere));
        StepLight->move(layout::kStepLefts[button - 1] - 2, layout::kStepLightTop);
        // In song mode "PLAYING" shows the entry, its pass and the measure.
        const bool song = heard.entry > 0;
        PlayingMeasure->SetPicture(
            skin::Picture::PlayingMeasure,
            song ? skin::SongPlaceVariant(heard.entry, heard.pass, heard.measure) : heard.measure);
        PlayingMeasure->setToolTip(
            song ? QString::fromStdString(ctx_.transport.SongPlaceText(heard)) : QString());
    }
    StepLight->setVisible(known);
    PlayingMeasure->setVisible(known);

    // The lit key is the pattern heard; the one chosen to follow it blinks beside it.
    const int playing = known ? heard.pattern : e.CurrentPattern;
    for (int n = 1; n <= 8; ++n) panel_.PatternKeyPicture(n).setVisible(n == playing);
    const bool queued = playing != e.CurrentPattern;
    if (queued)
        QueuedKeys->SetPicture(skin::Picture::Pattern,
                               playing + skin::kQueuedKey * e.CurrentPattern);
    QueuedKeys->setVisible(queued && blinkOn);

    if (known && !SameStep(heard, shown_) && onStepShown) onStepShown(heard);
    if (!SameStep(known ? heard : PlayPosition{}, shown_))
        Q_EMIT panel_.heardChanged(known ? heard : PlayPosition{});
    shown_ = known ? heard : PlayPosition{};
}

}  // namespace qtam
