#include "engine/mix_kernels.h"

namespace qtam {

namespace {

void LiveVoicePortable(const std::int16_t* src, std::ptrdiff_t stride, const VoiceMath& math,
                       std::int32_t* accL, std::int32_t* accR, int n) {
    for (int f = 0; f < n; ++f, src += stride) LiveSample(math, *src, accL[f], accR[f]);
}

void DiskVoicePortable(const std::int16_t* src, std::ptrdiff_t stride, const VoiceMath& math,
                       std::int32_t* accL, std::int32_t* accR, int n) {
    for (int f = 0; f < n; ++f, src += stride) DiskSample(math, *src, accL[f], accR[f]);
}

std::int16_t Clip(std::int64_t x) {
    return static_cast<std::int16_t>(SaturateTo(x, -32768, 32767));
}

void ApplyMainVolumePortable(const std::int32_t* accL, const std::int32_t* accR,
                             std::int32_t mainVolume, std::int16_t* out, int n) {
    for (int f = 0; f < n; ++f) {
        out[2 * f] = Clip((static_cast<std::int64_t>(accL[f]) * mainVolume) >> 7);
        out[2 * f + 1] = Clip((static_cast<std::int64_t>(accR[f]) * mainVolume) >> 7);
    }
}

const MixKernels kPortable{"portable", LiveVoicePortable, DiskVoicePortable,
                           ApplyMainVolumePortable};

const MixKernels& Choose() {
    if (const MixKernels* avx2 = Avx2Kernels()) return *avx2;
    return kPortable;
}

}  // namespace

const MixKernels& PortableKernels() {
    return kPortable;
}

const MixKernels& Kernels() {
    static const MixKernels& chosen = Choose();
    return chosen;
}

// Nothing from the vector file runs before the processor has been asked.
const MixKernels* Avx2Kernels() {
#if defined(QTAM_HAVE_AVX2)
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") ? &kAvx2Kernels : nullptr;
#else
    return nullptr;
#endif
}

}  // namespace qtam
