// Synthesises the default drum kit and writes it as a bank file ("engines.dll").
//
//   make_kit OUT_FILE [--wav-dir DIR]
//
// Every sound is computed from fixed seeds, so each build writes the same bytes. With
// --wav-dir each sound is also written as a mono WAV file, to listen to and measure.

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "banks/userbank_file.h"
#include "banks/wav_io.h"
#include "core/machine.h"

namespace {

constexpr double kRate = 44100.0;
constexpr int kMaxSamples = 40000;  // the kit's slot capacity
constexpr double kPeak = 29204.0;   // -1 dBFS
constexpr double kPi = 3.14159265358979323846;
constexpr int kFadeInSamples = 12;  // 0.27 ms: no click, the attack survives

using Sound = std::vector<double>;

// ---------------------------------------------------------------------------------------------
// Shared DSP helpers

int SamplesFor(double seconds) {
    return std::min(kMaxSamples, static_cast<int>(std::lround(seconds * kRate)));
}

double TimeOf(int i) {
    return i / kRate;
}

// xorshift32: tiny, and the same sequence on every platform and compiler.
class Noise {
public:
    explicit Noise(std::uint32_t seed) : state_(seed ? seed : 1u) {}
    // Uniform in [-1, 1).
    double White() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_ / 2147483648.0 - 1.0;
    }
    // Uniform in [lo, hi).
    double Between(double lo, double hi) { return lo + (hi - lo) * (White() + 1.0) * 0.5; }

private:
    std::uint32_t state_;
};

// Second-order filters after the well-known audio-EQ cookbook formulas.
class Biquad {
public:
    static Biquad LowPass(double freq, double q) {
        Coefs c = Prepare(freq, q);
        return Biquad((1 - c.cosw) / 2, 1 - c.cosw, (1 - c.cosw) / 2, c);
    }
    static Biquad HighPass(double freq, double q) {
        Coefs c = Prepare(freq, q);
        return Biquad((1 + c.cosw) / 2, -(1 + c.cosw), (1 + c.cosw) / 2, c);
    }
    // Unity gain at the centre frequency.
    static Biquad BandPass(double freq, double q) {
        Coefs c = Prepare(freq, q);
        return Biquad(c.alpha, 0, -c.alpha, c);
    }

    double operator()(double x) {
        double y = b0_ * x + b1_ * x1_ + b2_ * x2_ - a1_ * y1_ - a2_ * y2_;
        x2_ = x1_;
        x1_ = x;
        y2_ = y1_;
        y1_ = y;
        return y;
    }

private:
    struct Coefs {
        double cosw, alpha;
    };
    static Coefs Prepare(double freq, double q) {
        double w = 2 * kPi * freq / kRate;
        return {std::cos(w), std::sin(w) / (2 * q)};
    }
    Biquad(double b0, double b1, double b2, Coefs c) {
        double a0 = 1 + c.alpha;
        b0_ = b0 / a0;
        b1_ = b1 / a0;
        b2_ = b2 / a0;
        a1_ = -2 * c.cosw / a0;
        a2_ = (1 - c.alpha) / a0;
    }

    double b0_ = 0, b1_ = 0, b2_ = 0, a1_ = 0, a2_ = 0;
    double x1_ = 0, x2_ = 0, y1_ = 0, y2_ = 0;
};

Sound Filtered(Sound s, Biquad filter) {
    for (double& x : s) x = filter(x);
    return s;
}

void MixInto(Sound& dst, const Sound& src, double gain = 1.0) {
    if (dst.size() < src.size()) dst.resize(src.size(), 0.0);
    for (std::size_t i = 0; i < src.size(); ++i) dst[i] += gain * src[i];
}

// Envelopes (t in seconds).
double Decay(double t, double tau) {
    return std::exp(-t / tau);
}

double AttackDecay(double t, double attack, double tau) {
    if (t < attack) return std::sin(0.5 * kPi * t / attack);
    return Decay(t - attack, tau);
}

// Pitch glides exponentially from `from` to `to`, as a charged capacitor in an analog drum.
double Glide(double t, double from, double to, double tau) {
    return to + (from - to) * Decay(t, tau);
}

// Soft clipping for warmth and punch; keeps the level of small signals.
double Saturate(double x, double drive) {
    return std::tanh(drive * x) / drive;
}

