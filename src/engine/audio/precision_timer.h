#pragma once
// PrecisionTimer: a millisecond timer whose worker thread sleeps to each tick's absolute deadline
// on the steady clock (no polling, so no core spins) and then has the tick run on the owner's
// thread (through the owner's EventQueue), waiting until it has run. A tick handler may disable the
// timer and even destroy it.
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

enum class TimerThreadPriority {
    tpIdle,
    tpLowest,
    tpLower,
    tpNormal,
    tpHigher,
    tpHighest,
    tpTimeCritical
};

class PrecisionTimer {
public:
    using NotifyEvent = std::function<void(PrecisionTimer& sender)>;

    // `events` must outlive the timer. Thread: owner.
    explicit PrecisionTimer(EventQueue& events);
    virtual ~PrecisionTimer();
    PrecisionTimer(const PrecisionTimer&) = delete;
    PrecisionTimer& operator=(const PrecisionTimer&) = delete;

    // Thread: owner.
    bool Enabled() const { return enabled_; }
    // Enabling restarts the count from the current Elapsed; an Interval of 0 keeps it off.
    // Thread: owner.
    void SetEnabled(bool value);
    // Thread: owner.
    std::uint16_t Interval() const { return interval_.load(); }
    // 0 disables the timer. Thread: owner.
    void SetInterval(std::uint16_t value);
    // Thread: owner.
    TimerThreadPriority ThreadPriority() const { return priority_.load(); }
    // Best effort: raising the priority usually needs privileges and then silently fails.
    // Thread: owner.
    void SetThreadPriority(TimerThreadPriority value);
    // Thread: owner.
    bool CountDown() const { return countDown_.load(); }
    // Thread: owner.
    void SetCountDown(bool value);

    // Milliseconds counted so far; when counting down, the time left. Thread: owner.
    std::int32_t Elapsed() const { return elapsed_.load(); }
    // Thread: owner.
    void SetElapsed(std::int32_t value) { elapsed_.store(value); }
    // Elapsed div Interval (0 while the Interval is 0). Thread: owner.
    std::int32_t Ticks() const;
    // Tick count at which the timer stops itself; -1: never (when counting up).
    std::int32_t StopAt = -1;

    NotifyEvent OnTimer;
    NotifyEvent OnStop;

    // Whether the worker thread was ever started (it starts at the first enabling). Thread: owner.
    bool ThreadStarted() const { return worker_.joinable(); }

protected:
    // Runs on the owner's thread at every tick.
    virtual void DoTimer();

private:
    struct Shared;

    static std::int64_t Clock();
    void Run();
    void ApplyPriority();
    static void RunTick(const std::shared_ptr<Shared>& shared, std::uint64_t ticket);

    EventQueue& events_;
    std::shared_ptr<Shared> shared_;
    std::thread worker_;
    std::atomic<int> workerTid_{0};

    bool enabled_ = false;
    std::atomic<TimerThreadPriority> priority_{TimerThreadPriority::tpHigher};
    std::atomic<std::uint16_t> interval_{1000};
    std::atomic<bool> countDown_{false};
    std::atomic<std::int32_t> elapsed_{0};
    std::atomic<std::int64_t> nextTick_{0};
    std::atomic<std::int32_t> startValue_{0};
    std::atomic<std::int64_t> startTime_{0};

    bool* destroyed_ = nullptr;  // set while a handler runs, to notice being destroyed by it
};

}  // namespace qtam
