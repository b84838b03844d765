// The conversion of foreign sound files, checked against sox: every file is made by sox and
// converted by sox as well (`sox IN -b 16 -c 1 -r 44100 -D OUT.wav`, no dither). Without
// resampling our result is within 1 LSB of sox's (the two round ties differently); with it,
// the two resamplers differ by less than a bound far below what anyone hears.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <filesystem>

#include "banks/sound_file.h"
#include "banks/wav_io.h"
#include "core/machine.h"
#include "test_support.h"
#include "wav_test_support.h"

namespace qtam {
namespace {

using test::WavImage;

// Resampled by soxr here and by sox's own resampler there, the two differ by at most this
// much away from the first and last samples (where each starts and stops in its own way).
constexpr double kResampledBoundDb = -60.0;
constexpr std::size_t kEdge = 64;

class SoundConvert : public ::testing::Test {
protected:
    void SetUp() override { m->prompter = &prompter; }

    void Sox(const std::string& arguments) {
        const std::string command = "sox " + arguments + " 2>&1";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    // Two sines and noise up to 16 kHz, 0.6 s. (Above that the two resamplers' filters
    // differ by design: their pass bands end at different places.)
    std::string Source() {
        const std::string path = dir / "source.wav";
        if (!std::filesystem::exists(path))
            Sox("-n -r 96000 -b 24 -c 2 " + path +
                " synth 0.6 sine 440 sine 3001 synth 0.6 whitenoise mix sinc -16000 gain -9");
        return path;
    }
    std::vector<std::int16_t> SlotSamples(int slot) const {
        const SampleSlot& s = m->banks.userbank.slot(slot);
        if (!s.hasSound()) return {};
        return {s.samples.get(), s.samples.get() + s.sampleCount};
    }
    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::string path = dir / name;
        test::WriteBytes(path, bytes);
        return path;
    }

