#include "song/slides.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/machine.h"
#include "song/panel_edits.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::NewMachine;
using test::SetNote;

void FillChannel(Machine& m, int channel, int velocity) {
    for (int s = 1; s <= kSlots; ++s) SetNote(m, 1, 1, channel, s, velocity, 10 + s);
}

TEST(CustomSlide, RampFromZeroTo127SlotBySlot) {
    auto m = NewMachine();
    FillChannel(*m, 1, 80);
    m->editor.StartPrepared = true;
    CustomSlide(*m, SlideField::Velocity, DialogResult::Ok, 0, 127);
    const int expected[] = {0, 8, 17, 25, 34, 42, 51, 59, 68, 76, 85, 93, 102, 110, 119, 127};
    for (int s = 1; s <= kSlots; ++s) {
        EXPECT_EQ(m->song.cell(1, 1, 1, s).velocity, expected[s - 1]) << s;
        EXPECT_EQ(m->song.cell(1, 1, 1, s).pan, 10 + s);
    }
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_FALSE(m->editor.StartPrepared);
}

TEST(CustomSlide, EmptyCellsKeepTheirPlaceAndValues) {
    auto m = NewMachine();
    SetNote(*m, 1, 1, 1, 1, 50);
    SetNote(*m, 1, 1, 1, 16, 50);
    SetNote(*m, 1, 1, 1, 8, 0);  // velocity 0 is a note here
    m->song.cell(1, 1, 1, 5).pan = 3;
    CustomSlide(*m, SlideField::Velocity, DialogResult::Ok, 127, 0);
    EXPECT_EQ(m->song.cell(1, 1, 1, 1).velocity, 127);
    EXPECT_EQ(m->song.cell(1, 1, 1, 16).velocity, 0);
    EXPECT_EQ(m->song.cell(1, 1, 1, 8).velocity, 68);  // 127 - 7 * 127 / 15 = 67.73
    EXPECT_EQ(m->song.cell(1, 1, 1, 5).velocity, -1);

    CustomSlide(*m, SlideField::Pan, DialogResult::Ok, 0, 127);
    EXPECT_EQ(m->song.cell(1, 1, 1, 5).pan, 3);
    EXPECT_EQ(m->song.cell(1, 1, 1, 8).pan, 59);
    EXPECT_EQ(m->song.cell(1, 1, 1, 16).pan, 127);
    EXPECT_EQ(m->song.cell(1, 1, 1, 16).velocity, 0);
}

TEST(CustomSlide, TwelveStepsEndOnSlot12) {
    auto m = NewMachine();
    m->song.stepsPerMeasure = 12;
    FillChannel(*m, 1, 80);
    EXPECT_EQ(CustomSlideEndLabel(m->song), "End value (step 12)");
    CustomSlide(*m, SlideField::Pan, DialogResult::Ok, 0, 110);
    EXPECT_EQ(m->song.cell(1, 1, 1, 1).pan, 0);
    EXPECT_EQ(m->song.cell(1, 1, 1, 2).pan, 10);
    EXPECT_EQ(m->song.cell(1, 1, 1, 12).pan, 110);
    for (int s = 13; s <= 16; ++s) EXPECT_EQ(m->song.cell(1, 1, 1, s).pan, 10 + s);
    m->song.stepsPerMeasure = 16;
    EXPECT_EQ(CustomSlideEndLabel(m->song), "End value (step 16)");
}

TEST(CustomSlide, ConstantWhenStartEqualsEnd) {
    auto m = NewMachine();
    FillChannel(*m, 2, 80);
    m->editor.CurrentChannel = 2;
    CustomSlide(*m, SlideField::Velocity, DialogResult::Ok, 33, 33);
    for (int s = 1; s <= kSlots; ++s) EXPECT_EQ(m->song.cell(1, 1, 2, s).velocity, 33);
}

TEST(CustomSlide, TiesOfTheWholeValueGoToEven) {
    // Halves arise only with an even step count; the rule holds for the value as a whole.
    EXPECT_EQ(SlideValue(1, 2, 2, 3), 2);  // 1.5
    EXPECT_EQ(SlideValue(2, 3, 2, 3), 2);  // 2.5
    EXPECT_EQ(SlideValue(127, 0, 16, 16), 0);
}

