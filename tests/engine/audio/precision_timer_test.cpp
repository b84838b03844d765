#include "engine/audio/precision_timer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "audio_test_support.h"

namespace qtam {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(PrecisionTimer, TicksArriveAnIntervalApartOnTheOwnersThread) {
    EventQueue events;
    PrecisionTimer timer(events);
    timer.SetInterval(55);
    std::vector<Clock::time_point> arrived;
    const auto owner = std::this_thread::get_id();
    bool onOwner = true;
    timer.OnTimer = [&](PrecisionTimer&) {
        arrived.push_back(Clock::now());
        onOwner = onOwner && std::this_thread::get_id() == owner;
    };
    const auto enabledAt = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return arrived.size() == 9; }, 5s));
    timer.SetEnabled(false);
    EXPECT_TRUE(onOwner);

    // The worker posts each tick no earlier than an interval (whole milliseconds) after the
    // one before; a loaded machine may delay some ticks, not most.
    EXPECT_GE(arrived[0] - enabledAt, 54ms);
    std::vector<Clock::duration> gaps;
    for (std::size_t i = 1; i < arrived.size(); ++i) gaps.push_back(arrived[i] - arrived[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    EXPECT_GE(gaps[gaps.size() / 2], 50ms);
    EXPECT_LE(gaps[gaps.size() / 2], 70ms);
    EXPECT_GE(arrived.back() - arrived.front(), 8 * 55ms - 10ms);
}

TEST(PrecisionTimer, IntervalZeroDisablesIt) {
    EventQueue events;
    PrecisionTimer timer(events);
    timer.SetInterval(30);
    int ticks = 0;
    timer.OnTimer = [&](PrecisionTimer&) { ++ticks; };
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return ticks > 0; }, 5s));
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Enabled());
    const int seen = ticks;
    test::PumpFor(events, 100ms);
    EXPECT_EQ(ticks, seen);
    timer.SetEnabled(true);  // nothing to count with
    EXPECT_FALSE(timer.Enabled());
}

TEST(PrecisionTimer, AHandlerMayDisableAndDestroyItsTimer) {
    EventQueue events;
    auto timer = std::make_unique<PrecisionTimer>(events);
    timer->SetInterval(10);
    int ticks = 0;
    timer->OnTimer = [&](PrecisionTimer& t) {
        ++ticks;
        t.SetEnabled(false);
        timer.reset();
    };
    timer->SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return timer == nullptr; }, 5s));
    test::PumpFor(events, 50ms);
    EXPECT_EQ(ticks, 1);
}

TEST(PrecisionTimer, DestroyingItWhileATickWaitsEndsTheThread) {
    EventQueue events;
    int ticks = 0;
    {
        PrecisionTimer timer(events);
        timer.SetInterval(5);
        timer.OnTimer = [&](PrecisionTimer&) { ++ticks; };
        timer.SetEnabled(true);
        ASSERT_TRUE(events.WaitForEvents(5s));  // a tick is posted and its worker waits
    }
    events.ProcessEvents();  // the stale tick finds no timer
    EXPECT_EQ(ticks, 0);
}

TEST(PrecisionTimer, ADisabledTimerResumesWithAFreshInterval) {
    EventQueue events;
    PrecisionTimer timer(events);
    timer.SetInterval(60);
    std::vector<Clock::time_point> arrived;
    timer.OnTimer = [&](PrecisionTimer&) { arrived.push_back(Clock::now()); };
    timer.SetEnabled(true);
    std::this_thread::sleep_for(20ms);
    timer.SetEnabled(false);  // during the sleep
    test::PumpFor(events, 120ms);
    EXPECT_TRUE(arrived.empty());
    const auto enabledAt = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return !arrived.empty(); }, 5s));
    EXPECT_GE(arrived[0] - enabledAt, 59ms);
}

// Re-enabled before the sleeping worker has noticed the pause: it waits for the new deadline,
// not the one it went to sleep for.
TEST(PrecisionTimer, ReEnablingDuringTheSleepMovesTheDeadline) {
    EventQueue events;
    PrecisionTimer timer(events);
    timer.SetInterval(100);
    std::vector<Clock::time_point> arrived;
    timer.OnTimer = [&](PrecisionTimer&) { arrived.push_back(Clock::now()); };
    timer.SetEnabled(true);
    std::this_thread::sleep_for(40ms);
    timer.SetEnabled(false);
    const auto enabledAt = Clock::now();
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return !arrived.empty(); }, 5s));
    timer.SetEnabled(false);
    EXPECT_GE(arrived[0] - enabledAt, 99ms);  // not the 60 ms left of the first deadline
}

}  // namespace
}  // namespace qtam
