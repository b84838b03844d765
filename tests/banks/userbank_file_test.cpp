#include "banks/userbank_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <random>

#include "core/machine.h"
#include "file_size_limit.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::ReadBytes;
using test::WriteBytes;

std::string Blanks(std::size_t n) {
    return std::string(n, ' ');
}

// The bytes of one slot record, as a bank file holds them.
std::vector<std::uint8_t> SlotRecord(std::int32_t count,
                                     const std::vector<std::int16_t>& samples = {},
                                     std::string name = "<empty>", std::uint8_t stretch = 0,
                                     std::uint8_t hh1 = 0, std::uint8_t hh2 = 0) {
    std::vector<std::uint8_t> r;
    auto u = static_cast<std::uint32_t>(count);
    for (int i = 0; i < 4; ++i) r.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
    for (std::int16_t s : samples) {
        r.push_back(static_cast<std::uint8_t>(s & 0xFF));
        r.push_back(static_cast<std::uint8_t>((s >> 8) & 0xFF));
    }
    r.push_back(stretch);
    name.resize(20, ' ');
    r.insert(r.end(), name.begin(), name.end());
    r.push_back('H');
    r.push_back('H');
    r.push_back(hh1);
    r.push_back(hh2);
    return r;
}

std::vector<std::uint8_t> BankHeader(std::string description = "Custom userbank") {
    std::vector<std::uint8_t> r;
    const std::string sig = "CUSTOM_BANK:";
    r.insert(r.end(), sig.begin(), sig.end());
    description.resize(30, ' ');
    r.insert(r.end(), description.begin(), description.end());
    r.push_back(81);
    return r;
}

std::vector<std::uint8_t> EmptyBankFile() {
    std::vector<std::uint8_t> r = BankHeader();
    for (int i = 0; i < 20; ++i) {
        auto s = SlotRecord(0);
        r.insert(r.end(), s.begin(), s.end());
    }
    return r;
}

// A bank file with a sound in slot 1 and the rest empty.
std::vector<std::uint8_t> BankWithFirstSound(std::int32_t count) {
    std::vector<std::uint8_t> r = BankHeader("Big");
    auto first =
        SlotRecord(count, std::vector<std::int16_t>(static_cast<std::size_t>(count), 7), "big");
    r.insert(r.end(), first.begin(), first.end());
    for (int i = 1; i < 20; ++i) {
        auto s = SlotRecord(0);
        r.insert(r.end(), s.begin(), s.end());
    }
    return r;
}

class UserbankFile : public ::testing::Test {
protected:
    void SetUp() override {
        m = test::NewMachine();
        m->prompter = &prompter;
    }
    // A recognisable bank in memory, to see that refused loads leave it alone.
    void FillBank() {
        test::SetSound(m->banks.userbank, 1, {1, -2, 3}, "one");
        test::SetSound(m->banks.userbank, 20, {9, 9}, "twenty");
        m->banks.userbank.slot(20).hihat1 = 4;
        m->banks.userbank.description = "before";
    }
    void ExpectBankAsFilled() {
        const SampleBank& b = m->banks.userbank;
        EXPECT_EQ(b.description, "before");
        ASSERT_TRUE(b.slot(1).hasSound());
        EXPECT_EQ(b.slot(1).sampleCount, 3);
        EXPECT_EQ(b.slot(1).samples[1], -2);
        EXPECT_EQ(b.slot(1).name, "one");
        EXPECT_EQ(b.slot(20).sampleCount, 2);
        EXPECT_EQ(b.slot(20).hihat1, 4);
        EXPECT_FALSE(b.slot(2).hasSound());
    }

    test::TempFolder dir;
    test::ScriptedPrompter prompter;
    std::unique_ptr<Machine> m;
};

TEST_F(UserbankFile, ClearedBankSavesAsThe623ByteFile) {
    ClearUserbank(*m);
    ASSERT_TRUE(SaveUserbank(*m, dir / "bank", false));
    EXPECT_TRUE(prompter.questions.empty()) << "a new file never asks";
    EXPECT_EQ(ReadBytes(dir / "bank.UBF"), EmptyBankFile());
    EXPECT_EQ(EmptyBankFile().size(), 623u);
    EXPECT_EQ(prompter.busyDepth, 0);
}

