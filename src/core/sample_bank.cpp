#include "core/sample_bank.h"

#include <algorithm>

namespace qtam {

std::int16_t* SampleBank::ensureBuffer(int n) {
    SampleSlot& s = slot(n);
    const auto size = static_cast<std::size_t>(capacity);
    // Left uncleared: every reader stops at the slot's sampleCount, and the memory a sound
    // does not fill is never touched.
    if (!s.samples) {
        s.samples.reset(new std::int16_t[size]);
    } else if (s.samples.use_count() > 1) {
        // Shared with a snapshot only the owner's thread counts: copied, never written.
        std::shared_ptr<std::int16_t[]> own(new std::int16_t[size]);
        const auto sound = static_cast<std::size_t>(std::clamp(s.sampleCount, 0, capacity));
        std::copy_n(s.samples.get(), sound, own.get());
        s.samples = std::move(own);
    }
    return s.samples.get();
}

void SampleBank::freeBuffer(int n) {
    SampleSlot& s = slot(n);
    s.sampleCount = 0;
    s.samples.reset();  // a snapshot that shares it keeps it while it plays
}

void SampleBank::emptySlot(int n) {
    freeBuffer(n);
    SampleSlot& s = slot(n);
    s.stretchMeasures = 0;
    s.hihat1 = 0;
    s.hihat2 = 0;
    s.name = kEmptySlotName;
}

}  // namespace qtam