// Sine whose frequency may change every sample without phase jumps.
class SineOsc {
public:
    explicit SineOsc(double phase = 0.0) : phase_(phase) {}
    double operator()(double freq) {
        double v = std::sin(2 * kPi * phase_);
        phase_ += freq / kRate;
        phase_ -= std::floor(phase_);
        return v;
    }

private:
    double phase_;
};

// Band-limited square (polyBLEP), so high clusters do not fold back into a hiss.
class SquareOsc {
public:
    explicit SquareOsc(double freq, double phase = 0.0) : step_(freq / kRate), phase_(phase) {}
    double operator()() {
        double v = phase_ < 0.5 ? 1.0 : -1.0;
        v += Blep(phase_);
        double half = phase_ + 0.5;
        v -= Blep(half - std::floor(half));
        phase_ += step_;
        phase_ -= std::floor(phase_);
        return v;
    }

private:
    double Blep(double t) const {
        if (t < step_) {
            t /= step_;
            return t + t - t * t - 1.0;
        }
        if (t > 1.0 - step_) {
            t = (t - 1.0) / step_;
            return t * t + t + t + 1.0;
        }
        return 0.0;
    }
    double step_;
    double phase_;
};

// Six inharmonic squares, as in the metal section of classic analog rhythm machines.
class MetalCluster {
public:
    MetalCluster(double scale, Noise& noise) {
        static constexpr double kRatios[6] = {205.3, 304.4, 369.6, 522.7, 540.0, 800.0};
        for (double f : kRatios) oscs_.emplace_back(f * scale, noise.Between(0.0, 1.0));
    }
    double operator()() {
        double sum = 0;
        for (SquareOsc& o : oscs_) sum += o();
        return sum / 6.0;
    }

private:
    std::vector<SquareOsc> oscs_;
};

Sound MetalSound(int n, double scale, Noise& noise) {
    MetalCluster metal(scale, noise);
    Sound s(n);
    for (double& x : s) x = metal();
    return s;
}

Sound WhiteNoise(int n, Noise& noise) {
    Sound s(n);
    for (double& x : s) x = noise.White();
    return s;
}

// Pitch-swept sine with an exponential amplitude decay: kicks, toms, congas.
Sound SweptSine(int n, double from, double to, double pitchTau, double ampTau) {
    SineOsc osc;
    Sound s(n);
    for (int i = 0; i < n; ++i) {
        double t = TimeOf(i);
        s[i] = osc(Glide(t, from, to, pitchTau)) * Decay(t, ampTau);
    }
    return s;
}

// A short filtered noise burst: stick and beater clicks.
Sound NoiseBurst(int n, double centre, double q, double tau, Noise& noise) {
    Sound s = Filtered(WhiteNoise(n, noise), Biquad::BandPass(centre, q));
    for (int i = 0; i < n; ++i) s[i] *= Decay(TimeOf(i), tau);
    return s;
}

void ApplyEnvelope(Sound& s, double attack, double tau) {
    for (std::size_t i = 0; i < s.size(); ++i)
        s[i] *= AttackDecay(TimeOf(static_cast<int>(i)), attack, tau);
}

void SaturateAll(Sound& s, double drive) {
    for (double& x : s) x = Saturate(x, drive);
}

// Turns a synthesised sound into slot samples: drops the inaudible tail, fades in over a few
// samples and out to exactly zero, removes the DC offset and sets the peak to -1 dBFS.
std::vector<std::int16_t> Finish(Sound s, double fadeOutSeconds) {
    if (static_cast<int>(s.size()) > kMaxSamples) s.resize(kMaxSamples);
    double peak = 0;
    for (double x : s) peak = std::max(peak, std::abs(x));
    if (peak == 0) return {};

    // Cut where the sound stays 66 dB below its peak.
    std::size_t end = s.size();
    while (end > 1 && std::abs(s[end - 1]) < peak * 0.0005) --end;
    s.resize(end);
    const int n = static_cast<int>(s.size());

    std::vector<double> window(n, 1.0);
    const int fadeIn = std::min(kFadeInSamples, n / 4);
    for (int i = 0; i < fadeIn; ++i) window[i] = 0.5 - 0.5 * std::cos(kPi * i / fadeIn);
    const int fadeOut = std::max(1, std::min(SamplesFor(fadeOutSeconds), n / 2));
    for (int j = 0; j < fadeOut; ++j) window[n - 1 - j] *= 0.5 - 0.5 * std::cos(kPi * j / fadeOut);

    // The offset is taken under the window, so the faded sound itself averages to zero.
    double weighted = 0, weights = 0;
    for (int i = 0; i < n; ++i) {
        weighted += window[i] * s[i];
        weights += window[i];
    }
    const double offset = weighted / weights;
    for (int i = 0; i < n; ++i) s[i] = window[i] * (s[i] - offset);

    peak = 0;
    for (double x : s) peak = std::max(peak, std::abs(x));
    std::vector<std::int16_t> out(n);
    for (int i = 0; i < n; ++i)
        out[i] = static_cast<std::int16_t>(std::lround(s[i] / peak * kPeak));
    return out;
}