// A userbank is known by its first twelve bytes, whatever its name; every shorter or different
// start, a folder, a missing file and a song are not one.
TEST_F(UserbankFile, IsRecognisedByItsSignature) {
    const std::vector<std::uint8_t> bank = EmptyBankFile();
    WriteBytes(dir / "no extension", bank);
    EXPECT_TRUE(IsUserbankFile(dir / "no extension"));
    const std::vector<std::uint8_t> signatureOnly(bank.begin(), bank.begin() + 12);
    WriteBytes(dir / "signature", signatureOnly);
    EXPECT_TRUE(IsUserbankFile(dir / "signature"));
    for (std::size_t n = 0; n < 12; ++n) {
        WriteBytes(dir / "short.ubf", std::vector<std::uint8_t>(bank.begin(), bank.begin() + n));
        EXPECT_FALSE(IsUserbankFile(dir / "short.ubf")) << n << " bytes";
        std::vector<std::uint8_t> changed = bank;
        changed[n] ^= 0x20;  // "custom_bank:" is not the signature either
        WriteBytes(dir / "changed.ubf", changed);
        EXPECT_FALSE(IsUserbankFile(dir / "changed.ubf")) << "byte " << n;
    }
    EXPECT_FALSE(IsUserbankFile(dir.path()));
    EXPECT_FALSE(IsUserbankFile(dir / "missing.ubf"));
    WriteBytes(dir / "song.ubf", std::vector<std::uint8_t>(103450, 0x1e));
    EXPECT_FALSE(IsUserbankFile(dir / "song.ubf"));
}

TEST_F(UserbankFile, ClearedBankLoadsBackPadded) {
    WriteBytes(dir / "bank.UBF", EmptyBankFile());
    FillBank();
    ASSERT_TRUE(LoadUserbank(*m, dir / "bank", false));
    const SampleBank& b = m->banks.userbank;
    EXPECT_EQ(b.description, "Custom userbank" + Blanks(15));
    for (int n = 1; n <= 20; ++n) {
        EXPECT_FALSE(b.slot(n).hasSound());
        EXPECT_EQ(b.slot(n).sampleCount, 0);
        EXPECT_EQ(b.slot(n).name, "<empty>" + Blanks(13));
        EXPECT_EQ(b.slot(n).hihat1, 0);
    }
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(prompter.busyDepth, 0);
}

TEST_F(UserbankFile, SoundsAndAttributesSurviveARoundTrip) {
    ClearUserbank(*m);
    std::vector<std::int16_t> full(kUserSlotCapacity);
    for (std::size_t i = 0; i < full.size(); ++i) full[i] = static_cast<std::int16_t>(i * 37);
    test::SetSound(m->banks.userbank, 1, full, "longest");
    test::SetSound(m->banks.userbank, 7, {-32768, 32767, 0}, "edge\xE9");
    SampleSlot& s7 = m->banks.userbank.slot(7);
    s7.stretchMeasures = 2;
    s7.hihat1 = 3;
    s7.hihat2 = 19;
    m->banks.userbank.description = "My drums";

    ASSERT_TRUE(SaveUserbank(*m, dir / "round.ubf", false));
    EXPECT_EQ(ReadBytes(dir / "round.ubf").size(), 623u + 2 * (kUserSlotCapacity + 3));
    // Saving pads the names in memory, and only them.
    EXPECT_EQ(s7.name, "edge\xE9" + Blanks(15));
    EXPECT_EQ(m->banks.userbank.description, "My drums");

    auto other = test::NewMachine();
    ASSERT_TRUE(LoadUserbank(*other, dir / "round.ubf", false));
    const SampleBank& b = other->banks.userbank;
    EXPECT_EQ(b.description, "My drums" + Blanks(22));
    ASSERT_EQ(b.slot(1).sampleCount, kUserSlotCapacity);
    EXPECT_EQ(std::memcmp(b.slot(1).samples.get(), full.data(), full.size() * 2), 0);
    ASSERT_EQ(b.slot(7).sampleCount, 3);
    EXPECT_EQ(b.slot(7).samples[0], -32768);
    EXPECT_EQ(b.slot(7).samples[1], 32767);
    EXPECT_EQ(b.slot(7).stretchMeasures, 2);
    EXPECT_EQ(b.slot(7).hihat1, 3);
    EXPECT_EQ(b.slot(7).hihat2, 19);
    EXPECT_EQ(b.slot(7).name, "edge\xE9" + Blanks(15));
}

