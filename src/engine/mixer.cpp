#include "engine/mixer.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "core/machine.h"
#include "engine/voice_advance.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qtam {

namespace {

// Nearest integer, ties to even (the processor's default rounding mode).
inline std::int32_t RoundToInt(double x) {
#if defined(__SSE2__)
    return _mm_cvtsd_si32(_mm_set_sd(x));
#else
    return static_cast<std::int32_t>(std::lrint(x));
#endif
}

inline std::int32_t Saturate(std::int64_t x, std::int32_t lo, std::int32_t hi) {
    return static_cast<std::int32_t>(x < lo ? lo : (x > hi ? hi : x));
}

// The disk mixer rounds n / 127 (never near a tie) and then the two panned values n * p / 128
// (exact in a double) to nearest, ties to even. Left and right travel together as a pair.
inline double RoundedDiv127(std::int32_t n) {
    // Adding and taking away 1.5 * 2^52 leaves x rounded to an integer in the current mode.
    constexpr double kRounder = 6755399441055744.0;
    const double x = n * (1.0 / 127.0);
    return (x + kRounder) - kRounder;
}

#if defined(__SSE2__)
using PanPair = __m128i;  // lane 0 left, lane 1 right
using PanScale = __m128d;
inline PanScale MakePanScale(std::int32_t panL, std::int32_t panR) {
    return _mm_set_pd(panR / 128.0, panL / 128.0);
}
inline PanPair Panned(double s, PanScale scale) {
    return _mm_cvtpd_epi32(_mm_mul_pd(_mm_set1_pd(s), scale));
}
inline PanPair ZeroPair() {
    return _mm_setzero_si128();
}
inline PanPair AddPair(PanPair a, PanPair b) {
    return _mm_add_epi32(a, b);
}
inline std::int32_t LeftOf(PanPair p) {
    return _mm_cvtsi128_si32(p);
}
inline std::int32_t RightOf(PanPair p) {
    return _mm_cvtsi128_si32(_mm_shuffle_epi32(p, 1));
}
#else
struct PanPair {
    std::int32_t left, right;
};
struct PanScale {
    double left, right;
};
inline PanScale MakePanScale(std::int32_t panL, std::int32_t panR) {
    return {panL / 128.0, panR / 128.0};
}
inline PanPair Panned(double s, PanScale scale) {
    return {RoundToInt(s * scale.left), RoundToInt(s * scale.right)};
}
inline PanPair ZeroPair() {
    return {0, 0};
}
inline PanPair AddPair(PanPair a, PanPair b) {
    return {a.left + b.left, a.right + b.right};
}
inline std::int32_t LeftOf(PanPair p) {
    return p.left;
}
inline std::int32_t RightOf(PanPair p) {
    return p.right;
}
#endif

// Pan factors of every pan byte: 0 is hard left, 64 the centre (half on each side).
struct PanScales {
    PanScale byPan[256];
    PanScales() {
        for (int p = 0; p < 256; ++p)
            byPan[p] = MakePanScale(p == 64 ? 64 : 127 - p, p == 64 ? 64 : p);
    }
};
const PanScales kPanScales;

inline std::int16_t Clip(std::int64_t x) {
    return static_cast<std::int16_t>(Saturate(x, -32768, 32767));
}

// The sample under a voice, read from whatever sound its channel names now. Anything outside
// the sound reads as silence, so a sound swapped under a sounding voice is never overrun.
inline std::int32_t ReadSample(const SampleSlot* sound, const Voice& v) {
    if (sound == nullptr || sound->samples == nullptr) return 0;
    const std::int32_t count = sound->sampleCount;
    const std::int32_t i = RoundToInt(v.position);
    const std::int32_t index = v.reversed ? count - i : i - 1;  // 0-based
    return static_cast<std::uint32_t>(index) < static_cast<std::uint32_t>(count)
               ? sound->samples[index]
               : 0;
}

inline void FadeStep(Voice& v) {
    v.age += 1;
    if (v.age > v.fadeStart && v.level > 0) v.level -= 1;
}

// The live mixer's arithmetic on one sample of one voice, written without branches where the
// results are identical: (s * 128) >> 7 is s itself (volume 127 passes unscaled) and
// (s * 64) >> 7 is s >> 1 (the centre pan). Distortion uses the values latched at the trigger.
template <bool Distort>
struct LiveMath {
    std::int32_t vol, panL, panR, gain, threshold;

