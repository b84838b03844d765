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

}  // namespace
}  // namespace qtam
