#include "banks/kit.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <random>

#include "banks/userbank_file.h"
#include "core/config.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/messages.h"
#include "song/song_file.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::WriteBytes;

// Writes a bank file through the saver, from a scratch machine, with a sound of `count` samples
// in slot 1 and the given description.
void MakeBankFile(const std::string& path, std::int32_t count, const std::string& description) {
    auto scratch = test::NewMachine();
    ClearUserbank(*scratch);
    scratch->banks.userbank.description = description;
    if (count > 0)
        test::SetSound(scratch->banks.userbank, 1, std::vector<std::int16_t>(count, 11), "Kick");
    ASSERT_TRUE(SaveUserbank(*scratch, path, true));
}

class Activation : public ::testing::Test {
protected:
    void SetUp() override {
        m = test::NewMachine();
        m->prompter = &prompter;
        program = dir / "qtam";
    }
    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Machine> m;
    std::string program;
};

// The data folder in both layouts: a build folder (the kit beside the program) and an
// installed tree (bin/ and share/qtam/ side by side), for trees at several depths.
TEST(DataFolder, BesideTheProgramInABuildFolderElseTheInstalledShareFolder) {
    test::TempFolder dir;
    for (const std::string& root : {dir.path(), dir / "usr", dir / "opt/q tam/x"}) {
        const std::string bin = root + "/bin/";
        const std::string installed =
            (std::filesystem::path(bin) / QTAM_DATA_FROM_PROGRAM).lexically_normal().string() + "/";
        std::filesystem::create_directories(bin);
        EXPECT_EQ(DataFolderFor(bin + "qtam"), installed);
        EXPECT_EQ(KitPathFor(bin + "qtam-cli"), installed + "engines.dll");
        EXPECT_EQ(ExampleSongsFolderFor(bin + "qtam"), installed + "songs");
        EXPECT_EQ(installed.find(".."), std::string::npos) << installed;

        MakeBankFile(bin + "engines.dll", 10, "Kit");
        EXPECT_EQ(DataFolderFor(bin + "qtam"), bin);
        EXPECT_EQ(KitPathFor(bin + "qtam"), bin + "engines.dll");
        EXPECT_EQ(ExampleSongsFolderFor(bin + "qtam"), bin + "songs");
    }
}

TEST(DataFolder, TheFirstRunStartsTheSongDialogsAtTheExamples) {
    test::TempFolder dir;
    const std::string program = dir / "bin/qtam";
    std::filesystem::create_directories(dir / "bin");
    MakeBankFile(dir / "bin/engines.dll", 10, "Kit");
    auto m = test::NewMachine();

    StartSongFolderAtExamples(*m, program);  // no example folder: nothing to start at
    EXPECT_EQ(m->editor.SongFolder, "");

    std::filesystem::create_directories(dir / "bin/songs");
    StartSongFolderAtExamples(*m, program);
    EXPECT_EQ(m->editor.SongFolder, dir / "bin/songs");

    m->editor.SongFolder = "/home/me/beats";  // a configured folder stays
    StartSongFolderAtExamples(*m, program);
    EXPECT_EQ(m->editor.SongFolder, "/home/me/beats");
}

TEST_F(Activation, KitBesideTheProgramIsLoadedOnce) {
    EXPECT_EQ(DirectoryOf("C:\\Songs\\beat.sng"), "C:\\Songs\\");
    EXPECT_EQ(FileNameOf("C:\\Songs\\beat.sng"), "beat.sng");
    EXPECT_EQ(FileNameOf("beat.sng"), "");
    MakeBankFile(dir / "engines.dll", kInternalSlotCapacity, "Kit");
    m->activation.EditorActive = true;
    ActivateMainWindow(*m, program);
    EXPECT_TRUE(m->activation.InternalBankLoaded);
    EXPECT_FALSE(m->activation.EditorActive);
    ASSERT_EQ(m->banks.internalBank.slot(1).sampleCount, kInternalSlotCapacity);
    EXPECT_EQ(m->banks.internalBank.slot(1).samples[kInternalSlotCapacity - 1], 11);
    EXPECT_EQ(m->banks.internalBank.description, "Kit" + std::string(27, ' '));
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(prompter.busyDepth, 0);
}