// ---------------------------------------------------------------------------------------------
// The instruments

// A long, deep electronic kick: a low sine that slides down into a boom.
Sound KickBoom() {
    const int n = SamplesFor(0.9);
    Sound s = SweptSine(n, 150.0, 47.0, 0.035, 0.32);
    Noise noise(0x4b1c0001);
    MixInto(s, NoiseBurst(SamplesFor(0.01), 1800.0, 0.8, 0.0015, noise), 0.5);
    SaturateAll(s, 1.8);
    return Filtered(s, Biquad::HighPass(22.0, 0.7));
}

// A tight, acoustic-ish kick: fast pitch drop, short body and a beater click.
Sound KickPunch() {
    const int n = SamplesFor(0.5);
    Sound s = SweptSine(n, 220.0, 58.0, 0.016, 0.13);
    MixInto(s, SweptSine(n, 330.0, 95.0, 0.012, 0.045), 0.25);  // second head mode
    Noise noise(0x4b1c0002);
    MixInto(s, NoiseBurst(SamplesFor(0.03), 3200.0, 0.9, 0.003, noise), 0.9);
    MixInto(s, NoiseBurst(SamplesFor(0.05), 180.0, 1.0, 0.012, noise), 1.2);  // the thump
    SaturateAll(s, 1.7);
    return Filtered(s, Biquad::HighPass(30.0, 0.7));
}

// Snare head (two tuned modes) plus snare wires (shaped noise).
Sound SnareVoice(double seconds, double lowMode, double highMode, double bodyTau, double wireTau,
                 double wireLow, double wireHigh, double wireGain, std::uint32_t seed) {
    const int n = SamplesFor(seconds);
    Sound s = SweptSine(n, lowMode * 1.25, lowMode, 0.01, bodyTau);
    MixInto(s, SweptSine(n, highMode * 1.15, highMode, 0.008, bodyTau * 0.6), 0.6);
    Noise noise(seed);
    Sound wires = Filtered(WhiteNoise(n, noise), Biquad::HighPass(wireLow, 0.7));
    wires = Filtered(wires, Biquad::LowPass(wireHigh, 0.7));
    ApplyEnvelope(wires, 0.001, wireTau);
    MixInto(s, wires, wireGain);
    return s;
}

Sound SnareFat() {
    Sound s = SnareVoice(0.45, 180.0, 330.0, 0.07, 0.11, 900.0, 9000.0, 1.2, 0x5a4e0001);
    SaturateAll(s, 1.3);
    return s;
}

Sound SnareTight() {
    Sound s = SnareVoice(0.3, 235.0, 410.0, 0.04, 0.065, 2000.0, 10000.0, 2.2, 0x5a4e0002);
    Noise noise(0x5a4e0003);
    MixInto(s, NoiseBurst(SamplesFor(0.02), 4500.0, 0.7, 0.002, noise), 1.5);  // stick crack
    return s;
}

// Several hands a few milliseconds apart, then the room.
Sound Clap() {
    const int n = SamplesFor(0.5);
    Noise noise(0xc1a90001);
    Sound s = Filtered(WhiteNoise(n, noise), Biquad::BandPass(1150.0, 1.4));
    s = Filtered(s, Biquad::HighPass(500.0, 0.7));
    static constexpr double kHands[] = {0.0, 0.0105, 0.0195, 0.0300};
    for (int i = 0; i < n; ++i) {
        double t = TimeOf(i), env = 0;
        for (double start : kHands)
            if (t >= start) env += AttackDecay(t - start, 0.0004, 0.0045);
        if (t >= kHands[3]) env += 0.6 * AttackDecay(t - kHands[3], 0.002, 0.1);
        s[i] *= env;
    }
    return s;
}

