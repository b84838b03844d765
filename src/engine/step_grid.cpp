#include "engine/step_grid.h"

#include <algorithm>
#include <cmath>

namespace qtam {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
    std::int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) q -= 1;
    return q;
}

}  // namespace

StepGrid::StepGrid(int rate, double bpm, int shuffle, std::int64_t anchorFrame,
                   std::int64_t anchorStep)
    : bpm_(std::isfinite(bpm) ? std::clamp(bpm, 1.0, 1000.0) : 120.0),
      shuffle_(std::clamp(shuffle, 100, 150)),
      anchorFrame_(anchorFrame),
      anchorStep_(anchorStep) {
    framesPerStep_ = std::clamp(rate, 1000, 1000000) * 15.0 / bpm_;
}

double StepGrid::Offset(std::int64_t k) const {
    const std::int64_t pair = FloorDiv(k, 2);
    const bool odd = k - 2 * pair == 1;  // the second step of its pair
    return (2.0 * static_cast<double>(pair) + (odd ? shuffle_ / 100.0 : 0.0)) * framesPerStep_;
}

std::int64_t StepGrid::Begin(std::int64_t k) const {
    return anchorFrame_ + std::llround(Offset(k) - Offset(anchorStep_));
}

std::int64_t StepGrid::StepAt(std::int64_t frame) const {
    const double guess = static_cast<double>(frame - anchorFrame_) / framesPerStep_;
    std::int64_t k = anchorStep_ + static_cast<std::int64_t>(std::floor(guess));
    while (Begin(k) > frame) --k;
    while (Begin(k + 1) <= frame) ++k;
    return k;
}

std::int64_t StepGrid::ClockTick(std::int64_t j) const {
    // Counted from where step 0 would begin, so that a grid anchored on a shuffled step still
    // ticks where the unshuffled steps are.
    return anchorFrame_ +
           std::llround(static_cast<double>(j) * framesPerStep_ / 6.0 - Offset(anchorStep_));
}

std::int64_t StepGrid::ClockTickFrom(std::int64_t frame) const {
    const double guess =
        (static_cast<double>(frame - anchorFrame_) + Offset(anchorStep_)) * 6.0 / framesPerStep_;
    std::int64_t j = static_cast<std::int64_t>(std::floor(guess));
    while (ClockTick(j) >= frame) --j;
    while (ClockTick(j) < frame) ++j;
    return j;
}

StepGrid GridThrough(int rate, double bpm, int shuffle, std::int64_t frame, double steps) {
    const StepGrid straight(rate, bpm, 100);
    if (!std::isfinite(steps)) steps = 0;
    // The first whole step at or after the position (a hair's tolerance for tick rounding).
    const auto k = static_cast<std::int64_t>(std::ceil(steps - 1e-6));
    const double ahead = std::max(0.0, static_cast<double>(k) - steps);
    // The position is unshuffled time: the second step of a pair begins as much later as the
    // shuffle makes it, so that the pairs begin where the position's steps do.
    const double late = (k & 1) != 0 ? std::clamp(shuffle, 100, 150) / 100.0 - 1.0 : 0.0;
    return StepGrid(rate, bpm, shuffle,
                    frame + std::llround((ahead + late) * straight.FramesPerStep()), k);
}

std::int64_t StepStartCentiticks(std::int64_t k, int shuffle) {
    const std::int64_t pair = FloorDiv(k, 2);
    return 1200 * pair + (k - 2 * pair == 1 ? 6 * std::clamp(shuffle, 100, 150) : 0);
}

std::int64_t StepAtTick(std::int64_t tick, int shuffle) {
    const std::int64_t k = 2 * FloorDiv(tick, 12);
    return StepStartCentiticks(k + 1, shuffle) <= 100 * tick ? k + 1 : k;
}