    // Distortion as latched at the trigger.
    static bool Distorts(const Voice& v, const ChannelSettings&, int) { return v.distGain > 0; }

    LiveMath(const Voice& v, const ChannelSettings& cs, int channel)
        : vol(cs.volume[channel - 1] == 127 ? 128 : cs.volume[channel - 1]),
          panL(v.pan == 64 ? 64 : 127 - v.pan),
          panR(v.pan == 64 ? 64 : v.pan),
          gain(v.distGain),
          threshold(v.distGain > 0 ? v.distThreshold : INT32_MAX) {}

    void operator()(std::int32_t s, std::int32_t level, std::int32_t& accL,
                    std::int32_t& accR) const {
        if constexpr (Distort) {
            const std::int32_t boosted =
                Saturate(static_cast<std::int64_t>(s) * gain, -32768, 32767);
            s = s > threshold ? boosted : s;
        }
        s = (s * vol) >> 7;
        s = (s * level) >> 7;
        accL += (s * panL) >> 7;
        accR += (s * panR) >> 7;
    }
};

// The disk mixer's arithmetic: rounded divisions by 127 and 128, distortion read from the Song.
// s * 127 / 127 is s, so a full volume needs no branch; the centre pan is s * 64 / 128.
template <bool Distort>
struct DiskMath {
    std::int32_t vol, gain, threshold;
    PanScale pan;

    static bool Distorts(const Voice&, const ChannelSettings& cs, int channel) {
        return cs.distortionOn[channel - 1] != 0;
    }

    DiskMath(const Voice& v, const ChannelSettings& cs, int channel)
        : vol(std::min<std::int32_t>(cs.volume[channel - 1], 127)),
          gain(cs.distortionGain),
          threshold(cs.distortionOn[channel - 1] ? cs.distortionThreshold : INT32_MAX),
          pan(kPanScales.byPan[v.pan]) {}

    PanPair Pair(std::int32_t s, std::int32_t level) const {
        if constexpr (Distort) {
            const std::int32_t boosted =
                Saturate(static_cast<std::int64_t>(s) * gain, -32767, 32767);
            s = s > threshold ? boosted : s;
        }
        s = s * vol / 127;
        return Panned(RoundedDiv127(s * level), pan);
    }

