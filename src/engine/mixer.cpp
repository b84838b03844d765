#include "engine/mixer.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "core/machine.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qtam {

namespace {

enum class StartKind { Prepare, Render, NextRender };

// Nearest integer, ties to even (the processor's default rounding mode).
inline std::int32_t RoundPosition(double x) {
#if defined(__SSE2__)
    return _mm_cvtsd_si32(_mm_set_sd(x));
#else
    return static_cast<std::int32_t>(std::lrint(x));
#endif
}

inline std::int32_t Saturate(std::int64_t x, std::int32_t lo, std::int32_t hi) {
    return static_cast<std::int32_t>(x < lo ? lo : (x > hi ? hi : x));
}

inline std::int16_t Clip(std::int64_t x) {
    return static_cast<std::int16_t>(Saturate(x, -32768, 32767));
}

// The sample under a voice, read from whatever sound its channel names now. Anything outside
// the sound reads as silence, so a sound swapped under a sounding voice is never overrun.
inline std::int32_t ReadSample(const SampleSlot* sound, const Voice& v) {
    if (sound == nullptr || sound->samples == nullptr) return 0;
    const std::int32_t count = sound->sampleCount;
    std::int32_t i = RoundPosition(v.position);
    if (v.reversed) i = count + 1 - i;
    if (i < 1 || i > count) return 0;
    return sound->samples[i - 1];
}

inline void FadeStep(Voice& v) {
    v.age += 1;
    if (v.age > v.fadeStart && v.level > 0) v.level -= 1;
}

const StepCell& PlayCell(const Machine& m, int channel, int slot) {
    return m.song.cell(m.clock.PlayPattern, m.clock.PlayMeasure, channel, slot);
}

void LatchDistortion(Voice& v, const ChannelSettings& cs, int channel) {
    if (cs.distortionOn[channel - 1]) {
        v.distGain = cs.distortionGain;
        v.distThreshold = cs.distortionThreshold;
    } else {
        v.distGain = 0;
    }
}

void TriggerByClock(Machine& m, int channel) {
    const StepCell& cell = PlayCell(m, channel, m.clock.PlayStep);
    const ChannelSettings& cs = m.song.settings(m.clock.PlayPattern);
    if (!cell.hasNote() || cs.mute[channel - 1]) return;

    Voice& v = m.voice(channel);
    v.active = 1;
    v.position = 1.0;
    v.level = static_cast<std::uint8_t>(cell.velocity);
    v.fadeStart = GateLength(m, channel, m.clock.PlayStep) - v.level;
    v.age = 0;
    v.pan = cell.pan;
    v.reversed = cell.reversed;
    LatchDistortion(v, cs, channel);
    if (m.editor.HumanizeChecked && v.level > 40) {
        int r = std::uniform_int_distribution<int>(0, 29)(m.random);
        v.level = static_cast<std::uint8_t>(v.level + r - 15);
    }
}

void TriggerAtStart(Machine& m, int channel, StartKind kind) {
    const StepCell& cell = PlayCell(m, channel, 1);
    if (!cell.hasNote()) return;
    const ChannelSettings& cs = m.song.settings(m.clock.PlayPattern);
    Voice& v = m.voice(channel);
    if (cs.mute[channel - 1]) {
        if (kind != StartKind::NextRender) v.active = 0;
        return;
    }
    v.active = 1;
    // A prepared start keeps the position the voice has; one that had ended sits at 0.
    if (kind != StartKind::Prepare || v.position < 1.0) v.position = 1.0;
    v.level = static_cast<std::uint8_t>(cell.velocity);
    v.fadeStart = GateLength(m, channel, 1) - v.level;
    v.age = 0;
    v.pan = cell.pan;
    v.reversed = cell.reversed;
    LatchDistortion(v, cs, channel);
}

void TriggerAllAtStart(Machine& m, StartKind kind) {
    for (int c = 1; c <= kChannels; ++c) TriggerAtStart(m, c, kind);
}

void ClearVoices(Machine& m) {
    for (int c = 1; c <= kChannels; ++c) {
        m.voice(c).position = 1.0;
        m.voice(c).active = 0;
    }
}

void PositionAtMeasure(Machine& m, int measure) {
    PlayClock& k = m.clock;
    k.PlayMeasure = static_cast<std::uint8_t>(std::clamp(measure, 1, kMeasures));
    k.PlayPattern = k.NextPattern = m.editor.CurrentPattern;
    k.PlayStep = 1;
    k.StepCounter = 0;
}

}  // namespace

