#pragma once
// The two frame mixers that turn the Song and the banks into 44100 Hz 16-bit stereo: the live
// mixer (integer arithmetic) and the disk mixer (rounded divisions). Both move the play clock
// (play_clock.h) after every frame. They never allocate or lock; the only I/O is RenderBlock's
// append to a stream file while a live session records.

#include <cstdint>

#include "core/song.h"
#include "engine/play_clock.h"

namespace qtam {

struct StereoFrame {
    std::int16_t left;
    std::int16_t right;
};

// The live mixer: `frames` (1..10240) frames into StagingBuffer at BufPos. While Streaming, the
// frames are then appended to the stream file with fwrite, which may block on the disk.
// Thread: owner, never the audio callback (the file append blocks).
void RenderBlock(Machine& m, int frames);
// The live mixer without the stream append, into any buffer of 2 * frames words.
// Thread: owner.
void MixBlock(Player& m, std::int16_t* out, int frames);
// Each channel's share of the live mix: after volume, pan and distortion, before the main
// volume; the shares of a frame add up to what the main volume is applied to.
struct ChannelTaps {
    std::int32_t* left[kChannels];
    std::int32_t* right[kChannels];
};
// MixBlock that also writes every channel's share of frame f to taps.left/right[c][f].
// Thread: whichever owns `m`; it never allocates, locks or does I/O.
void MixBlockTapped(Player& m, std::int16_t* out, ChannelTaps& taps, int frames);
// The disk mixer: one frame.
// Thread: owner.
StereoFrame MixFrame(Player& m);
// The disk mixer over `frames` frames, the same as as many MixFrame calls, only faster.
// Thread: owner.
void MixFrames(Player& m, StereoFrame* out, int frames);

// MixFrames, and each channel's share of every frame (after its volume, pan and distortion,
// before the main volume, clipped to 16 bits) into `stems`: kChannels runs of `frames` frames,
// channel 1 first. A channel without a sounding voice gets silence.
// Thread: owner.
void MixFramesWithStems(Player& m, StereoFrame* out, StereoFrame* stems, int frames);

// n / d rounded to nearest with ties to even (d > 0), exact for all 32-bit n.
// Thread: any.
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
