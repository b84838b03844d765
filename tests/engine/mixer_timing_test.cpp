#include <gtest/gtest.h>

#include "core/machine.h"
#include "engine/mixer.h"
#include "test_support.h"

namespace qtam {
namespace {

void SetTempoOf(Machine& m, int tempo, int shuffle) {
    m.song.tempo = static_cast<std::uint16_t>(tempo);
    m.song.shuffle = static_cast<std::uint8_t>(shuffle);
    SetTempo(PlayerOf(m), tempo, shuffle);
}

TEST(StepTiming, StraightAt145) {
    auto m = test::NewMachine();
    SetTempoOf(*m, 145, 100);
    for (int i = 1; i <= 16; ++i) EXPECT_EQ(m->player.clock.StepLength[i], 4562) << i;
    EXPECT_EQ(m->player.clock.MeasureLength, 72993);
}

TEST(StepTiming, TwelveStepsShortenTheMeasureOnly) {
    auto m = test::NewMachine();
    m->song.stepsPerMeasure = 12;
    SetTempoOf(*m, 145, 100);
    EXPECT_EQ(m->player.clock.MeasureLength, 54745);
    EXPECT_EQ(m->player.clock.StepLength[1], 4562);
}

TEST(StepTiming, ShuffleLengthensOddSlotsAndShortensEvenOnes) {
    auto m = test::NewMachine();
    SetTempoOf(*m, 145, 150);
    for (int i = 1; i <= 16; ++i)
        EXPECT_EQ(m->player.clock.StepLength[i], i % 2 ? 6843 : 2281) << i;
    EXPECT_EQ(m->player.clock.MeasureLength, 72993);  // without shuffle
    SetTempoOf(*m, 145, 100);
    EXPECT_EQ(m->player.clock.StepLength[2], 4562);
}

// Frames spent on each step, read off the clock while mixing.
std::vector<int> StepDurations(Machine& m, int steps) {
    std::vector<int> durations;
    int current = m.player.clock.PlayStep, count = 0;
    while (static_cast<int>(durations.size()) < steps) {
        MixFrame(PlayerOf(m));
        ++count;
        if (m.player.clock.PlayStep != current) {
            durations.push_back(count);
            count = 0;
            current = m.player.clock.PlayStep;
        }
    }
    return durations;
}

TEST(StepTiming, AStepLastsOneFrameLessThanItsLengthExceptTheFirstAfterARender) {
    auto m = test::NewMachine();
    SetTempoOf(*m, 145, 150);
    StartRender(*m, 1);
    std::vector<int> d = StepDurations(*m, 17);
    EXPECT_EQ(d[0], 6843);  // the render start counts from 0
    for (int i = 1; i < 17; ++i)
        EXPECT_EQ(d[i], ((i % 16) % 2 == 0 ? 6843 : 2281) - 1) << "step " << i + 1;

    // Live playback starts from ResetTransport, one frame short like the rest.
    ResetTransport(*m);
    std::vector<std::int16_t> block(2 * 8000);
    int frames = 0;
    while (m->player.clock.PlayStep == 1) {
        MixBlock(PlayerOf(*m), block.data(), 1);
        ++frames;
    }
    EXPECT_EQ(frames, 6842);
}

TEST(StepTiming, TwelveStepMeasuresWrapAfterSlotTwelve) {
    auto m = test::NewMachine();
    m->song.stepsPerMeasure = 12;
    m->song.measureCount[0] = 2;
    SetTempoOf(*m, 145, 100);
    StartRender(*m, 1);
    StepDurations(*m, 11);
    EXPECT_EQ(m->player.clock.PlayStep, 12);
    StepDurations(*m, 1);
    EXPECT_EQ(m->player.clock.PlayStep, 1);
    EXPECT_EQ(m->player.clock.PlayMeasure, 2);
    StepDurations(*m, 12);
    EXPECT_EQ(m->player.clock.PlayMeasure, 1);  // measureCount 2 loops back
}

TEST(StepTiming, TheNextPatternStartsRightAfterTheLastStepOfTheLastMeasure) {
    auto m = test::NewMachine();
    m->song.measureCount[0] = 2;
    StartRender(*m, 1);
    m->player.clock.NextPattern = 3;
    StepDurations(*m, 31);
    EXPECT_EQ(m->player.clock.PlayPattern, 1);
    EXPECT_EQ(m->player.clock.PlayMeasure, 2);
    EXPECT_EQ(m->player.clock.PlayStep, 16);
    StepDurations(*m, 1);
    EXPECT_EQ(m->player.clock.PlayPattern, 3);
    EXPECT_EQ(m->player.clock.PlayMeasure, 1);
    EXPECT_EQ(m->player.clock.PlayStep, 1);
}

TEST(GateLength, RunsToTheChannelsNextNoteAcrossMeasures) {
    auto m = test::NewMachine();
    m->song.measureCount[0] = 2;
    test::SetNote(*m, 1, 1, 1, 15, 100);
    test::SetNote(*m, 1, 2, 1, 3, 100);
    test::SetNote(*m, 1, 1, 2, 1, 0);  // velocity 0 is a note too
    StartRender(*m, 1);
    EXPECT_EQ(GateLength(PlayerOf(*m), 1, 15), 4 * 4562);
    // A lone note waits one full cycle of the pattern.
    EXPECT_EQ(GateLength(PlayerOf(*m), 2, 1), 32 * 4562);
}

TEST(GateLength, IsBoundedWhenStartingBeyondThePlayedMeasures) {
    auto m = test::NewMachine();
    m->song.measureCount[0] = 2;
    test::SetNote(*m, 1, 5, 1, 1, 100);  // measure 5 is never played
    StartRender(*m, 5);
    EXPECT_EQ(GateLength(PlayerOf(*m), 1, 1), 32 * 4562);
    EXPECT_TRUE(m->player.voice(1).active);
    EXPECT_EQ(m->player.voice(1).fadeStart, 32 * 4562 - 100);
}

TEST(Transport, ResetPutsTheClockOnTheEditedPattern) {
    auto m = test::NewMachine();
    m->editor.CurrentPattern = 4;
    m->Playing = true;
    m->Streaming = true;
    m->player.voice(3).active = 1;
    m->player.voice(3).position = 77.5;
    ResetTransport(*m);
    EXPECT_FALSE(m->Playing);
    EXPECT_FALSE(m->Streaming);
    EXPECT_EQ(m->player.clock.PlayPattern, 4);
    EXPECT_EQ(m->player.clock.NextPattern, 4);
    EXPECT_EQ(m->player.clock.PlayMeasure, 1);
    EXPECT_EQ(m->player.clock.PlayStep, 1);
    EXPECT_EQ(m->player.clock.StepCounter, 1);
    EXPECT_FALSE(m->player.voice(3).active);
    EXPECT_EQ(m->player.voice(3).position, 1.0);
}

}  // namespace
}  // namespace qtam