// Stick on the rim: a hard click with two short, high resonances.
Sound Rimshot() {
    const int n = SamplesFor(0.15);
    Sound s = SweptSine(n, 500.0, 480.0, 0.005, 0.02);
    MixInto(s, SweptSine(n, 1720.0, 1720.0, 1.0, 0.012), 0.8);
    Noise noise(0x21a00001);
    MixInto(s, NoiseBurst(SamplesFor(0.02), 3500.0, 1.0, 0.0025, noise), 1.6);
    SaturateAll(s, 2.0);
    return Filtered(s, Biquad::HighPass(250.0, 0.7));
}

// Hi-hats: the metal cluster, some noise, band-passed high; only the envelope differs.
Sound HiHat(double seconds, double attack, double tau, double centre, double floor,
            std::uint32_t seed) {
    const int n = SamplesFor(seconds);
    Noise noise(seed);
    Sound s = MetalSound(n, 1.0, noise);
    MixInto(s, WhiteNoise(n, noise), 0.25);
    s = Filtered(s, Biquad::BandPass(centre, 0.9));
    s = Filtered(s, Biquad::HighPass(floor, 0.7));
    s = Filtered(s, Biquad::HighPass(floor, 0.7));
    ApplyEnvelope(s, attack, tau);
    return s;
}

Sound HiHatClosed() {
    return HiHat(0.16, 0.0005, 0.022, 10000.0, 7000.0, 0x4a7c0001);
}

// The foot closes the cymbals: a duller, slightly softer "chick".
Sound HiHatPedal() {
    const int n = SamplesFor(0.14);
    Sound s = HiHat(0.14, 0.003, 0.017, 7500.0, 4500.0, 0x4a7c0002);
    Noise noise(0x4a7c0003);
    Sound chick = NoiseBurst(n, 1800.0, 1.2, 0.012, noise);
    ApplyEnvelope(chick, 0.003, 1.0);
    MixInto(s, chick, 0.15);
    return s;
}

Sound HiHatOpen() {
    return HiHat(0.8, 0.0005, 0.24, 10000.0, 6500.0, 0x4a7c0004);
}

// Two clusters about a fifth apart plus plenty of noise: a wash, with an early burst.
Sound Crash() {
    const int n = SamplesFor(0.907);
    Noise noise(0xc4a50001);
    Sound s = MetalSound(n, 1.0, noise);
    MixInto(s, MetalSound(n, 1.47, noise), 0.8);
    MixInto(s, WhiteNoise(n, noise), 0.6);
    s = Filtered(s, Biquad::HighPass(4200.0, 0.6));
    s = Filtered(s, Biquad::HighPass(3000.0, 0.7));
    s = Filtered(s, Biquad::LowPass(14000.0, 0.7));
    for (int i = 0; i < n; ++i) {
        double t = TimeOf(i);
        s[i] *= AttackDecay(t, 0.0015, 0.45) * 0.6 + AttackDecay(t, 0.0008, 0.06) * 0.6;
    }
    return s;
}

// A ping and a bell over a long, quiet shimmer.
Sound Ride() {
    const int n = SamplesFor(0.907);
    Noise noise(0x21de0001);
    Sound shimmer = MetalSound(n, 2.1, noise);
    MixInto(shimmer, WhiteNoise(n, noise), 0.15);
    shimmer = Filtered(shimmer, Biquad::BandPass(8000.0, 0.8));
    shimmer = Filtered(shimmer, Biquad::HighPass(4500.0, 0.7));
    ApplyEnvelope(shimmer, 0.001, 0.7);

    Sound bell(n, 0.0);
    static constexpr double kBell[][3] = {// Hz, level, decay
                                          {742.0, 0.30, 0.35},  {1103.0, 0.25, 0.30},
                                          {1597.0, 0.30, 0.25}, {2364.0, 0.22, 0.18},
                                          {3190.0, 0.18, 0.12}, {4420.0, 0.12, 0.08}};
    for (const auto& partial : kBell)
        MixInto(bell, SweptSine(n, partial[0], partial[0], 1.0, partial[2]), partial[1]);

    Sound s = shimmer;
    MixInto(s, bell, 0.35);
    MixInto(s, NoiseBurst(SamplesFor(0.03), 6000.0, 0.8, 0.003, noise), 1.2);  // the stick
    return s;
}

