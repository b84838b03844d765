#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "banks/sound_file.h"
#include "banks/wav_io.h"
#include "core/machine.h"
#include "test_support.h"
#include "wav_test_support.h"

namespace qtam {
namespace {

using test::WavImage;

class WavImport : public ::testing::Test {
protected:
    void SetUp() override { m->prompter = &prompter; }

    std::string Write(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::string path = dir / name;
        test::WriteBytes(path, bytes);
        return path;
    }
    std::vector<std::int16_t> SlotSamples(int slot) const {
        const SampleSlot& s = m->banks.userbank.slot(slot);
        if (!s.hasSound()) return {};
        return {s.samples.get(), s.samples.get() + s.sampleCount};
    }
    static WavImage MonoWav(std::size_t samples) {
        WavImage w;
        w.payload = test::SampleBytes(test::TestSamples(samples));
        return w;
    }
    // Imports as the editor does, showing the reason of a refusal through the prompter.
    bool Import(const std::string& path, int slot) {
        ImportResult r = ImportSample(*m, path, slot);
        if (!r.reason.empty()) prompter.Warn(r.reason);
        return r.ok;
    }
    // Imports into slot 1 and says how many samples arrived.
    std::int32_t ImportCount(const std::string& path) {
        return Import(path, 1) ? m->banks.userbank.slot(1).sampleCount : 0;
    }

    std::unique_ptr<Machine> m = test::NewMachine();
    test::ScriptedPrompter prompter;
    test::ScratchDir dir;
};

TEST_F(WavImport, CanonicalFileFillsTheSlotAndKeepsItsNameAndAttributes) {
    SampleSlot& slot = m->banks.userbank.slot(4);
    slot.name = "Old name";
    slot.stretchMeasures = 2;
    slot.hihat1 = 3;
    slot.hihat2 = 5;
    std::string path = Write("Kick 1.wav", MonoWav(1000).bytes());

    ImportResult r = ImportSample(*m, path, 4);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.fileName, "Kick 1.wav");
    EXPECT_EQ(SlotSamples(4), test::TestSamples(1000));
    EXPECT_EQ(slot.name, "Old name");
    EXPECT_EQ(slot.stretchMeasures, 2);
    EXPECT_EQ(slot.hihat1, 3);
    EXPECT_EQ(slot.hihat2, 5);
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_TRUE(prompter.questions.empty());
}

TEST_F(WavImport, OddSampleCountsAndOddByteCountsImportAnEvenNumber) {
    EXPECT_EQ(ImportCount(Write("a.wav", MonoWav(1001).bytes())), 1000);
    EXPECT_EQ(ImportCount(Write("b.wav", MonoWav(999).bytes())), 998);
    WavImage halfSample = MonoWav(1000);
    halfSample.payload.push_back(0x7F);  // 2001 bytes
    EXPECT_EQ(ImportCount(Write("c.wav", halfSample.bytes())), 1000);
    EXPECT_EQ(ImportCount(Write("d.wav", MonoWav(2).bytes())), 2);
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavImport, ChunksBetweenFormatAndDataAreSkipped) {
    WavImage w = MonoWav(1000);
    w.betweenFmtAndData = test::FillerChunk("LIST", 300);
    auto fact = test::FillerChunk("fact", 4);
    w.betweenFmtAndData.insert(w.betweenFmtAndData.end(), fact.begin(), fact.end());
    EXPECT_EQ(ImportCount(Write("list.wav", w.bytes())), 1000);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(1000));
}

