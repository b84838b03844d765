// The AVX2 forms of the mixers' inner loops: eight frames at a time in 32-bit lanes, the
// divisions by 127 in doubles. Built with -mavx2 and used only when the processor has AVX2.
// No fused multiply-add is enabled, so every double operation rounds as the portable form's.
#include <immintrin.h>

#include "engine/mix_kernels.h"

namespace qtam {

namespace {

// Eight samples src[0], src[stride], ..., src[7 * stride] widened to 32 bits.
template <bool Reversed>
inline __m256i LoadEight(const std::int16_t* src) {
    if constexpr (Reversed) {
        const __m128i reverse = _mm_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src - 7));
        return _mm256_cvtepi16_epi32(_mm_shuffle_epi8(raw, reverse));
    } else {
        return _mm256_cvtepi16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src)));
    }
}

// s > threshold: clamp(s * gain, lo, 32767). s * gain fits in 32 bits for gains up to 65535.
inline __m256i Distort(__m256i s, __m256i gain, __m256i threshold, __m256i lo, __m256i hi) {
    const __m256i boosted = _mm256_min_epi32(_mm256_max_epi32(_mm256_mullo_epi32(s, gain), lo), hi);
    return _mm256_blendv_epi8(s, boosted, _mm256_cmpgt_epi32(s, threshold));
}

inline void Accumulate(std::int32_t* acc, __m256i add) {
    __m256i* p = reinterpret_cast<__m256i*>(acc);
    _mm256_storeu_si256(p, _mm256_add_epi32(_mm256_loadu_si256(p), add));
}

template <bool Reversed, bool Distorted>
void LiveVoiceLoop(const std::int16_t* src, const VoiceMath& math, std::int32_t* accL,
                   std::int32_t* accR, int n) {
    const __m256i gain = _mm256_set1_epi32(math.gain),
                  threshold = _mm256_set1_epi32(math.threshold);
    const __m256i lo = _mm256_set1_epi32(-32768), hi = _mm256_set1_epi32(32767);
    const __m256i vol = _mm256_set1_epi32(math.vol), level = _mm256_set1_epi32(math.level);
    const __m256i panL = _mm256_set1_epi32(math.panL), panR = _mm256_set1_epi32(math.panR);
    const std::ptrdiff_t step = Reversed ? -8 : 8;
    int f = 0;
    for (; f + 8 <= n; f += 8, src += step) {
        __m256i s = LoadEight<Reversed>(src);
        if constexpr (Distorted) s = Distort(s, gain, threshold, lo, hi);
        s = _mm256_srai_epi32(_mm256_mullo_epi32(s, vol), 7);
        s = _mm256_srai_epi32(_mm256_mullo_epi32(s, level), 7);
        Accumulate(accL + f, _mm256_srai_epi32(_mm256_mullo_epi32(s, panL), 7));
        Accumulate(accR + f, _mm256_srai_epi32(_mm256_mullo_epi32(s, panR), 7));
    }
    for (; f < n; ++f, src += Reversed ? -1 : 1) LiveSample(math, *src, accL[f], accR[f]);
}

// n / 127 in single precision, toward zero or to nearest, by the float nearest 1/127, which lies
// less than 4e-9 of itself below it. The disk mixer's values stay below 2^23 in size (at most
// 32768 * 255), so n is exact as a float. A multiple of 127 comes out within 1.3e-4 below its
// quotient, which rounds back to it; any other quotient lies at least 1/254 from every integer
// and every tie, more than the error of at most 2^-9 + 2.5e-4 for quotients below 2^16 (every
// level up to 141, the most a humanized note reaches). The kernel test checks every sample at
// every volume and every level up to 255 against the integer division.
inline __m256 Over127(__m256i n) {
    return _mm256_mul_ps(_mm256_cvtepi32_ps(n), _mm256_set1_ps(1.0f / 127.0f));
}

inline __m256i TruncDiv127(__m256i n) {
    return _mm256_cvttps_epi32(Over127(n));
}

// Rounded in the current mode, to nearest with ties to even as RoundedDiv127.
inline __m256i RoundDiv127(__m256i n) {
    return _mm256_cvtps_epi32(Over127(n));
}

// n / 128 to nearest, ties to even, as RoundedDiv128.
inline __m256i RoundDiv128(__m256i n) {
    const __m256i odd = _mm256_and_si256(_mm256_srai_epi32(n, 7), _mm256_set1_epi32(1));
    return _mm256_srai_epi32(_mm256_add_epi32(_mm256_add_epi32(n, _mm256_set1_epi32(63)), odd), 7);
}

// The disk mixer's arithmetic on eight samples, each lane with its own factors.
inline void DiskMath8(__m256i s, __m256i vol, __m256i level, __m256i panL, __m256i panR,
                      __m256i& left, __m256i& right) {
    s = TruncDiv127(_mm256_mullo_epi32(s, vol));
    s = RoundDiv127(_mm256_mullo_epi32(s, level));
    left = RoundDiv128(_mm256_mullo_epi32(s, panL));
    right = RoundDiv128(_mm256_mullo_epi32(s, panR));
}