TEST_F(Activation, MissingKitIsReportedOnceAndLeavesTheBankEmpty) {
    ActivateMainWindow(*m, program);
    ActivateMainWindow(*m, program);
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(test::Sentence(prompter.warnings[0]),
              "An error occurred while loading the default-drumkit...");
    EXPECT_TRUE(m->activation.InternalBankLoaded);
    for (int n = 1; n <= 20; ++n) EXPECT_EQ(m->banks.internalBank.slot(n).samples, nullptr);
}

// Only the sounds asked for are read; every slot keeps its name, and a sound left in the file
// replaces the one in memory by none. A kit that is refused changes nothing.
TEST_F(Activation, KitSoundsAreReadOnlyForTheSlotsAskedFor) {
    auto scratch = test::NewMachine();
    ClearUserbank(*scratch);
    for (int n = 1; n <= 4; ++n)
        test::SetSound(scratch->banks.userbank, n, std::vector<std::int16_t>(10 * n, n), "S");
    ASSERT_TRUE(SaveUserbank(*scratch, dir / "kit.dll", true));
    test::SetSound(m->banks.internalBank, 2, {5, 5}, "before");
    ASSERT_TRUE(LoadInternalBankSounds(*m, dir / "kit.dll", SlotSet("0101")));  // slots 1 and 3
    for (int n = 1; n <= 4; ++n) {
        const SampleSlot& slot = m->banks.internalBank.slot(n);
        EXPECT_EQ(slot.name, "S" + std::string(19, ' '));
        EXPECT_EQ(slot.hasSound(), n % 2 == 1) << n;
        if (slot.hasSound()) {
            EXPECT_EQ(slot.sampleCount, 10 * n);
            EXPECT_EQ(slot.samples[10 * n - 1], n);
        }
    }
    WriteBytes(dir / "short.dll", {'C', 'U', 'S', 'T'});
    EXPECT_FALSE(LoadInternalBankSounds(*m, dir / "short.dll", kEverySlot));
    EXPECT_EQ(m->banks.internalBank.slot(3).sampleCount, 30);
    EXPECT_EQ(prompter.warnings.size(), 1u);
}

TEST_F(Activation, RefusedKitsChangeNothing) {
    test::SetSound(m->banks.internalBank, 2, {1, 2, 3}, "before");
    MakeBankFile(dir / "big.dll", kInternalSlotCapacity + 1, "Kit");
    WriteBytes(dir / "short.dll", {'C', 'U', 'S', 'T'});
    for (const char* name : {"big.dll", "short.dll", "missing.dll"}) {
        SCOPED_TRACE(name);
        prompter.warnings.clear();
        EXPECT_FALSE(LoadInternalBank(*m, dir / name));
        ASSERT_EQ(prompter.warnings.size(), 1u);
        EXPECT_EQ(test::Sentence(prompter.warnings[0]), kMsgKitFailed);
        EXPECT_EQ(m->banks.internalBank.slot(1).samples, nullptr);
        EXPECT_EQ(m->banks.internalBank.slot(2).sampleCount, 3);
        EXPECT_EQ(m->banks.internalBank.slot(2).name, "before");
    }
}

TEST_F(Activation, AKitThatIsAFifoIsRefusedAtOnce) {
    test::HangGuard guard;
    const std::string fifo = test::MakeFifo(dir / "engines.dll");
    EXPECT_FALSE(LoadInternalBank(*m, fifo));
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>{kMsgKitFailed});
    EXPECT_EQ(test::ModeOf(fifo), 0644u);
}