// The data chunk is reached through the chunk sizes: the letters "data" inside other chunks
// are text, not audio, and no length of the chunks before the audio is too long.
TEST_F(WavImport, TheDataChunkIsFoundByWalkingTheChunks) {
    WavImage info = MonoWav(1000);
    info.betweenFmtAndData =
        test::Chunk("LIST", std::string("INFOICMT\x16\0\0\0Recorded data for test", 34));
    auto bext = test::Chunk("bext", "METADATA, odd sized");  // 19 bytes and a pad byte
    info.betweenFmtAndData.insert(info.betweenFmtAndData.end(), bext.begin(), bext.end());
    EXPECT_EQ(ImportCount(Write("info.wav", info.bytes())), 1000);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(1000));

    WavImage padded = MonoWav(600);
    padded.betweenFmtAndData = test::FillerChunk("PAD ", 4044);
    EXPECT_EQ(ImportCount(Write("pad.wav", padded.bytes())), 600);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(600));

    WavImage overlong = MonoWav(10);  // a chunk claiming more than the file: no data found
    overlong.betweenFmtAndData = test::FillerChunk("LIST", 8);
    overlong.betweenFmtAndData[4] = 0xFF;
    EXPECT_EQ(ImportCount(Write("far.wav", overlong.bytes())), 0);
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>{kMsgNoWavData});
}

// 16-bit PCM in the extensible format chunk is PCM; any other sub-format is compressed.
TEST_F(WavImport, TheExtensibleFormatHoldingPcmIsRead) {
    auto extensible = [](std::uint8_t subFormat) {
        WavImage w = MonoWav(300);
        w.formatTag = 0xFFFE;
        test::PutU16(w.fmtExtra, 22);  // cbSize
        test::PutU16(w.fmtExtra, 16);  // valid bits
        test::PutU32(w.fmtExtra, 4);   // channel mask: front centre
        const std::uint8_t guid[16] = {subFormat, 0, 0, 0,    0, 0,    0x10, 0,
                                       0x80,      0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        w.fmtExtra.insert(w.fmtExtra.end(), guid, guid + 16);
        return w;
    };
    EXPECT_EQ(ImportCount(Write("ext.wav", extensible(1).bytes())), 300);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(300));
    EXPECT_TRUE(prompter.warnings.empty());

    EXPECT_EQ(ImportCount(Write("float.wav", extensible(3).bytes())), 0);
    WavImage shortChunk = MonoWav(300);  // no room for a sub-format
    shortChunk.formatTag = 0xFFFE;
    EXPECT_EQ(ImportCount(Write("short.wav", shortChunk.bytes())), 0);
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>(2, kMsgCompressedWav));
}

// Every refusal of a sound says what is taken instead; a floating-point file is called that,
// not compressed.
TEST_F(WavImport, RefusalsSayWhatIsAccepted) {
    WavImage floating = MonoWav(300);
    floating.formatTag = 3;
    WavImage stereo = MonoWav(300);
    stereo.channels = 2;
    WavImage compressed = MonoWav(300);
    compressed.formatTag = 2;
    EXPECT_EQ(ImportCount(Write("float.wav", floating.bytes())), 0);
    EXPECT_EQ(ImportCount(Write("stereo.wav", stereo.bytes())), 0);
    EXPECT_EQ(ImportCount(Write("adpcm.wav", compressed.bytes())), 0);
    EXPECT_EQ(prompter.warnings, (std::vector<std::string>{ImportRefusalText(kMsgFloatWav),
                                                           ImportRefusalText(kMsgStereoWav),
                                                           ImportRefusalText(kMsgCompressedWav)}));
    for (const std::string& w : prompter.warnings)
        EXPECT_NE(w.find("16-bit mono PCM"), std::string::npos) << w;
}

// The byte-for-byte reader wants the format chunk first; the sound file reader takes the
// rest, and a 16-bit mono 44100 Hz sound arrives unchanged without a question.
TEST_F(WavImport, AFormatChunkThatIsNotFirstIsReadLosslessly) {
    WavImage w = MonoWav(100);
    w.beforeFmt = test::FillerChunk("LIST", 26);
    EXPECT_EQ(ImportCount(Write("late.wav", w.bytes())), 100);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(100));
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_TRUE(prompter.questions.empty());
}

