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

    EventQueue();
    ~EventQueue();
    EventQueue(const EventQueue&) = delete;
    EventQueue& operator=(const EventQueue&) = delete;

    void Post(Handler handler);
    // Lock-free and allocation-free.
    void Wake() noexcept;

    // Owner's thread only. The drain function returns how many events it delivered.
    SourceId AddSource(std::function<int()> drain);
    void RemoveSource(SourceId id);

    // Runs whatever is pending; returns the number of events delivered. Handlers may post,
    // add or remove sources, and call ProcessEvents again.
    int ProcessEvents();
    // Waits until something is pending or the timeout passes. False on timeout or when a
    // signal interrupted the wait (so a terminal loop can look at its Ctrl-C flag).
    bool WaitForEvents(std::chrono::milliseconds timeout);
    int WaitAndProcess(std::chrono::milliseconds timeout);

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