// Toms: a low sine that settles on its pitch, a second head mode and the stick.
Sound Tom(double pitch, double seconds, double tau, std::uint32_t seed) {
    const int n = SamplesFor(seconds);
    Sound s = SweptSine(n, pitch * 1.45, pitch, 0.06, tau);
    MixInto(s, SweptSine(n, pitch * 1.59 * 1.3, pitch * 1.59, 0.04, tau * 0.3), 0.2);
    Noise noise(seed);
    MixInto(s, NoiseBurst(SamplesFor(0.03), 1500.0, 0.8, 0.006, noise), 0.35);
    SaturateAll(s, 1.4);
    return Filtered(s, Biquad::HighPass(40.0, 0.7));
}

Sound TomLow() {
    return Tom(88.0, 0.7, 0.24, 0x70a00001);
}
Sound TomMid() {
    return Tom(128.0, 0.6, 0.2, 0x70a00002);
}
Sound TomHigh() {
    return Tom(180.0, 0.5, 0.16, 0x70a00003);
}

// Two squares a detuned sixth apart, band-passed; a sharp strike then a ringing tail.
Sound Cowbell() {
    const int n = SamplesFor(0.45);
    SquareOsc low(540.0), high(800.0);
    Sound s(n);
    for (double& x : s) x = low() + high();
    s = Filtered(s, Biquad::BandPass(900.0, 1.3));
    s = Filtered(s, Biquad::HighPass(350.0, 0.7));
    for (int i = 0; i < n; ++i) {
        double t = TimeOf(i);
        s[i] *= 0.55 * Decay(t, 0.012) + 0.45 * Decay(t, 0.1);
    }
    return s;
}

// Two hardwood sticks: a bright, almost pure tone that dies at once.
Sound Clave() {
    const int n = SamplesFor(0.12);
    Sound s = SweptSine(n, 2550.0, 2500.0, 0.002, 0.019);
    MixInto(s, SweptSine(n, 6900.0, 6900.0, 1.0, 0.004), 0.12);
    return s;
}

// Jingles: many small bright partials, shaken in a few quick bursts.
Sound Tambourine() {
    const int n = SamplesFor(0.4);
    Noise noise(0x7a3b0001);
    Sound jingles(n, 0.0);
    for (int k = 0; k < 14; ++k) {
        double freq = noise.Between(4800.0, 11500.0);
        MixInto(jingles, SweptSine(n, freq, freq, 1.0, noise.Between(0.05, 0.14)),
                noise.Between(0.3, 1.0));
    }
    Sound hiss = Filtered(WhiteNoise(n, noise), Biquad::BandPass(8500.0, 1.0));
    MixInto(jingles, hiss, 1.5);
    static constexpr double kShakes[][2] = {{0.0, 1.0}, {0.014, 0.7}, {0.029, 0.45}};
    for (int i = 0; i < n; ++i) {
        double t = TimeOf(i), env = 0;
        for (const auto& shake : kShakes)
            if (t >= shake[0]) env += shake[1] * AttackDecay(t - shake[0], 0.0008, 0.07);
        jingles[i] *= env;
    }
    return Filtered(jingles, Biquad::HighPass(3500.0, 0.7));
}

// Beads in a tube: grainy high noise that swells and falls back.
Sound Shaker() {
    const int n = SamplesFor(0.22);
    Noise noise(0x54a80001);
    Sound s(n);
    double grain = 0;
    for (double& x : s) {
        if (noise.White() > 0.9) grain = 1.0;  // a bead hits the wall
        grain *= 0.995;
        x = noise.White() * (0.35 + grain);
    }
    s = Filtered(s, Biquad::HighPass(4000.0, 0.7));
    s = Filtered(s, Biquad::BandPass(7500.0, 0.9));
    ApplyEnvelope(s, 0.025, 0.045);
    return s;
}

// An open conga tone: a singing membrane with a slap of the palm.
Sound Conga() {
    const int n = SamplesFor(0.45);
    Sound s = SweptSine(n, 380.0, 335.0, 0.015, 0.12);
    MixInto(s, SweptSine(n, 335.0 * 2.3, 335.0 * 2.3, 1.0, 0.03), 0.15);
    Noise noise(0xc0a90001);
    MixInto(s, NoiseBurst(SamplesFor(0.02), 2200.0, 1.0, 0.003, noise), 0.6);
    SaturateAll(s, 1.3);
    return Filtered(s, Biquad::HighPass(100.0, 0.7));
}

// The electronic "pew": a fast downward sweep with a little buzz.
Sound Zap() {
    const int n = SamplesFor(0.35);
    Sound s = SweptSine(n, 2200.0, 70.0, 0.028, 0.11);
    SaturateAll(s, 1.6);
    return Filtered(s, Biquad::HighPass(40.0, 0.7));
}

