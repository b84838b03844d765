// The arrangement as a document: its edits, its block in the song file and its text form.

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

class ArrangementDocument : public ::testing::Test {
protected:
    void SetUp() override {
        m = test::NewMachine();
        m->prompter = &prompter;
        edits = std::make_unique<SongEditor>(*m);
    }
    // Random edits through the edit layer; now and then one past the end, which is refused.
    void RandomEdits(std::mt19937& random, int count) {
        auto pick = [&](int lo, int hi) { return std::uniform_int_distribution(lo, hi)(random); };
        for (int i = 0; i < count; ++i) {
            const int n = m->arrangement.count + 1;
            const int kind = pick(0, 6);
            if (kind == 0) edits->AddEntry(pick(1, n), pick(1, 8), pick(1, 99));
            if (kind == 1) edits->DuplicateEntry(pick(1, n));
            if (kind == 2) edits->DeleteEntry(pick(1, n));
            if (kind == 3) edits->MoveEntry(pick(1, n), pick(1, n));
            if (kind == 4) edits->ToggleEntryMute(pick(1, n), pick(1, 8));
            if (kind == 5) edits->SetArrangementLoop(pick(0, n));
            if (kind == 6) edits->AddEntry(pick(1, n), pick(1, 8));
        }
    }
    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Machine> m;
    std::unique_ptr<SongEditor> edits;
};

TEST_F(ArrangementDocument, EditsSavesAndTextsRoundTrip) {
    std::mt19937 random(7);
    test::SetNote(*m, 2, 1, 3, 5, 90);
    edits->TakeSong();
    ASSERT_TRUE(SaveSong(*m, dir / "plain.sng", true));
    const auto plain = test::ReadBytes(dir / "plain.sng");
    ASSERT_EQ(plain.size(), kSongSize);  // no arrangement: the record alone, as before
    const Arrangement initial = m->arrangement;
    for (int round = 0; round < 25; ++round) {
        const Arrangement start = m->arrangement;
        RandomEdits(random, 25);
        const Arrangement made = m->arrangement;
        ASSERT_TRUE(ArrangementValid(made));
        EXPECT_EQ(SongChanged(*m), !Same(start, made));

        ASSERT_TRUE(SaveSong(*m, dir / "a.sng", true));
        const auto bytes = test::ReadBytes(dir / "a.sng");
        const std::vector<std::uint8_t> block = ArrangementBlock(made);
        ASSERT_EQ(bytes.size(), kSongSize + block.size());
        EXPECT_TRUE(std::equal(plain.begin(), plain.end(), bytes.begin()));
        EXPECT_TRUE(std::equal(block.begin(), block.end(), bytes.begin() + kSongSize));
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
    // Undone back to the start, then redone to the state saved last, unchanged there.
    const Arrangement last = m->arrangement;
    while (edits->Undo()) {
    }
    EXPECT_TRUE(Same(m->arrangement, initial));
    EXPECT_EQ(SongChanged(*m), !Same(initial, last));
    while (edits->Redo()) {
    }
    EXPECT_TRUE(Same(m->arrangement, last));
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(ArrangementDocument, TheLoopFollowsItsEntry) {
    for (int p = 1; p <= 4; ++p) edits->AddEntry(p, p);
    edits->SetArrangementLoop(3);
    edits->MoveEntry(3, 1);
    edits->AddEntry(1, 8);
    EXPECT_EQ(m->arrangement.entry(m->arrangement.loopTo).pattern, 3);
    edits->DeleteEntry(m->arrangement.loopTo);
    EXPECT_EQ(m->arrangement.loopTo, 0);  // its entry gone, the list stops
}

TEST_F(ArrangementDocument, ABlockThatCannotBeReadIsLeftOutWithANote) {
    edits->AddEntry(1, 2, 3);
    edits->AddEntry(2, 5);
    const std::vector<std::uint8_t> good = ArrangementBlock(m->arrangement);
    m->song.tempo = 177;
    SaveSong(*m, dir / "s.sng", true);
    auto record = test::ReadBytes(dir / "s.sng");
    record.resize(kSongSize);
    auto with = [&](std::size_t at, std::uint8_t value) {
        auto b = good;
        b[at] = value;
        return b;
    };
    // Cut short, a later version, count against length, a loop past the end, pattern 9, no
    // repeats, a reserved byte; then bytes that are no block, ignored as before.
    const std::vector<std::vector<std::uint8_t>> blocks = {{good.begin(), good.end() - 1},
                                                           with(8, 2),
                                                           with(10, 3),
                                                           with(12, 3),
                                                           with(14, 9),
                                                           with(15, 0),
                                                           with(17, 1),
                                                           {'j', 'u', 'n', 'k'}};
    for (const auto& block : blocks) {
        auto file = record;
        file.insert(file.end(), block.begin(), block.end());
        test::WriteBytes(dir / "d.sng", file);
        prompter.warnings.clear();
        m->song.tempo = 100;
        ASSERT_TRUE(LoadSong(*m, dir / "d.sng", true));
        EXPECT_TRUE(m->arrangement.empty());
        EXPECT_EQ(m->song.tempo, 177);  // the record loaded
        const bool isBlock = block[0] == 'Q';
        ASSERT_EQ(prompter.warnings.size(), isBlock ? 1u : 0u);
        if (isBlock) {
            EXPECT_NE(prompter.warnings[0].find(kMsgArrangementLeftOut), std::string::npos);
        }
    }
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
          "arrangement\n 1 mute 9\n", "arrangement\n1\narrangement\n"})
        EXPECT_FALSE(ApplySongText(song, a, bad, error)) << bad;
}

}  // namespace
}  // namespace qtam