const SampleSlot* ChannelSound(const Machine& m, int channel) {
    return SlotOf(m.banks, m.song.settings(m.clock.PlayPattern).instrument[channel - 1]);
}

void SetTempo(Machine& m, int tempo, int shuffle) {
    PlayClock& k = m.clock;
    const double x = 2646000.0 / (4.0 * tempo);
    k.MeasureLength = static_cast<std::int32_t>(std::nearbyint(x * StepsPerMeasureOf(m.song)));
    for (int i = 1; i <= kSlots; ++i) {
        const double share = (i % 2 == 1) ? shuffle : 200 - shuffle;
        k.StepLength[i] = static_cast<std::int32_t>(std::nearbyint(x * 0.01 * share));
    }
    UpdateVoiceRates(m);
}

void UpdateVoiceRates(Machine& m) {
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        const SampleSlot* s = ChannelSound(m, c);
        v.rate = 1.0f;
        v.length = s ? s->sampleCount : 0;
        if (s && s->stretchMeasures > 0 && m.clock.MeasureLength > 0) {
            v.rate = static_cast<float>(static_cast<double>(s->sampleCount) /
                                        (static_cast<double>(s->stretchMeasures) * m.clock.MeasureLength));
        }
    }
}

std::int32_t GateLength(const Machine& m, int channel, int slot) {
    const int steps = StepsPerMeasureOf(m.song);
    const int pattern = m.clock.PlayPattern;
    const int measures = MeasureCountOf(m.song, pattern);
    int s = std::clamp(slot, 1, kSlots);
    int meas = m.clock.PlayMeasure;
    std::int32_t sum = 0;
    // One cycle of the pattern at most: a start beyond the played measures may find no note.
    for (int n = 0; n < steps * measures; ++n) {
        sum += m.clock.StepLength[s];
        if (++s > steps) {
            s = 1;
            if (++meas > measures) meas = 1;
        }
        if (m.song.cell(pattern, meas, channel, s).hasNote()) return sum;
    }
    return sum;
}

void ChokeHihats(Machine& m) {
    const ChannelSettings& cs = m.song.settings(m.clock.PlayPattern);
    for (int i = 1; i <= kChannels; ++i) {
        Voice& v = m.voice(i);
        if (!v.active) continue;
        const int instrument = cs.instrument[i - 1];
        const SampleSlot* sound = SlotOf(m.banks, instrument);
        if (sound == nullptr) continue;
        const int p1 = sound->hihat1 ? PartnerCode(instrument, sound->hihat1) : -1;
        const int p2 = sound->hihat2 ? PartnerCode(instrument, sound->hihat2) : -1;
        if (p1 < 0 && p2 < 0) continue;
        for (int j = 1; j <= kChannels; ++j) {
            if (j == i || cs.mute[j - 1]) continue;
            if (!PlayCell(m, j, m.clock.PlayStep).hasLoudNote()) continue;
            const int other = cs.instrument[j - 1];
            if (other == p1 || other == p2) {
                v.active = 0;
                break;
            }
        }
    }
}

void Tick(Machine& m) {
    PlayClock& k = m.clock;
    k.StepCounter += 1;
    if (k.StepCounter < k.StepLength[k.PlayStep]) {
        const ChannelSettings& cs = m.song.settings(k.PlayPattern);
        for (int c = 1; c <= kChannels; ++c) {
            Voice& v = m.voice(c);
            if (!v.active) continue;
            v.position += v.rate;
            if (cs.mute[c - 1]) {
                v.active = 0;
            } else if (v.position > v.length) {
                v.active = 0;
                v.position = 0;
                v.reversed = 0;
            }
        }
        return;
    }
    k.PlayStep += 1;
    k.StepCounter = 1;
    if (k.PlayStep > StepsPerMeasureOf(m.song)) {
        k.PlayStep = 1;
        k.PlayMeasure += 1;
        if (k.PlayMeasure > MeasureCountOf(m.song, k.PlayPattern)) {
            k.PlayMeasure = 1;
            k.PlayPattern = std::clamp<std::uint8_t>(k.NextPattern, 1, kPatterns);
        }
    }
    for (int c = 1; c <= kChannels; ++c) TriggerByClock(m, c);
    ChokeHihats(m);
    UpdateVoiceRates(m);
}