TEST_F(UserbankFile, ExtensionIsAddedOnlyToNamesWithoutAnyDot) {
    ClearUserbank(*m);
    std::filesystem::create_directory(dir / "my.banks");
    ASSERT_TRUE(SaveUserbank(*m, dir / "my.banks/kit", false));
    EXPECT_TRUE(std::filesystem::exists(dir / "my.banks/kit"));
    EXPECT_FALSE(std::filesystem::exists(dir / "my.banks/kit.UBF"));
    EXPECT_TRUE(LoadUserbank(*m, dir / "my.banks/kit", false));
    EXPECT_EQ(UserbankOpenErrorText(2), "An error occurred (2) while opening the Userbank file...");
}

TEST_F(UserbankFile, MissingFileIsReportedUnlessQuiet) {
    FillBank();
    EXPECT_FALSE(LoadUserbank(*m, dir / "none", false));
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(prompter.warnings[0], FileFailureText(UserbankOpenErrorText(ENOENT),
                                                    (dir / "none.UBF"), std::strerror(ENOENT)));
    EXPECT_FALSE(LoadUserbank(*m, dir / "none", true));
    EXPECT_EQ(prompter.warnings.size(), 1u);
    // A folder opens on this platform but cannot be read.
    std::filesystem::create_directory(dir / "folder.ubf");
    EXPECT_FALSE(LoadUserbank(*m, dir / "folder.ubf", false));
    ASSERT_EQ(prompter.warnings.size(), 2u);
    EXPECT_EQ(prompter.warnings[1], FileFailureText(UserbankOpenErrorText(EISDIR),
                                                    (dir / "folder.ubf"), std::strerror(EISDIR)));
    ExpectBankAsFilled();
}

TEST_F(UserbankFile, UnreadableFileGetsTheReadOnlyMessage) {
    if (test::RunningAsRoot()) GTEST_SKIP() << "permissions do not stop root";
    WriteBytes(dir / "locked.ubf", EmptyBankFile());
    ::chmod((dir / "locked.ubf").c_str(), 0);
    EXPECT_FALSE(LoadUserbank(*m, dir / "locked.ubf", false));
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(prompter.warnings[0],
              "This Userbank file is set to read-only. Please uncheck this read-only property to "
              "edit or use "
              "the file.");
    EXPECT_EQ(test::ModeOf(dir / "locked.ubf"), 0u);
}

TEST_F(UserbankFile, RefusedFilesLeaveTheBankAsItWas) {
    FillBank();
    auto wrongColon = EmptyBankFile();
    wrongColon[11] = ' ';
    auto tooBig = BankWithFirstSound(kUserSlotCapacity + 1);
    auto negativeThenTooBig = EmptyBankFile();
    negativeThenTooBig[43 + 29 + 3] = 0x7F;  // slot 2 claims about 2^31 samples
    auto full = EmptyBankFile();
    auto withSound = BankWithFirstSound(100);
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> cases = {
        {"signature", wrongColon},
        {"over capacity", tooBig},
        {"huge count", negativeThenTooBig},
        {"empty file", {}},
        {"header only", std::vector<std::uint8_t>(full.begin(), full.begin() + 43)},
        {"last byte missing", std::vector<std::uint8_t>(full.begin(), full.end() - 1)},
        {"ends inside samples",
         std::vector<std::uint8_t>(withSound.begin(), withSound.begin() + 43 + 4 + 150)},
    };
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        prompter.warnings.clear();
        WriteBytes(dir / "bad.ubf", bytes);
        EXPECT_FALSE(LoadUserbank(*m, dir / "bad.ubf", true));
        ASSERT_EQ(prompter.warnings.size(), 1u) << "shown even when quiet";
        EXPECT_EQ(test::Sentence(prompter.warnings[0]), kMsgNotAUserbank);
        ExpectBankAsFilled();
        EXPECT_EQ(prompter.busyDepth, 0);
    }
}

