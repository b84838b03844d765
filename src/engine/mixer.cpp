#include "engine/mixer.h"

#include <algorithm>
#include <climits>
#include <cmath>

#include "core/machine.h"
#include "engine/mix_kernels.h"
#include "engine/play_position.h"
#include "engine/voice_advance.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qtam {

namespace {

static_assert(sizeof(StereoFrame) == 2 * sizeof(std::int16_t), "frames are word pairs");

// Nearest integer, ties to even (the processor's default rounding mode).
inline std::int32_t RoundToInt(double x) {
#if defined(__SSE2__)
    return _mm_cvtsd_si32(_mm_set_sd(x));
#else
    return static_cast<std::int32_t>(std::lrint(x));
#endif
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

// DiskSample for one voice of the frame-by-frame disk mixer, with both panned values rounded in
// one conversion: n * p / 128 is exact in a double, and the conversion rounds to nearest with
// ties to even as RoundedDiv128 does.
inline PanPair DiskPair(const VoiceMath& m, std::int32_t s, PanScale pan) {
    if (s > m.threshold) s = SaturateTo(static_cast<std::int64_t>(s) * m.gain, -32767, 32767);
    s = s * m.vol / 127;
    return Panned(RoundedQuotient127(s * m.level), pan);
}

inline std::int16_t Clip(std::int64_t x) {
    return static_cast<std::int16_t>(SaturateTo(x, -32768, 32767));
}

// The sample under a voice, read from whatever sound its channel names now. Anything outside
// the sound reads as silence, so a sound swapped under a sounding voice is never overrun.
// Sample i (1-based) of a sound played forwards or reversed; silence outside it.
inline std::int32_t SampleAt(const SampleSlot& sound, bool reversed, std::int32_t i) {
    const std::int32_t count = sound.sampleCount;
    const std::int32_t index = reversed ? count - i : i - 1;  // 0-based
    return static_cast<std::uint32_t>(index) < static_cast<std::uint32_t>(count)
               ? sound.samples[index]
               : 0;
}

// Between the two samples around a voice, in proportion: at an output rate other than the
// sounds' own, the nearest sample alone would add aliasing.
inline std::int32_t ReadBetween(const SampleSlot& sound, const Voice& v) {
    if (!(std::fabs(v.position) < 1e9)) return 0;
    const double below = std::floor(v.position);
    const auto i = static_cast<std::int32_t>(below);
    const std::int32_t a = SampleAt(sound, v.reversed, i);
    const std::int32_t b = SampleAt(sound, v.reversed, i + 1);
    return RoundToInt(a + (b - a) * (v.position - below));
}

inline std::int32_t ReadSample(const SampleSlot* sound, const Voice& v) {
    if (sound == nullptr || sound->samples == nullptr) return 0;
    if (v.between) return ReadBetween(*sound, v);
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

// The live mixer: shifts by 7, distortion as latched at the trigger.
struct LiveMixer {
    static VoiceMath Math(const Voice& v, const ChannelSettings& cs, int channel) {
        const std::int32_t volume = cs.volume[channel - 1];
        return {
            volume == 127 ? 128 : volume, v.level,    v.pan == 64 ? 64 : 127 - v.pan,
            v.pan == 64 ? 64 : v.pan,     v.distGain, v.distGain > 0 ? v.distThreshold : INT32_MAX};
    }
    static void Sample(const VoiceMath& math, std::int32_t s, std::int32_t& accL,
                       std::int32_t& accR) {
        LiveSample(math, s, accL, accR);
    }
    static auto Walk(const MixKernels& k) { return k.liveVoice; }
};

// The disk mixer: rounded divisions by 127 and 128, distortion read from the Song.
struct DiskMixer {
    static VoiceMath Math(const Voice& v, const ChannelSettings& cs, int channel) {
        return {std::min<std::int32_t>(cs.volume[channel - 1], 127),
                v.level,
                v.pan == 64 ? 64 : 127 - v.pan,
                v.pan == 64 ? 64 : v.pan,
                cs.distortionGain,
                cs.distortionOn[channel - 1] ? cs.distortionThreshold : INT32_MAX};
    }
    static void Sample(const VoiceMath& math, std::int32_t s, std::int32_t& accL,
                       std::int32_t& accR) {
        DiskSample(math, s, accL, accR);
    }
    static auto Walk(const MixKernels& k) { return k.diskVoice; }
};

// A voice at an integral position with rate 1 reads consecutive samples: its index is plain
// integer arithmetic and the frame at which it runs out is known in advance.
template <class Mixer>
void MixVoiceRunUnitRate(Voice& w, const std::int16_t* samples, std::int32_t count, VoiceMath math,
                         bool muted, std::int32_t* accL, std::int32_t* accR, int frames,
                         const MixKernels& kernels) {
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
        Mixer::Walk(kernels)(src, w.reversed ? -1 : 1, math, accL + from, accR + from, to - from);
    }
    w.age += steady;
    for (int f = steady; f < n; ++f) {
        FadeStep(w);
        math.level = w.level;
        Mixer::Sample(math, sampleAt(f), accL[f], accR[f]);
    }
    w.position = static_cast<double>(p0 + n);
    EndIfDone(w, muted);
}

// One voice over a run of frames whose ticks only advance the voices: nothing but the voice
// itself changes during them, so it can be mixed over the whole run on its own.
template <class Mixer>
void MixVoiceRun(Voice& voice, const SampleSlot* sound, const VoiceMath& math, bool muted,
                 std::int32_t* accL, std::int32_t* accR, int frames, const MixKernels& kernels) {
    Voice w = voice;  // a register copy, written back once
    const std::int16_t* samples = sound ? sound->samples.get() : nullptr;
    const std::int32_t count = samples ? sound->sampleCount : 0;
    if (w.rate == 1.0f && w.position == std::floor(w.position) && std::fabs(w.position) < 1e9) {
        MixVoiceRunUnitRate<Mixer>(w, samples, count, math, muted, accL, accR, frames, kernels);
    } else {
        VoiceMath m = math;
        for (int f = 0; f < frames; ++f) {
            FadeStep(w);
            m.level = w.level;
            Mixer::Sample(m, ReadSample(sound, w), accL[f], accR[f]);
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

// Each channel's share of a run of frames, before the main volume.
struct ChannelRuns {
    std::int32_t left[kChannels][kRunFrames];
    std::int32_t right[kChannels][kRunFrames];
};

// Every sounding voice over a run of frames into the accumulators. With `channels`, each
// voice goes into its channel's own accumulators first, which are then added up: the sums are
// the same integers either way.
template <class Mixer>
void AccumulateRun(Player& m, std::int32_t* accL, std::int32_t* accR, int frames,
                   const MixKernels& kernels, ChannelRuns* channels = nullptr) {
    const ChannelSettings& cs = m.song->settings(m.clock.PlayPattern);
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        std::int32_t* left = accL;
        std::int32_t* right = accR;
        if (channels != nullptr) {
            left = channels->left[c - 1];
            right = channels->right[c - 1];
            std::fill_n(left, frames, 0);
            std::fill_n(right, frames, 0);
        }
        if (!v.active) continue;
        const SampleSlot* sound = SlotOf(*m.sounds, cs.instrument[c - 1]);
        MixVoiceRun<Mixer>(v, sound, Mixer::Math(v, cs, c), m.muted(cs, c), left, right, frames,
                           kernels);
    }
    if (channels == nullptr) return;
    for (int c = 0; c < kChannels; ++c)
        for (int f = 0; f < frames; ++f) {
            accL[f] += channels->left[c][f];
            accR[f] += channels->right[c][f];
        }
}

// Where each channel's frames go: `frames` apart, channel 1 first; null for none.
struct StemOut {
    StereoFrame* at = nullptr;
    int stride = 0;
    void Put(int channel, int frame, std::int32_t left, std::int32_t right) const {
        at[(channel - 1) * stride + frame] = {Clip(left), Clip(right)};
    }
};

// AccumulateRun for the live mixer with each channel's share kept apart in its tap as well:
// every voice is mixed into its zeroed tap first, then added, so the sum is the same.
void AccumulateRunTapped(Player& m, std::int32_t* accL, std::int32_t* accR, int frames,
                         const MixKernels& kernels, ChannelTaps& taps, int offset) {
    const ChannelSettings& cs = m.song->settings(m.clock.PlayPattern);
    for (int c = 1; c <= kChannels; ++c) {
        std::int32_t* tapL = taps.left[c - 1] + offset;
        std::int32_t* tapR = taps.right[c - 1] + offset;
        std::fill_n(tapL, frames, 0);
        std::fill_n(tapR, frames, 0);
        Voice& v = m.voice(c);
        if (!v.active) continue;
        const SampleSlot* sound = SlotOf(*m.sounds, cs.instrument[c - 1]);
        MixVoiceRun<LiveMixer>(v, sound, LiveMixer::Math(v, cs, c), m.muted(cs, c), tapL, tapR,
                               frames, kernels);
        for (int f = 0; f < frames; ++f) {
            accL[f] += tapL[f];
            accR[f] += tapR[f];
        }
    }
}

void MixLiveRun(Player& m, std::int16_t* out, int frames, ChannelTaps* taps, int offset) {
    PlayClock& k = m.clock;
    const MixKernels& kernels = Kernels();
    std::int32_t accL[kRunFrames], accR[kRunFrames];
    std::fill_n(accL, frames, 0);
    std::fill_n(accR, frames, 0);
    if (taps != nullptr)
        AccumulateRunTapped(m, accL, accR, frames, kernels, *taps, offset);
    else
        AccumulateRun<LiveMixer>(m, accL, accR, frames, kernels);
    // The main volume glides one step a frame until it reaches its target, then stands.
    int f = 0;
    for (; f < frames && k.MainVolume != k.MainVolumeTarget; ++f) {
        GlideMainVolume(k);
        out[2 * f] = ApplyMainVolume(accL[f], k.MainVolume);
        out[2 * f + 1] = ApplyMainVolume(accR[f], k.MainVolume);
    }
    kernels.applyMainVolume(accL + f, accR + f, k.MainVolume, out + 2 * f, frames - f);
    k.StepCounter += frames;
}

// One live frame on its own: the main-volume glide, every sounding voice through the full
// per-sample arithmetic (distortion included), then a full clock tick. Used for the frame
// that starts a step, where the tick does more than advance the voices.
void MixLiveFrame(Player& m, std::int16_t* out, ChannelTaps* taps, int offset) {
    PlayClock& k = m.clock;
    const ChannelSettings& cs = m.song->settings(k.PlayPattern);
    GlideMainVolume(k);
    std::int32_t accL = 0, accR = 0;
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        std::int32_t tapL = 0, tapR = 0;
        if (v.active) {
            FadeStep(v);
            LiveSample(LiveMixer::Math(v, cs, c),
                       ReadSample(SlotOf(*m.sounds, cs.instrument[c - 1]), v), tapL, tapR);
        }
        accL += tapL;
        accR += tapR;
        if (taps != nullptr) {
            taps->left[c - 1][offset] = tapL;
            taps->right[c - 1][offset] = tapR;
        }
    }
    out[0] = ApplyMainVolume(accL, k.MainVolume);
    out[1] = ApplyMainVolume(accR, k.MainVolume);
    Tick(m);
}

void MixDiskRun(Player& m, StereoFrame* out, int frames, const StemOut& stems) {
    PlayClock& k = m.clock;
    const MixKernels& kernels = Kernels();
    std::int32_t accL[kRunFrames], accR[kRunFrames];
    std::fill_n(accL, frames, 0);
    std::fill_n(accR, frames, 0);
    if (stems.at != nullptr) {
        static thread_local ChannelRuns channels;
        AccumulateRun<DiskMixer>(m, accL, accR, frames, kernels, &channels);
        for (int c = 1; c <= kChannels; ++c)
            for (int f = 0; f < frames; ++f)
                stems.Put(c, f, channels.left[c - 1][f], channels.right[c - 1][f]);
    } else {
        AccumulateRun<DiskMixer>(m, accL, accR, frames, kernels);
    }
    kernels.applyMainVolume(accL, accR, k.MainVolume, reinterpret_cast<std::int16_t*>(out), frames);
    k.StepCounter += frames;
}

// MixBlock, and with `taps` each channel's share as well.
void MixLiveBlock(Player& m, std::int16_t* out, int frames, ChannelTaps* taps) {
    const std::int64_t first = m.stepStarts.mixedFrames;
    int f = 0;
    while (f < frames) {
        const int run = AdvancingFrames(m.clock, frames - f);
        if (run > 0) {
            MixLiveRun(m, out + 2 * f, run, taps, f);
            f += run;
        } else {
            m.triggers.frame = f + 1;  // a step begun by this frame's tick is heard from f + 1
            MixLiveFrame(m, out + 2 * f, taps, f);
            f += 1;
            // The tick began a step: its first frame is the next one.
            if (m.clock.StepCounter == 1 && !m.clock.Ended) RecordStepStart(m, first + f);
        }
    }
    m.stepStarts.mixedFrames = first + std::max(frames, 0);
}

}  // namespace

void MixBlock(Player& m, std::int16_t* out, int frames) {
    MixLiveBlock(m, out, frames, nullptr);
}

void MixBlockTapped(Player& m, std::int16_t* out, ChannelTaps& taps, int frames) {
    MixLiveBlock(m, out, frames, &taps);
}

void RenderBlock(Machine& m, int frames) {
    const int start = std::clamp(m.BufPos, 1, kStagingWords) - 1;
    frames = std::clamp(frames, 0, (kStagingWords - start) / 2);
    std::int16_t* out = m.StagingBuffer.data() + start;
    MixBlock(PlayerOf(m), out, frames);
    if (m.Streaming && m.stream != nullptr)
        m.stream->Append(out, static_cast<std::size_t>(frames) * 4);
}

namespace {

// One frame of the disk mixer; each channel's share goes to the first frame of `stems`.
StereoFrame MixDiskFrame(Player& m, const StemOut& stems) {
    PlayClock& k = m.clock;
    const ChannelSettings& cs = m.song->settings(k.PlayPattern);
    // Whether this frame's tick only advances the voices; then they advance right here.
    const bool advancing = k.StepCounter + 1 < k.StepLength[k.PlayStep];
    PanPair acc = ZeroPair();
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        if (!v.active) continue;
        FadeStep(v);
        const std::int32_t sample = ReadSample(SlotOf(*m.sounds, cs.instrument[c - 1]), v);
        const PanPair own = DiskPair(DiskMixer::Math(v, cs, c), sample, kPanScales.byPan[v.pan]);
        acc = AddPair(acc, own);
        if (stems.at != nullptr) stems.Put(c, 0, LeftOf(own), RightOf(own));
        if (advancing) AdvanceVoice(v, m.muted(cs, c));
    }
    const StereoFrame frame{ApplyMainVolume(LeftOf(acc), k.MainVolume),
                            ApplyMainVolume(RightOf(acc), k.MainVolume)};
    if (advancing)
        k.StepCounter += 1;
    else
        Tick(m);
    return frame;
}

void MixDiskFrames(Player& m, StereoFrame* out, int frames, StemOut stems) {
    if (stems.at != nullptr)
        for (int c = 1; c <= kChannels; ++c)
            std::fill_n(stems.at + (c - 1) * stems.stride, frames, StereoFrame{0, 0});
    int f = 0;
    while (f < frames) {
        const int run = AdvancingFrames(m.clock, frames - f);
        if (run > 0) {
            MixDiskRun(m, out + f, run, stems);
            f += run;
            if (stems.at != nullptr) stems.at += run;
        } else {
            out[f++] = MixDiskFrame(m, stems);
            if (stems.at != nullptr) stems.at += 1;
        }
    }
}

}  // namespace

StereoFrame MixFrame(Player& m) {
    return MixDiskFrame(m, {});
}

void MixFrames(Player& m, StereoFrame* out, int frames) {
    MixDiskFrames(m, out, frames, {});
}

void MixFramesWithStems(Player& m, StereoFrame* out, StereoFrame* stems, int frames) {
    MixDiskFrames(m, out, frames, {stems, frames});
}

}  // namespace qtam
