#pragma once
// The sounds a live engine plays, handed over from the owner's banks as immutable snapshots.
// A loaded bank, an import into a slot or an emptied slot makes the owner publish a new
// snapshot; the engine takes the newest at the start of each block and plays it to the
// block's end. A snapshot shares the slots' sample buffers, which the banks never write
// again once shared (SampleBank::ensureBuffer copies first), and the owner frees an old one
// only once the engine has moved past it.
//
// The hand-over: the owner stores the newest snapshot and then reads which one the engine
// holds; the engine announces the one it takes and then checks it is still the newest. With
// both sides sequentially consistent, either the owner sees the announcement or the engine
// sees the newer snapshot and takes that one instead, so no snapshot in use is ever freed.

#include <array>
#include <atomic>
#include <memory>
#include <vector>

#include "core/sample_bank.h"

namespace qtam {

struct SoundSnapshot {
    std::array<SampleSlot, 2 * kBankSlots> slots;  // the kit's 20, then the userbank's
    SoundTable byInstrument{};                     // into `slots`, as Banks::byInstrument
};

// Whether `snapshot` holds exactly the sounds (buffers, lengths, stretch and hi-hat partners)
// the banks hold now. Thread: owner.
bool SameSounds(const SoundSnapshot& snapshot, const Banks& banks);

class SoundSnapshots {
public:
    SoundSnapshots() = default;
    ~SoundSnapshots();
    SoundSnapshots(const SoundSnapshots&) = delete;
    SoundSnapshots& operator=(const SoundSnapshots&) = delete;

    // Publishes a snapshot of `banks` unless the newest one matches them, then frees the old
    // snapshots the engine has moved past. True when a new one was published. Thread: owner.
    bool Update(const Banks& banks);
    // Frees the old snapshots the engine has moved past. Thread: owner.
    void Collect();
    // Snapshots kept (the newest, the one in use, and those not yet freed). Thread: owner.
    std::size_t Kept() const { return kept_.size(); }

    // The newest snapshot, held until the next Acquire or Release; null before the first
    // Update. Thread: the engine's (one real-time thread at a time); never allocates or locks.
    const SoundSnapshot* Acquire() noexcept;
    // The engine holds none (it stopped processing for good). Thread: the engine's.
    void Release() noexcept { inUse_.store(nullptr); }

private:
    std::vector<std::unique_ptr<SoundSnapshot>> kept_;  // the owner's; the newest last
    std::atomic<const SoundSnapshot*> newest_{nullptr};
    std::atomic<const SoundSnapshot*> inUse_{nullptr};
};

}  // namespace qtam