TEST_F(UserbankFile, ASoundOfExactlyTheCapacityLoads) {
    WriteBytes(dir / "max.ubf", BankWithFirstSound(kUserSlotCapacity));
    ASSERT_TRUE(LoadUserbank(*m, dir / "max.ubf", true));
    EXPECT_EQ(m->banks.userbank.slot(1).sampleCount, kUserSlotCapacity);
    EXPECT_EQ(m->banks.userbank.slot(1).samples[kUserSlotCapacity - 1], 7);
}

TEST_F(UserbankFile, NegativeCountIsAnEmptySlot) {
    FillBank();
    auto bytes = BankHeader();
    auto neg = SlotRecord(-5, {}, "neg");
    bytes.insert(bytes.end(), neg.begin(), neg.end());
    for (int i = 1; i < 20; ++i) {
        auto s = SlotRecord(0);
        bytes.insert(bytes.end(), s.begin(), s.end());
    }
    WriteBytes(dir / "neg.ubf", bytes);
    ASSERT_TRUE(LoadUserbank(*m, dir / "neg.ubf", true));
    EXPECT_FALSE(m->banks.userbank.slot(1).hasSound());
    EXPECT_EQ(m->banks.userbank.slot(1).sampleCount, 0);
    EXPECT_EQ(m->banks.userbank.slot(1).name, "neg" + Blanks(17));
}

TEST_F(UserbankFile, ReadOnlyFilesStayReadOnly) {
    WriteBytes(dir / "ro.ubf", EmptyBankFile());
    ::chmod((dir / "ro.ubf").c_str(), 0444);
    EXPECT_TRUE(LoadUserbank(*m, dir / "ro.ubf", false));
    EXPECT_EQ(test::ModeOf(dir / "ro.ubf"), 0444u);

    test::SetSound(m->banks.userbank, 2, {5, 6}, "new");
    EXPECT_TRUE(SaveUserbank(*m, dir / "ro.ubf", true));
    EXPECT_EQ(test::ModeOf(dir / "ro.ubf"), 0444u);
    EXPECT_EQ(ReadBytes(dir / "ro.ubf").size(), 627u);

    // Refused loads restore the bits too.
    WriteBytes(dir / "bad.ubf", {1, 2, 3});
    ::chmod((dir / "bad.ubf").c_str(), 0440);
    EXPECT_FALSE(LoadUserbank(*m, dir / "bad.ubf", false));
    EXPECT_EQ(test::ModeOf(dir / "bad.ubf"), 0440u);
}

// A FIFO or device is refused at once, as a file that cannot be opened; reading a read-only
// bank does not touch its inode.
TEST_F(UserbankFile, SpecialFilesAreRefusedAndReadingChangesNothing) {
    test::HangGuard guard;
    FillBank();
    const std::string fifo = test::MakeFifo(dir / "pipe.ubf");
    EXPECT_FALSE(LoadUserbank(*m, fifo, false));
    EXPECT_EQ(test::Sentences(prompter.warnings),
              std::vector<std::string>{UserbankOpenErrorText(EINVAL)});
    ExpectBankAsFilled();

    WriteBytes(dir / "ro.ubf", EmptyBankFile());
    ::chmod((dir / "ro.ubf").c_str(), 0444);
    const auto before = test::ChangeTimeOf(dir / "ro.ubf");
    EXPECT_TRUE(LoadUserbank(*m, dir / "ro.ubf", false));
    EXPECT_TRUE(test::SameTime(test::ChangeTimeOf(dir / "ro.ubf"), before));
}