TEST_F(WavImport, TagsAreComparedInUpperCase) {
    WavImage w = MonoWav(500);
    w.riff = "riff";
    w.wave = "wave";
    w.fmt = "fmt ";
    w.data = "DaTa";
    EXPECT_EQ(ImportCount(Write("lower.wav", w.bytes())), 500);
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavImport, EachRefusalHasItsMessageAndLeavesTheSlotAlone) {
    test::SetSound(m->banks.userbank, 1, {1, 2, 3, 4}, "Kept");
    struct Case {
        const char* what;
        WavImage wav;
        std::string message;
    };
    auto with = [](auto change) {
        WavImage w;
        w.payload = test::SampleBytes(test::TestSamples(100));
        change(w);
        return w;
    };
    std::vector<Case> cases = {
        {"8 bit", with([](WavImage& w) { w.bits = 8; }), "This appears to be a 8 bit WAV-file..."},
        {"24 bit", with([](WavImage& w) { w.bits = 24; }),
         "This appears to be a 24 bit WAV-file..."},
        {"stereo", with([](WavImage& w) { w.channels = 2; }),
         "This appears to be stereo WAV-file..."},
        {"6 channels", with([](WavImage& w) { w.channels = 6; }),
         "This appears to be a WAV-file of 6 channels..."},
        // One bound of the rate for every path, the one taken as it is too.
        {"999 Hz", with([](WavImage& w) {
             w.sampleRate = 999;
             w.byteRate = 1998;
         }),
         kMsgRateOutOfRange},
        {"float", with([](WavImage& w) { w.formatTag = 3; }), kMsgFloatWav},
        {"ADPCM", with([](WavImage& w) { w.formatTag = 2; }),
         "This appears to be a compressed WAV-file..."},
        {"not RIFF", with([](WavImage& w) { w.riff = "RIFX"; }),
         "This appears not to be a valid WAV-file..."},
        {"not WAVE", with([](WavImage& w) { w.wave = "AVI "; }),
         "This appears not to be a valid WAV-file..."},
        {"no fmt", with([](WavImage& w) { w.fmt = "JUNK"; }),
         "This appears not to be a valid WAV-file..."},
        {"no data", with([](WavImage& w) { w.data = "dat "; }),
         "This WAV-file contains no data, or is in an unknown format..."},
        {"rate 0", with([](WavImage& w) {
             w.sampleRate = 0;
             w.byteRate = 88200;
         }),
         "This appears not to be a valid WAV-file..."},
        {"0 channels", with([](WavImage& w) {
             w.channels = 0;
             w.byteRate = 88200;
         }),
         "This appears not to be a valid WAV-file..."},
    };
    // A file the sound file reader can convert is first offered the conversion; No (the
    // scripted answer) refuses it with the message it always had.
    for (const Case& c : cases) {
        prompter.warnings.clear();
        prompter.questions.clear();
        EXPECT_EQ(ImportCount(Write("refused.wav", c.wav.bytes())), 0) << c.what;
        EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>{c.message})
            << c.what;
        for (const std::string& w : prompter.warnings)
            EXPECT_NE(w.find(kImportAccepts), std::string::npos) << c.what << ": " << w;
        EXPECT_LE(prompter.questions.size(), 1u) << c.what;
        for (const std::string& q : prompter.questions)
            EXPECT_EQ(q.rfind("This file is WAV, ", 0), 0u) << c.what << ": " << q;
        EXPECT_EQ(SlotSamples(1), (std::vector<std::int16_t>{1, 2, 3, 4})) << c.what;
        EXPECT_EQ(m->banks.userbank.slot(1).name, "Kept");
    }
}

