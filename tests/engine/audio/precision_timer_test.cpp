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
    std::vector<std::int32_t> elapsed;
    std::vector<Clock::time_point> arrived;
    const auto owner = std::this_thread::get_id();
    bool onOwner = true;
    timer.OnTimer = [&](PrecisionTimer& t) {
        elapsed.push_back(t.Elapsed());
        arrived.push_back(Clock::now());
        onOwner = onOwner && std::this_thread::get_id() == owner;
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return elapsed.size() == 9; }, 5s));
    timer.SetEnabled(false);
    EXPECT_TRUE(onOwner);

    // The worker measures each tick no earlier than an interval after the one before.
    for (std::size_t i = 1; i < elapsed.size(); ++i) EXPECT_GE(elapsed[i] - elapsed[i - 1], 55);
    EXPECT_GE(elapsed[0], 55);
    std::vector<std::int32_t> gaps;
    for (std::size_t i = 1; i < elapsed.size(); ++i) gaps.push_back(elapsed[i] - elapsed[i - 1]);
    std::nth_element(gaps.begin(), gaps.begin() + gaps.size() / 2, gaps.end());
    EXPECT_LE(gaps[gaps.size() / 2], 70);  // a loaded machine may delay some ticks, not most

    const auto span =
        std::chrono::duration_cast<std::chrono::milliseconds>(arrived.back() - arrived.front());
    EXPECT_GE(span.count(), 8 * 55 - 10);
    EXPECT_EQ(timer.Ticks(), elapsed.back() / 55);
}

TEST(PrecisionTimer, ACountdownStopsItselfOnceWhenTimeRunsOut) {
    EventQueue events;
    PrecisionTimer timer(events);
    timer.SetInterval(55);
    timer.SetElapsed(200);
    timer.SetCountDown(true);
    std::vector<std::int32_t> elapsed;
    int stops = 0;
    timer.OnTimer = [&](PrecisionTimer& t) { elapsed.push_back(t.Elapsed()); };
    timer.OnStop = [&](PrecisionTimer& t) {
        ++stops;
        EXPECT_FALSE(t.Enabled());
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return stops > 0; }, 5s));
    test::PumpFor(events, 150ms);
    EXPECT_EQ(stops, 1);
    EXPECT_FALSE(timer.Enabled());
    ASSERT_GE(elapsed.size(), 2u);
    EXPECT_LE(elapsed.back(), 0);
    for (std::size_t i = 0; i + 1 < elapsed.size(); ++i) EXPECT_GT(elapsed[i], 0);
}

TEST(PrecisionTimer, ACountingUpTimerStopsAtItsTickCount) {
    EventQueue events;
    PrecisionTimer timer(events);
    timer.SetInterval(20);
    timer.StopAt = 3;
    int ticks = 0, stops = 0;
    timer.OnTimer = [&](PrecisionTimer&) { ++ticks; };
    timer.OnStop = [&](PrecisionTimer& t) {
        ++stops;
        EXPECT_GE(t.Ticks(), 3);
    };
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return stops > 0; }, 5s));
    test::PumpFor(events, 80ms);
    EXPECT_EQ(stops, 1);
    EXPECT_GE(ticks, 3);
    EXPECT_LE(ticks, 4);  // Elapsed is measured on the worker: a late tick may count 4
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
    EXPECT_EQ(timer.Ticks(), 0);
}

TEST(PrecisionTimer, ANeverEnabledTimerNeverRunsItsThread) {
    EventQueue events;
    {
        PrecisionTimer timer(events);
        timer.SetInterval(10);
        timer.SetThreadPriority(TimerThreadPriority::tpLowest);
        EXPECT_FALSE(timer.ThreadStarted());
    }
    EXPECT_EQ(events.ProcessEvents(), 0);
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
    std::vector<std::int32_t> elapsed;
    timer.OnTimer = [&](PrecisionTimer& t) { elapsed.push_back(t.Elapsed()); };
    timer.SetEnabled(true);
    std::this_thread::sleep_for(40ms);
    timer.SetEnabled(false);
    timer.SetEnabled(true);
    ASSERT_TRUE(test::PumpUntil(
        events, [&] { return !elapsed.empty(); }, 5s));
    timer.SetEnabled(false);
    EXPECT_GE(elapsed[0], 100);
}

}  // namespace
}  // namespace qtam