// ---------------------------------------------------------------------------------------------
// The kit and its files

constexpr int kClosedHatSlot = 7;
constexpr int kPedalHatSlot = 8;

struct Instrument {
    const char* name;  // at most 12 characters: the panel shows 12
    Sound (*make)();
    double fadeOutSeconds;
    std::uint8_t hihat1 = 0;
    std::uint8_t hihat2 = 0;
};

const std::vector<Instrument>& Kit() {
    static const std::vector<Instrument> kit = {
        {"Kick Boom", KickBoom, 0.15},
        {"Kick Punch", KickPunch, 0.08},
        {"Snare Fat", SnareFat, 0.08},
        {"Snare Tight", SnareTight, 0.05},
        {"Clap", Clap, 0.08},
        {"Rimshot", Rimshot, 0.02},
        {"HiHat Closed", HiHatClosed, 0.03},  // kClosedHatSlot
        {"HiHat Pedal", HiHatPedal, 0.03},    // kPedalHatSlot
        {"HiHat Open", HiHatOpen, 0.15, kClosedHatSlot, kPedalHatSlot},
        {"Crash", Crash, 0.3},
        {"Ride", Ride, 0.3},
        {"Tom Low", TomLow, 0.1},
        {"Tom Mid", TomMid, 0.1},
        {"Tom High", TomHigh, 0.1},
        {"Cowbell", Cowbell, 0.06},
        {"Clave", Clave, 0.02},
        {"Tambourine", Tambourine, 0.06},
        {"Shaker", Shaker, 0.04},
        {"Conga", Conga, 0.06},
        {"Zap", Zap, 0.05},
    };
    return kit;
}

// Tells the person running the build why a file could not be written.
class StderrPrompter : public qtam::Prompter {
public:
    void Warn(const std::string& text) override { std::cerr << "make_kit: " << text << "\n"; }
    bool AskYesNo(const std::string&) override { return true; }
    void SetBusy(bool) override {}
};

// The kit goes into the userbank of a machine of its own, so that the bank and WAV writers
// of the program itself write it.
void PutIntoUserbank(qtam::Machine& m, int n, const Instrument& instrument,
                     const std::vector<std::int16_t>& samples) {
    qtam::SampleSlot& slot = m.banks.userbank.slot(n);
    std::copy(samples.begin(), samples.end(), m.banks.userbank.ensureBuffer(n));
    slot.sampleCount = static_cast<std::int32_t>(samples.size());
    slot.stretchMeasures = 0;  // natural speed
    slot.name = instrument.name;
    slot.hihat1 = instrument.hihat1;
    slot.hihat2 = instrument.hihat2;
}

std::string WavName(int number, const char* name) {
    char prefix[16];
    std::snprintf(prefix, sizeof prefix, "%02d_", number);
    std::string file = prefix;
    for (const char* p = name; *p; ++p) file += (*p == ' ') ? '_' : *p;
    return file + ".wav";
}

int Usage() {
    std::cerr << "usage: make_kit OUT_FILE [--wav-dir DIR]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string outFile, wavDir;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--wav-dir" && i + 1 < argc) {
            wavDir = argv[++i];
        } else if (!arg.empty() && arg[0] != '-' && outFile.empty()) {
            outFile = arg;
        } else {
            return Usage();
        }
    }
    if (outFile.empty()) return Usage();

    auto m = std::make_unique<qtam::Machine>();
    StderrPrompter prompter;
    m->prompter = &prompter;
    m->banks.userbank.description = "Q.Tam default kit";
    const std::vector<Instrument>& kit = Kit();
    for (std::size_t i = 0; i < kit.size(); ++i) {
        PutIntoUserbank(*m, static_cast<int>(i) + 1, kit[i],
                        Finish(kit[i].make(), kit[i].fadeOutSeconds));
    }

    if (!qtam::SaveUserbank(*m, outFile, true)) return 1;
    if (!wavDir.empty()) {
        std::error_code ec;
        std::filesystem::create_directories(wavDir, ec);
        for (std::size_t i = 0; i < kit.size(); ++i) {
            const int n = static_cast<int>(i) + 1;
            std::filesystem::path path = std::filesystem::path(wavDir) / WavName(n, kit[i].name);
            if (!qtam::ExportSlotAsWav(*m, n, path.string())) return 1;
        }
    }
    return 0;
}
