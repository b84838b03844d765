#pragma once
// The newest of a stream of values handed from one thread to another without waiting: the
// writer fills a slot of its own and publishes it; the reader takes the newest published slot
// when there is one. Three preallocated slots, so neither side ever allocates, locks or
// waits, and the reader may be a real-time audio callback.

#include <atomic>
#include <memory>

namespace qtam {

template <class T>
class TripleBuffer {
public:
    TripleBuffer() : slots_(new T[3]) {}

    // Writer side: the slot to fill, then Publish.
    T& Back() noexcept { return slots_[back_]; }
    void Publish() noexcept {
        back_ = middle_.exchange(back_ | kFresh, std::memory_order_acq_rel) & kIndex;
    }

    // Reader side: true (and Front() is the newest value) when something new was published.
    bool Fetch() noexcept {
        if ((middle_.load(std::memory_order_acquire) & kFresh) == 0) return false;
        front_ = middle_.exchange(front_, std::memory_order_acq_rel) & kIndex;
        return true;
    }
    const T& Front() const noexcept { return slots_[front_]; }

private:
    static constexpr int kFresh = 4;
    static constexpr int kIndex = 3;
    std::unique_ptr<T[]> slots_;
    int back_ = 0;                // the writer's
    std::atomic<int> middle_{1};  // shared: index and the fresh mark
    int front_ = 2;               // the reader's
};

}  // namespace qtam
