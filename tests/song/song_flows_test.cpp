#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/messages.h"
#include "core/song.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::ReadBytes;

class SongFlows : public ::testing::Test {
protected:
    void SetUp() override {
        m = test::NewMachine();
        m->prompter = &prompter;
    }
    // A dialog that records that it was shown.
    ChooseFile Dialog(std::optional<std::string> answer, int* shown) {
        return [answer, shown] {
            ++*shown;
            return answer;
        };
    }
    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Machine> m;
};

TEST_F(SongFlows, CancelledOpenChangesNothingButRefreshesTiming) {
    m->song.title.set("mine");
    test::MakeUnsavedEdit(*m);
    m->editor.SongFileName = "a.sng";
    std::vector<std::uint8_t> before(kSongSize);
    std::memcpy(before.data(), &m->song, kSongSize);
    m->player.clock.MeasureLength = 0;
    m->player.clock.StepLength[1] = 0;

    int shown = 0;
    prompter.answers3 = {Answer::No};  // do not save first
    EXPECT_FALSE(OpenSongFlow(*m, {Dialog(std::nullopt, &shown), {}}));
    EXPECT_EQ(shown, 1);
    ASSERT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(prompter.questions[0], kMsgSaveChanges);
    EXPECT_EQ(std::memcmp(before.data(), &m->song, kSongSize), 0);
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_EQ(m->editor.SongFileName, "a.sng");
    EXPECT_GT(m->player.clock.MeasureLength, 0);
    EXPECT_GT(m->player.clock.StepLength[1], 0);
}

TEST_F(SongFlows, FailedOpenKeepsSongNameAndFlag) {
    m->editor.SongFileName = "a.sng";
    test::MakeUnsavedEdit(*m);
    prompter.answers3 = {Answer::No};
    EXPECT_FALSE(OpenSongFlow(*m, {Chosen(dir / "missing.sng"), {}}));
    // The message names the file and the system's reason.
    EXPECT_EQ(prompter.warnings,
              std::vector<std::string>{
                  FileFailureText(kMsgSongOpenFailed, dir / "missing.sng", std::strerror(ENOENT))});
    EXPECT_EQ(m->editor.SongFileName, "a.sng");
    EXPECT_TRUE(SongChanged(*m));
}

TEST_F(SongFlows, OpenSetsPositionHumanizeFolderAndTheSongsUserbank) {
    auto bank = test::NewMachine();
    ClearUserbank(*bank);
    bank->banks.userbank.description = "Song bank";
    test::SetSound(bank->banks.userbank, 4, {3, 3, 3}, "clap");
    ASSERT_TRUE(SaveUserbank(*bank, dir / "songbank.ubf", true));
    const std::string bankPath = dir / "songbank.ubf";
    auto scratch = test::NewMachine();
    scratch->song.humanize = 1;
    scratch->song.tempo = 100;
    scratch->song.userbankFile.set(bankPath);
    ASSERT_TRUE(SaveSong(*scratch, dir / "withbank.sng", true));

    m->editor.CurrentPattern = 5;
    m->player.clock.PlayPattern = 5;
    m->player.clock.NextPattern = 6;
    const std::int32_t lengthAt145 = m->player.clock.MeasureLength;
    ASSERT_TRUE(OpenSongFlow(*m, {Chosen(dir / "withbank.sng"), {}}));
    EXPECT_TRUE(prompter.questions.empty()) << "nothing changed, nothing asked";
    EXPECT_EQ(m->editor.SongFileName, dir / "withbank.sng");
    EXPECT_EQ(m->editor.SongFolder, dir.path());
    EXPECT_EQ(m->editor.CurrentPattern, 1);
    EXPECT_EQ(m->player.clock.PlayPattern, 1);
    EXPECT_EQ(m->player.clock.NextPattern, 1);
    EXPECT_TRUE(m->editor.HumanizeChecked);
    EXPECT_GT(m->player.clock.MeasureLength, lengthAt145) << "timing follows the loaded tempo";
    EXPECT_EQ(m->activation.UserbankPath, bankPath);
    EXPECT_TRUE(m->activation.UserbankLoaded);
    EXPECT_EQ(m->banks.userbank.slot(4).sampleCount, 3);
}

