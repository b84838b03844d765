// The mixers work a run of frames at a time, one voice after the other. These tests hold them
// to a plain frame-by-frame model of the same arithmetic on songs full of awkward cases.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/machine.h"
#include "engine/mixer.h"
#include "test_support.h"

namespace qtam {
namespace {

std::unique_ptr<Machine> RandomMachine(unsigned seed) {
    std::mt19937 r(seed);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(r); };
    auto m = test::NewMachine();
    for (int slot = 1; slot <= 6; ++slot) {
        for (SampleBank* bank : {&m->banks.internalBank, &m->banks.userbank}) {
            if (pick(0, 5) == 0) continue;  // some slots stay empty
            std::vector<std::int16_t> sound(pick(1, 6000));
            for (auto& s : sound) s = static_cast<std::int16_t>(pick(-32768, 32767));
            test::SetSound(*bank, slot, sound);
            bank->slot(slot).stretchMeasures =
                static_cast<std::uint8_t>(pick(0, 3) == 0 ? pick(1, 2) : 0);
            bank->slot(slot).hihat1 = static_cast<std::uint8_t>(pick(0, 6));
        }
    }
    m->song.tempo = 250;
    m->song.shuffle = static_cast<std::uint8_t>(pick(100, 150));
    m->song.stepsPerMeasure = pick(0, 1) ? 12 : 16;
    SetTempo(PlayerOf(*m), m->song.tempo, m->song.shuffle);
    m->editor.HumanizeChecked = pick(0, 1) != 0;
    for (int p = 1; p <= 2; ++p) {
        m->song.measureCount[p - 1] = static_cast<std::uint8_t>(pick(1, 3));
        ChannelSettings& cs = m->song.settings(p);
        cs.distortionGain = static_cast<std::uint16_t>(pick(0, 64));
        cs.distortionThreshold = static_cast<std::uint16_t>(79 * pick(0, 64));
        for (int ch = 1; ch <= 8; ++ch) {
            const int kind = pick(0, 9);
            cs.instrument[ch - 1] = static_cast<std::uint8_t>(
                kind == 0 ? 0 : (kind < 5 ? pick(1, 6) : 100 + pick(1, 6)));
            cs.volume[ch - 1] = static_cast<std::uint8_t>(pick(0, 3) == 0 ? 127 : pick(0, 127));
            cs.mute[ch - 1] = pick(0, 7) == 0;
            cs.distortionOn[ch - 1] = pick(0, 2) == 0;
            for (int meas = 1; meas <= 3; ++meas)
                for (int s = 1; s <= 16; ++s)
                    if (pick(0, 2) == 0)
                        test::SetNote(*m, p, meas, ch, s, pick(0, 127),
                                      pick(0, 3) == 0 ? 64 : pick(0, 127), pick(0, 4) == 0);
        }
    }
    m->random.seed(seed);
    return m;
}

std::int32_t ModelSample(const Machine& m, int c) {
    const SampleSlot* s = ChannelSound(PlayerOf(const_cast<Machine&>(m)), c);
    const Voice& v = m.player.voices[c];
    if (s == nullptr || s->samples == nullptr) return 0;
    long i = std::lrint(v.position);
    if (v.reversed) i = s->sampleCount + 1 - i;
    return (i >= 1 && i <= s->sampleCount) ? s->samples[i - 1] : 0;
}

std::int16_t ModelClip(std::int64_t x) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(x, -32768, 32767));
}

// One live frame the plain way: the main-volume glide, then for each sounding voice its fade,
// sample, distortion, volume, level and pan one after the other, then the tick.
void ModelLiveFrame(Machine& m, std::int16_t* out) {
    PlayClock& k = m.player.clock;
    if (k.MainVolume < k.MainVolumeTarget) k.MainVolume += 1;
    if (k.MainVolume > k.MainVolumeTarget) k.MainVolume -= 1;
    const ChannelSettings& cs = m.song.settings(k.PlayPattern);
    std::int32_t accL = 0, accR = 0;
    for (int c = 1; c <= 8; ++c) {
        Voice& v = m.player.voices[c];
        if (!v.active) continue;
        v.age += 1;
        if (v.age > v.fadeStart && v.level > 0) v.level -= 1;
        std::int32_t s = ModelSample(m, c);
        if (v.distGain > 0 && s > v.distThreshold) s = std::clamp(s * v.distGain, -32768, 32767);
        if (cs.volume[c - 1] != 127) s = (s * cs.volume[c - 1]) >> 7;
        s = (s * v.level) >> 7;
        if (v.pan == 64) {
            accL += s >> 1;
            accR += s >> 1;
        } else {
            accL += (s * (127 - v.pan)) >> 7;
            accR += (s * v.pan) >> 7;
        }
    }
    out[0] = ModelClip((static_cast<std::int64_t>(accL) * k.MainVolume) >> 7);
    out[1] = ModelClip((static_cast<std::int64_t>(accR) * k.MainVolume) >> 7);
    Tick(PlayerOf(m));
}