template <bool Reversed, bool Distorted>
void DiskVoiceLoop(const std::int16_t* src, const VoiceMath& math, std::int32_t* accL,
                   std::int32_t* accR, int n) {
    const __m256i gain = _mm256_set1_epi32(math.gain),
                  threshold = _mm256_set1_epi32(math.threshold);
    const __m256i lo = _mm256_set1_epi32(-32767), hi = _mm256_set1_epi32(32767);
    const __m256i vol = _mm256_set1_epi32(math.vol), level = _mm256_set1_epi32(math.level);
    const __m256i panL = _mm256_set1_epi32(math.panL), panR = _mm256_set1_epi32(math.panR);
    const std::ptrdiff_t step = Reversed ? -8 : 8;
    int f = 0;
    for (; f + 8 <= n; f += 8, src += step) {
        __m256i s = LoadEight<Reversed>(src);
        if constexpr (Distorted) s = Distort(s, gain, threshold, lo, hi);
        __m256i left, right;
        DiskMath8(s, vol, level, panL, panR, left, right);
        Accumulate(accL + f, left);
        Accumulate(accR + f, right);
    }
    for (; f < n; ++f, src += Reversed ? -1 : 1) DiskSample(math, *src, accL[f], accR[f]);
}

template <template <bool, bool> class Loop>
void VoiceLoop(const std::int16_t* src, std::ptrdiff_t stride, const VoiceMath& math,
               std::int32_t* accL, std::int32_t* accR, int n) {
    const bool distorted = math.threshold != INT32_MAX;
    if (stride < 0)
        distorted ? Loop<true, true>::Run(src, math, accL, accR, n)
                  : Loop<true, false>::Run(src, math, accL, accR, n);
    else
        distorted ? Loop<false, true>::Run(src, math, accL, accR, n)
                  : Loop<false, false>::Run(src, math, accL, accR, n);
}

template <bool Reversed, bool Distorted>
struct LiveLoop {
    static void Run(const std::int16_t* src, const VoiceMath& math, std::int32_t* accL,
                    std::int32_t* accR, int n) {
        LiveVoiceLoop<Reversed, Distorted>(src, math, accL, accR, n);
    }
};

template <bool Reversed, bool Distorted>
struct DiskLoop {
    static void Run(const std::int16_t* src, const VoiceMath& math, std::int32_t* accL,
                    std::int32_t* accR, int n) {
        DiskVoiceLoop<Reversed, Distorted>(src, math, accL, accR, n);
    }
};

void LiveVoiceAvx2(const std::int16_t* src, std::ptrdiff_t stride, const VoiceMath& math,
                   std::int32_t* accL, std::int32_t* accR, int n) {
    if (!FitsVectorMath(math, false))
        return PortableKernels().liveVoice(src, stride, math, accL, accR, n);
    VoiceLoop<LiveLoop>(src, stride, math, accL, accR, n);
}

void DiskVoiceAvx2(const std::int16_t* src, std::ptrdiff_t stride, const VoiceMath& math,
                   std::int32_t* accL, std::int32_t* accR, int n) {
    if (!FitsVectorMath(math, true))
        return PortableKernels().diskVoice(src, stride, math, accL, accR, n);
    VoiceLoop<DiskLoop>(src, stride, math, accL, accR, n);
}

// Beyond 2^22 in size the product with any main volume from 1 to 511 clips anyway, so the
// sums are limited to that first and the products stay within 32 bits; packing with signed
// saturation is the clip, and interleaving before the pack gives left, right, left, ...
void ApplyMainVolumeAvx2(const std::int32_t* accL, const std::int32_t* accR,
                         std::int32_t mainVolume, std::int16_t* out, int n) {
    if (mainVolume < -511 || mainVolume > 511)
        return PortableKernels().applyMainVolume(accL, accR, mainVolume, out, n);
    const __m256i limitLo = _mm256_set1_epi32(-(1 << 22)), limitHi = _mm256_set1_epi32(1 << 22);
    const __m256i volume = _mm256_set1_epi32(mainVolume);
    auto scaled = [&](const std::int32_t* acc) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(acc));
        const __m256i limited = _mm256_min_epi32(_mm256_max_epi32(a, limitLo), limitHi);
        return _mm256_srai_epi32(_mm256_mullo_epi32(limited, volume), 7);
    };
    int f = 0;
    for (; f + 8 <= n; f += 8) {
        const __m256i left = scaled(accL + f), right = scaled(accR + f);
        const __m256i frames = _mm256_packs_epi32(_mm256_unpacklo_epi32(left, right),
                                                  _mm256_unpackhi_epi32(left, right));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * f), frames);
    }
    if (f < n)
        PortableKernels().applyMainVolume(accL + f, accR + f, mainVolume, out + 2 * f, n - f);
}

}  // namespace

const MixKernels kAvx2Kernels{"avx2", LiveVoiceAvx2, DiskVoiceAvx2, ApplyMainVolumeAvx2};

}  // namespace qtam