TEST_F(Activation, RandomKitFilesNeverCrash) {
    std::mt19937 rng(99);
    MakeBankFile(dir / "real.dll", 300, "Kit");
    const auto real = test::ReadBytes(dir / "real.dll");
    for (int round = 0; round < 100; ++round) {
        std::vector<std::uint8_t> bytes = real;
        bytes.resize(rng() % (real.size() + 1));
        for (int k = 0; k < 4 && !bytes.empty(); ++k)
            bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        WriteBytes(dir / "fuzz.dll", bytes);
        if (LoadInternalBank(*m, dir / "fuzz.dll")) {
            for (int n = 1; n <= 20; ++n)
                EXPECT_LE(m->banks.internalBank.slot(n).sampleCount, kInternalSlotCapacity);
        }
    }
}

TEST_F(Activation, ConfiguredUserbankIsLoadedAndShown) {
    MakeBankFile(dir / "engines.dll", 10, "Kit");
    MakeBankFile(dir / "mine.ubf", 10, "Custom userbank");
    m->activation.UserbankPath = dir / "mine.ubf";
    EXPECT_FALSE(m->activation.UserbankLoaded);
    ActivateMainWindow(*m, program);
    EXPECT_TRUE(m->activation.UserbankLoaded);
    EXPECT_EQ(m->banks.userbank.description, "Custom userbank" + std::string(15, ' '));
    EXPECT_EQ(m->song.userbankFile.str(), dir / "mine.ubf");
    EXPECT_EQ(m->song.userbankDescription.str(), "Custom userbank" + std::string(15, ' '));
    EXPECT_EQ(m->banks.userbank.slot(1).sampleCount, 10);
}

TEST_F(Activation, MissingConfiguredUserbankIsSaidAndKeptForTheNextStart) {
    MakeBankFile(dir / "engines.dll", 10, "Kit");
    m->activation.UserbankPath = dir / "gone.ubf";
    ActivateMainWindow(*m, program);
    EXPECT_EQ(prompter.warnings, std::vector<std::string>{UserbankMissingText(dir / "gone.ubf")});
    ConfigSettings kept;
    TakeConfigSettings(*m, kept);
    EXPECT_EQ(kept.Userbank, dir / "gone.ubf");
    EXPECT_TRUE(m->activation.UserbankPath.empty());
    EXPECT_FALSE(m->activation.UserbankLoaded);
}

TEST_F(Activation, InvalidConfiguredUserbankIsReportedEvenQuietly) {
    MakeBankFile(dir / "engines.dll", 10, "Kit");
    WriteBytes(dir / "bad.ubf", std::vector<std::uint8_t>(700, 'x'));
    m->activation.UserbankPath = dir / "bad.ubf";
    ActivateMainWindow(*m, program);
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(test::Sentence(prompter.warnings[0]), kMsgNotAUserbank);
    EXPECT_TRUE(m->activation.UserbankPath.empty());
}

TEST_F(Activation, OpenEditorHoldsBackUserbankLoads) {
    MakeBankFile(dir / "engines.dll", 10, "Kit");
    MakeBankFile(dir / "mine.ubf", 10, "Mine");
    ActivateMainWindow(*m, program);  // the kit is in
    test::SetSound(m->banks.userbank, 5, {1, 2}, "editing");
    m->activation.EditorActive = true;
    m->activation.UserbankPath = dir / "mine.ubf";
    ActivateMainWindow(*m, program);
    m->song.userbankFile.set(dir / "mine.ubf");
    EXPECT_FALSE(LoadSongUserbank(*m));
    EXPECT_FALSE(m->activation.UserbankLoaded);
    EXPECT_EQ(m->banks.userbank.slot(5).name, "editing");
    EXPECT_EQ(m->banks.userbank.slot(1).samples, nullptr);
}

