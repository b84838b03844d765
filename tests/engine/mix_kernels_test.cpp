// Every form of the mixers' inner loops (the portable one, and AVX2 where this processor has it)
// against the arithmetic written out plainly, over every 16-bit sample.
#include "engine/mix_kernels.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <vector>

namespace qtam {
namespace {

std::vector<const MixKernels*> AllForms() {
    std::vector<const MixKernels*> forms{&PortableKernels()};
    if (const MixKernels* avx2 = Avx2Kernels()) forms.push_back(avx2);
    return forms;
}

struct Pair {
    std::int32_t left = 0, right = 0;
    bool operator==(const Pair&) const = default;
};

Pair PlainLive(const VoiceMath& m, std::int32_t s) {
    if (s > m.threshold)
        s = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(std::int64_t{s} * m.gain, -32768, 32767));
    s = (s * m.vol) >> 7;
    s = (s * m.level) >> 7;
    return {(s * m.panL) >> 7, (s * m.panR) >> 7};
}

Pair PlainDisk(const VoiceMath& m, std::int32_t s) {
    if (s > m.threshold)
        s = static_cast<std::int32_t>(
            std::clamp<std::int64_t>(std::int64_t{s} * m.gain, -32767, 32767));
    s = s * m.vol / 127;
    s = static_cast<std::int32_t>(std::nearbyint(s * static_cast<double>(m.level) / 127.0));
    return {static_cast<std::int32_t>(std::nearbyint(s * static_cast<double>(m.panL) / 128.0)),
            static_cast<std::int32_t>(std::nearbyint(s * static_cast<double>(m.panR) / 128.0))};
}

// Every sample value once, walked forwards and backwards from the ends of the buffer, over a
// length that leaves a tail after the groups of eight.
void ExpectEveryForm(const VoiceMath& math, bool live) {
    static const std::vector<std::int16_t> every = [] {
        std::vector<std::int16_t> v(65536 + 3);
        for (std::size_t i = 0; i < v.size(); ++i) v[i] = static_cast<std::int16_t>(i - 32768);
        return v;
    }();
    const int n = static_cast<int>(every.size());
    for (const MixKernels* k : AllForms()) {
        for (const std::ptrdiff_t stride : {1, -1}) {
            const std::int16_t* src = stride > 0 ? every.data() : every.data() + n - 1;
            std::vector<std::int32_t> accL(n, 7), accR(n, -7);
            (live ? k->liveVoice : k->diskVoice)(src, stride, math, accL.data(), accR.data(), n);
            for (int f = 0; f < n; ++f) {
                const Pair want =
                    live ? PlainLive(math, src[f * stride]) : PlainDisk(math, src[f * stride]);
                const Pair got{accL[f] - 7, accR[f] + 7};
                ASSERT_EQ(got, want)
                    << k->name << (live ? " live" : " disk") << " stride " << stride << " sample "
                    << src[f * stride] << " vol " << math.vol << " level " << math.level << " pan "
                    << math.panL << "/" << math.panR << " gain " << math.gain << " threshold "
                    << math.threshold;
            }
        }
    }
}

VoiceMath Math(int vol, int level, int pan, int gain = 0, int threshold = INT32_MAX) {
    return {vol, level, pan == 64 ? 64 : 127 - pan, pan == 64 ? 64 : pan, gain, threshold};
}

TEST(MixKernels, TheDiskFormsAreExactForEveryVolumeAndLevel) {
    // Every volume with a level that passes the first quotient through, then every level with
    // the full volume: both divisions by 127 meet every value they can get.
    for (int vol = 0; vol <= 127; ++vol) ExpectEveryForm(Math(vol, 127, 0), false);
    for (int level = 0; level <= 255; ++level) ExpectEveryForm(Math(127, level, 64), false);
}

TEST(MixKernels, EveryFormAgreesOnPansAndDistortion) {
    for (const bool live : {false, true}) {
        for (int pan : {0, 1, 63, 64, 65, 126, 127, 128, 200, 255})
            ExpectEveryForm(Math(live ? 128 : 127, 141, pan), live);
        for (int vol : {0, 1, 64, 126, 127, 128, 255}) ExpectEveryForm(Math(vol, 255, 30), live);
        // Gains up to the largest the Song holds; thresholds from 0 up.
        for (int gain : {0, 1, 2, 40, 65535})
            for (int threshold : {0, 790, 32766})
                ExpectEveryForm(Math(100, 120, 90, gain, threshold), live);
    }
}

TEST(MixKernels, TheMainVolumeClipsAsTheWideProductWould) {
    std::mt19937 r(3);
    std::vector<std::int32_t> accL(1003), accR(1003);
    const std::int32_t edges[] = {0,         1,         -1,      32767,      -32768,
                                  4194303,   4194304,   4194305, -4194304,   -4194305,
                                  INT32_MAX, INT32_MIN, 1 << 30, -(1 << 30), 289000};
    for (std::size_t i = 0; i < accL.size(); ++i) {
        accL[i] = i < std::size(edges) ? edges[i]
                                       : std::uniform_int_distribution<int>(-400000, 400000)(r);
        accR[i] = i < std::size(edges)
                      ? edges[std::size(edges) - 1 - i]
                      : std::uniform_int_distribution<int>(INT32_MIN, INT32_MAX)(r);
    }
    for (const MixKernels* k : AllForms()) {
        for (std::int32_t volume : {0, 1, 127, 128, 255, 511, 512, -3, 4095, -4095}) {
            std::vector<std::int16_t> out(2 * accL.size());
            k->applyMainVolume(accL.data(), accR.data(), volume, out.data(),
                               static_cast<int>(accL.size()));
            for (std::size_t f = 0; f < accL.size(); ++f) {
                auto clip = [](std::int64_t x) {
                    return std::clamp<std::int64_t>(x, -32768, 32767);
                };
                ASSERT_EQ(out[2 * f], clip((std::int64_t{accL[f]} * volume) >> 7))
                    << k->name << " volume " << volume << " sum " << accL[f];
                ASSERT_EQ(out[2 * f + 1], clip((std::int64_t{accR[f]} * volume) >> 7))
                    << k->name << " volume " << volume << " sum " << accR[f];
            }
        }
    }
}

}  // namespace
}  // namespace qtam
