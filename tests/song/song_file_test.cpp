#include "song/song_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <random>

#include "banks/userbank_file.h"
#include "core/machine.h"
#include "core/song.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::ReadBytes;
using test::WriteBytes;

std::vector<std::uint8_t> Image(const Song& s) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&s);
    return std::vector<std::uint8_t>(p, p + kSongSize);
}

class SongFile : public ::testing::Test {
protected:
    void SetUp() override {
        m = test::NewMachine();
        m->prompter = &prompter;
    }
    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Machine> m;
};

TEST_F(SongFile, FieldsLandAtTheirOffsets) {
    Song& s = m->song;
    test::SetNote(*m, 3, 2, 5, 7, 99, 12, 1);
    s.settings(8).instrument[1] = 117;
    s.settings(8).volume[7] = 77;
    s.settings(8).distortionGain = 0x1234;
    s.measureCount[5] = 9;
    s.tempo = 0x0102;
    s.shuffle = 133;
    s.humanize = 1;
    s.stepsPerMeasure = 12;
    s.userbankFile.set("banks/x.ubf");
    s.userbankDescription.set("desc");
    s.author.set("Au");
    s.title.set("Ti");
    s.subtitle.set("Su");
    s.showInfoOnOpen = 1;
    ASSERT_TRUE(SaveSong(*m, dir / "offsets", false));
    const auto b = ReadBytes(dir / "offsets.SNG");
    ASSERT_EQ(b.size(), 103450u);

    EXPECT_EQ(b[0], 30);
    EXPECT_EQ(std::memcmp(&b[1], "Q.Tam format 1.0 Pattern-file\x1A", 30), 0);
    const std::size_t cell = 32 + 2 * 12864 + 1 * 804 + 4 * 96 + 6 * 6;
    EXPECT_EQ(b[cell], 99);
    EXPECT_EQ(b[cell + 1], 12);
    EXPECT_EQ(b[cell + 2], 1);
    EXPECT_EQ(b[cell + 6], 255) << "the next slot is empty";
    const std::size_t p8 = 32 + 7 * 12864;
    EXPECT_EQ(b[p8 + 768 + 1], 117);
    EXPECT_EQ(b[p8 + 784 + 7], 77);
    EXPECT_EQ(b[p8 + 800], 0x34);
    EXPECT_EQ(b[p8 + 801], 0x12);
    EXPECT_EQ(b[102944 + 5], 9);
    EXPECT_EQ(b[102952], 0x02);
    EXPECT_EQ(b[102953], 0x01);
    EXPECT_EQ(b[102954], 133);
    EXPECT_EQ(b[102955], 1);
    EXPECT_EQ(b[102956], 12);
    EXPECT_EQ(b[102957], 11);
    EXPECT_EQ(std::memcmp(&b[102958], "banks/x.ubf", 11), 0);
    EXPECT_EQ(b[103213], 4);
    EXPECT_EQ(std::memcmp(&b[103214], "desc", 4), 0);
    EXPECT_EQ(b[103244], 2);
    EXPECT_EQ(b[103245], 'A');
    EXPECT_EQ(b[103296], 'T');
    EXPECT_EQ(b[103347], 'S');
    EXPECT_EQ(b[103397], 8);
    EXPECT_EQ(b[103398], 0xA9);
    EXPECT_EQ(b[103448], 1);
    EXPECT_FALSE(SongChanged(*m));
}

