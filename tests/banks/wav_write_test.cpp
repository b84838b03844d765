#include <gtest/gtest.h>

#include <cstring>

#include "banks/wav_io.h"
#include "core/machine.h"
#include "test_support.h"
#include "wav_test_support.h"

namespace qtam {
namespace {

std::vector<std::uint8_t> HeaderBytes(const WavHeader& h) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&h);
    return {p, p + sizeof h};
}

std::vector<std::uint8_t> Concat(std::vector<std::uint8_t> a, const std::vector<std::uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST(WavHeader, MonoAndStereoHeadersAreByteExact) {
    const std::vector<std::uint8_t> mono = {
        'R',  'I',  'F',  'F',  0xF4, 0x07, 0x00, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x88, 0x58,
        0x01, 0x00, 0x02, 0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0xD0, 0x07, 0x00, 0x00};
    EXPECT_EQ(HeaderBytes(MakeWavHeader(1, 2000)), mono);

    const std::vector<std::uint8_t> stereo = {
        'R',  'I',  'F',  'F',  0xB4, 0x74, 0x04, 0x00, 'W',  'A',  'V',  'E',  'f',  'm',  't',
        ' ',  0x10, 0x00, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00, 0x44, 0xAC, 0x00, 0x00, 0x10, 0xB1,
        0x02, 0x00, 0x04, 0x00, 0x10, 0x00, 'd',  'a',  't',  'a',  0x90, 0x74, 0x04, 0x00};
    EXPECT_EQ(HeaderBytes(MakeWavHeader(2, 291984)), stereo);
}

class WavWrite : public ::testing::Test {
protected:
    void SetUp() override { m->prompter = &prompter; }

    std::unique_ptr<Machine> m = test::NewMachine();
    test::ScriptedPrompter prompter;
    test::ScratchDir dir;
};

TEST_F(WavWrite, ExportOf1000SamplesIsA2044ByteMonoWav) {
    const auto samples = test::TestSamples(1000);
    test::SetSound(m->banks.userbank, 7, samples, "Clap");
    const std::string path = dir / "clap.wav";

    ASSERT_TRUE(ExportSlotAsWav(*m, 7, path));
    std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), 2044u);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 44),
              HeaderBytes(MakeWavHeader(1, 2000)));
    EXPECT_EQ(bytes[4] | bytes[5] << 8, 2036);
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin() + 44, bytes.end()),
              test::SampleBytes(samples));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"clap.wav"});

    test::SoundFileInfo read = test::ReadWithLibsndfile(path);
    ASSERT_TRUE(read.opened);
    EXPECT_EQ(read.channels, 1);
    EXPECT_EQ(read.sampleRate, 44100);
    EXPECT_EQ(read.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(read.frames, 1000);
    EXPECT_EQ(read.samples, samples);
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavWrite, ExportedSoundsImportBackUnchanged) {
    const auto samples = test::TestSamples(44100, 3);
    test::SetSound(m->banks.userbank, 1, samples);
    const std::string path = dir / "round trip.wav";
    ASSERT_TRUE(ExportSlotAsWav(*m, 1, path));
    ASSERT_TRUE(ImportSample(*m, path, 2).ok);
    const SampleSlot& back = m->banks.userbank.slot(2);
    ASSERT_EQ(back.sampleCount, 44100);
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), back.samples.get()));
}

TEST_F(WavWrite, AnEmptySlotExportsNothingAndTouchesNothing) {
    const std::string path = dir / "old.wav";
    test::WriteBytes(path, {1, 2, 3});
    m->banks.userbank.emptySlot(3);
    EXPECT_FALSE(ExportSlotAsWav(*m, 3, path));
    EXPECT_FALSE(ExportSlotAsWav(*m, 4, dir / "never.wav"));  // never filled
    EXPECT_EQ(test::ReadBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"old.wav"});
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavWrite, ExportReplacesAnExistingFileOnlyWhenItCan) {
    test::SetSound(m->banks.userbank, 1, test::TestSamples(100));
    const std::string path = dir / "old.wav";
    test::WriteBytes(path, {1, 2, 3});
    ASSERT_TRUE(ExportSlotAsWav(*m, 1, path));
    EXPECT_EQ(test::ReadBytes(path).size(), 244u);

    // A read-only file cannot be opened for writing, as the system would see it.
    const std::string locked = dir / "locked.wav";
    test::WriteBytes(locked, {4, 5});
    ::chmod(locked.c_str(), 0444);
    EXPECT_FALSE(ExportSlotAsWav(*m, 1, locked));
    EXPECT_EQ(test::ReadBytes(locked), (std::vector<std::uint8_t>{4, 5}));
    EXPECT_EQ(test::ModeOf(locked), 0444u);

    EXPECT_FALSE(ExportSlotAsWav(*m, 1, dir / "no such folder/x.wav"));
    std::filesystem::create_directory(dir / "folder.wav");
    EXPECT_FALSE(ExportSlotAsWav(*m, 1, dir / "folder.wav"));
    EXPECT_TRUE(std::filesystem::is_directory(dir / "folder.wav"));
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>(3, kMsgCannotCreate));
}

