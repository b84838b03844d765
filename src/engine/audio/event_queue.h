#pragma once
// Hands work from other threads to the owner's thread. The owner drains the queue from its
// own loop (ProcessEvents, or WaitAndProcess with a timeout); nothing ever runs elsewhere.
//
// Two ways in:
//  - Post: a function to run on the owner's thread. Takes a lock and allocates, so it is for
//    ordinary threads (the timer's worker), never for the audio callback.
//  - Sources: a component registers a drain function that the owner's loop calls; its
//    producer thread fills a lock-free structure and calls Wake, which neither allocates
//    nor locks and so is safe on the audio thread.
//
// NotifyFd becomes readable whenever something is pending, so a GUI can watch it with a
// socket notifier and call ProcessEvents when it fires.
//
// Thread rules, on each entry point: "owner" is the thread that created the queue and drains
// it; "any" is any thread; "audio callback" is SDL's audio thread.

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace qtam {

class EventQueue {
public:
    using Handler = std::function<void()>;
    using SourceId = std::uint64_t;

    // Thread: owner.
    EventQueue();
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    // Thread: any but the audio callback (locks and allocates).
    void Post(Handler handler);
    // Lock-free and allocation-free. Thread: any, the audio callback included.
    void Wake() noexcept;

    // The drain function returns how many events it delivered. Thread: owner.
    SourceId AddSource(std::function<int()> drain);
    void RemoveSource(SourceId id);

    // Runs whatever is pending; returns the number of events delivered. Handlers may post,
    // add or remove sources, and call ProcessEvents again. Thread: owner (also the three
    // below).
    int ProcessEvents();
    // Waits until something is pending or the timeout passes. False on timeout or when a
    // signal interrupted the wait (so a terminal loop can look at its Ctrl-C flag).
    bool WaitForEvents(std::chrono::milliseconds timeout);
    int WaitAndProcess(std::chrono::milliseconds timeout);

    // Thread: any.
    int NotifyFd() const { return fd_; }

private:
    struct Source {
        SourceId id;
        std::function<int()> drain;
        bool removed = false;
    };

    void ClearWakeup();

    int fd_ = -1;
    std::mutex mutex_;
    std::deque<Handler> posted_;
    std::vector<std::shared_ptr<Source>> sources_;
    SourceId nextId_ = 1;
};

}  // namespace qtam