TEST_F(UserbankFile, OverwriteIsAskedAndNoKeepsTheFile) {
    WriteBytes(dir / "old.ubf", {1, 2, 3});
    ClearUserbank(*m);
    prompter.answers = {false};
    EXPECT_FALSE(SaveUserbank(*m, dir / "old.ubf", false));
    ASSERT_EQ(prompter.questions.size(), 1u);
    EXPECT_EQ(prompter.questions[0], kMsgFileExists);
    EXPECT_EQ(ReadBytes(dir / "old.ubf"), (std::vector<std::uint8_t>{1, 2, 3}));

    prompter.answers = {true};
    EXPECT_TRUE(SaveUserbank(*m, dir / "old.ubf", false));
    EXPECT_EQ(ReadBytes(dir / "old.ubf").size(), 623u);

    EXPECT_TRUE(SaveUserbank(*m, dir / "old.ubf", true));
    EXPECT_EQ(prompter.questions.size(), 2u) << "silent saves never ask";
}

TEST_F(UserbankFile, FailedSavesKeepTheOldFile) {
    ClearUserbank(*m);
    EXPECT_FALSE(SaveUserbank(*m, dir / "no/such/folder/bank.ubf", true));
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(test::Sentence(prompter.warnings[0]), kMsgCannotCreate);

    // A folder in the target's place cannot be created as a file.
    std::filesystem::create_directory(dir / "taken.ubf");
    WriteBytes(dir / "taken.ubf/inside", {4, 2});
    EXPECT_FALSE(SaveUserbank(*m, dir / "taken.ubf", true));
    ASSERT_EQ(prompter.warnings.size(), 2u);
    EXPECT_EQ(test::Sentence(prompter.warnings[1]), kMsgCannotCreate);
    EXPECT_EQ(ReadBytes(dir / "taken.ubf/inside"), (std::vector<std::uint8_t>{4, 2}));

    // A write that fails once the file was created names the file and the reason.
    WriteBytes(dir / "full.ubf", {5, 5});
    test::SetSound(m->banks.userbank, 1, std::vector<std::int16_t>(5000, 1), "big");
    {
        test::FileSizeLimit cap(4000);
        EXPECT_FALSE(SaveUserbank(*m, dir / "full.ubf", true));
    }
    ASSERT_EQ(prompter.warnings.size(), 3u);
    EXPECT_NE(prompter.warnings[2].find(dir / "full.ubf"), std::string::npos)
        << prompter.warnings[2];
    EXPECT_NE(prompter.warnings[2].find(std::strerror(EFBIG)), std::string::npos)
        << prompter.warnings[2];
    EXPECT_EQ(ReadBytes(dir / "full.ubf"), (std::vector<std::uint8_t>{5, 5}));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 2)
        << "no temporary left";

    if (!test::RunningAsRoot()) {
        std::filesystem::create_directory(dir / "locked");
        WriteBytes(dir / "locked/old.ubf", {9, 9, 9});
        ::chmod((dir / "locked").c_str(), 0555);
        EXPECT_FALSE(SaveUserbank(*m, dir / "locked/old.ubf", true));
        EXPECT_EQ(test::Sentence(prompter.warnings.back()), kMsgCannotCreate);
        EXPECT_EQ(ReadBytes(dir / "locked/old.ubf"), (std::vector<std::uint8_t>{9, 9, 9}));
    }
    EXPECT_EQ(prompter.busyDepth, 0);
}

TEST_F(UserbankFile, ClearUserbankEmptiesEverySlot) {
    FillBank();
    m->activation.BankChanged = true;
    ClearUserbank(*m);
    EXPECT_EQ(m->banks.userbank.description, "Custom userbank");
    EXPECT_FALSE(m->activation.BankChanged);
    for (int n = 1; n <= 20; ++n) {
        EXPECT_FALSE(m->banks.userbank.slot(n).hasSound());
        EXPECT_EQ(m->banks.userbank.slot(n).name, "<empty>");
        EXPECT_EQ(m->banks.userbank.slot(n).hihat1, 0);
    }
}