TEST_F(SongFile, AnyHeaderIsAcceptedAndKept) {
    std::vector<std::uint8_t> bytes = Image(m->song);
    const char other[] = "\x05Hello, this is no song header";
    std::memcpy(bytes.data(), other, 31);
    bytes[102952] = 120;  // tempo
    bytes[102953] = 0;
    WriteBytes(dir / "odd.sng", bytes);

    test::MakeUnsavedEdit(*m);
    m->editor.CurrentPattern = 4;
    m->editor.CurrentMeasure = 3;
    m->editor.CurrentStep = 9;
    ASSERT_TRUE(LoadSong(*m, dir / "odd.sng", false));
    EXPECT_EQ(m->song.header.str(), "Hello");
    EXPECT_EQ(m->song.tempo, 120);
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_EQ(m->editor.CurrentPattern, 1);
    EXPECT_EQ(m->editor.CurrentMeasure, 1);
    EXPECT_EQ(m->editor.CurrentStep, 1);

    ASSERT_TRUE(SaveSong(*m, dir / "again.sng", false));
    EXPECT_EQ(ReadBytes(dir / "again.sng"), bytes);
    EXPECT_EQ(prompter.busyDepth, 0);
}

TEST_F(SongFile, OnlyFilesHoldingExactlyOneRecordLoad) {
    m->song.title.set("keep me");
    const auto before = Image(m->song);
    for (std::size_t size :
         {std::size_t{0}, std::size_t{103449}, std::size_t{206900}, std::size_t{300000}}) {
        SCOPED_TRACE(size);
        prompter.warnings.clear();
        WriteBytes(dir / "wrong.sng", std::vector<std::uint8_t>(size, 3));
        EXPECT_FALSE(LoadSong(*m, dir / "wrong.sng", true));
        ASSERT_EQ(prompter.warnings.size(), 1u) << "shown also when quiet";
        EXPECT_EQ(test::Sentence(prompter.warnings[0]), kMsgNotASong);
        EXPECT_NE(prompter.warnings[0].find("File: " + (dir / "wrong.sng")), std::string::npos);
        EXPECT_EQ(Image(m->song), before);
    }
    auto bytes = Image(m->song);
    bytes.resize(206899, 0xEE);
    WriteBytes(dir / "long.sng", bytes);
    EXPECT_TRUE(LoadSong(*m, dir / "long.sng", true));
}

TEST_F(SongFile, UnopenableFilesAreReportedUnlessQuiet) {
    const auto before = Image(m->song);
    EXPECT_FALSE(LoadSong(*m, dir / "missing", true));
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_FALSE(LoadSong(*m, dir / "missing", false));
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(prompter.warnings[0],
              FileFailureText(kMsgSongOpenFailed, (dir / "missing.SNG"), std::strerror(ENOENT)));
    // A folder is no file that opens, not a file of the wrong size.
    std::filesystem::create_directory(dir / "folder.sng");
    EXPECT_FALSE(LoadSong(*m, dir / "folder.sng", true));
    EXPECT_EQ(prompter.warnings.size(), 1u);
    EXPECT_FALSE(LoadSong(*m, dir / "folder.sng", false));
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>(2, kMsgSongOpenFailed));
    // A folder named without a dot is named as given, not with the extension added.
    std::filesystem::create_directory(dir / "beats");
    prompter.warnings.clear();
    EXPECT_FALSE(LoadSong(*m, dir / "beats", false));
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(prompter.warnings[0],
              FileFailureText(kMsgSongOpenFailed, dir / "beats", std::strerror(EISDIR)));
    EXPECT_EQ(Image(m->song), before);
}

TEST_F(SongFile, ExtensionIsAddedOnlyToNamesWithoutAnyDot) {
    ASSERT_TRUE(SaveSong(*m, dir / "plain", false));
    EXPECT_TRUE(std::filesystem::exists(dir / "plain.SNG"));
    EXPECT_TRUE(LoadSong(*m, dir / "plain", false));

    std::filesystem::create_directory(dir / "v1.2");
    ASSERT_TRUE(SaveSong(*m, dir / "v1.2/beat", false));
    EXPECT_TRUE(std::filesystem::exists(dir / "v1.2/beat"));
    EXPECT_FALSE(std::filesystem::exists(dir / "v1.2/beat.SNG"));
    EXPECT_TRUE(LoadSong(*m, dir / "v1.2/beat", false));
}

