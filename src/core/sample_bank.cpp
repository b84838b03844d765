#include "core/sample_bank.h"

namespace qtam {

std::int16_t* SampleBank::ensureBuffer(int n) {
    SampleSlot& s = slot(n);
    if (!s.samples) s.samples.reset(new std::int16_t[static_cast<std::size_t>(capacity)]());
    return s.samples.get();
}

void SampleBank::freeBuffer(int n) {
    // The memory stays with the slot: a sound playing on JACK's process thread may be reading
    // it right now, and a slot's buffer, once made, is only ever written over.
    slot(n).sampleCount = 0;
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
