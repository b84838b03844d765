#include "song/edit_ops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "core/machine.h"
#include "song/init_song.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::NewMachine;
using test::SetNote;

bool SameBytes(const void* a, const void* b, std::size_t n) {
    return std::memcmp(a, b, n) == 0;
}

class EditOps : public ::testing::Test {
protected:
    std::unique_ptr<Machine> m = NewMachine();
    test::ScriptedPrompter prompter;
    void SetUp() override { m->prompter = &prompter; }
    void At(int pattern, int measure, int channel) {
        m->editor.CurrentPattern = static_cast<std::uint8_t>(pattern);
        m->editor.CurrentMeasure = static_cast<std::uint8_t>(measure);
        m->editor.CurrentChannel = static_cast<std::uint8_t>(channel);
    }
    StepCell& Cell(int p, int meas, int ch, int slot) { return m->song.cell(p, meas, ch, slot); }
};

TEST_F(EditOps, PasteBeforeAnyCopyChangesNothingAndIsDisabled) {
    SetNote(*m, 1, 1, 1, 3, 90);
    Song before = m->song;
    EXPECT_FALSE(m->editor.PasteEnabled);
    Paste(*m);
    PasteMix(*m);
    EXPECT_TRUE(SameBytes(&before, &m->song, sizeof(Song)));
}

TEST_F(EditOps, EveryCopyEnablesPasteAndShowsTheBusyCursor) {
    CopyChannel(*m);
    EXPECT_TRUE(m->editor.PasteEnabled);
    EXPECT_EQ(m->editor.ClipboardKind, 1);
    CopyMeasure(*m);
    EXPECT_EQ(m->editor.ClipboardKind, 2);
    CopyPattern(*m);
    EXPECT_EQ(m->editor.ClipboardKind, 3);
    EXPECT_EQ(prompter.busyDepth, 0);
    EXPECT_EQ(prompter.busyCalls, 6);
}

TEST_F(EditOps, ChannelPasteGoesToAnotherChannelWithoutSettings) {
    At(1, 1, 2);
    SetNote(*m, 1, 1, 2, 1, 100, 10, 1);
    SetNote(*m, 1, 1, 2, 7, 0, 120);
    m->song.settings(1).volume[1] = 33;
    CopyChannel(*m);
    At(1, 1, 5);
    SetNote(*m, 1, 1, 5, 4, 50);
    Paste(*m);
    EXPECT_TRUE(SameBytes(m->song.measure(1, 1).steps[4], m->song.measure(1, 1).steps[1], 96));
    EXPECT_EQ(m->song.settings(1).volume[4], 100);
}

TEST_F(EditOps, MeasureTwoOverMeasureOneBringsItsChannelSettings) {
    // Measure 2's own block, which nothing plays, holds other sounds.
    ChannelSettings& hidden = m->song.measure(1, 2).settings;
    hidden.instrument[0] = 105;
    hidden.volume[2] = 7;
    hidden.mute[3] = 1;
    hidden.distortionGain = 44;
    SetNote(*m, 1, 2, 1, 1, 99);
    m->song.settings(1).instrument[0] = 3;

    At(1, 2, 1);
    CopyMeasure(*m);
    At(1, 1, 1);
    Paste(*m);

    const ChannelSettings& inForce = m->song.settings(1);
    EXPECT_EQ(inForce.instrument[0], 105);
    EXPECT_EQ(inForce.volume[2], 7);
    EXPECT_EQ(inForce.mute[3], 1);
    EXPECT_EQ(inForce.distortionGain, 44);
    EXPECT_EQ(Cell(1, 1, 1, 1).velocity, 99);
}

TEST_F(EditOps, PatternPasteBringsMeasureCountAlsoThroughPasteMix) {
    m->song.measureCount[0] = 4;
    SetNote(*m, 1, 4, 8, 16, 70);
    At(1, 1, 1);
    CopyPattern(*m);
    EXPECT_EQ(m->editor.ClipboardMeasureCount, 4);

    At(2, 1, 1);
    Paste(*m);
    EXPECT_EQ(m->song.measureCount[1], 4);
    EXPECT_TRUE(SameBytes(&m->song.patterns[1], &m->song.patterns[0], sizeof(Pattern)));

    // Every cell of pattern 3 holds a note, so nothing is free, yet the count arrives.
    for (int meas = 1; meas <= kMeasures; ++meas)
        for (int ch = 1; ch <= kChannels; ++ch)
            for (int s = 1; s <= kSlots; ++s) SetNote(*m, 3, meas, ch, s, 1);
    At(3, 1, 1);
    PasteMix(*m);
    EXPECT_EQ(m->song.measureCount[2], 4);
    EXPECT_EQ(Cell(3, 4, 8, 16).velocity, 1);
}

