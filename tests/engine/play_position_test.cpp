// Where playback is: the step starts the live mixer records, read back for every frame it
// mixed, against its own clock read frame by frame; and the estimate of the frame being heard
// from a count that moves in chunks.

#include "engine/play_position.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <vector>

#include "core/machine.h"
#include "engine/mixer.h"
#include "test_support.h"

namespace qtam {
namespace {

struct Heard {
    int pattern, measure, step;
};

struct Case {
    int tempo, shuffle, steps, startPattern, nextPattern, laterTempo;
    std::array<int, 3> measures;  // measure counts of patterns 1..3
    std::int64_t switchAt, tempoAt, total;
};

void Start(Machine& m, const Case& c) {
    m.song.stepsPerMeasure = static_cast<std::uint8_t>(c.steps);
    for (int p = 1; p <= 3; ++p)
        m.song.measureCount[p - 1] = static_cast<std::uint8_t>(c.measures[p - 1]);
    m.editor.CurrentPattern = static_cast<std::uint8_t>(c.startPattern);
    ResetTransport(m);
    SetTempo(PlayerOf(m), c.tempo, c.shuffle);
    PrepareStart(PlayerOf(m));
    m.Playing = true;
}

// The changes a user makes while playing, at the same frame on both machines.
void Change(Machine& m, const Case& c, std::int64_t frame) {
    if (frame == c.switchAt) m.player.clock.NextPattern = static_cast<std::uint8_t>(c.nextPattern);
    if (frame == c.tempoAt) SetTempo(PlayerOf(m), c.laterTempo, c.shuffle);
}

// The step of every frame, read off the clock before the frame is mixed, one frame at a time.
std::vector<Heard> StepsFrameByFrame(const Case& c) {
    auto m = test::NewMachine();
    Start(*m, c);
    std::vector<Heard> steps;
    std::int16_t frame[2];
    for (std::int64_t f = 0; f < c.total; ++f) {
        Change(*m, c, f);
        steps.push_back(
            {m->player.clock.PlayPattern, m->player.clock.PlayMeasure, m->player.clock.PlayStep});
        MixBlock(PlayerOf(*m), frame, 1);
    }
    return steps;
}

TEST(PlayPosition, TheLogGivesTheClocksStepForEveryFrameMixedInBlocks) {
    std::mt19937 rng(20);
    auto pick = [&rng](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<std::int16_t> buffer(2 * 10240);
    int patternSwitches = 0, shuffled = 0, twelve = 0;
    for (int n = 0; n < 24; ++n) {
        Case c{};
        c.tempo = pick(60, 250);
        c.shuffle = n % 3 == 0 ? 100 : pick(30, 170);
        c.steps = n % 4 == 1 ? 12 : 16;
        c.startPattern = pick(1, 3);
        c.nextPattern = pick(1, 3);
        c.laterTempo = pick(60, 250);
        c.measures = {pick(1, 2), pick(1, 2), pick(1, 2)};
        c.switchAt = pick(0, 100000);
        c.tempoAt = pick(0, 200000);
        c.total = 260000;
        const std::vector<Heard> expected = StepsFrameByFrame(c);

        auto m = test::NewMachine();
        Start(*m, c);
        std::int64_t f = 0;
        while (f < c.total) {
            Change(*m, c, f);
            // blocks of any size, cut where a change falls
            std::int64_t end = std::min<std::int64_t>(c.total, f + pick(1, 10240));
            for (std::int64_t at : {c.switchAt, c.tempoAt})
                if (at > f && at < end) end = at;
            MixBlock(PlayerOf(*m), buffer.data(), static_cast<int>(end - f));
            ASSERT_EQ(m->player.stepStarts.mixedFrames, end);
            for (; f < end; ++f) {
                const PlayPosition p = StepAtFrame(m->player.stepStarts, f);
                const Heard& e = expected[static_cast<std::size_t>(f)];
                ASSERT_EQ(p.pattern, e.pattern) << "case " << n << " frame " << f;
                ASSERT_EQ(p.measure, e.measure) << "case " << n << " frame " << f;
                ASSERT_EQ(p.step, e.step) << "case " << n << " frame " << f;
                ASSERT_LE(p.start, f);
                ASSERT_TRUE(p.nextStart == -1 || p.nextStart > f);
            }
        }
        patternSwitches += expected.back().pattern != c.startPattern;
        shuffled += c.shuffle != 100;
        twelve += c.steps == 12;
    }
    // the cases cover what they are meant to
    EXPECT_GT(patternSwitches, 3);
    EXPECT_GT(shuffled, 10);
    EXPECT_GT(twelve, 3);
}

TEST(PlayPosition, NothingBeforeTheStartNorOlderThanTheLogKeeps) {
    auto m = test::NewMachine();
    Case c{};
    c.tempo = 250;
    c.shuffle = 100;
    c.steps = 16;
    c.startPattern = 1;
    c.measures = {1, 1, 1};
    Start(*m, c);
    EXPECT_FALSE(StepAtFrame(m->player.stepStarts, -1).known());
    const PlayPosition first = StepAtFrame(m->player.stepStarts, 0);
    EXPECT_EQ(first.step, 1);
    EXPECT_EQ(first.nextStart, -1);  // its end is not mixed yet
    // more steps than the log keeps: the oldest are forgotten, the newest found
    std::vector<std::int16_t> buffer(2 * 10240);
    while (m->player.stepStarts.count <= StepStartLog::kSize + 10)
        MixBlock(PlayerOf(*m), buffer.data(), 10240);
    EXPECT_FALSE(StepAtFrame(m->player.stepStarts, 0).known());
    const std::int64_t last = m->player.stepStarts.mixedFrames - 1;
    EXPECT_EQ(StepAtFrame(m->player.stepStarts, last).step, m->player.clock.PlayStep);
    EXPECT_EQ(StepAtFrame(m->player.stepStarts, last + 100000).step, m->player.clock.PlayStep);
    // a new start forgets the old one
    PrepareStart(PlayerOf(*m));
    EXPECT_EQ(m->player.stepStarts.count, 1);
    EXPECT_FALSE(StepAtFrame(m->player.stepStarts, -1).known());
}

// A callback that takes `chunk` frames every chunk / rate seconds, the newest heard `latency`
// frames later, looked at at random moments. The estimate is never off by more than the
// callback's cycle (what the count alone tells), and once settled it is off by a small part of
// it, for a device clock a little fast or slow as well.
TEST(HeardClock, ConvergesOnTheHeardFrameFromAChunkyCount) {
    std::mt19937 rng(7);
    for (double speed : {1.0, 1.001, 0.999}) {
        for (int chunk : {512, 1024, 4096}) {
            const std::int64_t latency = 2 * chunk;
            const double period = 1000.0 * chunk / (44100.0 * speed);  // ms between callbacks
            HeardClock clock(44100), withEstimate(44100), wildEstimate(44100);
            double t = 3.7, worst = 0, sum = 0;
            int settled = 0;
            for (int look = 0; look < 1000; ++look) {
                t += std::uniform_real_distribution<double>(1.0, 50.0)(rng);
                const auto callbacks = static_cast<std::int64_t>(std::floor(t / period));
                const std::int64_t taken = (callbacks + 1) * chunk;
                const double sinceCallback = t - double(callbacks) * period;
                const double truth = double(taken - latency) + sinceCallback * 44.1 * speed;
                const double error = std::abs(clock.Observe(taken, t, latency, chunk) - truth);
                ASSERT_LE(error, chunk) << chunk << " look " << look;
                // The device's own estimate as of the look is right from the first look; one
                // off by cycles is held to what the count allows.
                const std::int64_t exact = taken - std::llround(truth);
                ASSERT_NEAR(withEstimate.Observe(taken, t, latency, chunk, exact), truth, 1.0);
                ASSERT_LE(
                    std::abs(wildEstimate.Observe(taken, t, latency, chunk, exact - 3 * chunk) -
                             truth),
                    chunk);
                if (look < 200) continue;
                worst = std::max(worst, error);
                sum += error;
                ++settled;
            }
            EXPECT_LT(worst, chunk / 4.0) << "chunk " << chunk << " speed " << speed;
            EXPECT_LT(sum / settled, chunk / 16.0) << "chunk " << chunk << " speed " << speed;
        }
    }
    HeardClock clock(44100);
    EXPECT_DOUBLE_EQ(clock.MsOf(441), 10.0);
    EXPECT_DOUBLE_EQ(clock.Observe(10000, 0, 1000, 512), 9000);
    clock.Reset();
    EXPECT_DOUBLE_EQ(clock.Observe(100, 5000, 1000, 512), -900);  // forgotten: a new start
}

// The light looks again no later than the next step is heard, whether the mixer has reached
// that step yet or not, and not before it could be.
TEST(FramesUntilNextStep, NeverLooksAfterTheNextStepIsHeard) {
    std::mt19937 rng(11);
    auto frames = [&rng](int most) { return std::uniform_int_distribution<int>(1, most)(rng); };
    for (int i = 0; i < 10000; ++i) {
        const std::int64_t start = frames(100000), next = start + 1 + frames(30000);
        const double heard = double(start + frames(int(next - start) - 1)) - 0.5;
        const std::int64_t mixed = std::int64_t(heard) + frames(20000);  // ahead of the sound
        const PlayPosition at{1, 1, 3, start, next <= mixed ? next : -1};
        const double until = FramesUntilNextStep(at, heard, mixed);
        EXPECT_LE(heard + until, double(next)) << i;
        EXPECT_DOUBLE_EQ(heard + until, double(std::min(next, mixed))) << i;
    }
    EXPECT_DOUBLE_EQ(FramesUntilNextStep({}, -300, 0), 300);  // the lead-in
    EXPECT_EQ(FramesUntilNextStep({}, 10, 0), -1);
    EXPECT_EQ(FramesUntilNextStep({1, 1, 3, 0, -1}, 500, 400), 0);  // past what was mixed
}

}  // namespace
}  // namespace qtam
