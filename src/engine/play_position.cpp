#include "engine/play_position.h"

#include <algorithm>

#include "core/player.h"

namespace qtam {

void BeginStepStarts(Player& m) {
    m.stepStarts.count = 0;
    m.stepStarts.mixedFrames = 0;
    RecordStepStart(m, 0);
}

void RecordStepStart(Player& m, std::int64_t frame) {
    StepStartLog& log = m.stepStarts;
    log.starts[static_cast<std::size_t>(log.count % StepStartLog::kSize)] = {
        frame,        m.clock.PlayPattern, m.clock.PlayMeasure, m.clock.PlayStep,
        m.clock.Pass, m.clock.Entry};
    log.count += 1;
}

PlayPosition StepAtFrame(const StepStartLog& log, std::int64_t frame) {
    const std::int64_t oldest = std::max<std::int64_t>(0, log.count - StepStartLog::kSize);
    auto at = [&log](std::int64_t i) -> const StepStart& {
        return log.starts[static_cast<std::size_t>(i % StepStartLog::kSize)];
    };
    if (log.count == 0 || frame < at(oldest).frame) return {};
    // The last start at or before `frame`: starts are recorded in frame order.
    std::int64_t lo = oldest, hi = log.count - 1;
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo + 1) / 2;
        if (at(mid).frame <= frame)
            lo = mid;
        else
            hi = mid - 1;
    }
    const StepStart& s = at(lo);
    return {s.pattern, s.measure, s.step, s.frame, lo + 1 < log.count ? at(lo + 1).frame : -1,
            s.entry,   s.pass};
}

double FramesUntilNextStep(const PlayPosition& at, double heard, std::int64_t mixedFrames) {
    if (at.known())
        return std::max(
            0.0, static_cast<double>(at.nextStart >= 0 ? at.nextStart : mixedFrames) - heard);
    return heard < 0 ? -heard : -1;
}

double HeardClock::Observe(std::int64_t taken, double nowMs, std::int64_t latency,
                           std::int64_t chunk, std::int64_t latencyNow) {
    const double earliest = static_cast<double>(taken - latency);
    const double latest = earliest + static_cast<double>(std::max<std::int64_t>(chunk, 1)) - 1;
    double frame = latencyNow >= 0 ? static_cast<double>(taken - latencyNow)
                   : valid_        ? frame_ + (nowMs - atMs_) * rate_ / 1000.0
                                   : earliest;
    frame = std::clamp(frame, earliest, latest);
    frame_ = frame;
    atMs_ = nowMs;
    valid_ = true;
    return frame;
}

}  // namespace qtam
