#include "banks/sample_bank.h"

namespace qtam {

std::int16_t* SampleBank::ensureBuffer(int n) {
    SampleSlot& s = slot(n);
    if (!s.samples) s.samples.reset(new std::int16_t[static_cast<std::size_t>(capacity)]());
    return s.samples.get();
}

void SampleBank::freeBuffer(int n) {
    SampleSlot& s = slot(n);
    s.samples.reset();
    s.sampleCount = 0;
}

void SampleBank::emptySlot(int n) {
    freeBuffer(n);
    SampleSlot& s = slot(n);
    s.stretchMeasures = 0;
    s.hihat1 = 0;
    s.hihat2 = 0;
    s.name = kEmptySlotName;
}

const SampleSlot* SlotOf(const Banks& banks, int instrument) {
    if (instrument >= 1 && instrument <= kBankSlots) return &banks.internalBank.slot(instrument);
    if (instrument >= 101 && instrument <= 100 + kBankSlots)
        return &banks.userbank.slot(instrument - 100);
    return nullptr;
}

SampleSlot* SlotOf(Banks& banks, int instrument) {
    return const_cast<SampleSlot*>(SlotOf(static_cast<const Banks&>(banks), instrument));
}

}  // namespace qtam
