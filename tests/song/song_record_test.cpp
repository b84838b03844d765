#include <gtest/gtest.h>

#include <cstring>

#include "core/machine.h"
#include "core/song.h"
#include "engine/mixer.h"
#include "song/init_song.h"
#include "test_support.h"

namespace qtam {
namespace {

const std::uint8_t* Bytes(const Song& s) {
    return reinterpret_cast<const std::uint8_t*>(&s);
}

std::uint16_t U16At(const Song& s, std::size_t offset) {
    return static_cast<std::uint16_t>(Bytes(s)[offset] | (Bytes(s)[offset + 1] << 8));
}

TEST(NewSong, HoldsItsDefaultsAtTheirFileOffsets) {
    auto m = test::NewMachine();
    const Song& s = m->song;
    const std::uint8_t* b = Bytes(s);

    // Header: length 30, the text and the end-of-file byte, then padding 0.
    EXPECT_EQ(b[0], 30);
    EXPECT_EQ(std::memcmp(b + 1, "Q.Tam format 1.0 Pattern-file", 29), 0);
    EXPECT_EQ(b[30], 0x1A);
    EXPECT_EQ(b[31], 0);

    EXPECT_EQ(U16At(s, 102952), 145);
    EXPECT_EQ(b[102954], 100);  // shuffle
    EXPECT_EQ(b[102955], 0);    // humanize
    EXPECT_EQ(b[102956], 16);   // steps per measure
    for (int p = 0; p < 8; ++p) EXPECT_EQ(b[102944 + p], 1) << "measureCount of pattern " << p + 1;

    // copyright "© by ..." with 0xA9 first; author, title and subtitle empty.
    EXPECT_EQ(b[103397], 8);
    EXPECT_EQ(b[103398], 0xA9);
    EXPECT_EQ(std::memcmp(b + 103399, " by ...", 7), 0);
    EXPECT_EQ(b[103244], 0);
    EXPECT_EQ(b[103295], 0);
    EXPECT_EQ(b[103346], 0);
    EXPECT_EQ(b[103448], 0);  // showInfoOnOpen
}

TEST(NewSong, EveryCellIsEmptyAndEveryChannelIsTheDefaultSound) {
    auto m = test::NewMachine();
    const std::uint8_t* b = Bytes(m->song);
    for (int p = 1; p <= 8; ++p) {
        for (int meas = 1; meas <= 16; ++meas) {
            const std::size_t measure = 32 + (p - 1) * 12864 + (meas - 1) * 804;
            for (int ch = 1; ch <= 8; ++ch) {
                for (int slot = 1; slot <= 16; ++slot) {
                    const std::size_t cell = measure + (ch - 1) * 96 + (slot - 1) * 6;
                    ASSERT_EQ(b[cell], 255);
                    ASSERT_EQ(b[cell + 1], 64);
                    ASSERT_EQ(b[cell + 2], 0);
                    ASSERT_EQ(b[cell + 4] | b[cell + 5], 0);
                }
                ASSERT_EQ(b[measure + 768 + ch - 1], 1);    // instrument
                ASSERT_EQ(b[measure + 776 + ch - 1], 0);    // distortion off
                ASSERT_EQ(b[measure + 784 + ch - 1], 100);  // volume
                ASSERT_EQ(b[measure + 792 + ch - 1], 0);    // mute
            }
            // Distortion gain 10 in measure 1 only.
            EXPECT_EQ(b[measure + 800] | (b[measure + 801] << 8), meas == 1 ? 10 : 0);
            EXPECT_EQ(b[measure + 802] | (b[measure + 803] << 8), 0);
        }
    }
}

TEST(NewSong, ResetsEditorStateAndClockAndTakesTheLoadedUserbank) {
    auto m = std::make_unique<Machine>();
    m->editor.CurrentPattern = 5;
    m->editor.CurrentMeasure = 7;
    test::MakeUnsavedEdit(*m);
    m->editor.SongFileName = "/songs/keep.sng";
    m->editor.HumanizeChecked = true;
    m->player.clock.PlayPattern = 3;
    m->player.clock.NextPattern = 4;
    m->activation.UserbankPath = std::string(300, 'p');
    m->banks.userbank.description = "Custom userbank" + std::string(20, ' ');

    InitSong(*m);

    EXPECT_EQ(m->editor.CurrentPattern, 1);
    EXPECT_EQ(m->editor.CurrentMeasure, 1);
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_FALSE(m->editor.HumanizeChecked);
    EXPECT_EQ(m->editor.SongFileName, "/songs/keep.sng");  // "New song" clears it, not InitSong
    EXPECT_EQ(m->player.clock.PlayPattern, 1);
    EXPECT_EQ(m->player.clock.NextPattern, 1);
    EXPECT_EQ(m->player.clock.StepCounter, 0);
    EXPECT_EQ(m->player.clock.StepLength[1], 4562);
    // Texts longer than their field are cut to its capacity.
    EXPECT_EQ(m->song.userbankFile.str(), std::string(255, 'p'));
    EXPECT_EQ(m->song.userbankDescription.str(), "Custom userbank" + std::string(15, ' '));
}

TEST(SongRecord, CellAccessIsOneBasedAndChannelMajor) {
    auto m = test::NewMachine();
    m->song.cell(3, 2, 4, 5).velocity = 77;
    m->song.settings(6).volume[7] = 55;
    const std::uint8_t* b = Bytes(m->song);
    EXPECT_EQ(b[32 + 2 * 12864 + 1 * 804 + 3 * 96 + 4 * 6], 77);
    EXPECT_EQ(b[32 + 5 * 12864 + 784 + 7], 55);
}

TEST(SongRecord, TwelveStepsKeepSlotsThirteenToSixteen) {
    auto m = test::NewMachine();
    test::SetNote(*m, 1, 1, 1, 14, 90);
    m->song.stepsPerMeasure = 12;
    SetTempo(PlayerOf(*m), m->song.tempo, m->song.shuffle);
    m->song.stepsPerMeasure = 16;
    SetTempo(PlayerOf(*m), m->song.tempo, m->song.shuffle);
    EXPECT_EQ(m->song.cell(1, 1, 1, 14).velocity, 90);
}

TEST(SongRecord, NormalizeBringsLoadedValuesIntoRange) {
    auto m = test::NewMachine();
    Song& s = m->song;
    s.stepsPerMeasure = 13;
    s.measureCount[0] = 0;
    s.measureCount[1] = 200;
    s.measureCount[2] = 7;
    s.tempo = 20;
    s.shuffle = 255;
    NormalizeSong(s);
    EXPECT_EQ(s.stepsPerMeasure, 16);
    EXPECT_EQ(s.measureCount[0], 1);
    EXPECT_EQ(s.measureCount[1], 16);
    EXPECT_EQ(s.measureCount[2], 7);
    EXPECT_EQ(s.tempo, 50);
    EXPECT_EQ(s.shuffle, 150);

    s.stepsPerMeasure = 12;
    s.tempo = 999;
    s.shuffle = 3;
    NormalizeSong(s);
    EXPECT_EQ(s.stepsPerMeasure, 12);
    EXPECT_EQ(s.tempo, 250);
    EXPECT_EQ(s.shuffle, 100);
}

TEST(ShortString, CutsToCapacityAndKeepsBytesBeyondTheLength) {
    ShortString<5> t{};
    t.set("abcdefgh");
    EXPECT_EQ(t.length, 5);
    EXPECT_EQ(t.str(), "abcde");
    t.set("xy");
    EXPECT_EQ(t.str(), "xy");
    EXPECT_EQ(t.chars[2], 'c');
    t.length = 200;  // a corrupt length byte reads no further than the field
    EXPECT_EQ(t.str().size(), 5u);
}

}  // namespace
}  // namespace qtam
