#pragma once
// Where the steps of a song fall on an outside transport's timeline: the frame each step
// begins on, and the bar, beat and tick of a frame. A step is a sixteenth note, so a beat is
// four steps; shuffle (100..150) lengthens the odd step of each pair as the play clock does.
// Everything is computed from the step number, never summed step by step, so the grid does
// not drift however long it runs. Nothing here allocates, locks or does I/O.
//
// Thread: any.

#include <cstdint>

namespace qtam {

class StepGrid {
public:
    StepGrid() = default;
    // Step `anchorStep` begins on frame `anchorFrame`; `rate` frames a second, `bpm` beats a
    // minute (kept within 1..1000 so bad input cannot break the arithmetic).
    StepGrid(int rate, double bpm, int shuffle, std::int64_t anchorFrame = 0,
             std::int64_t anchorStep = 0);

    // The frame step k begins on.
    std::int64_t Begin(std::int64_t k) const;
    // The step frame `frame` lies in: the last k whose Begin(k) <= frame.
    std::int64_t StepAt(std::int64_t frame) const;
    // MIDI clock, 24 ticks a beat (six a step, unshuffled): the frame tick j falls on, counted
    // so that tick 6k falls where unshuffled step k would; and the first tick at or after a frame.
    std::int64_t ClockTick(std::int64_t j) const;
    std::int64_t ClockTickFrom(std::int64_t frame) const;
    // Frames in an unshuffled step.
    double FramesPerStep() const { return framesPerStep_; }
    double Bpm() const { return bpm_; }

private:
    // Frames from step 0 to step k without rounding.
    double Offset(std::int64_t k) const;

    double framesPerStep_ = 5512.5;
    double bpm_ = 120;
    int shuffle_ = 100;
    std::int64_t anchorFrame_ = 0;
    std::int64_t anchorStep_ = 0;
};

// A grid whose step `anchorStep` (the first whole step at or after position `steps`) begins
// where position `steps` (counted in steps, fractional) lies `framesFrom` frames after frame
// `frame`: how a transport's bar, beat and tick pin the grid down.
StepGrid GridThrough(int rate, double bpm, int shuffle, std::int64_t frame, double steps);

// A position in bars, beats and ticks (1-based bar and beat, 0-based tick).
struct BarBeatTick {
    std::int32_t bar = 1;
    std::int32_t beat = 1;
    std::int32_t tick = 0;
    double barStartTick = 0;  // ticks before this bar
};

// The position of `frame` at a steady `bpm`, with `beatsPerBar` beats and `ticksPerBeat` ticks.
BarBeatTick BbtAtFrame(std::int64_t frame, int rate, double bpm, int beatsPerBar,
                       double ticksPerBeat);
// Steps since bar 1 beat 1 for a bar, beat and tick, with `stepsPerMeasure` steps to a bar.
double StepsOfBbt(std::int32_t bar, std::int32_t beat, double tick, double ticksPerBeat,
                  int stepsPerMeasure);

// Step k of a song counted from its start: the measure (1..measureCount) and the step
// (1..stepsPerMeasure) it is, the measures of the pattern repeating.
struct SongStep {
    int measure = 1;
    int step = 1;
};
SongStep SongStepOf(std::int64_t k, int stepsPerMeasure, int measureCount);

}  // namespace qtam