std::int32_t Nearest(double x) {
    return static_cast<std::int32_t>(std::nearbyint(x));
}

StereoFrame ModelDiskFrame(Machine& m) {
    PlayClock& k = m.player.clock;
    const ChannelSettings& cs = m.song.settings(k.PlayPattern);
    std::int32_t accL = 0, accR = 0;
    for (int c = 1; c <= 8; ++c) {
        Voice& v = m.player.voices[c];
        if (!v.active) continue;
        v.age += 1;
        if (v.age > v.fadeStart && v.level > 0) v.level -= 1;
        std::int32_t s = ModelSample(m, c);
        if (cs.distortionOn[c - 1] && s > cs.distortionThreshold)
            s = std::clamp(s * cs.distortionGain, -32767, 32767);
        if (cs.volume[c - 1] < 127) s = s * cs.volume[c - 1] / 127;
        s = Nearest(s * static_cast<double>(v.level) / 127.0);
        if (v.pan == 64) {
            accL += Nearest(s / 2.0);
            accR += Nearest(s / 2.0);
        } else {
            accL += Nearest(s * (127.0 - v.pan) / 128.0);
            accR += Nearest(s * static_cast<double>(v.pan) / 128.0);
        }
    }
    StereoFrame f{ModelClip((static_cast<std::int64_t>(accL) * k.MainVolume) >> 7),
                  ModelClip((static_cast<std::int64_t>(accR) * k.MainVolume) >> 7)};
    Tick(PlayerOf(m));
    return f;
}

TEST(MixerModel, TheLiveMixerMatchesTheFrameByFrameModel) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        auto fast = RandomMachine(seed);
        auto model = RandomMachine(seed);
        for (Machine* m : {fast.get(), model.get()}) {
            ResetTransport(*m);
            m->player.clock.NextPattern = 2;
            m->player.clock.MainVolumeTarget = 200;
            PrepareStart(PlayerOf(*m));
        }
        std::mt19937 sizes(seed);
        std::vector<std::int16_t> a(2 * 10240), b(2 * 10240);
        for (int done = 0; done < 60000;) {
            const int n = std::uniform_int_distribution<int>(1, 10240)(sizes);
            MixBlock(PlayerOf(*fast), a.data(), n);
            for (int f = 0; f < n; ++f) ModelLiveFrame(*model, b.data() + 2 * f);
            for (int i = 0; i < 2 * n; ++i)
                ASSERT_EQ(a[i], b[i]) << "seed " << seed << " frame " << done + i / 2;
            done += n;
            // An edit between blocks: the next block must hear it.
            for (Machine* m : {fast.get(), model.get()}) {
                m->song.settings(m->player.clock.PlayPattern).mute[n % 8] ^= 1;
                m->player.clock.MainVolumeTarget = static_cast<std::int16_t>(n % 256);
            }
        }
        for (int c = 1; c <= 8; ++c) {
            EXPECT_EQ(fast->player.voices[c].active, model->player.voices[c].active);
            EXPECT_EQ(fast->player.voices[c].position, model->player.voices[c].position);
            EXPECT_EQ(fast->player.voices[c].level, model->player.voices[c].level);
        }
    }
}

// The JACK output's mixer: the same main frames as MixBlock, and channel shares that add up
// to what the main volume is applied to (at unity, to the main frames themselves).
TEST(MixerModel, TheTappedMixerIsTheLiveMixerWithChannelShares) {
    for (unsigned seed = 1; seed <= 6; ++seed) {
        auto plain = RandomMachine(seed);
        auto tapped = RandomMachine(seed);
        for (Machine* m : {plain.get(), tapped.get()}) {
            ResetTransport(*m);
            m->player.clock.MainVolumeTarget = m->player.clock.MainVolume = 128;
            PrepareStart(PlayerOf(*m));
        }
        std::mt19937 sizes(seed);
        std::vector<std::int16_t> a(2 * 512), b(2 * 512);
        std::vector<std::int32_t> share(2 * 8 * 512);
        ChannelTaps taps{};
        for (int c = 0; c < 8; ++c) {
            taps.left[c] = share.data() + 2 * c * 512;
            taps.right[c] = share.data() + (2 * c + 1) * 512;
        }
        for (int done = 0; done < 60000;) {
            const int n = std::uniform_int_distribution<int>(1, 512)(sizes);
            MixBlock(PlayerOf(*plain), a.data(), n);
            MixBlockTapped(PlayerOf(*tapped), b.data(), taps, n);
            for (int f = 0; f < n; ++f) {
                ASSERT_EQ(a[2 * f], b[2 * f]) << "seed " << seed << " frame " << done + f;
                ASSERT_EQ(a[2 * f + 1], b[2 * f + 1]) << "seed " << seed << " frame " << done + f;
                std::int32_t left = 0, right = 0;
                for (int c = 0; c < 8; ++c) {
                    left += taps.left[c][f];
                    right += taps.right[c][f];
                }
                ASSERT_EQ(std::clamp(left, -32768, 32767), a[2 * f]) << "frame " << done + f;
                ASSERT_EQ(std::clamp(right, -32768, 32767), a[2 * f + 1]) << "frame " << done + f;
            }
            done += n;
        }
    }
}

