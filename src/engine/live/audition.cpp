#include "engine/live/audition.h"

#include <algorithm>
#include <cmath>

namespace qtam {

void AuditionVoice::Play(const AuditionRequest& request, int rate) {
    instrument_ = request.instrument;
    velocity_ = std::clamp<int>(request.velocity, 1, 127);
    position_ = 0;
    step_ = rate > 0 ? 44100.0 / rate : 1.0;
    framesLeft_ = static_cast<std::int64_t>(kMaxSeconds) * std::max(rate, 1);
}

void AuditionVoice::AddTo(const SoundTable& sounds, std::int16_t* out, int frames) {
    if (instrument_ == 0) return;
    const SampleSlot* sound = SlotOf(sounds, instrument_);
    if (sound == nullptr || !sound->hasSound()) {
        instrument_ = 0;
        return;
    }
    const std::int32_t count = sound->sampleCount;
    for (int f = 0; f < frames; ++f) {
        const auto i = static_cast<std::int32_t>(position_);
        if (i + 1 >= count || framesLeft_-- <= 0) {
            instrument_ = 0;
            return;
        }
        // Between the two samples around the position, as the live mixer reads at other rates.
        const double frac = position_ - i;
        const double s = sound->samples[i] + (sound->samples[i + 1] - sound->samples[i]) * frac;
        const auto sample = static_cast<std::int32_t>(std::lround(s * velocity_ / 127.0));
        for (int side = 0; side < 2; ++side) {
            std::int16_t& o = out[2 * f + side];
            o = static_cast<std::int16_t>(std::clamp<std::int32_t>(o + sample, -32768, 32767));
        }
        position_ += step_;
    }
}

}  // namespace qtam
