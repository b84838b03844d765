#include "engine/audio/event_queue.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace qtam {

EventQueue::EventQueue() {
    fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) throw std::runtime_error("eventfd failed");
}

EventQueue::~EventQueue() {
    if (fd_ >= 0) close(fd_);
}

void EventQueue::Post(Handler handler) {
    {
        std::lock_guard lock(mutex_);
        posted_.push_back(std::move(handler));
    }
    Wake();
}

void EventQueue::Wake() noexcept {
    const std::uint64_t one = 1;
    // Only fails when the counter would overflow, and then it is readable anyway.
    [[maybe_unused]] ssize_t n = write(fd_, &one, sizeof one);
}

void EventQueue::ClearWakeup() {
    std::uint64_t count;
    [[maybe_unused]] ssize_t n = read(fd_, &count, sizeof count);
}

EventQueue::SourceId EventQueue::AddSource(std::function<int()> drain) {
    auto s = std::make_shared<Source>();
    s->id = nextId_++;
    s->drain = std::move(drain);
    sources_.push_back(s);
    return s->id;
}

void EventQueue::RemoveSource(SourceId id) {
    for (auto it = sources_.begin(); it != sources_.end(); ++it) {
        if ((*it)->id == id) {
            (*it)->removed = true;  // a ProcessEvents in progress may still hold it
            sources_.erase(it);
            return;
        }
    }
}

int EventQueue::ProcessEvents() {
    // Cleared before draining: whatever arrives from now on leaves the descriptor readable.
    ClearWakeup();
    int delivered = 0;

    // Only what was there at the start, so a handler that posts again cannot spin us forever.
    std::size_t budget;
    {
        std::lock_guard lock(mutex_);
        budget = posted_.size();
    }
    while (budget-- > 0) {
        Handler h;
        {
            std::lock_guard lock(mutex_);
            if (posted_.empty()) break;
            h = std::move(posted_.front());
            posted_.pop_front();
        }
        h();
        ++delivered;
    }

    const auto snapshot = sources_;
    for (const auto& s : snapshot) {
        if (!s->removed) delivered += s->drain();
    }
    return delivered;
}

bool EventQueue::WaitForEvents(std::chrono::milliseconds timeout) {
    pollfd p{fd_, POLLIN, 0};
    const auto ms = timeout.count() < 0 ? -1 : static_cast<int>(timeout.count());
    return poll(&p, 1, ms) > 0;
}

int EventQueue::WaitAndProcess(std::chrono::milliseconds timeout) {
    WaitForEvents(timeout);
    return ProcessEvents();
}

}  // namespace qtam