void MixBlock(Machine& m, std::int16_t* out, int frames) {
    PlayClock& k = m.clock;
    for (int f = 0; f < frames; ++f) {
        if (k.MainVolume < k.MainVolumeTarget) k.MainVolume += 1;
        if (k.MainVolume > k.MainVolumeTarget) k.MainVolume -= 1;

        const ChannelSettings& cs = m.song.settings(k.PlayPattern);
        std::int32_t accL = 0, accR = 0;
        for (int c = 1; c <= kChannels; ++c) {
            Voice& v = m.voice(c);
            if (!v.active) continue;
            FadeStep(v);
            std::int32_t s = ReadSample(SlotOf(m.banks, cs.instrument[c - 1]), v);
            if (v.distGain > 0 && s > v.distThreshold)
                s = Saturate(static_cast<std::int64_t>(s) * v.distGain, -32768, 32767);
            const std::int32_t vol = cs.volume[c - 1];
            if (vol != 127) s = (s * vol) >> 7;
            s = (s * v.level) >> 7;
            const std::int32_t p = v.pan;
            if (p == 64) {
                accL += s >> 1;
                accR += s >> 1;
            } else {
                accL += (s * (127 - p)) >> 7;
                accR += (s * p) >> 7;
            }
        }
        out[2 * f] = Clip((static_cast<std::int64_t>(accL) * k.MainVolume) >> 7);
        out[2 * f + 1] = Clip((static_cast<std::int64_t>(accR) * k.MainVolume) >> 7);
        Tick(m);
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
    std::int32_t accL = 0, accR = 0;
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        if (!v.active) continue;
        FadeStep(v);
        std::int32_t s = ReadSample(SlotOf(m.banks, cs.instrument[c - 1]), v);
        if (cs.distortionOn[c - 1] && s > cs.distortionThreshold)
            s = Saturate(static_cast<std::int64_t>(s) * cs.distortionGain, -32767, 32767);
        const std::int32_t vol = cs.volume[c - 1];
        if (vol < 127) s = s * vol / 127;
        s = RoundDiv(static_cast<std::int64_t>(s) * v.level, 127);
        const std::int32_t p = v.pan;
        if (p == 64) {
            const std::int32_t half = RoundDiv(s, 2);
            accL += half;
            accR += half;
        } else {
            accL += RoundDiv(static_cast<std::int64_t>(s) * (127 - p), 128);
            accR += RoundDiv(static_cast<std::int64_t>(s) * p, 128);
        }
    }
    StereoFrame frame{Clip((static_cast<std::int64_t>(accL) * k.MainVolume) >> 7),
                      Clip((static_cast<std::int64_t>(accR) * k.MainVolume) >> 7)};
    Tick(m);
    return frame;
}

void ResetTransport(Machine& m) {
    PlayClock& k = m.clock;
    m.Playing = false;
    k.PlayMeasure = 1;
    k.PlayPattern = k.NextPattern = m.editor.CurrentPattern;
    m.Streaming = false;
    k.PlayStep = 1;
    k.StepCounter = 1;
    ClearVoices(m);
}

void PrepareStart(Machine& m) {
    UpdateVoiceRates(m);
    TriggerAllAtStart(m, StartKind::Prepare);
}

void StartRender(Machine& m, int measure) {
    m.Playing = false;
    PositionAtMeasure(m, measure);
    ClearVoices(m);
    UpdateVoiceRates(m);
    TriggerAllAtStart(m, StartKind::Render);
}

void NextRenderMeasure(Machine& m, int measure) {
    PositionAtMeasure(m, measure);
    UpdateVoiceRates(m);
    TriggerAllAtStart(m, StartKind::NextRender);
}

}  // namespace qtam