// A song whose userbank is not there says so, with the file looked for and why, and no other
// bank's sounds play in its place: its channels are silent.
TEST_F(SongFlows, SongWithAMissingUserbankSaysSoAndPlaysNoOtherBank) {
    test::HangGuard guard;
    struct Case {
        std::string bank, reason;
    };
    const Case cases[] = {{dir / "gone.ubf", std::strerror(ENOENT)},
                          {test::MakeFifo(dir / "pipe.ubf"), "not a regular file"}};
    for (const Case& c : cases) {
        prompter.warnings.clear();
        test::SetSound(m->banks.userbank, 2, {1}, "active");
        m->activation.UserbankPath = "/banks/active.ubf";
        auto scratch = test::NewMachine();
        scratch->song.userbankFile.set(c.bank);
        ASSERT_TRUE(SaveSong(*scratch, dir / "s.sng", true));
        ASSERT_TRUE(OpenSongFlow(*m, {Chosen(dir / "s.sng"), {}}));
        ASSERT_EQ(prompter.warnings.size(), 1u) << c.bank;
        EXPECT_EQ(prompter.warnings[0], SongUserbankMissingText(c.bank, c.bank, c.reason));
        EXPECT_NE(prompter.warnings[0].find(c.bank), std::string::npos);
        EXPECT_FALSE(m->banks.userbank.slot(2).hasSound()) << "no other bank stands in";
        EXPECT_EQ(m->activation.UserbankPath, "");
        EXPECT_EQ(m->song.userbankFile.str(), c.bank) << "the song keeps naming its bank";
        // Nothing loads another bank over the silent one behind the song's back.
        LoadActiveUserbankIfNone(*m);
        EXPECT_EQ(m->song.userbankFile.str(), c.bank);
    }
}

TEST_F(SongFlows, SaveOnANamedSongNeverAsks) {
    ASSERT_TRUE(SaveSong(*m, dir / "named.sng", true));
    m->editor.SongFileName = dir / "named.sng";
    m->song.title.set("new title");
    test::MakeUnsavedEdit(*m);
    int shown = 0;
    EXPECT_TRUE(SaveSongFlow(*m, {{}, Dialog(dir / "other.sng", &shown)}));
    EXPECT_EQ(shown, 0);
    EXPECT_TRUE(prompter.questions.empty());
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_EQ(ReadBytes(dir / "named.sng")[103296], 'n');
}

TEST_F(SongFlows, SaveOnAnUnnamedSongGoesThroughSaveAs) {
    int shown = 0;
    test::MakeUnsavedEdit(*m);
    EXPECT_TRUE(SaveSongFlow(*m, {{}, Dialog(dir / "first", &shown)}));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(m->editor.SongFileName, dir / "first.SNG");
    EXPECT_EQ(m->editor.SongFolder, dir.path());
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_EQ(ReadBytes(dir / "first.SNG").size(), kSongSize);
}

TEST_F(SongFlows, SaveAsOverAnExistingFileAsksFirst) {
    ASSERT_TRUE(SaveSong(*m, dir / "taken.sng", true));
    m->editor.SongFileName = "old.sng";
    test::MakeUnsavedEdit(*m);
    prompter.answers = {false};
    EXPECT_FALSE(SaveSongAsFlow(*m, {{}, Chosen(dir / "taken.sng")}));
    EXPECT_EQ(prompter.questions, std::vector<std::string>{kMsgFileExists});
    EXPECT_EQ(m->editor.SongFileName, "old.sng");
    EXPECT_TRUE(SongChanged(*m));

    EXPECT_FALSE(SaveSongAsFlow(*m, {{}, Chosen(std::nullopt)}));
    EXPECT_EQ(m->editor.SongFileName, "old.sng");
}

TEST_F(SongFlows, ChangedSongQuestion) {
    // No: the changes are dropped by the new song.
    test::MakeUnsavedEdit(*m);
    m->song.title.set("lost");
    prompter.answers3 = {Answer::No};
    NewSongFlow(*m, {});
    EXPECT_EQ(prompter.questions.size(), 1u);
    EXPECT_TRUE(m->song.title.empty());
    EXPECT_FALSE(SongChanged(*m));

    // Yes on an unnamed song: the save dialog; cancelling it keeps the changes, and the new
    // song that asked does not replace them.
    int shown = 0;
    test::MakeUnsavedEdit(*m);
    m->song.title.set("kept");
    prompter.answers3 = {Answer::Yes};
    EXPECT_FALSE(NewSongFlow(*m, {{}, Dialog(std::nullopt, &shown)}));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_EQ(m->song.title.str(), "kept");
    // The same for "Open song": its dialog is not even shown.
    int opened = 0;
    prompter.answers3 = {Answer::Yes};
    EXPECT_FALSE(OpenSongFlow(*m, {Dialog(std::nullopt, &opened), Dialog(std::nullopt, &shown)}));
    EXPECT_EQ(opened, 0);
    EXPECT_TRUE(SongChanged(*m));

    // Yes on a named song saves it silently.
    m->editor.SongFileName = dir / "kept.sng";
    prompter.answers3 = {Answer::Yes};
    EXPECT_TRUE(AskToSaveChanges(*m, {}));
    EXPECT_EQ(ReadBytes(dir / "kept.sng")[103296], 'k');
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_EQ(prompter.questions.size(), 4u);

    // Unchanged songs are not asked about.
    EXPECT_TRUE(AskToSaveChanges(*m, {}));
    EXPECT_EQ(prompter.questions.size(), 4u);

    // A save that fails keeps the flag: the song's folder has gone.
    test::MakeUnsavedEdit(*m);
    m->editor.SongFileName = dir / "gone/kept.sng";
    prompter.answers3 = {Answer::Yes};
    EXPECT_FALSE(AskToSaveChanges(*m, {}));
    EXPECT_TRUE(SongChanged(*m));
}