    void operator()(std::int32_t s, std::int32_t level, std::int32_t& accL,
                    std::int32_t& accR) const {
        const PanPair p = Pair(s, level);
        accL += LeftOf(p);
        accR += RightOf(p);
    }
};

// A voice at an integral position with rate 1 reads consecutive samples: its index is plain
// integer arithmetic and the frame at which it runs out is known in advance.
template <class Math>
void MixVoiceRunUnitRate(Voice& w, const std::int16_t* samples, std::int32_t count,
                         const Math& math, bool muted, std::int32_t* accL, std::int32_t* accR,
                         int frames) {
    const std::int64_t p0 = static_cast<std::int64_t>(w.position);

    // The tick after frame f leaves the position at p0 + f + 1; past `length` the voice ends.
    const std::int64_t last = std::max<std::int64_t>(0, w.length - p0);
    const int n = muted ? 1 : static_cast<int>(std::min<std::int64_t>(frames, last + 1));

    auto sampleAt = [&](int f) -> std::int32_t {
        const std::int64_t i = w.reversed ? count + 1 - (p0 + f) : p0 + f;
        return static_cast<std::uint64_t>(i - 1) < static_cast<std::uint64_t>(count)
                   ? samples[i - 1]
                   : 0;
    };
    // Before the fade the level stands still, and frames whose position lies outside the sound
    // add nothing; what is left is a straight walk over the samples.
    const int steady = static_cast<int>(
        std::clamp<std::int64_t>(static_cast<std::int64_t>(w.fadeStart) - w.age, 0, n));
    const int from = static_cast<int>(std::clamp<std::int64_t>(1 - p0, 0, steady));
    const int to = static_cast<int>(std::clamp<std::int64_t>(count - p0 + 1, from, steady));
    if (to > from) {
        const std::int16_t* src =
            w.reversed ? samples + (count - p0 - from) : samples + (p0 + from - 1);
        const std::ptrdiff_t stride = w.reversed ? -1 : 1;
        const std::int32_t level = w.level;
        for (int f = from; f < to; ++f, src += stride) math(*src, level, accL[f], accR[f]);
    }
    w.age += steady;
    for (int f = steady; f < n; ++f) {
        FadeStep(w);
        math(sampleAt(f), w.level, accL[f], accR[f]);
    }
    w.position = static_cast<double>(p0 + n);
    EndIfDone(w, muted);
}

// One voice over a run of frames whose ticks only advance the voices: nothing but the voice
// itself changes during them, so it can be mixed over the whole run on its own.
template <class Math>
void MixVoiceRun(Voice& voice, const SampleSlot* sound, const Math& math, bool muted,
                 std::int32_t* accL, std::int32_t* accR, int frames) {
    Voice w = voice;  // a register copy, written back once
    const std::int16_t* samples = sound ? sound->samples.get() : nullptr;
    const std::int32_t count = samples ? sound->sampleCount : 0;
    if (w.rate == 1.0f && w.position == std::floor(w.position) && std::fabs(w.position) < 1e9) {
        MixVoiceRunUnitRate(w, samples, count, math, muted, accL, accR, frames);
    } else {
        for (int f = 0; f < frames; ++f) {
            FadeStep(w);
            math(ReadSample(sound, w), w.level, accL[f], accR[f]);
            AdvanceVoice(w, muted);
            if (!w.active) break;
        }
    }
    voice = w;
}

constexpr int kRunFrames = 512;

// Frames before the next tick that starts a step, at most `limit`.
inline int AdvancingFrames(const PlayClock& k, int limit) {
    const std::int64_t advancing =
        static_cast<std::int64_t>(k.StepLength[k.PlayStep]) - 1 - k.StepCounter;
    return static_cast<int>(std::clamp<std::int64_t>(advancing, 0, std::min(limit, kRunFrames)));
}

inline void GlideMainVolume(PlayClock& k) {
    if (k.MainVolume < k.MainVolumeTarget) k.MainVolume += 1;
    if (k.MainVolume > k.MainVolumeTarget) k.MainVolume -= 1;
}

inline std::int16_t ApplyMainVolume(std::int32_t acc, std::int32_t mainVolume) {
    return Clip((static_cast<std::int64_t>(acc) * mainVolume) >> 7);
}

// Every sounding voice over a run of frames into the accumulators.
template <template <bool> class Math>
void AccumulateRun(Machine& m, std::int32_t* accL, std::int32_t* accR, int frames) {
    const ChannelSettings& cs = m.song.settings(m.clock.PlayPattern);
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        if (!v.active) continue;
        const SampleSlot* sound = SlotOf(m.banks, cs.instrument[c - 1]);
        const bool muted = cs.mute[c - 1] != 0;
        if (Math<true>::Distorts(v, cs, c))
            MixVoiceRun(v, sound, Math<true>(v, cs, c), muted, accL, accR, frames);
        else
            MixVoiceRun(v, sound, Math<false>(v, cs, c), muted, accL, accR, frames);
    }
}

void MixLiveRun(Machine& m, std::int16_t* out, int frames) {
    PlayClock& k = m.clock;
    std::int32_t accL[kRunFrames] = {}, accR[kRunFrames] = {};
    AccumulateRun<LiveMath>(m, accL, accR, frames);
    for (int f = 0; f < frames; ++f) {
        GlideMainVolume(k);
        out[2 * f] = ApplyMainVolume(accL[f], k.MainVolume);
        out[2 * f + 1] = ApplyMainVolume(accR[f], k.MainVolume);
    }
    k.StepCounter += frames;
}

