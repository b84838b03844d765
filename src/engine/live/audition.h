#pragma once
// A sound heard before it is chosen (the instrument list, the userbank editor): one voice of
// its own beside the channels', in the middle, at its own pitch, never written into the Song
// and never part of a live take. A new audition replaces the one sounding.
//
// Thread: the host's real-time thread, every member; never allocates, locks or does I/O.

#include <cstdint>

#include "core/sample_bank.h"

namespace qtam {

struct AuditionRequest {
    std::int16_t instrument = 0;  // 1..20 the kit, 101..120 the userbank
    std::uint8_t velocity = 127;
};

class AuditionVoice {
public:
    static constexpr int kMaxSeconds = 4;  // a long sound is cut short

    void Play(const AuditionRequest& request, int rate);
    // Adds the voice to an interleaved 16-bit pair; the sound is looked up in `sounds` on
    // every call, so that one replaced meanwhile is read as it is now.
    void AddTo(const SoundTable& sounds, std::int16_t* out, int frames);
    bool Sounding() const { return instrument_ != 0; }
    void Silence() { instrument_ = 0; }

private:
    int instrument_ = 0;
    int velocity_ = 0;
    double position_ = 0;  // in the sound's samples
    double step_ = 1;      // samples a frame: 44100 / rate
    std::int64_t framesLeft_ = 0;
};

}  // namespace qtam
