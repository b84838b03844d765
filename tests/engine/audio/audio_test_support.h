#pragma once
// Helpers for the tests of the real-time path. They run on SDL's "disk" driver (which writes
// what it plays into a file) or its "dummy" driver, and never rely on real-time pacing.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#include "engine/audio/event_queue.h"

namespace qtam::test {

// SDL picks the driver when its audio starts, which every Open does anew once no other
// device is open, so a test chooses its driver before opening.
inline void UseDiskDriver(const std::string& file, int msPerDeviceBuffer = 1) {
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", file.c_str(), 1);
    // Much faster than real time, yet slow enough that silence between blocks stays small.
    setenv("SDL_DISKAUDIODELAY", std::to_string(msPerDeviceBuffer).c_str(), 1);
}

inline void UseDummyDriver() {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
}

// Drains the queue until `done` holds; false after the time limit.
inline bool PumpUntil(EventQueue& events, const std::function<bool()>& done,
                      std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        events.WaitAndProcess(std::chrono::milliseconds(20));
    }
    return true;
}

// Drains whatever arrives during `span`; returns the number of events delivered.
inline int PumpFor(EventQueue& events, std::chrono::milliseconds span) {
    const auto end = std::chrono::steady_clock::now() + span;
    int n = 0;
    while (std::chrono::steady_clock::now() < end)
        n += events.WaitAndProcess(std::chrono::milliseconds(10));
    return n;
}

// Where a block landed in the disk driver's file.
struct PlayedBlock {
    std::uint64_t serial;
    std::int64_t startedAt;  // device position, relative to the first byte our callback gave
    std::vector<std::uint8_t> data;
    bool cut = false;  // begun but stopped part of the way: the file holds a leading part
};

// The disk driver's file must hold each block at the device position it started at, and
// silence everywhere else: the silence SDL wrote before the device was started, gaps where
// the queue ran dry, and the padding of the last device buffer. `devicePosition` is the
// component's DevicePosition after Close.
inline void ExpectFileHoldsBlocks(const std::vector<std::uint8_t>& file,
                                  std::uint64_t devicePosition,
                                  const std::vector<PlayedBlock>& blocks,
                                  std::uint8_t silence = 0) {
    ASSERT_GE(file.size(), devicePosition);
    const std::size_t lead = file.size() - devicePosition;
    std::vector<bool> covered(file.size(), false);
    std::int64_t previousEnd = 0;
    for (const PlayedBlock& b : blocks) {
        ASSERT_GE(b.startedAt, previousEnd) << "block " << b.serial << " overlaps the one before";
        const std::size_t at = lead + static_cast<std::size_t>(b.startedAt);
        if (!b.cut) {
            ASSERT_LE(at + b.data.size(), file.size()) << "block " << b.serial;
        }
        for (std::size_t i = 0; i < b.data.size(); ++i) {
            if (b.cut && (at + i >= file.size() || file[at + i] != b.data[i])) break;
            if (file[at + i] != b.data[i]) {
                ADD_FAILURE() << "block " << b.serial << " differs at byte " << i;
                return;
            }
            covered[at + i] = true;
        }
        previousEnd = b.startedAt + static_cast<std::int64_t>(b.data.size());
    }
    for (std::size_t i = 0; i < file.size(); ++i) {
        if (!covered[i] && file[i] != silence) {
            ADD_FAILURE() << "unexpected sound at file byte " << i;
            return;
        }
    }
}

}  // namespace qtam::test