TEST_F(EditOps, PasteMixFillsOnlyFreeCells) {
    SetNote(*m, 1, 1, 1, 1, 111, 5);
    SetNote(*m, 1, 1, 1, 2, 112, 6);
    Cell(1, 1, 1, 3).pan = 9;  // empty source cell: its pan still arrives
    CopyChannel(*m);

    SetNote(*m, 1, 2, 1, 2, 0, 77);                              // a note of velocity 0 is not free
    Cell(1, 2, 1, 4).velocity = static_cast<std::int8_t>(0x80);  // negative, yet not 255
    At(1, 2, 1);
    PasteMix(*m);

    EXPECT_EQ(Cell(1, 2, 1, 1).velocity, 111);
    EXPECT_EQ(Cell(1, 2, 1, 1).pan, 5);
    EXPECT_EQ(Cell(1, 2, 1, 2).velocity, 0);
    EXPECT_EQ(Cell(1, 2, 1, 2).pan, 77);
    EXPECT_EQ(Cell(1, 2, 1, 3).velocity, -1);
    EXPECT_EQ(Cell(1, 2, 1, 3).pan, 9);
    EXPECT_EQ(static_cast<std::uint8_t>(Cell(1, 2, 1, 4).velocity), 0x80);
}

TEST_F(EditOps, MeasurePasteMixLeavesChannelSettings) {
    m->song.measure(1, 2).settings.instrument[0] = 120;
    SetNote(*m, 1, 2, 6, 9, 60);
    At(1, 2, 1);
    CopyMeasure(*m);
    At(1, 1, 1);
    PasteMix(*m);
    EXPECT_EQ(Cell(1, 1, 6, 9).velocity, 60);
    EXPECT_EQ(m->song.settings(1).instrument[0], 1);
}

TEST_F(EditOps, ClipboardSurvivesNewSongAndKeepsOlderTail) {
    SetNote(*m, 1, 1, 8, 16, 42);
    CopyMeasure(*m);
    SetNote(*m, 1, 1, 1, 1, 17);
    CopyChannel(*m);  // overwrites only the first 96 bytes
    EXPECT_EQ(m->editor.Clipboard.measures[0].steps[7][15].velocity, 42);
    InitSong(*m);
    EXPECT_TRUE(m->editor.PasteEnabled);
    Paste(*m);
    EXPECT_EQ(Cell(1, 1, 1, 1).velocity, 17);
}

TEST_F(EditOps, FadesFollowTheSlotAndSkipEmptySlots) {
    for (int s : {1, 5, 9, 13}) SetNote(*m, 1, 1, 1, s, 80);
    FadeInChannel(*m);
    EXPECT_EQ(Cell(1, 1, 1, 1).velocity, 14);
    EXPECT_EQ(Cell(1, 1, 1, 5).velocity, 42);
    EXPECT_EQ(Cell(1, 1, 1, 9).velocity, 70);
    EXPECT_EQ(Cell(1, 1, 1, 13).velocity, 98);
    EXPECT_EQ(Cell(1, 1, 1, 2).velocity, -1);

    SetNote(*m, 1, 1, 1, 16, 0);  // velocity 0 is a note for the fades
    FadeOutChannel(*m);
    EXPECT_EQ(Cell(1, 1, 1, 1).velocity, 121);
    EXPECT_EQ(Cell(1, 1, 1, 16).velocity, 16);
    EXPECT_EQ(Cell(1, 1, 1, 3).velocity, -1);
}

TEST_F(EditOps, MeasureFadesTouchEveryChannelAndKeepTheCurrentOne) {
    At(1, 1, 3);
    for (int ch = 1; ch <= kChannels; ++ch) SetNote(*m, 1, 1, ch, 2, 80);
    SetNote(*m, 1, 2, 1, 2, 80);
    FadeInMeasure(*m);
    for (int ch = 1; ch <= kChannels; ++ch) EXPECT_EQ(Cell(1, 1, ch, 2).velocity, 21);
    EXPECT_EQ(Cell(1, 2, 1, 2).velocity, 80);
    FadeOutMeasure(*m);
    for (int ch = 1; ch <= kChannels; ++ch) EXPECT_EQ(Cell(1, 1, ch, 2).velocity, 114);
    EXPECT_EQ(m->editor.CurrentChannel, 3);
}