TEST(CustomSlide, CancelChangesNothing) {
    auto m = NewMachine();
    FillChannel(*m, 1, 80);
    m->editor.StartPrepared = true;
    Song before = m->song;
    CustomSlide(*m, SlideField::Velocity, DialogResult::Cancel, 0, 127);
    CustomSlide(*m, SlideField::Pan, DialogResult::Cancel, 0, 127);
    EXPECT_EQ(std::memcmp(&before, &m->song, sizeof(Song)), 0);
    EXPECT_TRUE(m->editor.StartPrepared);
}

TEST(NoteDetails, EmptyStepShowsDisabledAndOkChangesNothing) {
    auto m = NewMachine();
    m->editor.CurrentStep = 4;
    m->song.cell(1, 1, 1, 4).pan = 20;
    NoteDetailsView v = ShowNoteDetails(*m);
    EXPECT_FALSE(v.enabled);
    EXPECT_EQ(v.velocityText, "");
    EXPECT_EQ(v.panText, "");
    Song before = m->song;
    EXPECT_FALSE(SetNoteDetails(*m, 127, 64, true));
    EXPECT_EQ(std::memcmp(&before, &m->song, sizeof(Song)), 0);
}

TEST(NoteDetails, ShowsTheCellAtTheEditPosition) {
    auto m = NewMachine();
    m->editor.CurrentPattern = 3;
    m->editor.CurrentMeasure = 2;
    m->editor.CurrentChannel = 7;
    m->editor.CurrentStep = 11;
    SetNote(*m, 3, 2, 7, 11, 0, 99, 1);
    NoteDetailsView v = ShowNoteDetails(*m);
    EXPECT_TRUE(v.enabled);
    EXPECT_EQ(v.velocity, 0);
    EXPECT_EQ(v.pan, 99);
    EXPECT_TRUE(v.reversed);
    EXPECT_EQ(v.velocityText, "0");
    EXPECT_EQ(v.panText, "99");
}

TEST(NoteDetails, OkWritesOnlyWhatDiffers) {
    auto m = NewMachine();
    m->editor.CurrentStep = 5;
    SetNote(*m, 1, 1, 1, 5, 80, 64, 0);
    m->editor.StartPrepared = true;

    EXPECT_FALSE(SetNoteDetails(*m, 80, 64, false));

    EXPECT_TRUE(SetNoteDetails(*m, kMaxOutVelocity, 64, false));
    EXPECT_EQ(m->song.cell(1, 1, 1, 5).velocity, 127);
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_TRUE(m->editor.StartPrepared);

    MarkSongSaved(*m);
    EXPECT_TRUE(SetNoteDetails(*m, 127, 64, true));
    EXPECT_EQ(m->song.cell(1, 1, 1, 5).reversed, 1);
    EXPECT_TRUE(SetNoteDetails(*m, 0, 3, true));
    EXPECT_EQ(m->song.cell(1, 1, 1, 5).velocity, 0);
    EXPECT_EQ(m->song.cell(1, 1, 1, 5).pan, 3);
}

TEST(NoteDetails, StepOutsideTheMeasureIsNoNote) {
    auto m = NewMachine();
    SetNote(*m, 1, 1, 1, 1, 80);
    m->editor.CurrentStep = 0;  // a covered button's slot
    EXPECT_FALSE(ShowNoteDetails(*m).enabled);
    EXPECT_FALSE(SetNoteDetails(*m, 1, 1, true));
    m->editor.CurrentStep = 17;
    EXPECT_FALSE(ShowNoteDetails(*m).enabled);
}

