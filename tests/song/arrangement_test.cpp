// The arrangement as a document: its block in the song file, its text form and its edits.

#include "core/arrangement.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "core/machine.h"
#include "song/song_editor.h"
#include "song/song_file.h"
#include "song/song_text.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

bool Same(const Arrangement& a, const Arrangement& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// A random arrangement made through the edit layer, as a person would make it.
void RandomEdits(SongEditor& edits, const Arrangement& a, std::mt19937& random, int count) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int i = 0; i < count; ++i) {
        const int n = a.count + 1;  // now and then one past the end, which is refused
        switch (pick(0, 7)) {
            case 0:
                edits.AddEntry(pick(1, n), pick(1, 8), pick(1, 99));
                break;
            case 1:
                edits.DuplicateEntry(pick(1, n));
                break;
            case 2:
                edits.DeleteEntry(pick(1, n));
                break;
            case 3:
                edits.MoveEntry(pick(1, n), pick(1, n));
                break;
            case 4:
                edits.SetEntryRepeats(pick(1, n), pick(1, 99));
                break;
            case 5:
                edits.ToggleEntryMute(pick(1, n), pick(1, 8));
                break;
            case 6:
                edits.SetArrangementLoop(pick(0, n));
                break;
            default:
                edits.AddEntry(pick(1, n), pick(1, 8));
                break;
        }
    }
}

class ArrangementDocument : public ::testing::Test {
protected:
    void SetUp() override {
        m = test::NewMachine();
        m->prompter = &prompter;
        edits = std::make_unique<SongEditor>(*m);
    }
    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Machine> m;
    std::unique_ptr<SongEditor> edits;
};

TEST_F(ArrangementDocument, EditsUndoRedoAndTheChangedMark) {
    std::mt19937 random(7);
    for (int round = 0; round < 20; ++round) {
        edits->TakeSong();
        const Arrangement start = m->arrangement;
        RandomEdits(*edits, m->arrangement, random, 30);
        EXPECT_TRUE(ArrangementValid(m->arrangement));
        const Arrangement end = m->arrangement;
        EXPECT_EQ(SongChanged(*m), !Same(start, end));
        while (edits->Undo()) {
        }
        EXPECT_TRUE(Same(m->arrangement, start));
        EXPECT_FALSE(SongChanged(*m));
        while (edits->Redo()) {
        }
        EXPECT_TRUE(Same(m->arrangement, end));
    }
}

TEST_F(ArrangementDocument, TheLoopFollowsItsEntry) {
    for (int p = 1; p <= 4; ++p) edits->AddEntry(p, p);
    edits->SetArrangementLoop(3);
    edits->MoveEntry(3, 1);  // pattern 3 is entry 1 now
    EXPECT_EQ(m->arrangement.loopTo, 1);
    edits->AddEntry(1, 8);
    EXPECT_EQ(m->arrangement.entry(m->arrangement.loopTo).pattern, 3);
    edits->DeleteEntry(m->arrangement.loopTo);
    EXPECT_EQ(m->arrangement.loopTo, 0);  // its entry gone, the list stops
    EXPECT_FALSE(edits->AddEntry(6, 1));  // past the end + 1
    EXPECT_FALSE(edits->SetEntryRepeats(1, 100));
}

TEST_F(ArrangementDocument, FileAndTextRoundTrips) {
    std::mt19937 random(11);
    test::SetNote(*m, 2, 1, 3, 5, 90);
    edits->TakeSong();
    const std::vector<std::uint8_t> plain = [&] {
        EXPECT_TRUE(SaveSong(*m, dir / "plain.sng", true));
        return test::ReadBytes(dir / "plain.sng");
    }();
    ASSERT_EQ(plain.size(), kSongSize);  // no arrangement: the record alone, as before
    for (int round = 0; round < 30; ++round) {
        RandomEdits(*edits, m->arrangement, random, 25);
        const Arrangement made = m->arrangement;
        ASSERT_TRUE(SaveSong(*m, dir / "a.sng", true));
        const auto bytes = test::ReadBytes(dir / "a.sng");
        const std::vector<std::uint8_t> block = ArrangementBlock(made);
        ASSERT_EQ(bytes.size(), kSongSize + block.size());
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), bytes.begin()));
        EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + kSongSize));
        ASSERT_LT(bytes.size(), 2 * kSongSize);

        auto other = test::NewMachine();
        ASSERT_TRUE(LoadSong(*other, dir / "a.sng", true));
        EXPECT_TRUE(Same(other->arrangement, made));
        ASSERT_TRUE(SaveSong(*other, dir / "b.sng", true));
        EXPECT_EQ(test::ReadBytes(dir / "b.sng"), bytes);  // kept byte for byte

        Song built{};
        Arrangement read;
        std::string error;
        ASSERT_TRUE(ApplySongText(built, read, FormatSongText(m->song, made), error)) << error;
        EXPECT_TRUE(Same(read, made));
    }
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(ArrangementDocument, ABlockThatCannotBeReadIsLeftOutWithANote) {
    edits->AddEntry(1, 2, 3);
    edits->AddEntry(2, 5);
    const std::vector<std::uint8_t> good = ArrangementBlock(m->arrangement);
    auto with = [&](std::size_t at, std::uint8_t value) {
        auto b = good;
        b[at] = value;
        return b;
    };
    const std::vector<std::vector<std::uint8_t>> damaged = {
        {good.begin(), good.end() - 1},  // cut short
        with(8, 2),                      // a later version
        with(10, 3),                     // count against length
        with(12, 3),                     // loops past the end
        with(14, 9),                     // pattern 9
        with(15, 0),                     // no repeats
        with(17, 1),                     // reserved byte
    };
    SaveSong(*m, dir / "s.sng", true);
    auto record = test::ReadBytes(dir / "s.sng");
    record.resize(kSongSize);
    for (const auto& block : damaged) {
        auto file = record;
        file.insert(file.end(), block.begin(), block.end());
        test::WriteBytes(dir / "d.sng", file);
        prompter.warnings.clear();
        ASSERT_TRUE(LoadSong(*m, dir / "d.sng", true));
        EXPECT_TRUE(m->arrangement.empty());
        ASSERT_EQ(prompter.warnings.size(), 1u);
        EXPECT_NE(prompter.warnings[0].find(kMsgArrangementLeftOut), std::string::npos);
        EXPECT_EQ(m->song.cell(1, 1, 1, 1).velocity, -1);  // the record loaded
    }
    record.insert(record.end(), {'j', 'u', 'n', 'k'});  // other bytes: as before
    test::WriteBytes(dir / "j.sng", record);
    prompter.warnings.clear();
    ASSERT_TRUE(LoadSong(*m, dir / "j.sng", true));
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST(ArrangementText, TheSyntaxAndItsErrors) {
    Song song{};
    Arrangement a;
    std::string error;
    ASSERT_TRUE(ApplySongText(song, a, "arrangement loop 2\n  1 x2\n  2 mute 3,4\n  1\n", error));
    ASSERT_EQ(a.count, 3);
    EXPECT_EQ(a.loopTo, 2);
    EXPECT_EQ(a.entry(1).repeats, 2);
    EXPECT_EQ(a.entry(2).mutes, 0x0C);
    for (const char* bad :
         {"arrangement loop 3\n 1\n 2\n", "arrangement\n 9\n", "arrangement\n 1 x0\n",
          "arrangement\n 1 mute 9\n", "arrangement\n1\narrangement\n", "arrangement stop\n"})
        EXPECT_FALSE(ApplySongText(song, a, bad, error)) << bad;
}

}  // namespace
}  // namespace qtam