// One live frame on its own: the main-volume glide, every sounding voice through the full
// per-sample arithmetic (distortion included), then a full clock tick. Used for the frame
// that starts a step, where the tick does more than advance the voices.
void MixLiveFrame(Machine& m, std::int16_t* out) {
    PlayClock& k = m.clock;
    const ChannelSettings& cs = m.song.settings(k.PlayPattern);
    GlideMainVolume(k);
    std::int32_t accL = 0, accR = 0;
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        if (!v.active) continue;
        FadeStep(v);
        LiveMath<true>(v, cs, c)(ReadSample(SlotOf(m.banks, cs.instrument[c - 1]), v), v.level,
                                 accL, accR);
    }
    out[0] = ApplyMainVolume(accL, k.MainVolume);
    out[1] = ApplyMainVolume(accR, k.MainVolume);
    Tick(m);
}

void MixDiskRun(Machine& m, StereoFrame* out, int frames) {
    PlayClock& k = m.clock;
    std::int32_t accL[kRunFrames] = {}, accR[kRunFrames] = {};
    AccumulateRun<DiskMath>(m, accL, accR, frames);
    for (int f = 0; f < frames; ++f)
        out[f] = {ApplyMainVolume(accL[f], k.MainVolume), ApplyMainVolume(accR[f], k.MainVolume)};
    k.StepCounter += frames;
}

}  // namespace

void MixBlock(Machine& m, std::int16_t* out, int frames) {
    int f = 0;
    while (f < frames) {
        const int run = AdvancingFrames(m.clock, frames - f);
        if (run > 0) {
            MixLiveRun(m, out + 2 * f, run);
            f += run;
        } else {
            MixLiveFrame(m, out + 2 * f);
            f += 1;
        }
    }
}

void RenderBlock(Machine& m, int frames) {
    const int start = std::clamp(m.BufPos, 1, kStagingWords) - 1;
    frames = std::clamp(frames, 0, (kStagingWords - start) / 2);
    std::int16_t* out = m.StagingBuffer.data() + start;
    MixBlock(m, out, frames);
    if (m.Streaming && m.stream != nullptr)
        m.stream->Append(out, static_cast<std::size_t>(frames) * 4);
}

StereoFrame MixFrame(Machine& m) {
    PlayClock& k = m.clock;
    const ChannelSettings& cs = m.song.settings(k.PlayPattern);
    // Whether this frame's tick only advances the voices; then they advance right here.
    const bool advancing = k.StepCounter + 1 < k.StepLength[k.PlayStep];
    PanPair acc = ZeroPair();
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        if (!v.active) continue;
        FadeStep(v);
        const std::int32_t sample = ReadSample(SlotOf(m.banks, cs.instrument[c - 1]), v);
        if (cs.distortionOn[c - 1])
            acc = AddPair(acc, DiskMath<true>(v, cs, c).Pair(sample, v.level));
        else
            acc = AddPair(acc, DiskMath<false>(v, cs, c).Pair(sample, v.level));
        if (advancing) AdvanceVoice(v, cs.mute[c - 1] != 0);
    }
    const StereoFrame frame{ApplyMainVolume(LeftOf(acc), k.MainVolume),
                            ApplyMainVolume(RightOf(acc), k.MainVolume)};
    if (advancing)
        k.StepCounter += 1;
    else
        Tick(m);
    return frame;
}

void MixFrames(Machine& m, StereoFrame* out, int frames) {
    int f = 0;
    while (f < frames) {
        const int run = AdvancingFrames(m.clock, frames - f);
        if (run > 0) {
            MixDiskRun(m, out + f, run);
            f += run;
        } else {
            out[f++] = MixFrame(m);
        }
    }
}

}  // namespace qtam