TEST_F(Activation, OpeningASongFindsItsUserbankBesideItWhenTheStoredPathIsGone) {
    ::mkdir((dir / "songs").c_str(), 0700);
    ::mkdir((dir / "banks").c_str(), 0700);
    MakeBankFile(dir / "songs/mine.ubf", 10, "Beside");
    MakeBankFile(dir / "banks/mine.ubf", 10, "Stored");
    struct Case {
        std::string stored, used;
    };
    const Case cases[] = {
        {dir / "banks/mine.ubf", dir / "banks/mine.ubf"},  // the stored file wins while it exists
        {dir / "gone/mine.ubf", dir / "songs/mine.ubf"},
        {"C:\\Banks\\mine.ubf", dir / "songs/mine.ubf"},  // made on another system
        {dir / "gone/other.ubf", ""},                     // nothing of that name anywhere
    };
    for (const Case& c : cases) {
        auto song = test::NewMachine();
        song->song.userbankFile.set(c.stored);
        ASSERT_TRUE(SaveSong(*song, dir / "songs/s.sng", true));
        auto opener = test::NewMachine();
        ASSERT_TRUE(OpenSongFlow(*opener, {Chosen(dir / "songs/s.sng"), {}})) << c.stored;
        EXPECT_EQ(opener->activation.UserbankPath, c.used) << c.stored;
        EXPECT_EQ(opener->song.userbankFile.str(), c.stored) << "the song keeps what it names";
        EXPECT_EQ(FindSongUserbank(c.stored, dir / "songs/s.sng"),
                  c.used.empty() ? c.stored : c.used);
    }
}

TEST_F(Activation, GroovePanelLoadsWhileNoBankIsLoaded) {
    MakeBankFile(dir / "mine.ubf", 10, "Mine");
    m->banks.userbank.description = "current";
    LoadActiveUserbankIfNone(*m);  // no path: nothing to load, no message
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(m->song.userbankFile.str(), "");
    EXPECT_EQ(m->song.userbankDescription.str(), "current");

    m->activation.UserbankPath = dir / "mine.ubf";
    LoadActiveUserbankIfNone(*m);
    EXPECT_TRUE(m->activation.UserbankLoaded);
    EXPECT_EQ(m->banks.userbank.description, "Mine" + std::string(26, ' '));
    EXPECT_EQ(m->song.userbankFile.str(), dir / "mine.ubf");

    m->activation.UserbankLoaded = false;
    m->activation.UserbankPath = dir / "gone.ubf";
    LoadActiveUserbankIfNone(*m);
    EXPECT_TRUE(m->activation.UserbankPath.empty());
    EXPECT_EQ(m->song.userbankFile.str(), "");
}

TEST_F(Activation, MenuLoadSucceeds) {
    MakeBankFile(dir / "mine.ubf", 10, "Mine   ");
    EXPECT_FALSE(LoadUserbankFromMenu(*m, std::nullopt));
    EXPECT_FALSE(SongChanged(*m)) << "cancel changes nothing";

    ASSERT_TRUE(LoadUserbankFromMenu(*m, dir / "mine.ubf"));
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_TRUE(m->activation.UserbankLoaded);
    EXPECT_EQ(m->activation.UserbankPath, dir / "mine.ubf");
    EXPECT_EQ(m->activation.BankFolder, dir.path());
    EXPECT_EQ(m->song.userbankFile.str(), dir / "mine.ubf");
    EXPECT_EQ(m->song.userbankDescription.str(), "Mine" + std::string(26, ' '));
    EXPECT_EQ(prompter.busyDepth, 0);
}

TEST_F(Activation, MenuLoadFailureForgetsTheBankButKeepsTheSounds) {
    MakeBankFile(dir / "mine.ubf", 10, "Mine");
    ASSERT_TRUE(LoadUserbankFromMenu(*m, dir / "mine.ubf"));
    MarkSongSaved(*m);

    EXPECT_FALSE(LoadUserbankFromMenu(*m, dir / "gone.ubf"));
    ASSERT_EQ(prompter.warnings.size(), 1u) << "not quiet";
    EXPECT_EQ(prompter.warnings[0], FileFailureText(UserbankOpenErrorText(ENOENT),
                                                    (dir / "gone.ubf"), std::strerror(ENOENT)));
    EXPECT_TRUE(m->activation.UserbankPath.empty());
    EXPECT_TRUE(m->song.userbankFile.empty());
    EXPECT_TRUE(m->song.userbankDescription.empty());
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_EQ(m->banks.userbank.slot(1).sampleCount, 10);
}

}  // namespace
}  // namespace qtam