TEST_F(SongFile, OutOfRangeValuesAreBroughtIntoRange) {
    struct Case {
        std::uint8_t steps, count0, count7, shuffle;
        std::uint16_t tempo;
        int wantSteps, wantCount0, wantCount7, wantShuffle, wantTempo;
    };
    const Case cases[] = {
        {13, 0, 200, 20, 10, 16, 1, 16, 100, 50},
        {12, 16, 1, 200, 9999, 12, 16, 1, 150, 250},
        {0, 5, 17, 150, 50, 16, 5, 16, 150, 50},
    };
    for (const Case& c : cases) {
        auto bytes = Image(m->song);
        bytes[102956] = c.steps;
        bytes[102944] = c.count0;
        bytes[102951] = c.count7;
        bytes[102954] = c.shuffle;
        bytes[102952] = static_cast<std::uint8_t>(c.tempo & 0xFF);
        bytes[102953] = static_cast<std::uint8_t>(c.tempo >> 8);
        WriteBytes(dir / "range.sng", bytes);
        ASSERT_TRUE(LoadSong(*m, dir / "range.sng", true));
        EXPECT_EQ(m->song.stepsPerMeasure, c.wantSteps);
        EXPECT_EQ(m->song.measureCount[0], c.wantCount0);
        EXPECT_EQ(m->song.measureCount[7], c.wantCount7);
        EXPECT_EQ(m->song.shuffle, c.wantShuffle);
        EXPECT_EQ(m->song.tempo, c.wantTempo);
    }
}

// A pan byte of 255 from a foreign file would invert one channel and clip the other.
TEST_F(SongFile, PansAboveTheRightEdgeAreBroughtToIt) {
    test::SetNote(*m, 1, 1, 1, 1, 100, 255);
    test::SetNote(*m, 8, 16, 8, 16, 100, 128);
    test::SetNote(*m, 2, 3, 4, 5, 100, 127);
    test::SetNote(*m, 2, 3, 4, 6, 100, 0);
    WriteBytes(dir / "pans.sng", Image(m->song));
    ASSERT_TRUE(LoadSong(*m, dir / "pans.sng", true));
    EXPECT_EQ(m->song.cell(1, 1, 1, 1).pan, 127);
    EXPECT_EQ(m->song.cell(8, 16, 8, 16).pan, 127);
    EXPECT_EQ(m->song.cell(2, 3, 4, 5).pan, 127);
    EXPECT_EQ(m->song.cell(2, 3, 4, 6).pan, 0);
}

// Loading only reads: a read-only file is read as it is, its inode untouched, and a FIFO is
// refused at once instead of waiting for a writer.
TEST_F(SongFile, LoadingNeverChangesTheFileAndNeverWaits) {
    test::HangGuard guard;
    ASSERT_TRUE(SaveSong(*m, dir / "ro.sng", false));
    ::chmod((dir / "ro.sng").c_str(), 0444);
    const auto before = test::ChangeTimeOf(dir / "ro.sng");
    EXPECT_TRUE(LoadSong(*m, dir / "ro.sng", false));
    EXPECT_TRUE(test::SameTime(test::ChangeTimeOf(dir / "ro.sng"), before));

    m->song.title.set("kept");
    const std::string fifo = test::MakeFifo(dir / "pipe.sng");
    EXPECT_FALSE(LoadSong(*m, fifo, false));
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>{kMsgNotASong});
    EXPECT_EQ(m->song.title.str(), "kept");
    EXPECT_EQ(test::ModeOf(fifo), 0644u);
}