TEST_F(EditOps, PansWriteEverySlotNotesOrNot) {
    SetNote(*m, 1, 1, 1, 4, 80);
    PanLeftToRight(*m);
    EXPECT_EQ(Cell(1, 1, 1, 1).pan, 7);
    EXPECT_EQ(Cell(1, 1, 1, 2).pan, 15);
    EXPECT_EQ(Cell(1, 1, 1, 16).pan, 127);
    PanRightToLeft(*m);
    EXPECT_EQ(Cell(1, 1, 1, 1).pan, 120);
    EXPECT_EQ(Cell(1, 1, 1, 2).pan, 112);
    EXPECT_EQ(Cell(1, 1, 1, 16).pan, 0);
    PanCenter(*m);
    for (int s = 1; s <= kSlots; ++s) EXPECT_EQ(Cell(1, 1, 1, s).pan, 64);
    EXPECT_EQ(Cell(1, 1, 1, 4).velocity, 80);
    EXPECT_EQ(Cell(1, 1, 1, 5).velocity, -1);
}

TEST_F(EditOps, PanInverseTwiceRestoresAndCentreGoesTo63) {
    for (int s = 1; s <= kSlots; ++s) Cell(1, 1, 1, s).pan = static_cast<std::uint8_t>(s * 7 + 3);
    Cell(1, 1, 1, 1).pan = 64;
    Cell(1, 1, 1, 2).pan = 0;
    StepCell before[kSlots];
    std::memcpy(before, m->song.measure(1, 1).steps[0], sizeof before);
    PanInverse(*m);
    EXPECT_EQ(Cell(1, 1, 1, 1).pan, 63);
    EXPECT_EQ(Cell(1, 1, 1, 2).pan, 127);
    PanInverse(*m);
    EXPECT_TRUE(SameBytes(before, m->song.measure(1, 1).steps[0], sizeof before));
}

TEST_F(EditOps, PanRandomlyStaysBelow127AndReseedsFromTheClock) {
    auto draw = [&] {
        m->random.seed(1);
        PanRandomly(*m);
        std::vector<int> pans;
        for (int s = 1; s <= kSlots; ++s) pans.push_back(Cell(1, 1, 1, s).pan);
        return pans;
    };
    std::vector<int> first = draw();
    for (int pan : first) EXPECT_LE(pan, 126);
    // The same generator state before both runs: only the reseed makes them differ.
    EXPECT_NE(first, draw());
}

TEST_F(EditOps, EraseKeepsPanAndReversed) {
    SetNote(*m, 1, 1, 2, 5, 80, 20, 1);
    SetNote(*m, 1, 1, 3, 5, 80);
    At(1, 1, 2);
    EraseChannel(*m);
    EXPECT_EQ(Cell(1, 1, 2, 5).velocity, -1);
    EXPECT_EQ(Cell(1, 1, 2, 5).pan, 20);
    EXPECT_EQ(Cell(1, 1, 2, 5).reversed, 1);
    EXPECT_EQ(Cell(1, 1, 3, 5).velocity, 80);
    EraseMeasure(*m);
    EXPECT_EQ(Cell(1, 1, 3, 5).velocity, -1);
    EXPECT_EQ(m->editor.CurrentChannel, 2);
}

TEST_F(EditOps, TwelveStepModeStillReachesSlots13To16) {
    m->song.stepsPerMeasure = 12;
    SetNote(*m, 1, 1, 1, 14, 80);
    FadeInChannel(*m);
    EXPECT_EQ(Cell(1, 1, 1, 14).velocity, 105);
    PanLeftToRight(*m);
    EXPECT_EQ(Cell(1, 1, 1, 15).pan, 119);
    EraseChannel(*m);
    EXPECT_EQ(Cell(1, 1, 1, 14).velocity, -1);
}

TEST_F(EditOps, NoneDropsAPreparedStart) {
    SetNote(*m, 1, 1, 1, 1, 80);
    m->editor.StartPrepared = true;
    void (*ops[])(Machine&) = {CopyChannel,    CopyMeasure,    CopyPattern,    Paste,
                               PasteMix,       FadeInChannel,  FadeOutChannel, FadeInMeasure,
                               FadeOutMeasure, PanLeftToRight, PanRightToLeft, PanCenter,
                               PanRandomly,    PanInverse,     EraseChannel,   EraseMeasure};
    for (auto op : ops) op(*m);
    EXPECT_TRUE(m->editor.StartPrepared);
}

}  // namespace
}  // namespace qtam
