#pragma once
// The two banks of twenty mono 16-bit sounds that channels name by instrument number.

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace qtam {

constexpr int kBankSlots = 20;
constexpr std::int32_t kInternalSlotCapacity = 40000;  // samples (80000 bytes)
constexpr std::int32_t kUserSlotCapacity = 179200;     // samples (358400 bytes, the "350Kb")
constexpr std::size_t kTransferBufferBytes = 358400;

struct SampleSlot {
    // Allocated at the bank's capacity, or null. A live engine's sound snapshot may share the
    // buffer: one that is shared is never written again (ensureBuffer copies it first).
    std::shared_ptr<std::int16_t[]> samples;
    std::string name;              // at most 20 single-byte characters
    std::int32_t sampleCount = 0;  // 0 or less when empty
    std::uint8_t stretchMeasures = 0;
    std::uint8_t hihat1 = 0;
    std::uint8_t hihat2 = 0;

    bool hasSound() const { return samples != nullptr && sampleCount > 0; }
};

struct SampleBank {
    explicit SampleBank(std::int32_t slotCapacity) : capacity(slotCapacity) {}

    const std::int32_t capacity;  // samples per slot buffer
    std::string description;      // at most 30 single-byte characters
    std::array<SampleSlot, kBankSlots> slots;

    // 1-based.
    SampleSlot& slot(int n) { return slots[n - 1]; }
    const SampleSlot& slot(int n) const { return slots[n - 1]; }

    // The slot's buffer, at full capacity, to write: made the first time; a buffer a sound
    // snapshot shares is copied first, so that what a live engine plays never changes.
    std::int16_t* ensureBuffer(int n);
    // Leaves the slot with no sound (name and attributes untouched).
    void freeBuffer(int n);
    // The state of a cleared userbank slot: no sound, attributes 0, name "<empty>".
    void emptySlot(int n);
};

// Staging area for every import and bank load.
struct TransferBuffer {
    TransferBuffer() : bytes(new std::uint8_t[kTransferBufferBytes]) {}
    std::unique_ptr<std::uint8_t[]> bytes;
};

// The sound of every instrument number, null where a number names none: the mixers look a
// channel's sound up on every frame.
using SoundTable = std::array<const SampleSlot*, 256>;

struct Banks {
    Banks() {
        for (int n = 1; n <= kBankSlots; ++n) {
            byInstrument[n] = &internalBank.slot(n);
            byInstrument[100 + n] = &userbank.slot(n);
        }
    }
    Banks(const Banks&) = delete;
    Banks& operator=(const Banks&) = delete;

    SampleBank internalBank{kInternalSlotCapacity};
    SampleBank userbank{kUserSlotCapacity};
    TransferBuffer transfer;
    // The slot of every instrument number: the sounds the windows' thread mixes.
    SoundTable byInstrument{};
};

inline constexpr const char* kEmptySlotName = "<empty>";

// The slot an instrument number names; null for numbers outside 1..20 and 101..120.
inline const SampleSlot* SlotOf(const SoundTable& sounds, int instrument) {
    return static_cast<unsigned>(instrument) < sounds.size() ? sounds[instrument] : nullptr;
}
inline const SampleSlot* SlotOf(const Banks& banks, int instrument) {
    return SlotOf(banks.byInstrument, instrument);
}
inline SampleSlot* SlotOf(Banks& banks, int instrument) {
    return const_cast<SampleSlot*>(SlotOf(static_cast<const Banks&>(banks), instrument));
}

// Hi-hat partner codes of a slot as instrument numbers; 0 or 100 match nothing.
inline int PartnerCode(int instrument, std::uint8_t partner) {
    return instrument >= 100 ? partner + 100 : partner;
}

}  // namespace qtam
