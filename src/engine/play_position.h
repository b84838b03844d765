#pragma once
// Where live playback is. The live mixer records where each step begins (StepStartLog in
// core/machine.h); from that record and the count of frames the device has taken, the panel
// finds the step being heard. Nothing here allocates, locks or does I/O.

#include <cstdint>

namespace qtam {

struct Player;
struct StepStartLog;

// Forgets the recorded steps and records the clock's step at frame 0: a start of live playback.
// Thread: owner.
void BeginStepStarts(Player& m);
// Records the clock's step as begun at `frame` (counted from the start). Thread: owner.
void RecordStepStart(Player& m, std::int64_t frame);

// A step of the song as the mixer played it; step 0 when none is known.
struct PlayPosition {
    int pattern = 0;
    int measure = 0;
    int step = 0;
    std::int64_t start = -1;      // frame at which it begins
    std::int64_t nextStart = -1;  // frame at which the step after it begins; -1 not yet mixed
    int entry = 0;                // song mode: the arrangement entry (0 outside song mode)
    int pass = 0;                 // song mode: the entry's pass

    bool known() const { return step > 0; }
};

// The step that frame `frame` (counted from the start) lies in. None before the start or for a
// frame older than the log keeps. Thread: owner.
PlayPosition StepAtFrame(const StepStartLog& log, std::int64_t frame);

// Frames from `heard` until the heard step may change: until the next step's first frame is
// heard; while the mixer has not reached it (`nextStart` -1), until the last frame it mixed
// (`mixedFrames`) is, as the next step begins after it; before the first step, until frame 0
// is; 0 when the estimate has passed the last frame mixed. -1 when no step is ahead.
// Thread: any.
double FramesUntilNextStep(const PlayPosition& at, double heard, std::int64_t mixedFrames);

// The frame being heard, estimated from a count that moves in chunks. The audio callback takes
// `chunk` frames at a time; the newest frame it has taken is heard `latency` frames after the
// callback ran. So, with `taken` frames counted, the frame heard now lies in
// [taken - latency, taken - latency + chunk). The estimate runs on with the wall clock and is
// held within that range at every look; looks at different moments of the callback's cycle
// narrow it to the callback's own timing. A device that estimates its latency as of the look
// (`latencyNow`, a sound server interpolating its clock) needs no settling: its estimate is
// taken, held within the same range.
class HeardClock {
public:
    explicit HeardClock(int framesPerSecond) : rate_(framesPerSecond) {}

    // Forgets the estimate (a new start, or a stop). Thread: owner.
    void Reset() { valid_ = false; }
    // The frame heard at `nowMs` (any steady clock, in milliseconds); `latencyNow` -1 when the
    // device has no estimate as of now. Thread: owner.
    double Observe(std::int64_t taken, double nowMs, std::int64_t latency, std::int64_t chunk,
                   std::int64_t latencyNow = -1);
    // Milliseconds of sound in `frames` frames. Thread: any.
    double MsOf(double frames) const { return frames * 1000.0 / rate_; }

private:
    int rate_;
    bool valid_ = false;
    double frame_ = 0;
    double atMs_ = 0;
};

}  // namespace qtam
