#pragma once
// The innermost loops of the two mixers: one voice walking straight over its samples at a
// standing level, and the main volume applied to the summed frames. Each has a portable form
// and, where the processor offers it, a wider vector form picked once at start-up; every form
// gives the same samples.

#include <cstddef>
#include <cstdint>

namespace qtam {

// One voice's factors for the arithmetic below. Without distortion, threshold is INT32_MAX.
// The live mixer passes a channel volume of 127 as 128 and the centre pan as 64 / 64:
// (s * 128) >> 7 is s unscaled and (s * 64) >> 7 is s >> 1.
struct VoiceMath {
    std::int32_t vol, level, panL, panR, gain, threshold;
};

// The helpers below are static: the vector file is built for newer processors, and its copies
// of shared inline functions must never stand in for the portable ones at link time.

static inline std::int32_t SaturateTo(std::int64_t x, std::int32_t lo, std::int32_t hi) {
    return static_cast<std::int32_t>(x < lo ? lo : (x > hi ? hi : x));
}

// The live mixer on one sample: shifts by 7 only.
static inline void LiveSample(const VoiceMath& m, std::int32_t s, std::int32_t& accL,
                              std::int32_t& accR) {
    if (s > m.threshold) s = SaturateTo(static_cast<std::int64_t>(s) * m.gain, -32768, 32767);
    s = (s * m.vol) >> 7;
    s = (s * m.level) >> 7;
    accL += (s * m.panL) >> 7;
    accR += (s * m.panR) >> 7;
}

// n / 127 to nearest, as a double holding an integer. The quotient of an integer by 127 is never
// a tie and lies far enough from one that the rounding in the double cannot change the result.
static inline double RoundedQuotient127(std::int32_t n) {
    // Adding and taking away 1.5 * 2^52 leaves x rounded to an integer in the current mode.
    constexpr double kRounder = 6755399441055744.0;
    const double x = n * (1.0 / 127.0);
    return (x + kRounder) - kRounder;
}

static inline std::int32_t RoundedDiv127(std::int32_t n) {
    return static_cast<std::int32_t>(RoundedQuotient127(n));
}

// n / 128 to nearest, ties to even: floor((n + 63 + odd) / 128), odd being the low bit of the
// floored quotient, rounds a remainder of 64 up exactly when the quotient is odd.
static inline std::int32_t RoundedDiv128(std::int32_t n) {
    return (n + 63 + ((n >> 7) & 1)) >> 7;
}

// The disk mixer on one sample: s * vol / 127 toward zero, then rounded divisions by 127 and
// 128. A volume of 127 gives s itself; the centre pan is s * 64 / 128.
static inline void DiskSample(const VoiceMath& m, std::int32_t s, std::int32_t& accL,
                              std::int32_t& accR) {
    if (s > m.threshold) s = SaturateTo(static_cast<std::int64_t>(s) * m.gain, -32767, 32767);
    s = s * m.vol / 127;
    const std::int32_t scaled = RoundedDiv127(s * m.level);
    accL += RoundedDiv128(scaled * m.panL);
    accR += RoundedDiv128(scaled * m.panR);
}

// The ranges the vector forms are built for; the mixers keep to the portable form outside them.
// Every product stays within 32 bits, and in the disk form every quotient by 127 is taken in
// single precision from a value below 2^24 (volume at most 127, as the disk mixer uses it).
static constexpr bool FitsVectorMath(const VoiceMath& v, bool disk) {
    return v.vol >= 0 && v.vol <= (disk ? 127 : 255) && v.level >= 0 && v.level <= 255 &&
           v.panL >= -128 && v.panL <= 255 && v.panR >= -128 && v.panR <= 255 && v.gain >= 0 &&
           v.gain <= 65535;
}

struct MixKernels {
    const char* name;
    // src[0], src[stride], ... src[(n - 1) * stride] (stride 1 or -1) of one voice through
    // LiveSample or DiskSample into accL[0..n) and accR[0..n).
    void (*liveVoice)(const std::int16_t* src, std::ptrdiff_t stride, const VoiceMath& math,
                      std::int32_t* accL, std::int32_t* accR, int n);
    void (*diskVoice)(const std::int16_t* src, std::ptrdiff_t stride, const VoiceMath& math,
                      std::int32_t* accL, std::int32_t* accR, int n);
    // out[2f] and out[2f + 1] = clip((acc * mainVolume) >> 7) for f in 0..n; |mainVolume| < 4096.
    void (*applyMainVolume)(const std::int32_t* accL, const std::int32_t* accR,
                            std::int32_t mainVolume, std::int16_t* out, int n);
};

// The fastest forms this processor runs, chosen once. Every form is a pure function of its
// arguments.
// Thread: any.
const MixKernels& Kernels();
// The portable forms, and the AVX2 forms (null when this build or processor lacks them).
// Thread: any.
const MixKernels& PortableKernels();
// Thread: any.
const MixKernels* Avx2Kernels();

// The AVX2 forms themselves, defined only in builds for x86 processors; reach them through
// Avx2Kernels, which checks the processor first.
extern const MixKernels kAvx2Kernels;

}  // namespace qtam