    std::unique_ptr<Machine> m = test::NewMachine();
    test::ScriptedPrompter prompter;
    test::ScratchDir dir;
};

// Samples of a 32-bit float mono WAV file.
WavImage FloatWav(const std::vector<float>& samples, int channels = 1, int rate = 44100) {
    WavImage w;
    w.formatTag = 3;
    w.bits = 32;
    w.channels = static_cast<std::uint16_t>(channels);
    w.sampleRate = rate;
    w.payload.resize(samples.size() * 4);
    if (!samples.empty()) std::memcpy(w.payload.data(), samples.data(), w.payload.size());
    return w;
}

// The largest difference in LSB, over the frames both have but `edge` at each end.
int LargestDifference(const std::vector<std::int16_t>& a, const std::vector<std::int16_t>& b,
                      std::size_t edge = 0) {
    int worst = 0;
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = edge; i + edge < n; ++i) worst = std::max(worst, std::abs(a[i] - b[i]));
    return worst;
}

double DecibelsFullScale(int lsb) {
    return 20.0 * std::log10(std::max(lsb, 1) / 32768.0);
}

TEST_F(SoundConvert, EveryKindMatchesSoxsOwnConversion) {
    struct Case {
        const char* name;
        const char* soxOptions;  // how sox makes the file from the source
        bool resampled;
    };
    const Case cases[] = {
        {"a24.wav", "-b 24 -c 1 -r 44100", false},
        {"float.wav", "-e floating-point -b 32 -c 1 -r 44100", false},
        {"stereo16.wav", "-b 16 -c 2 -r 44100", false},
        {"s24.flac", "-b 24 -c 2 -r 44100", false},
        {"m24.aiff", "-b 24 -c 1 -r 44100", false},
        {"m16.aiff", "-b 16 -c 1 -r 44100", false},
        {"s8.wav", "-b 8 -c 2 -r 44100", false},
        {"four.caf", "-b 24 -c 4 -r 44100", false},
        {"s24at48k.wav", "-b 24 -c 2 -r 48000", true},
        {"m16at96k.flac", "-b 16 -c 1 -r 96000", true},
        {"s16at22k.wav", "-b 16 -c 2 -r 22050", true},
        {"vorbis.ogg", "-c 2 -r 44100", false},
    };
    for (const Case& c : cases) {
        const std::string in = dir / c.name, reference = dir / (std::string(c.name) + ".ref.wav");
        Sox("-D " + Source() + " " + c.soxOptions + " " + in);
        Sox(in + " -b 16 -c 1 -r 44100 -D " + reference);
        const test::SoundFileInfo expected = test::ReadWithLibsndfile(reference);
        ASSERT_TRUE(expected.opened) << c.name;

        ASSERT_TRUE(ImportSample(*m, in, 1, Conversion::Always).ok) << c.name;
        const std::vector<std::int16_t> got = SlotSamples(1);
        // The whole length, cut to an even count.
        const auto length = static_cast<std::ptrdiff_t>(expected.samples.size());
        EXPECT_NEAR(static_cast<double>(got.size()), static_cast<double>(length & ~1), 1.0)
            << c.name;
        if (c.resampled) {
            const int worst = LargestDifference(got, expected.samples, kEdge);
            EXPECT_LT(DecibelsFullScale(worst), kResampledBoundDb) << c.name << ": " << worst;
        } else {
            EXPECT_LE(LargestDifference(got, expected.samples), 1) << c.name;
        }
    }
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_TRUE(prompter.questions.empty());
}

// Independently of any other resampler: a sine made at 32, 48 and 96 kHz becomes the same sine
// sampled at 44100 Hz, within the rounding, away from the ends (where the filter meets the
// sine's abrupt start and end).
TEST_F(SoundConvert, ResamplingKeepsASineExact) {
    for (int rate : {48000, 96000, 32000}) {
        const std::string path = dir / ("sine" + std::to_string(rate) + ".wav");
        Sox("-n -r " + std::to_string(rate) + " -e floating-point -b 32 -c 1 " + path +
            " synth 0.5 sine 1000 vol 0.5");
        ASSERT_TRUE(ImportSample(*m, path, 1, Conversion::Always).ok) << rate;
        const std::vector<std::int16_t> got = SlotSamples(1);
        ASSERT_EQ(got.size(), 22050u) << rate;
        std::vector<std::int16_t> ideal(got.size());
        for (std::size_t i = 0; i < ideal.size(); ++i)
            ideal[i] = static_cast<std::int16_t>(std::lround(
                16384.0 * std::sin(2 * M_PI * 1000.0 * static_cast<double>(i) / 44100)));
        EXPECT_LE(LargestDifference(got, ideal, 1024), 1) << rate;
    }
}

TEST_F(SoundConvert, RoundingIsToTheNearestValueTiesToEvenWithClipping) {
    const float lsb = 1.0f / 32768;
    const std::vector<float> in = {0.5f * lsb,  1.5f * lsb, 2.5f * lsb, -0.5f * lsb, -1.5f * lsb,
                                   2.49f * lsb, 1.0f,       1.5f,       -1.0f,       -7.0f};
    ASSERT_TRUE(ImportSample(*m, Write("f.wav", FloatWav(in).bytes()), 1, Conversion::Always).ok);
    EXPECT_EQ(SlotSamples(1),
              (std::vector<std::int16_t>{0, 2, 2, 0, -2, 2, 32767, 32767, -32768, -32768}));
    // Channels are averaged before the rounding.
    const std::vector<float> stereo = {1.0f * lsb, 2.0f * lsb, -1.0f,      -1.0f,
                                       0.25f,      -0.25f,     3.0f * lsb, 4.0f * lsb};
    ASSERT_TRUE(
        ImportSample(*m, Write("s.wav", FloatWav(stereo, 2).bytes()), 1, Conversion::Always).ok);
    EXPECT_EQ(SlotSamples(1), (std::vector<std::int16_t>{2, -32768, 0, 4}));
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(SoundConvert, TheQuestionSaysWhatTheFileIsAndNoRefuses) {
    test::SetSound(m->banks.userbank, 1, {1, 2}, "Kept");
    const std::string flac = dir / "kit.flac";
    Sox("-D " + Source() + " -b 24 -c 2 -r 48000 " + flac);
    const std::string question =
        "This file is FLAC, 24 bit, stereo, 48000 Hz. Convert it to 16-bit mono 44100 Hz?";
    prompter.answers = {false, true};
    EXPECT_EQ(test::Sentence(ImportSample(*m, flac, 1).reason), kMsgNotAWav);
    EXPECT_EQ(SlotSamples(1), (std::vector<std::int16_t>{1, 2}));
    EXPECT_TRUE(ImportSample(*m, flac, 1).ok);
    EXPECT_EQ(prompter.questions, std::vector<std::string>(2, question));
    EXPECT_EQ(SlotSamples(1).size(), 26460u);  // 0.6 s

    // A WAV file that needs converting is refused with the message it always had.
    const std::string wav = dir / "kit.wav";
    Sox("-D " + Source() + " -b 24 -c 1 -r 44100 " + wav);
    const ImportResult refused = ImportSample(*m, wav, 1);
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(prompter.questions.back(),
              "This file is WAV, 24 bit, mono, 44100 Hz. Convert it to 16-bit mono 44100 Hz?");
    EXPECT_EQ(test::Sentence(refused.reason), BitDepthText(24));
}

// More than 4.06 s after conversion asks the size question; Yes keeps the first 4.06 s and
// reads the file only that far: an hour-long file (sparse, so it costs no disk) is quick.
TEST_F(SoundConvert, LongFilesAskAndKeepTheFirstPart) {
    WavImage w;
    w.bits = 24;
    w.channels = 2;
    w.sampleRate = 48000;
    const std::string path = Write("hour.wav", w.bytes());
    const std::uint64_t hour = 3600ull * 48000 * 6;
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(44 + hour)), 0);
    // The header's sizes as the hour needs them (the RIFF size is cut to 32 bits).
    {
        std::FILE* f = std::fopen(path.c_str(), "r+b");
        ASSERT_NE(f, nullptr);
        const auto size = static_cast<std::uint32_t>(std::min<std::uint64_t>(hour, 0xFFFFFFF0u));
        std::fseek(f, 40, SEEK_SET);
        std::fwrite(&size, 4, 1, f);
        std::fclose(f);
    }
    prompter.answers = {true, false, true, true};
    EXPECT_FALSE(ImportSample(*m, path, 1).ok);
    EXPECT_TRUE(ImportSample(*m, path, 1).ok);
    EXPECT_EQ(m->banks.userbank.slot(1).sampleCount, 179200);
    EXPECT_EQ(prompter.questions[1], kAskLargeWav);
    EXPECT_EQ(prompter.questions.size(), 4u);
    std::filesystem::remove(path);
}

