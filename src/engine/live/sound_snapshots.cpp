#include "engine/live/sound_snapshots.h"

#include <algorithm>

namespace qtam {

namespace {

const SampleSlot& BankSlot(const Banks& banks, int i) {
    return i < kBankSlots ? banks.internalBank.slot(i + 1)
                          : banks.userbank.slot(i - kBankSlots + 1);
}

int InstrumentOf(int i) {
    return i < kBankSlots ? i + 1 : 100 + i - kBankSlots + 1;
}

bool SameSound(const SampleSlot& a, const SampleSlot& b) {
    return a.samples == b.samples && a.sampleCount == b.sampleCount &&
           a.stretchMeasures == b.stretchMeasures && a.hihat1 == b.hihat1 && a.hihat2 == b.hihat2;
}

}  // namespace

bool SameSounds(const SoundSnapshot& snapshot, const Banks& banks) {
    for (int i = 0; i < 2 * kBankSlots; ++i)
        if (!SameSound(snapshot.slots[static_cast<std::size_t>(i)], BankSlot(banks, i)))
            return false;
    return true;
}

SoundSnapshots::~SoundSnapshots() {
    // The engine has stopped by now: its owner ends it before its sounds.
    newest_.store(nullptr);
}

bool SoundSnapshots::Update(const Banks& banks) {
    if (!kept_.empty() && SameSounds(*kept_.back(), banks)) {
        Collect();
        return false;
    }
    auto next = std::make_unique<SoundSnapshot>();
    for (int i = 0; i < 2 * kBankSlots; ++i) {
        SampleSlot& slot = next->slots[static_cast<std::size_t>(i)];
        const SampleSlot& from = BankSlot(banks, i);
        slot.samples = from.samples;  // shared: the banks copy before they write it again
        slot.sampleCount = from.sampleCount;
        slot.stretchMeasures = from.stretchMeasures;
        slot.hihat1 = from.hihat1;
        slot.hihat2 = from.hihat2;
        next->byInstrument[static_cast<std::size_t>(InstrumentOf(i))] = &slot;
    }
    newest_.store(next.get());
    kept_.push_back(std::move(next));
    Collect();
    return true;
}

void SoundSnapshots::Collect() {
    const SoundSnapshot* newest = newest_.load();
    const SoundSnapshot* inUse = inUse_.load();
    std::erase_if(kept_, [&](const std::unique_ptr<SoundSnapshot>& s) {
        return s.get() != newest && s.get() != inUse;
    });
}

const SoundSnapshot* SoundSnapshots::Acquire() noexcept {
    const SoundSnapshot* s = newest_.load();
    for (;;) {
        inUse_.store(s);
        const SoundSnapshot* again = newest_.load();
        if (again == s) return s;
        s = again;
    }
}

}  // namespace qtam