TEST_F(WavWrite, AFailingExportLeavesTheOldFileByteIdentical) {
    test::SetSound(m->banks.userbank, 1, test::TestSamples(100000));
    const std::string path = dir / "keep.wav";
    const std::vector<std::uint8_t> old = test::SampleBytes(test::TestSamples(3000, 7));
    test::WriteBytes(path, old);
    {
        test::FileSizeLimit limit(50000);
        EXPECT_FALSE(ExportSlotAsWav(*m, 1, path));
    }
    EXPECT_EQ(test::ReadBytes(path), old);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"keep.wav"});
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_NE(prompter.warnings[0].find(path), std::string::npos) << prompter.warnings[0];
    EXPECT_NE(prompter.warnings[0].find(std::strerror(EFBIG)), std::string::npos)
        << prompter.warnings[0];
}

TEST_F(WavWrite, WrapTurnsARawFileIntoAWavFileInPlace) {
    const std::vector<std::uint8_t> raw = test::SampleBytes(test::TestSamples(5000));
    const std::string mono = dir / "mono.wav";
    test::WriteBytes(mono, raw);
    EXPECT_EQ(WrapRawAsWavMono(*m, mono), WrapOutcome::Wrapped);
    EXPECT_EQ(test::ReadBytes(mono), Concat(HeaderBytes(MakeWavHeader(1, 10000)), raw));
    EXPECT_EQ(prompter.busyCalls, 0);

    const std::string stereo = dir / "stereo.wav";
    test::WriteBytes(stereo, raw);
    EXPECT_EQ(WrapRawAsWavStereo(*m, stereo), WrapOutcome::Wrapped);
    EXPECT_EQ(test::ReadBytes(stereo), Concat(HeaderBytes(MakeWavHeader(2, 10000)), raw));
    EXPECT_EQ(prompter.busyCalls, 2);
    EXPECT_EQ(prompter.busyDepth, 0);

    test::SoundFileInfo read = test::ReadWithLibsndfile(stereo);
    EXPECT_EQ(read.channels, 2);
    EXPECT_EQ(read.frames, 2500);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"mono.wav", "stereo.wav"}));
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavWrite, WrappingAnEmptyRawFileRemovesIt) {
    const std::string path = dir / "empty.wav";
    test::WriteBytes(path, {});
    EXPECT_EQ(WrapRawAsWavStereo(*m, path), WrapOutcome::EmptyRemoved);
    EXPECT_TRUE(dir.list().empty());
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavWrite, ALeftoverOfAnInterruptedWrapIsNeitherReplacedNorInTheWay) {
    const std::vector<std::int16_t> samples = test::TestSamples(500);
    const std::vector<std::uint8_t> leftover = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
    const std::string path = dir / "take.wav";
    const std::string temp = dir / "~wavconv.pcm";
    test::WriteBytes(path, test::SampleBytes(samples));
    test::WriteBytes(temp, leftover);

    EXPECT_EQ(WrapRawAsWavMono(*m, path), WrapOutcome::Wrapped);
    EXPECT_EQ(test::ReadWithLibsndfile(path).samples, samples);
    EXPECT_EQ(test::ReadBytes(temp), leftover);
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"take.wav", "~wavconv.pcm"}));
}

TEST_F(WavWrite, AFailingWrapKeepsTheRawData) {
    const std::vector<std::uint8_t> raw = test::SampleBytes(test::TestSamples(30000));
    const std::string path = dir / "take.wav";
    test::WriteBytes(path, raw);
    {
        test::FileSizeLimit limit(20000);
        EXPECT_EQ(WrapRawAsWavStereo(*m, path), WrapOutcome::Failed);
    }
    EXPECT_EQ(test::ReadBytes(path), raw);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"take.wav"});
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_NE(prompter.warnings[0].find(path), std::string::npos);
    EXPECT_EQ(prompter.busyDepth, 0);
}

TEST_F(WavWrite, WrappingAMissingFileFailsAndSaysWhy) {
    EXPECT_EQ(WrapRawAsWavMono(*m, dir / "gone.wav"), WrapOutcome::Failed);
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_NE(prompter.warnings[0].find(std::strerror(ENOENT)), std::string::npos);
    EXPECT_TRUE(dir.list().empty());
}

}  // namespace
}  // namespace qtam