TEST_F(SoundConvert, EachBadFileIsRefusedOnceAndTheSlotIsKept) {
    test::SetSound(m->banks.userbank, 1, {7, 8}, "Kept");
    Sox("-D " + Source() + " -b 24 -c 2 -r 44100 " + (dir / "whole.flac"));
    Sox("-n -r 44100 -b 24 -c 2 " + (dir / "silent.aiff") + " trim 0 0");  // 0 frames
    std::vector<std::uint8_t> flac = test::ReadBytes(dir / "whole.flac");
    flac.resize(flac.size() / 2);
    std::vector<float> nan = {0.1f, NAN, 0.2f, 0.3f};
    std::vector<float> inf = {0.1f, 0.2f, INFINITY, 0.3f};
    WavImage zero = FloatWav({});
    struct Case {
        std::string path;
        const char* message;
    };
    const Case cases[] = {
        {Write("garbage.flac", std::vector<std::uint8_t>(5000, 0x5A)), kMsgUnreadableSound},
        {Write("empty.aiff", {}), kMsgUnreadableSound},
        {Write("half.flac", flac), kMsgDamagedSound},
        {Write("nan.wav", FloatWav(nan).bytes()), kMsgNotANumber},
        {Write("inf.wav", FloatWav(inf, 2).bytes()), kMsgNotANumber},
        {Write("zero.wav", zero.bytes()), kMsgNoWavData},
        {dir / "silent.aiff", kMsgNoSound},
        {Write("slow.wav", FloatWav({0.1f, 0.2f}, 1, 500).bytes()), kMsgRateOutOfRange},
    };
    for (const Case& c : cases) {
        const ImportResult r = ImportSample(*m, c.path, 1, Conversion::Always);
        EXPECT_EQ(r.outcome, ImportOutcome::Refused) << c.path;
        EXPECT_EQ(test::Sentence(r.reason), c.message) << c.path;
        EXPECT_EQ(SlotSamples(1), (std::vector<std::int16_t>{7, 8})) << c.path;
    }
    EXPECT_TRUE(prompter.warnings.empty());  // the caller shows the reason
    EXPECT_TRUE(prompter.questions.empty());
}

// The dialog's filter and the sound file names that are never taken as raw samples.
TEST(SoundFileNames, PatternsAndExtensionsAgree) {
    const std::string patterns = SoundFilePatterns();
    for (const char* kind : {"wav", "flac", "aif", "aiff", "ogg", "opus", "caf"}) {
        EXPECT_NE((";" + patterns + ";").find(";*." + std::string(kind) + ";"), std::string::npos)
            << kind;
        EXPECT_TRUE(HasSoundFileExtension(std::string("/a/b.") + kind)) << kind;
    }
    EXPECT_TRUE(HasSoundFileExtension("Kick.FLAC"));
    EXPECT_FALSE(HasSoundFileExtension("/a/drums.flac/kick.raw"));
    EXPECT_FALSE(HasSoundFileExtension("kick"));
    EXPECT_FALSE(HasSoundFileExtension("kick.smp"));
}

}  // namespace
}  // namespace qtam