// The result says how the import ended and why a file was refused; the import itself shows
// nothing. Questions are answered No.
TEST_F(WavImport, TheResultCarriesTheOutcomeAndTheReason) {
    WavImage slow = MonoWav(10), stereo = MonoWav(10), long48k = MonoWav(200000);
    slow.sampleRate = 22050;
    stereo.channels = 2;
    long48k.sampleRate = 48000;
    using enum ImportOutcome;
    const std::tuple<std::string, ImportOutcome, std::string> cases[] = {
        {Write("a.wav", MonoWav(10).bytes()), Imported, ""},
        {Write("no.wav", {1, 2, 3, 4}), Refused, kMsgNotAWav},
        {dir / "missing.raw", Refused, kMsgRawOpenError},
        {Write("one.raw", {1, 2}), NoSound, ""},
        {Write("slow.wav", slow.bytes()), Declined, ""},
        {Write("stereo.wav", stereo.bytes()), ConversionDeclined, kMsgStereoWav},
        {Write("long.wav", long48k.bytes()), ConversionDeclined, ""},  // nor the first 4.06 s
    };
    for (const auto& [path, outcome, sentence] : cases) {
        const ImportResult r = ImportSample(*m, path, 1);
        EXPECT_EQ(r.outcome, outcome) << path;
        EXPECT_EQ(r.ok, outcome == Imported) << path;
        EXPECT_EQ(test::Sentence(r.reason), sentence) << path;
    }
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavImport, AFileThatCannotBeOpenedSaysSo) {
    EXPECT_EQ(ImportCount(dir / "missing.wav"), 0);
    EXPECT_EQ(ImportCount(dir / "missing.raw"), 0);
    std::filesystem::create_directory(dir / "folder.wav");
    EXPECT_EQ(ImportCount(dir / "folder.wav"), 0);
    const std::string wavText =
        "An error occurred while opening this file...\r\n"
        "The file might be read-only or in use by another application.";
    EXPECT_EQ(test::Sentences(prompter.warnings),
              (std::vector<std::string>{wavText, "An error occurred while opening this file...",
                                        wavText}));
}

TEST_F(WavImport, LowSampleRatesAskAndAreTakenUnchanged) {
    WavImage w = MonoWav(1000);
    w.sampleRate = 22050;
    std::string path = Write("slow.wav", w.bytes());

    prompter.answers = {false};
    EXPECT_EQ(ImportCount(path), 0);
    EXPECT_FALSE(m->banks.userbank.slot(1).hasSound());
    prompter.answers = {true};
    EXPECT_EQ(ImportCount(path), 1000);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(1000));
    EXPECT_EQ(prompter.questions, std::vector<std::string>(2, kAskLowSampleRate));

    // From 44 kHz up the file is offered the conversion; No takes it unchanged as before.
    prompter.questions.clear();
    w.sampleRate = 44000;
    EXPECT_EQ(ImportCount(Write("44000.wav", w.bytes())), 1000);
    w.sampleRate = 48000;
    EXPECT_EQ(ImportCount(Write("48000.wav", w.bytes())), 1000);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(1000));
    w.sampleRate = 43999;
    EXPECT_EQ(ImportCount(Write("43999.wav", w.bytes())), 0);
    EXPECT_EQ(prompter.questions,
              (std::vector<std::string>{
                  "This file is WAV, 16 bit, mono, 44000 Hz. Convert it to 16-bit mono 44100 Hz?",
                  "This file is WAV, 16 bit, mono, 48000 Hz. Convert it to 16-bit mono 44100 Hz?",
                  kAskLowSampleRate}));
}

TEST_F(WavImport, LargeFilesAskAndOnYesTakeTheFirst350Kb) {
    std::string path = Write("long.wav", MonoWav(200000).bytes());  // 400000 data bytes
    prompter.answers = {false, true};
    EXPECT_EQ(ImportCount(path), 0);
    EXPECT_EQ(ImportCount(path), 179200);
    EXPECT_EQ(prompter.questions, std::vector<std::string>(2, kAskLargeWav));
    std::vector<std::int16_t> first = test::TestSamples(200000);
    first.resize(179200);
    EXPECT_EQ(SlotSamples(1), first);

    prompter.questions.clear();
    EXPECT_EQ(ImportCount(Write("exact.wav", MonoWav(179200).bytes())), 179200);
    EXPECT_TRUE(prompter.questions.empty());
}

