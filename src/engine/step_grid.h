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

// MIDI clock coming in counts ticks, 24 a beat, six to a step from the song's start. Where step
// k begins in hundredths of a tick: shuffle moves the second step of each pair by 6 * shuffle /
// 100 ticks from the pair's start, so it falls between two ticks unless the shuffle is 100 or 150.
std::int64_t StepStartCentiticks(std::int64_t k, int shuffle);
// The step under way at tick `tick`: the last one that begins on it or before.
std::int64_t StepAtTick(std::int64_t tick, int shuffle);

// The tempo of a MIDI clock coming in, from the frames its ticks came in on: the slope of a
// least-squares line through the last ticks, so that the jitter of single ticks hardly moves
// it. The line goes through the last beat (24 ticks), or through the last 2, 4 or 8 beats as
// long as their slope agrees with the last beat's within six times the noise the last beat's
// own scatter says: a steady clock is measured over eight beats, a changed one over the beat
// since. A jump of the tempo (the mean of the last six intervals more than 4 % off the line
// before them, and further than the ticks' scatter explains) forgets the ticks before those
// six, and a pause (a tick more than four intervals late, or none for a second) forgets them all.
class ClockTempo {
public:
    static constexpr int kBeat = 24;
    static constexpr int kTicks = 8 * kBeat;

    ClockTempo() = default;
    explicit ClockTempo(int rate) : rate_(rate > 0 ? rate : 44100) {}
    // A tick came in on `frame` (frames only grow).
    void Tick(std::int64_t frame);
    void Reset() { count_ = 0; }
    // How many ticks are kept (0..192); frames from one tick to the next and beats a minute,
    // 0 until two ticks have come.
    int Ticks() const { return count_; }
    double FramesPerTick() const { return count_ >= 2 ? slope_ : 0.0; }
    double Bpm() const { return count_ >= 2 ? rate_ * 60.0 / (24.0 * slope_) : 0.0; }

private:
    struct Line {
        double slope = 0;
        double scatter = 0;  // the RMS distance of the ticks from the line, in frames
    };
    std::int64_t At(int i) const { return frames_[(first_ + i) % kTicks]; }
    // The line through ticks [from, to).
    Line Fit(int from, int to) const;
    double Measure() const;

    int rate_ = 44100;
    std::int64_t frames_[kTicks] = {};
    int first_ = 0, count_ = 0;
    double slope_ = 0;
};

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
