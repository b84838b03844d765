// The grid the JACK output puts the steps on: exact frames computed from the step number, so
// that nothing drifts, and the positions of a transport mapped to steps and back.
#include "engine/step_grid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace qtam {
namespace {

TEST(StepGrid, EveryStepBeginsOnItsRoundedFrameAndStepAtFindsIt) {
    std::mt19937 r(7);
    for (int round = 0; round < 200; ++round) {
        const int rate = std::uniform_int_distribution<int>(0, 1)(r) ? 44100 : 48000;
        const double bpm = std::uniform_real_distribution<double>(50, 250)(r);
        const int shuffle = std::uniform_int_distribution<int>(100, 150)(r);
        const StepGrid g(rate, bpm, shuffle);
        const double step = rate * 15.0 / bpm;
        // Ten minutes and more: every step where the exact arithmetic puts it.
        for (std::int64_t k = 0; k < 6000; k += 1 + k / 50) {
            const double exact = (k / 2) * 2 * step + (k % 2) * step * shuffle / 100.0;
            ASSERT_LE(std::fabs(static_cast<double>(g.Begin(k)) - exact), 0.5 + 1e-6)
                << rate << " Hz, " << bpm << " BPM, step " << k;
            ASSERT_EQ(g.StepAt(g.Begin(k)), k);
            ASSERT_EQ(g.StepAt(g.Begin(k + 1) - 1), k);
        }
    }
}

TEST(StepGrid, AGridThroughAPositionPutsItsStepWhereThePositionSays) {
    std::mt19937 r(11);
    for (int round = 0; round < 500; ++round) {
        const double bpm = std::uniform_real_distribution<double>(50, 250)(r);
        const std::int64_t frame = std::uniform_int_distribution<std::int64_t>(0, 1 << 28)(r);
        const double steps = std::uniform_real_distribution<double>(0, 5000)(r);
        const StepGrid g = GridThrough(48000, bpm, 100, frame, steps);
        const auto k = static_cast<std::int64_t>(std::ceil(steps - 1e-6));
        const double ahead = (static_cast<double>(k) - steps) * 48000 * 15.0 / bpm;
        EXPECT_LE(std::fabs(static_cast<double>(g.Begin(k) - frame) - ahead), 0.5 + 1e-6);
        EXPECT_GE(g.Begin(k), frame);
        EXPECT_LT(g.Begin(k - 1), frame + 1);
        // Shuffled, the pairs still begin where the position's steps do.
        const std::int64_t pair = k + (k & 1);
        EXPECT_LE(std::abs(GridThrough(48000, bpm, 150, frame, steps).Begin(pair) - g.Begin(pair)),
                  1);
    }
}

TEST(StepGrid, BarBeatTickAndStepsAgree) {
    std::mt19937 r(3);
    for (int round = 0; round < 2000; ++round) {
        const int perBar = std::uniform_int_distribution<int>(0, 1)(r) ? 4 : 3;
        const double bpm = std::uniform_real_distribution<double>(50, 250)(r);
        const std::int64_t frame = std::uniform_int_distribution<std::int64_t>(0, 1 << 30)(r);
        const BarBeatTick b = BbtAtFrame(frame, 44100, bpm, perBar, 1920);
        ASSERT_GE(b.beat, 1);
        ASSERT_LE(b.beat, perBar);
        ASSERT_GE(b.tick, 0);
        ASSERT_LT(b.tick, 1920);
        EXPECT_EQ(b.barStartTick, (b.bar - 1) * perBar * 1920.0);
        // Back to steps (four to a beat) and to the frame, within one tick.
        const double steps = StepsOfBbt(b.bar, b.beat, b.tick, 1920, 4 * perBar);
        const double back = steps / 4 * 60.0 * 44100 / bpm;
        EXPECT_LE(static_cast<double>(frame) - back, 44100 * 60.0 / bpm / 1920 + 1e-6);
        EXPECT_GE(static_cast<double>(frame) - back, -1e-6);
    }
}

TEST(StepGrid, SongStepsRunThroughTheMeasuresOfThePattern) {
    for (int spm : {12, 16})
        for (int measures = 1; measures <= 16; ++measures)
            for (std::int64_t k = -40; k < 600; ++k) {
                const SongStep s = SongStepOf(k, spm, measures);
                const std::int64_t inCycle =
                    ((k % (spm * measures)) + spm * measures) % (spm * measures);
                ASSERT_EQ((s.measure - 1) * spm + (s.step - 1), inCycle) << k;
            }
}

TEST(StepGrid, NonsenseNeverBreaksIt) {
    for (double bpm : {0.0, -5.0, double(NAN), double(INFINITY), 1e300}) {
        const StepGrid g(44100, bpm, 999);
        EXPECT_LT(g.Begin(0), g.Begin(1));
        EXPECT_EQ(g.StepAt(g.Begin(7)), 7);
    }
    EXPECT_GE(SongStepOf(5, 0, 0).measure, 1);
}

TEST(StepGrid, TheClockTicksOnTheStraightStepsWhereverTheGridIsAnchored) {
    std::mt19937 r(13);
    for (int round = 0; round < 300; ++round) {
        const double bpm = std::uniform_real_distribution<double>(50, 250)(r);
        const int shuffle = std::uniform_int_distribution<int>(100, 150)(r);
        const auto anchor = std::uniform_int_distribution<std::int64_t>(0, 5000)(r);
        const StepGrid g(48000, bpm, shuffle, 12345, anchor);
        for (std::int64_t k = anchor - anchor % 2; k < anchor + 40; k += 2) {
            ASSERT_EQ(g.ClockTick(6 * k), g.Begin(k)) << bpm << " " << shuffle << " " << anchor;
            ASSERT_EQ(g.ClockTickFrom(g.ClockTick(6 * k + 1)), 6 * k + 1);
        }
        // A clock coming in: the step under way at each tick.
        for (std::int64_t tick = 0; tick < 100; ++tick) {
            const std::int64_t k = StepAtTick(tick, shuffle);
            ASSERT_LE(StepStartCentiticks(k, shuffle), 100 * tick);
            ASSERT_GT(StepStartCentiticks(k + 1, shuffle), 100 * tick);
        }
    }
}

TEST(ClockTempo, LocksWithinABeatFollowsAChangeAndShrugsOffJitter) {
    std::mt19937 r(17);
    for (int round = 0; round < 300; ++round) {
        const int rate = std::uniform_int_distribution<int>(0, 1)(r) ? 44100 : 48000;
        // Ticks on whole frames as they come in, jittered by up to 0.5 ms in a third of the rounds.
        const double jitter = round % 3 == 0 ? rate * 0.0005 : 0.0;
        std::uniform_real_distribution<double> shake(-jitter, jitter);
        ClockTempo tempo(rate);
        double t = std::uniform_real_distribution<double>(0, 1e8)(r);
        for (int change = 0; change < 3; ++change) {
            const double bpm = std::uniform_real_distribution<double>(40, 300)(r);
            for (int n = 0; n < 72; ++n) {
                tempo.Tick(std::llround(t + shake(r)));
                t += rate * 60.0 / (24 * bpm);
                // Within a beat of the first tick (or of the change), and then held.
                if (n < 24 - (change == 0)) continue;
                if (jitter == 0) {
                    ASSERT_NEAR(tempo.Bpm(), bpm, 0.1) << round << " " << change << " " << n;
                } else if (n >= 48 && change == 0) {  // steady: measured over more beats
                    ASSERT_NEAR(tempo.Bpm(), bpm, bpm * 0.004) << round;
                }
            }
            t += change == 1 ? rate * 2.0 : 0.0;  // a pause: the clock stopped, then again
        }
    }
}

}  // namespace
}  // namespace qtam