TEST(ValueEntry, OutOfRangeGoesToTheNearerLimitAndNonNumbersToTheMinimum) {
    EXPECT_EQ(ReadValueEntry("120", 0, 100), 100);
    EXPECT_EQ(ReadValueEntry("-5", 50, 250), 50);
    EXPECT_EQ(ReadValueEntry("30", 50, 250), 50);
    EXPECT_EQ(ReadValueEntry(" 77 ", 50, 250), 77);
    EXPECT_EQ(ReadValueEntry("+99", 50, 250), 99);
    EXPECT_EQ(ReadValueEntry("99999999999999999999", 50, 250), 250);
    EXPECT_EQ(ReadValueEntry("", 50, 250), 50);
    EXPECT_EQ(ReadValueEntry("abc", 50, 250), 50);
    EXPECT_EQ(ReadValueEntry("12a", 50, 250), 50);
    EXPECT_EQ(ReadValueEntry("-", 50, 250), 50);
}

TEST(ValueEntry, TempoAndShuffleSetups) {
    auto m = NewMachine();
    m->song.shuffle = 106;
    ValueEntry t = TempoEntry(m->song);
    EXPECT_EQ(t.minimum, 50);
    EXPECT_EQ(t.maximum, 250);
    EXPECT_EQ(t.increment, 1);
    EXPECT_EQ(t.maxLength, 3);
    EXPECT_EQ(t.value, 145);
    ValueEntry s = ShuffleEntry(m->song);
    EXPECT_EQ(s.minimum, 0);
    EXPECT_EQ(s.maximum, 100);
    EXPECT_EQ(s.increment, 2);
    EXPECT_EQ(s.value, 12);
}

TEST(ValueEntry, ShuffleEntryDropsTheOddHalf) {
    auto m = NewMachine();
    m->editor.StartPrepared = true;
    EXPECT_TRUE(EnterShuffle(*m, DialogResult::Ok, "51"));
    EXPECT_EQ(m->song.shuffle, 125);
    EXPECT_EQ(ShownShuffle(m->song.shuffle), 50);
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_FALSE(m->editor.StartPrepared);
    EnterShuffle(*m, DialogResult::Ok, "45");
    EXPECT_EQ(m->song.shuffle, 122);
    EXPECT_EQ(ShownShuffle(m->song.shuffle), 44);
    EnterShuffle(*m, DialogResult::Ok, "120");
    EXPECT_EQ(m->song.shuffle, 150);
}

TEST(ValueEntry, TempoEntryRetimesTheSteps) {
    auto m = NewMachine();
    const std::int32_t before = m->player.clock.StepLength[1];
    EXPECT_TRUE(EnterTempo(*m, DialogResult::Ok, "290"));
    EXPECT_EQ(m->song.tempo, 250);
    EXPECT_LT(m->player.clock.StepLength[1], before);
    EXPECT_TRUE(SongChanged(*m));
}

// What the value dialog shows before "OK" is exactly what the entry then stores, for every
// text a user can type into its three characters (and a few more).
TEST(ValueEntry, StoredValueIsWhatTheEntryStores) {
    auto m = NewMachine();
    std::vector<std::string> texts = {"", "x", "-", "+", " 7", "1x", "-12", "+99", "007"};
    for (int n = 0; n <= 999; ++n) texts.push_back(std::to_string(n));
    for (const std::string& text : texts) {
        EnterTempo(*m, DialogResult::Ok, text);
        EXPECT_EQ(StoredEntryValue(TempoEntry(m->song), text), m->song.tempo) << text;
        EnterShuffle(*m, DialogResult::Ok, text);
        const int shown = StoredEntryValue(ShuffleEntry(m->song), text);
        EXPECT_EQ(shown, ShownShuffle(m->song.shuffle)) << text;
        // Stored again, the shown value stays what it is.
        EXPECT_EQ(StoredEntryValue(ShuffleEntry(m->song), std::to_string(shown)), shown) << text;
    }
}

TEST(ValueEntry, CancelChangesNothing) {
    auto m = NewMachine();
    m->editor.StartPrepared = true;
    EXPECT_FALSE(EnterTempo(*m, DialogResult::Cancel, "60"));
    EXPECT_FALSE(EnterShuffle(*m, DialogResult::Cancel, "60"));
    EXPECT_EQ(m->song.tempo, 145);
    EXPECT_EQ(m->song.shuffle, 100);
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_TRUE(m->editor.StartPrepared);
}

}  // namespace
}  // namespace qtam