// Random bytes behind a valid signature, and every prefix of a real bank: the bank either
// loads completely or stays as it was, and nothing reads out of bounds.
TEST_F(UserbankFile, RandomAndTruncatedFilesNeverCrash) {
    std::mt19937 rng(1234);
    ClearUserbank(*m);
    test::SetSound(m->banks.userbank, 3, std::vector<std::int16_t>(500, 100), "s");
    ASSERT_TRUE(SaveUserbank(*m, dir / "real.ubf", true));
    const auto real = ReadBytes(dir / "real.ubf");

    for (int round = 0; round < 200; ++round) {
        std::vector<std::uint8_t> bytes;
        if (round % 2 == 0) {
            bytes.resize(rng() % 2000);
            for (auto& b : bytes) b = static_cast<std::uint8_t>(rng());
            if (round % 4 == 0 && bytes.size() >= 12) std::memcpy(bytes.data(), "CUSTOM_BANK:", 12);
        } else {
            bytes.assign(real.begin(), real.begin() + static_cast<long>(rng() % real.size()));
        }
        WriteBytes(dir / "fuzz.ubf", bytes);
        ClearUserbank(*m);
        FillBank();
        if (!LoadUserbank(*m, dir / "fuzz.ubf", true)) {
            ExpectBankAsFilled();
        } else {
            for (int n = 1; n <= 20; ++n)
                EXPECT_LE(m->banks.userbank.slot(n).sampleCount, kUserSlotCapacity);
        }
    }
}

// Reading a file record by record judges it as parsing all its bytes does, and takes the same
// names, attributes and the sounds asked for: over whole, cut, damaged and oversized banks.
TEST_F(UserbankFile, ReadingRecordByRecordMatchesParsingTheWholeFile) {
    std::mt19937 rng(77);
    std::vector<std::uint8_t> whole = BankHeader("Records");
    for (int n = 1; n <= 20; ++n) {
        const auto count = static_cast<std::int32_t>(n % 3 == 0 ? 0 : rng() % 900 + 1);
        std::vector<std::int16_t> samples(static_cast<std::size_t>(count));
        for (auto& v : samples) v = static_cast<std::int16_t>(rng());
        const auto r = SlotRecord(count, samples, "s" + std::to_string(n), n % 4, n, 20 - n);
        whole.insert(whole.end(), r.begin(), r.end());
    }
    for (int round = 0; round < 300; ++round) {
        std::vector<std::uint8_t> bytes = whole;
        if (round % 3 == 1) bytes.resize(rng() % (whole.size() + 1));
        if (round % 3 == 2)
            for (int k = 0; k < 3; ++k)
                bytes[rng() % bytes.size()] = static_cast<std::uint8_t>(rng());
        if (round % 10 == 0) bytes.resize(bytes.size() + rng() % 50, 0xAB);  // bytes past the end
        WriteBytes(dir / "walk.ubf", bytes);
        const std::int32_t capacity = round % 2 == 0 ? kUserSlotCapacity : 600;
        const auto parsed =
            ParseBank(std::span<const std::uint8_t>(
                          bytes.data(), std::min(bytes.size(), MaxBankFileSize(capacity))),
                      capacity);
        for (const SlotSet sounds : {SlotSet(), kEverySlot, SlotSet(rng())}) {
            SCOPED_TRACE(testing::Message() << "round " << round << " sounds " << sounds);
            const BankFileRead read = ReadBankFile(dir / "walk.ubf", capacity, sounds);
            EXPECT_EQ(read.error, 0);
            ASSERT_EQ(read.image.has_value(), parsed.has_value());
            if (!parsed) continue;
            EXPECT_EQ(read.image->description, parsed->description);
            for (int n = 0; n < 20; ++n) {
                const SlotImage& a = read.image->slots[n];
                const SlotImage& b = parsed->slots[n];
                EXPECT_EQ(a.sampleCount, b.sampleCount);
                EXPECT_EQ(a.name, b.name);
                EXPECT_EQ(a.stretchMeasures, b.stretchMeasures);
                EXPECT_EQ(a.hihat1, b.hihat1);
                EXPECT_EQ(a.hihat2, b.hihat2);
                EXPECT_EQ(a.sound != nullptr, sounds.test(n) && b.sampleCount >= 1);
                if (a.sound && b.sampleCount >= 1) {
                    EXPECT_EQ(std::memcmp(a.sound.get(), b.samples, 2 * std::size_t(b.sampleCount)),
                              0);
                }
            }
        }
    }
    const BankFileRead missing = ReadBankFile(dir / "none.ubf", kUserSlotCapacity, true);
    EXPECT_FALSE(missing.image);
    EXPECT_EQ(missing.error, ENOENT);
}

}  // namespace
}  // namespace qtam
