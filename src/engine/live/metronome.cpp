#include "engine/live/metronome.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qtam {

CountIn CountInOf(int rate, int tempo, int shuffle, int steps) {
    CountIn c;
    if (rate <= 0 || tempo <= 0) return c;
    // As SetTempo (play_clock.cpp) times the steps.
    const double sixteenth = rate * 60.0 / (4.0 * tempo);
    for (int i = 1; i <= std::clamp(steps, 1, kStepsPerBeat * CountIn::kMaxBeats); ++i) {
        if (BeginsBeat(i)) c.beat[static_cast<std::size_t>(c.beats++)] = c.length;
        const double share = (i % 2 == 1) ? shuffle : 200 - shuffle;
        const auto stepLength = static_cast<std::int64_t>(std::nearbyint(sixteenth * 0.01 * share));
        c.length += std::max<std::int64_t>(stepLength - 1, 1);
    }
    return c;
}

void Metronome::Prepare(int rate) {
    rate = std::max(rate, 8000);
    // 30 ms of a sine that dies away: a wood block's pitch on the beat, an octave up on the
    // measure's first.
    clickFrames_ = std::min(kMaxClickFrames, rate * 30 / 1000);
    for (int i = 0; i < clickFrames_; ++i) {
        const double t = static_cast<double>(i) / rate;
        // Begun at once (the first frame is the beat's), without a crack.
        const double envelope = std::exp(-t * 160.0) * std::min(1.0, (i + 1) / 8.0);
        beat_[static_cast<std::size_t>(i)] =
            static_cast<float>(envelope * std::cos(2 * std::numbers::pi * 1000.0 * t));
        accent_[static_cast<std::size_t>(i)] =
            static_cast<float>(envelope * std::cos(2 * std::numbers::pi * 2000.0 * t));
    }
    Silence();
    seen_ = 0;
}

void Metronome::SetLevel(int percent) {
    level_.store(std::clamp(percent, 0, 100), std::memory_order_relaxed);
}

void Metronome::Click(int at, bool accent) {
    pending_ = std::max(at, 0);
    pendingAccent_ = accent;
}

void Metronome::FollowSteps(const StepStartLog& log, std::int64_t chunkFirst) {
    if (chunkFirst == 0 || seen_ > log.count) seen_ = 0;
    const std::int64_t oldest = std::max(seen_, log.count - StepStartLog::kSize);
    seen_ = log.count;
    if (!On()) return;
    for (std::int64_t i = oldest; i < log.count; ++i) {
        const StepStart& s = log.starts[static_cast<std::size_t>(i % StepStartLog::kSize)];
        if (BeginsBeat(s.step) && s.frame >= chunkFirst)
            Click(static_cast<int>(s.frame - chunkFirst), s.step == 1);
    }
}

void Metronome::AddTo(std::int16_t* out, int frames) {
    const float gain = 16384.0f * static_cast<float>(Level()) / 100.0f;
    for (int f = 0; f < frames; ++f) {
        if (f == pending_) {
            click_ = pendingAccent_ ? accent_.data() : beat_.data();
            position_ = 0;
            pending_ = -1;
        }
        if (click_ == nullptr) continue;
        const float level = click_ == accent_.data() ? gain : 0.7f * gain;
        const auto sample = static_cast<std::int32_t>(click_[position_] * level);
        for (int side = 0; side < 2; ++side) {
            std::int16_t& o = out[2 * f + side];
            o = static_cast<std::int16_t>(std::clamp<std::int32_t>(o + sample, -32768, 32767));
        }
        if (++position_ >= clickFrames_) click_ = nullptr;
    }
    // A click asked for past this run begins on the next one's first frame.
    if (pending_ >= frames) pending_ -= frames;
}

void Metronome::Silence() {
    click_ = nullptr;
    pending_ = -1;
    position_ = 0;
}

}  // namespace qtam