// At an output rate other than 44100 the voices read between two samples: a ramp of the
// sound plays as a ramp with no step repeated, forwards and reversed, at every rate tried.
TEST(MixerModel, AnotherRateReadsBetweenSamples) {
    for (int rate : {48000, 96000, 22050}) {
        for (int reversed : {0, 1}) {
            auto m = test::NewMachine();
            std::vector<std::int16_t> ramp(4000);
            for (std::size_t i = 0; i < ramp.size(); ++i)
                ramp[i] = static_cast<std::int16_t>(8 * i);
            test::SetSound(m->banks.internalBank, 1, ramp);
            m->song.settings(1).instrument[0] = 1;
            m->song.settings(1).volume[0] = 127;
            test::SetNote(*m, 1, 1, 1, 1, 127, 64, reversed);
            m->player.clock.Rate = rate;
            SetTempo(PlayerOf(*m), 60, 100);  // one long step: the ramp plays to its end
            ResetTransport(*m);
            PrepareStart(PlayerOf(*m));
            std::vector<std::int16_t> out(2 * 3000);
            MixBlock(PlayerOf(*m), out.data(), 3000);
            // 8 * 44100 / rate a frame, after volume, level and the centre pan (about a half).
            const double step = 8.0 * 44100 / rate * 127 / 128 / 2;
            const int sounding = std::min(3000, 4000 * rate / 44100 - 2);
            for (int f = 1; f < sounding; ++f) {
                const double d = (reversed ? -1 : 1) * (out[2 * f] - out[2 * f - 2]);
                ASSERT_NEAR(d, step, 1.01) << rate << " Hz, frame " << f;
            }
        }
    }
}

TEST(MixerModel, TheDiskMixerMatchesTheFrameByFrameModel) {
    for (unsigned seed = 11; seed <= 16; ++seed) {
        auto single = RandomMachine(seed);
        auto block = RandomMachine(seed);
        auto model = RandomMachine(seed);
        for (Machine* m : {single.get(), block.get(), model.get()}) {
            m->player.clock.MainVolume = 180;
            StartRender(*m, 1);
        }
        std::vector<StereoFrame> frames(5000);
        for (int done = 0; done < 60000; done += 5000) {
            MixFrames(PlayerOf(*block), frames.data(), 5000);
            for (int f = 0; f < 5000; ++f) {
                const StereoFrame want = ModelDiskFrame(*model);
                const StereoFrame one = MixFrame(PlayerOf(*single));
                ASSERT_EQ(one.left, want.left) << "seed " << seed << " frame " << done + f;
                ASSERT_EQ(one.right, want.right) << "seed " << seed << " frame " << done + f;
                ASSERT_EQ(frames[f].left, want.left) << "seed " << seed << " frame " << done + f;
                ASSERT_EQ(frames[f].right, want.right) << "seed " << seed << " frame " << done + f;
            }
        }
    }
}

// Stems are the channels' shares of the same mix: the main frames stay exactly what MixFrames
// gives, and the stems with the main volume applied add up to them within 1 LSB per stem
// wherever the main mix does not clip.
TEST(MixerModel, StemsAddUpToTheMainMix) {
    for (unsigned seed = 21; seed <= 26; ++seed) {
        auto plain = RandomMachine(seed);
        auto split = RandomMachine(seed);
        for (Machine* m : {plain.get(), split.get()}) {
            m->player.clock.MainVolume = m->player.clock.MainVolumeTarget = seed % 2 ? 128 : 180;
            StartRender(*m, 1);
        }
        const int n = 4000;
        std::vector<StereoFrame> want(n), main(n), stems(kChannels * n);
        long heard = 0;
        for (int done = 0; done < 40000; done += n) {
            MixFrames(PlayerOf(*plain), want.data(), n);
            MixFramesWithStems(PlayerOf(*split), main.data(), stems.data(), n);
            for (int f = 0; f < n; ++f) {
                ASSERT_EQ(main[f].left, want[f].left) << "seed " << seed << " frame " << done + f;
                ASSERT_EQ(main[f].right, want[f].right) << "seed " << seed << " frame " << done + f;
                std::int64_t left = 0, right = 0;
                for (int c = 0; c < kChannels; ++c) {
                    left += stems[c * n + f].left;
                    right += stems[c * n + f].right;
                }
                const std::int64_t volume = split->player.clock.MainVolume;
                for (auto [sum, mixed] : {std::pair{left, main[f].left}, {right, main[f].right}}) {
                    if (mixed == 32767 || mixed == -32768) continue;
                    heard += mixed != 0;
                    ASSERT_LE(std::abs((sum * volume >> 7) - mixed), kChannels)
                        << "seed " << seed << " frame " << done + f;
                }
            }
        }
        EXPECT_GT(heard, 1000) << "seed " << seed << " made almost no sound";
    }
}

}  // namespace
}  // namespace qtam