TEST_F(WavImport, DeclaredSizesAreNotTrustedBeyondTheFile) {
    WavImage tooLong = MonoWav(1000);
    tooLong.declaredDataSize = 0x7FFFFFF0;
    // A cut file is said to be one: what is there is imported only after Yes.
    prompter.answers = {false, true};
    EXPECT_EQ(ImportCount(Write("claims.wav", tooLong.bytes())), 0);
    EXPECT_EQ(ImportCount(Write("claims.wav", tooLong.bytes())), 1000);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(1000));
    EXPECT_EQ(prompter.questions, std::vector<std::string>(2, kAskCutWav));

    // Nothing to import is said, not passed over in silence; the slot stays as it was.
    test::SetSound(m->banks.userbank, 2, {9, 9}, "Kept");
    for (std::int32_t size : {-1, -2000, 0, 1}) {
        WavImage w = MonoWav(1000);
        w.declaredDataSize = size;
        EXPECT_FALSE(Import(Write("neg.wav", w.bytes()), 2)) << size;
        EXPECT_EQ(SlotSamples(2), (std::vector<std::int16_t>{9, 9}));
    }
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>(4, kMsgNoWavData));
}

TEST_F(WavImport, AFileEndingInsideTheHeaderIsRefused) {
    std::vector<std::uint8_t> whole = MonoWav(100).bytes();
    for (std::size_t cut = 0; cut < 44; ++cut) {
        prompter.warnings.clear();
        std::vector<std::uint8_t> head(whole.begin(), whole.begin() + static_cast<long>(cut));
        EXPECT_EQ(ImportCount(Write("cut.wav", head)), 0) << cut;
        ASSERT_EQ(prompter.warnings.size(), 1u) << cut;
        // Until the data tag is complete no data chunk is found; after it the size is missing.
        const bool inSearch = cut >= 36 && cut < 40;
        EXPECT_EQ(test::Sentence(prompter.warnings[0]), inSearch ? kMsgNoWavData : kMsgNotAWav)
            << cut;
    }
    prompter.warnings.clear();
    EXPECT_EQ(ImportCount(Write("cut.wav", {whole.begin(), whole.begin() + 44})), 0);
    EXPECT_EQ(test::Sentences(prompter.warnings),
              std::vector<std::string>{kMsgNoWavData});  // empty data chunk
}

// The contents decide: a WAV file is one whatever its name; other bytes are raw samples
// unless the name says .wav (then they are refused as no WAV file).
TEST_F(WavImport, TheContentsDecideWav) {
    std::filesystem::create_directory(dir / "drums.wav");
    std::string inFolder = Write("drums.wav/snare.raw", MonoWav(100).bytes());
    EXPECT_EQ(ImportCount(inFolder), 100);
    EXPECT_EQ(ImportSample(*m, inFolder, 1).fileName, "snare.raw");
    EXPECT_EQ(ImportCount(Write("snare.wav.smp", MonoWav(100).bytes())), 100);
    EXPECT_EQ(ImportCount(Write("SNARE.Wav", MonoWav(100).bytes())), 100);
    EXPECT_EQ(SlotSamples(1), test::TestSamples(100));
    const auto raw = test::SampleBytes(test::TestSamples(100));
    EXPECT_EQ(ImportCount(Write("drums.wav/snare.pcm", raw)), 100);
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(ImportCount(Write("snare.WAV", raw)), 0);
    EXPECT_EQ(test::Sentences(prompter.warnings), std::vector<std::string>{kMsgNotAWav});
}

// A FIFO would block a reader for ever; it is refused as a file that cannot be opened.
TEST_F(WavImport, SpecialFilesAreRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo((dir / "pipe.wav").c_str(), 0644), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.raw").c_str(), 0644), 0);
    EXPECT_EQ(ImportCount(dir / "pipe.wav"), 0);
    EXPECT_EQ(ImportCount(dir / "pipe.raw"), 0);
    EXPECT_EQ(test::Sentences(prompter.warnings),
              (std::vector<std::string>{kMsgWavOpenError, kMsgRawOpenError}));
    EXPECT_EQ(test::ModeOf(dir / "pipe.wav"), 0644u);
}