void ClockTempo::Tick(std::int64_t frame) {
    if (count_ > 0) {
        const std::int64_t gap = frame - At(count_ - 1);
        if (gap <= 0 || gap > rate_ || (count_ >= 3 && gap > 4 * slope_)) count_ = 0;
    }
    if (count_ == kTicks) {
        first_ = (first_ + 1) % kTicks;
        count_ -= 1;
    }
    frames_[(first_ + count_) % kTicks] = frame;
    count_ += 1;
    if (count_ >= 10) {
        // Off by more than 4 %, and by more than the scatter of the ticks makes likely.
        const Line before = Fit(0, count_ - 6);
        const double recent = static_cast<double>(frame - At(count_ - 7)) / 6.0;
        if (std::fabs(recent - before.slope) >
            std::max(0.04 * before.slope, 1.5 * before.scatter)) {
            first_ = (first_ + count_ - 7) % kTicks;
            count_ = 7;
        }
    }
    if (count_ >= 2) slope_ = Measure();
}

double ClockTempo::Measure() const {
    if (count_ <= kBeat) return Fit(0, count_).slope;
    const Line beat = Fit(count_ - kBeat, count_);
    // The noise of the last beat's slope: its scatter over the spread of its 24 ticks.
    const double noise = beat.scatter / std::sqrt(kBeat * (kBeat * kBeat - 1) / 12.0);
    const double allowed = 6 * noise + 1e-6 * beat.slope;
    double slope = beat.slope;
    for (int n = 2 * kBeat; n <= kTicks; n *= 2) {
        const double longer = Fit(std::max(count_ - n, 0), count_).slope;
        if (std::fabs(longer - beat.slope) > allowed) break;
        slope = longer;
        if (n >= count_) break;
    }
    return slope;
}

ClockTempo::Line ClockTempo::Fit(int from, int to) const {
    const int n = to - from;
    const double meanX = (n - 1) / 2.0;
    double meanY = 0;
    for (int i = from; i < to; ++i) meanY += static_cast<double>(At(i) - At(from));
    meanY /= n;
    double sxy = 0, sxx = 0;
    for (int i = 0; i < n; ++i) {
        const double dx = i - meanX;
        sxy += dx * (static_cast<double>(At(from + i) - At(from)) - meanY);
        sxx += dx * dx;
    }
    Line line;
    line.slope = sxx > 0 ? sxy / sxx : 0.0;
    double squares = 0;
    for (int i = 0; i < n; ++i) {
        const double off =
            static_cast<double>(At(from + i) - At(from)) - meanY - line.slope * (i - meanX);
        squares += off * off;
    }
    line.scatter = n > 2 ? std::sqrt(squares / (n - 2)) : 0.0;
    return line;
}

BarBeatTick BbtAtFrame(std::int64_t frame, int rate, double bpm, int beatsPerBar,
                       double ticksPerBeat) {
    beatsPerBar = std::max(beatsPerBar, 1);
    const double beats =
        static_cast<double>(std::max<std::int64_t>(frame, 0)) * bpm / (60.0 * std::max(rate, 1));
    const auto whole = static_cast<std::int64_t>(std::floor(beats));
    BarBeatTick p;
    p.bar = static_cast<std::int32_t>(whole / beatsPerBar + 1);
    p.beat = static_cast<std::int32_t>(whole % beatsPerBar + 1);
    p.tick = static_cast<std::int32_t>(std::min(
        std::floor((beats - static_cast<double>(whole)) * ticksPerBeat), ticksPerBeat - 1));
    p.barStartTick = static_cast<double>(p.bar - 1) * beatsPerBar * ticksPerBeat;
    return p;
}

double StepsOfBbt(std::int32_t bar, std::int32_t beat, double tick, double ticksPerBeat,
                  int stepsPerMeasure) {
    const double tickSteps = ticksPerBeat > 0 ? tick * 4.0 / ticksPerBeat : 0.0;
    return static_cast<double>(bar - 1) * stepsPerMeasure + (beat - 1) * 4.0 + tickSteps;
}

SongStep SongStepOf(std::int64_t k, int stepsPerMeasure, int measureCount) {
    stepsPerMeasure = std::max(stepsPerMeasure, 1);
    measureCount = std::max(measureCount, 1);
    const std::int64_t measure = FloorDiv(k, stepsPerMeasure);
    const std::int64_t step = k - measure * stepsPerMeasure;
    const std::int64_t inPattern = measure - FloorDiv(measure, measureCount) * measureCount;
    return {static_cast<int>(inPattern + 1), static_cast<int>(step + 1)};
}

}  // namespace qtam