TEST_F(SongFile, ReadOnlySongsOpenSaveAndStayReadOnly) {
    ASSERT_TRUE(SaveSong(*m, dir / "ro.sng", false));
    ::chmod((dir / "ro.sng").c_str(), 0444);
    EXPECT_TRUE(LoadSong(*m, dir / "ro.sng", false));
    EXPECT_EQ(test::ModeOf(dir / "ro.sng"), 0444u);

    m->song.title.set("changed");
    EXPECT_TRUE(SaveSong(*m, dir / "ro.sng", true));
    EXPECT_EQ(test::ModeOf(dir / "ro.sng"), 0444u);
    EXPECT_EQ(ReadBytes(dir / "ro.sng"), Image(m->song));

    WriteBytes(dir / "short.sng", std::vector<std::uint8_t>(10));
    ::chmod((dir / "short.sng").c_str(), 0400);
    EXPECT_FALSE(LoadSong(*m, dir / "short.sng", false));
    EXPECT_EQ(test::ModeOf(dir / "short.sng"), 0400u);
}

TEST_F(SongFile, OverwriteIsAskedUnlessSilent) {
    WriteBytes(dir / "old.sng", {7});
    prompter.answers = {false};
    EXPECT_FALSE(SaveSong(*m, dir / "old.sng", false));
    ASSERT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(prompter.questions[0], kMsgFileExists);
    EXPECT_EQ(ReadBytes(dir / "old.sng"), (std::vector<std::uint8_t>{7}));
    EXPECT_TRUE(SaveSong(*m, dir / "old.sng", true));
    EXPECT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(ReadBytes(dir / "old.sng").size(), kSongSize);
}

TEST_F(SongFile, FailedSavesKeepTheOldFile) {
    test::MakeUnsavedEdit(*m);
    EXPECT_FALSE(SaveSong(*m, dir / "nowhere/x.sng", true));
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(test::Sentence(prompter.warnings[0]), kMsgCannotCreate);
    EXPECT_TRUE(SongChanged(*m));

    std::filesystem::create_directory(dir / "dir.sng");
    EXPECT_FALSE(SaveSong(*m, dir / "dir.sng", true));
    ASSERT_EQ(prompter.warnings.size(), 2u);
    EXPECT_EQ(test::Sentence(prompter.warnings[1]), kMsgCannotCreate) << "a folder is in the way";
    EXPECT_TRUE(std::filesystem::is_directory(dir / "dir.sng"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1)
        << "no temporary left";
    EXPECT_TRUE(SongChanged(*m));

    if (!test::RunningAsRoot()) {
        std::filesystem::create_directory(dir / "locked");
        WriteBytes(dir / "locked/old.sng", {1, 2});
        ::chmod((dir / "locked").c_str(), 0555);
        EXPECT_FALSE(SaveSong(*m, dir / "locked/old.sng", true));
        EXPECT_EQ(test::Sentence(prompter.warnings.back()), kMsgCannotCreate);
        EXPECT_EQ(ReadBytes(dir / "locked/old.sng"), (std::vector<std::uint8_t>{1, 2}));
    }
}

// Whatever a song file holds, a loaded Song keeps the ranges every reader relies on.
TEST_F(SongFile, RandomAndTruncatedFilesNeverCrash) {
    std::mt19937 rng(42);
    for (int round = 0; round < 60; ++round) {
        std::size_t size = round % 3 == 0 ? rng() % kSongSize : kSongSize + rng() % 1000;
        std::vector<std::uint8_t> bytes(size);
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
        WriteBytes(dir / "fuzz.sng", bytes);
        bool loaded = LoadSong(*m, dir / "fuzz.sng", true);
        EXPECT_EQ(loaded, size >= kSongSize);
        const Song& s = m->song;
        EXPECT_TRUE(s.stepsPerMeasure == 12 || s.stepsPerMeasure == 16);
        for (auto n : s.measureCount) EXPECT_TRUE(n >= 1 && n <= 16);
        EXPECT_TRUE(s.tempo >= 50 && s.tempo <= 250);
        EXPECT_TRUE(s.shuffle >= 100 && s.shuffle <= 150);
        EXPECT_LE(s.title.str().size(), 50u);
    }
}

}  // namespace
}  // namespace qtam