TEST_F(WavImport, RawFilesAreTakenWholeAsSamples) {
    auto samples = test::TestSamples(1001);
    EXPECT_EQ(ImportCount(Write("a.pcm", test::SampleBytes(samples))), 1000);
    samples.resize(1000);
    EXPECT_EQ(SlotSamples(1), samples);

    std::vector<std::uint8_t> odd = test::SampleBytes(test::TestSamples(500));
    odd.push_back(1);  // 1001 bytes: 500 whole samples
    EXPECT_EQ(ImportCount(Write("b.sam", odd)), 500);

    test::SetSound(m->banks.userbank, 1, {5}, "Kept");
    EXPECT_EQ(ImportCount(Write("empty.raw", {})), 0);
    EXPECT_EQ(ImportCount(Write("one.raw", {1, 2})), 0);  // a single sample rounds to none
    EXPECT_EQ(SlotSamples(1), std::vector<std::int16_t>{5});
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(WavImport, LargeRawFilesAskAndOnYesTakeTheFirst350Kb) {
    std::string path = Write("big.raw", std::vector<std::uint8_t>(400000, 0x11));
    prompter.answers = {false, true};
    EXPECT_EQ(ImportCount(path), 0);
    EXPECT_EQ(ImportCount(path), 179200);
    EXPECT_EQ(prompter.questions, std::vector<std::string>(2, kAskLargeRaw));
}

TEST_F(WavImport, ReadOnlyFilesImportAndStayReadOnly) {
    std::string path = Write("locked.wav", MonoWav(100).bytes());
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(ImportCount(path), 100);
    EXPECT_EQ(test::ModeOf(path), 0444u);
    std::string raw = Write("locked.raw", test::SampleBytes(test::TestSamples(10)));
    ::chmod(raw.c_str(), 0400);
    EXPECT_EQ(ImportCount(raw), 10);
    EXPECT_EQ(test::ModeOf(raw), 0400u);
}

TEST_F(WavImport, SlotNumbersOutsideTheBankImportNothing) {
    std::string path = Write("a.wav", MonoWav(10).bytes());
    EXPECT_FALSE(ImportSample(*m, path, 0).ok);
    EXPECT_FALSE(ImportSample(*m, path, 21).ok);
}

// Random bytes, damaged headers and truncations never crash, never read outside the file and
// never place more than the transfer buffer holds.
TEST_F(WavImport, DamagedFilesNeverCrash) {
    std::mt19937 random(20240611);
    std::vector<std::uint8_t> good = MonoWav(300).bytes();
    WavImage listed = MonoWav(300);
    listed.betweenFmtAndData = test::FillerChunk("LIST", 200);
    std::vector<std::uint8_t> good2 = listed.bytes();
    const std::string path = dir / "fuzz.wav";
    int imported = 0;
    for (int round = 0; round < 600; ++round) {
        std::vector<std::uint8_t> bytes;
        switch (round % 4) {
            case 0: {
                bytes.resize(random() % 2000);
                for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
                break;
            }
            case 1:
            case 2: {
                bytes = round % 4 == 1 ? good : good2;
                const int flips = 1 + static_cast<int>(random() % 6);
                for (int i = 0; i < flips; ++i) {
                    // Mostly the header, where the parser decides things.
                    std::size_t at = random() % 4 ? random() % 48 : random() % bytes.size();
                    bytes[at] = static_cast<std::uint8_t>(random());
                }
                break;
            }
            default:
                bytes.assign(good2.begin(),
                             good2.begin() + static_cast<long>(random() % good2.size()));
        }
        test::WriteBytes(path, bytes);
        prompter.answers = {random() % 2 == 0, random() % 2 == 0};
        std::int32_t n = ReadWavSamples(*m, path).count;
        ASSERT_GE(n, 0);
        ASSERT_LE(n, 179200);
        ASSERT_EQ(n % 2, 0);
        ASSERT_LE(static_cast<std::size_t>(n) * 2, bytes.size());
        imported += n > 0;
    }
    EXPECT_GT(imported, 0);  // the mutations also leave readable files
}

}  // namespace
}  // namespace qtam
