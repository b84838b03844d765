// A timebase master whose beat and tick contradict its own ticks per beat: its beat stays 1
// while its tick runs over the whole bar, so that a tick there is a bar's ticks per beat of a
// bar, not of a beat. Its bars are right, its ticks too coarse to place a step to the frame
// (some count 48 a beat), so such a master is followed from its bar and the transport frame at
// its tempo, and through a tempo change from where its position was.

#include <cmath>

#include "engine/live/live_engine.h"

namespace qtam {

namespace {

// Beats into the bar, read as JACK defines beat and tick.
double BeatsOfBbt(const HostPosition& pos) {
    return pos.beat - 1 + pos.tick / pos.ticksPerBeat;
}

double BeatsPerBar(const HostPosition& pos) {
    return pos.beatsPerBar > 0 ? pos.beatsPerBar : 4.0;
}

// Where grid `g` stands at `frame`, in unshuffled steps: pairs of steps begin where unshuffled
// ones would.
double StepsAt(const StepGrid& g, std::int64_t frame) {
    const std::int64_t k = g.StepAt(frame);
    const std::int64_t pair = k - (k % 2 + 2) % 2;
    return static_cast<double>(pair) +
           static_cast<double>(frame - g.Begin(pair)) / g.FramesPerStep();
}

}  // namespace

bool LiveEngine::FindMasterBars(const HostPosition& pos) {
    RealTime& r = rt_;
    auto& m = r.masterBars;
    if (m.found) return false;
    const double perBar = BeatsPerBar(pos);
    // Its bars begin a bar of its ticks apart, a bar holding ticks-per-beat ticks.
    bool contradicts = perBar > 1 && pos.bar >= 2 && pos.beat == 1 && pos.barStartTick > 0 &&
                       std::fabs(pos.barStartTick - (pos.bar - 1) * pos.ticksPerBeat) < 0.5;
    // Or, rolling on in one bar, its beat and tick fall behind the frames at its tempo.
    if (pos.bar == m.bar && pos.frame == r.expectedFrame && pos.bpm == m.bpm) {
        const double byFrames =
            static_cast<double>(pos.frame - m.firstFrame) * pos.bpm / (60.0 * rate_);
        const double byBbt = BeatsOfBbt(pos) - m.firstBeats;
        contradicts = contradicts || (byFrames >= 1.0 && byBbt < 0.5 * byFrames);
    } else {
        m.bar = pos.bar;
        m.firstFrame = pos.frame;
        m.firstBeats = BeatsOfBbt(pos);
        m.bpm = pos.bpm;
    }
    if (!contradicts) return false;
    m.found = true;
    EngineReport found;
    found.kind = EngineReport::MasterBars;
    found.time = r.cycleTime;
    Report(found);
    return true;
}

StepGrid LiveEngine::GridOfMasterBars(const HostPosition& pos, double bpm, int shuffle,
                                      bool relocated) const {
    const RealTime& r = rt_;
    const std::int64_t frame = pos.frame;
    // Another tempo while rolling on: the master's position goes on from where it was.
    if (!relocated && r.playing && pos.bpm != r.bpm)
        return GridThrough(rate_, bpm, shuffle, frame, StepsAt(r.grid, frame));
    const double perBar = BeatsPerBar(pos);
    const double byTick = pos.tick / pos.ticksPerBeat * perBar;  // beats into its bar
    const double tickBeats = perBar / pos.ticksPerBeat;
    const double barSteps = static_cast<double>(pos.bar - 1) * StepsPerMeasure();
    // Started again where it stopped, at the same tempo, and still where its bar and tick say
    // (to a tick and a half): where it was.
    if (relocated && frame == r.masterBars.stoppedAt && pos.bpm == r.bpm &&
        std::fabs(StepsAt(r.grid, frame) - barSteps - 4.0 * byTick) <= 6.0 * tickBeats)
        return r.grid;
    // Its bar, and the frame at its tempo for the place in the bar, as long as that agrees with
    // its tick (spread over the bar) to a tick and a half; the tick alone otherwise.
    const double byFrame = static_cast<double>(frame) * pos.bpm / (60.0 * rate_) -
                           static_cast<double>(pos.bar - 1) * perBar;
    const double into = std::fabs(byFrame - byTick) <= 1.5 * tickBeats ? byFrame : byTick;
    return GridThrough(rate_, bpm, shuffle, frame, barSteps + 4.0 * into);
}

}  // namespace qtam
