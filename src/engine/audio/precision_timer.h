#pragma once
// PrecisionTimer: a millisecond timer whose worker thread sleeps to each tick's absolute deadline
// on the steady clock (no polling, so no core spins) and then has the tick run on the owner's
// thread (through the owner's EventQueue), waiting until it has run. A tick handler may disable the
// timer and even destroy it. The worker starts at the first enabling.
//
// Thread rules are on each public member ("owner": the thread that drains `events`); the
// worker thread is private to the timer and touches only its atomics and the queue's Post.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "engine/audio/event_queue.h"

namespace qtam {

class PrecisionTimer {
public:
    using NotifyEvent = std::function<void(PrecisionTimer& sender)>;

    // `events` must outlive the timer. Thread: owner.
    explicit PrecisionTimer(EventQueue& events);
    ~PrecisionTimer();
    PrecisionTimer(const PrecisionTimer&) = delete;
    PrecisionTimer& operator=(const PrecisionTimer&) = delete;

    // Thread: owner.
    bool Enabled() const { return enabled_; }
    // Enabling counts a fresh Interval from now; an Interval of 0 keeps it off.
    // Thread: owner.
    void SetEnabled(bool value);
    // Thread: owner.
    std::uint16_t Interval() const { return interval_.load(); }
    // 0 disables the timer. Thread: owner.
    void SetInterval(std::uint16_t value);

    // Runs on the owner's thread at every tick.
    NotifyEvent OnTimer;

private:
    struct Shared;

    static std::int64_t Clock();
    void Run();
    static void RunTick(const std::shared_ptr<Shared>& shared, std::uint64_t ticket);

    EventQueue& events_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;

    bool enabled_ = false;
    std::atomic<std::uint16_t> interval_{1000};
    std::atomic<std::int64_t> nextTick_{0};
};

}  // namespace qtam