// Cancel (what Escape and the close box answer) on the question of every flow that would
// replace the Song: nothing is saved, no dialog shows, the Song, its name and its changed mark
// stay as they were.
TEST_F(SongFlows, CancelKeepsEverythingInEveryFlow) {
    const std::vector<std::pair<const char*, std::function<bool(const SongDialogs&)>>> flows = {
        {"new", [&](const SongDialogs& d) { return NewSongFlow(*m, d); }},
        {"open", [&](const SongDialogs& d) { return OpenSongFlow(*m, d); }},
        {"ask", [&](const SongDialogs& d) { return AskToSaveChanges(*m, d); }},
        {"exit", [&](const SongDialogs& d) { return AskToSaveBeforeExit(*m, d); }},
    };
    for (const auto& [name, flow] : flows) {
        for (const bool named : {false, true}) {
            m->song.title.set("unsaved");
            test::SetNote(*m, 1, 1, 3, 5, 99);
            test::MakeUnsavedEdit(*m);
            m->editor.SongFileName = named ? dir / "named.sng" : "";
            std::vector<std::uint8_t> before(kSongSize);
            std::memcpy(before.data(), &m->song, kSongSize);
            int shown = 0;
            prompter.questions.clear();
            prompter.answers3 = {Answer::Cancel};
            EXPECT_FALSE(flow({Dialog(dir / "other.sng", &shown), Dialog(dir / "s.sng", &shown)}))
                << name;
            EXPECT_EQ(prompter.questions, std::vector<std::string>{kMsgSaveChanges}) << name;
            EXPECT_EQ(shown, 0) << name;
            EXPECT_EQ(std::memcmp(before.data(), &m->song, kSongSize), 0) << name;
            EXPECT_TRUE(SongChanged(*m)) << name;
            EXPECT_EQ(m->editor.SongFileName, named ? dir / "named.sng" : "") << name;
            EXPECT_FALSE(FileExists(dir / "named.sng")) << name;
        }
    }
}

TEST_F(SongFlows, QuestionBeforeClosing) {
    EXPECT_TRUE(AskToSaveBeforeExit(*m, {}));  // nothing changed, nothing asked
    EXPECT_TRUE(prompter.questions.empty());

    test::MakeUnsavedEdit(*m);
    prompter.answers3 = {Answer::Cancel, Answer::Yes, Answer::No};
    // Cancel: stays open and still changed, so the next close asks again.
    EXPECT_FALSE(AskToSaveBeforeExit(*m, {}));
    EXPECT_TRUE(SongChanged(*m));
    // Yes, but the save dialog is cancelled: stays open and changed.
    int shown = 0;
    EXPECT_FALSE(AskToSaveBeforeExit(*m, {{}, Dialog(std::nullopt, &shown)}));
    EXPECT_EQ(shown, 1);
    EXPECT_TRUE(SongChanged(*m));
    // No: closes without saving.
    EXPECT_TRUE(AskToSaveBeforeExit(*m, {}));
    EXPECT_EQ(prompter.questions, std::vector<std::string>(3, kMsgSaveChanges));

    // Yes with a save that goes through: closes.
    prompter.answers3 = {Answer::Yes};
    EXPECT_TRUE(AskToSaveBeforeExit(*m, {{}, Chosen(dir / "closing")}));
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_EQ(ReadBytes(dir / "closing.SNG").size(), kSongSize);
}

TEST_F(SongFlows, NewSongTakesTheLoadedUserbank) {
    m->editor.SongFileName = "x.sng";
    m->activation.UserbankPath = "/banks/live.ubf";
    m->banks.userbank.description = "Live kit";
    m->song.tempo = 99;
    MarkSongSaved(*m);  // saved: no question
    NewSongFlow(*m, {});
    EXPECT_TRUE(m->editor.SongFileName.empty());
    EXPECT_EQ(m->song.tempo, 145);

    ASSERT_TRUE(SaveSong(*m, dir / "fresh.sng", true));
    const auto b = ReadBytes(dir / "fresh.sng");
    EXPECT_EQ(b[102957], 15);
    EXPECT_EQ(std::memcmp(&b[102958], "/banks/live.ubf", 15), 0);
    EXPECT_EQ(b[103213], 8);
    EXPECT_EQ(std::memcmp(&b[103214], "Live kit", 8), 0);
}

}  // namespace
}  // namespace qtam
