#pragma once
// The metronome of live playback: a short click on every beat of the steps played, a higher
// one on each measure's first, and the clicks of a count-in of one measure before a start. A
// beat is four steps: four to a measure of 16 steps, three to one of 12. Only a live engine
// adds the clicks, to the main pair a host hears: no render, stem, export or live take has
// them.
//
// Thread: Prepare on the owner, never beside the real-time calls; SetOn, SetLevel and the
// getters from any thread; everything else on the host's real-time thread, where it never
// allocates, locks or does I/O.

#include <array>
#include <atomic>
#include <cstdint>

#include "core/player.h"

namespace qtam {

inline constexpr int kStepsPerBeat = 4;
// The steps that begin a beat, and the first of these in a measure, which is accented.
constexpr bool BeginsBeat(int step) {
    return step >= 1 && (step - 1) % kStepsPerBeat == 0;
}

// Where the beats of one measure fall, timed as the play clock times its steps (a step lasts
// StepLength - 1 frames), counted from the measure's first frame; a start after the count-in
// comes on frame `length`.
struct CountIn {
    static constexpr int kMaxBeats = 4;
    std::array<std::int64_t, kMaxBeats> beat{};
    int beats = 0;
    std::int64_t length = 0;
};
// One measure of `steps` (12 or 16) steps at `tempo` beats per minute and the stored
// `shuffle`, at `rate` frames per second. Thread: any.
CountIn CountInOf(int rate, int tempo, int shuffle, int steps);

class Metronome {
public:
    static constexpr int kMaxClickFrames = 8192;  // 40 ms at up to 192 kHz
    static constexpr int kDefaultLevel = 70;      // percent

    // Makes the two clicks for `rate` frames per second. Thread: owner.
    void Prepare(int rate);
    // The switch and the level (0..100 %). Thread: any.
    void SetOn(bool on) { on_.store(on, std::memory_order_relaxed); }
    bool On() const { return on_.load(std::memory_order_relaxed); }
    void SetLevel(int percent);
    int Level() const { return level_.load(std::memory_order_relaxed); }

    // A click from frame `at` of the next AddTo (the last one asked for wins).
    void Click(int at, bool accent);
    // With the switch on, a click for each beat begun among the step starts the log took since
    // the last call; `chunkFirst` is the log's frame of the chunk's first frame (0: the log began
    // anew with this chunk).
    void FollowSteps(const StepStartLog& log, std::int64_t chunkFirst);
    // Adds what sounds of the clicks over `frames` frames to an interleaved 16-bit pair.
    void AddTo(std::int16_t* out, int frames);
    bool Sounding() const { return click_ != nullptr || pending_ >= 0; }
    // Stops a click sounding (a stop, or a host that starts afresh).
    void Silence();

private:
    std::array<float, kMaxClickFrames> accent_{}, beat_{};
    int clickFrames_ = 0;
    std::atomic<bool> on_{false};
    std::atomic<int> level_{kDefaultLevel};
    // The real-time thread's.
    const float* click_ = nullptr;
    int position_ = 0;
    int pending_ = -1;  // the frame of the next AddTo a click begins on, or -1
    bool pendingAccent_ = false;
    std::int64_t seen_ = 0;  // step starts of the log already looked at
};

}  // namespace qtam
