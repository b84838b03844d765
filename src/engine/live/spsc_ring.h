#pragma once
// A fixed-size single-producer single-consumer ring of trivially copyable items. Push and
// Pop never allocate, lock or wait, so one side may be a real-time audio callback.

#include <algorithm>
#include <array>
#include <atomic>
#include <cstddef>
#include <memory>

namespace qtam {

template <class T, std::size_t Capacity>
class SpscRing {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "power of two");

public:
    // Producer side. False when full.
    bool Push(const T& item) noexcept {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (tail - head_.load(std::memory_order_acquire) == Capacity) return false;
        items_[tail & (Capacity - 1)] = item;
        tail_.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer side. False when empty.
    bool Pop(T& item) noexcept {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        if (head == tail_.load(std::memory_order_acquire)) return false;
        item = items_[head & (Capacity - 1)];
        head_.store(head + 1, std::memory_order_release);
        return true;
    }

    // Only while neither side runs.
    void Clear() noexcept {
        head_.store(0, std::memory_order_relaxed);
        tail_.store(0, std::memory_order_relaxed);
    }

    static constexpr std::size_t capacity() { return Capacity; }

private:
    std::array<T, Capacity> items_{};
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace qtam

namespace qtam {

// A fixed-size single-producer single-consumer ring of samples, written in whole runs and read
// in any lengths. Neither side ever allocates, locks or waits.
template <class T, std::size_t Capacity>
class RunRing {
    static_assert(Capacity > 0 && (Capacity & (Capacity - 1)) == 0, "power of two");

public:
    RunRing() : items_(new T[Capacity]) {}

    // Producer side: all `n` items, or none when they do not fit (false).
    bool Write(const T* items, std::size_t n) noexcept {
        const std::size_t tail = tail_.load(std::memory_order_relaxed);
        if (Capacity - (tail - head_.load(std::memory_order_acquire)) < n) return false;
        for (std::size_t i = 0; i < n; ++i) items_[(tail + i) & (Capacity - 1)] = items[i];
        tail_.store(tail + n, std::memory_order_release);
        return true;
    }

    // Consumer side: up to `n` items; how many were read.
    std::size_t Read(T* items, std::size_t n) noexcept {
        const std::size_t head = head_.load(std::memory_order_relaxed);
        const std::size_t count = std::min(n, tail_.load(std::memory_order_acquire) - head);
        for (std::size_t i = 0; i < count; ++i) items[i] = items_[(head + i) & (Capacity - 1)];
        head_.store(head + count, std::memory_order_release);
        return count;
    }

private:
    std::unique_ptr<T[]> items_;
    alignas(64) std::atomic<std::size_t> head_{0};
    alignas(64) std::atomic<std::size_t> tail_{0};
};

}  // namespace qtam
