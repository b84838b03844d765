#pragma once
// The block mixer: the play clock, the eight voices and the two frame mixers that turn the
// Song and the banks into 44100 Hz 16-bit stereo. Nothing here allocates, locks or blocks.

#include <cstdint>

namespace qtam {

struct Machine;
struct SampleSlot;

struct StereoFrame {
    std::int16_t left;
    std::int16_t right;
};

// Recomputes StepLength and MeasureLength; call whenever tempo, shuffle or stepsPerMeasure change.
void SetTempo(Machine& m, int tempo, int shuffle);
void UpdateVoiceRates(Machine& m);
// Frames from the start of step `slot` to the channel's next note, at most one pattern cycle.
std::int32_t GateLength(const Machine& m, int channel, int slot);
void ChokeHihats(Machine& m);
void Tick(Machine& m);

// The live mixer: `frames` (1..10240) frames into StagingBuffer at BufPos; appended to the
// stream file while Streaming.
void RenderBlock(Machine& m, int frames);
// The live mixer without the stream append, into any buffer of 2 * frames words.
void MixBlock(Machine& m, std::int16_t* out, int frames);
// The disk mixer: one frame.
StereoFrame MixFrame(Machine& m);
// The disk mixer over `frames` frames, the same as as many MixFrame calls, only faster.
void MixFrames(Machine& m, StereoFrame* out, int frames);

void ResetTransport(Machine& m);
void PrepareStart(Machine& m);
void StartRender(Machine& m, int measure);
void NextRenderMeasure(Machine& m, int measure);

// The sound a channel names in the playing pattern; null for an invalid instrument number.
const SampleSlot* ChannelSound(const Machine& m, int channel);

// n / d rounded to nearest with ties to even (d > 0), exact for all 32-bit n.
constexpr std::int32_t RoundDiv(std::int64_t n, std::int64_t d) {
    std::int64_t q = n / d, r = n % d;
    if (r < 0) {
        r += d;
        q -= 1;
    }  // floor division
    std::int64_t twice = 2 * r;
    if (twice > d || (twice == d && (q & 1) != 0)) q += 1;
    return static_cast<std::int32_t>(q);
}

}  // namespace qtam
