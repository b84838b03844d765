#include "engine/audio/precision_timer.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>

namespace qtam {

namespace {

using SteadyTime = std::chrono::steady_clock::time_point;

// The steady-clock instant of a Clock() reading.
SteadyTime TimePointOf(std::int64_t ms) {
    return SteadyTime(std::chrono::milliseconds(ms));
}

}  // namespace

struct PrecisionTimer::Shared {
    std::mutex mutex;
    std::condition_variable cv;
    // Read by the worker's wait predicates, changed under the lock.
    std::atomic<bool> enabled{false};
    std::atomic<bool> terminate{false};
    std::uint64_t ticksPosted = 0;
    std::uint64_t ticksRun = 0;
    PrecisionTimer* timer = nullptr;  // owner's thread only; null once the timer is gone
};

PrecisionTimer::PrecisionTimer(EventQueue& events)
    : events_(events), shared_(std::make_shared<Shared>()) {
    shared_->timer = this;
}

PrecisionTimer::~PrecisionTimer() {
    SetEnabled(false);
    {
        std::lock_guard lock(shared_->mutex);
        shared_->terminate = true;
        shared_->timer = nullptr;
    }
    shared_->cv.notify_all();
    if (worker_.joinable()) worker_.join();
}

std::int64_t PrecisionTimer::Clock() {
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}

void PrecisionTimer::SetEnabled(bool value) {
    if (value == enabled_) return;
    if (value && Interval() == 0) return;
    enabled_ = value;
    if (value) {
        nextTick_ = Clock() + Interval();
        if (!worker_.joinable()) worker_ = std::thread([this] { Run(); });
    }
    {
        std::lock_guard lock(shared_->mutex);
        shared_->enabled = value;
    }
    shared_->cv.notify_all();
}

void PrecisionTimer::SetInterval(std::uint16_t value) {
    if (value == Interval()) return;
    if (value == 0) SetEnabled(false);
    interval_ = value;
}

void PrecisionTimer::Run() {
    // A tick a little ahead of other work when allowed (raising it usually needs privileges,
    // and then it silently stays as it is).
    setpriority(PRIO_PROCESS, static_cast<id_t>(syscall(SYS_gettid)), -5);
    Shared& s = *shared_;
    std::unique_lock lock(s.mutex);
    for (;;) {
        s.cv.wait(lock, [&] { return s.terminate || s.enabled; });
        if (s.terminate) return;
        // Sleep to the tick's absolute deadline on the steady clock: no core spins, and a
        // disable or the end of the timer wakes the worker at once. Re-enabling while it
        // sleeps moves the deadline, so it waits again for the new one.
        bool interrupted = false;
        for (;;) {
            const std::int64_t due = nextTick_.load();
            const bool woken = s.cv.wait_until(lock, TimePointOf(due), [&] {
                return s.terminate || !s.enabled || nextTick_.load() != due;
            });
            if (!woken) break;
            if (s.terminate || !s.enabled) {
                interrupted = true;
                break;
            }
        }
        if (interrupted) continue;
        nextTick_ = Clock() + Interval();

        const std::uint64_t ticket = ++s.ticksPosted;
        events_.Post([shared = shared_, ticket] { RunTick(shared, ticket); });
        s.cv.wait(lock, [&] { return s.terminate || s.ticksRun >= ticket; });
    }
}

void PrecisionTimer::RunTick(const std::shared_ptr<Shared>& shared, std::uint64_t ticket) {
    // Held by the lambda, so it outlives a timer that a handler destroys.
    std::shared_ptr<Shared> keep = shared;
    PrecisionTimer* t = keep->timer;
    // The handler may destroy the timer: nothing of it is used after the call.
    if (t != nullptr && t->enabled_ && t->OnTimer) t->OnTimer(*t);
    {
        std::lock_guard lock(keep->mutex);
        keep->ticksRun = ticket;
    }
    keep->cv.notify_all();
}

}  // namespace qtam
