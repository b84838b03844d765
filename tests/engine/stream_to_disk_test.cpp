#include "engine/stream_to_disk.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "banks/wav_io.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/messages.h"
#include "engine/mixer.h"
#include "test_support.h"
#include "wav_test_support.h"

namespace qtam {
namespace {

constexpr std::size_t kHeader = 44;

// A pattern that sounds: two sounds on three channels, notes across measure boundaries, pans.
void MakeGroove(Machine& m, int pattern, int measures, int shuffle = 100, int steps = 16) {
    m.song.stepsPerMeasure = static_cast<std::uint8_t>(steps);
    m.song.shuffle = static_cast<std::uint8_t>(shuffle);
    m.song.measureCount[pattern - 1] = static_cast<std::uint8_t>(measures);
    SetTempo(PlayerOf(m), m.song.tempo, shuffle);
    test::SetSound(m.banks.internalBank, 1, test::TestSamples(40000, 1), "Long");
    m.banks.internalBank.slot(1).stretchMeasures = 2;
    test::SetSound(m.banks.internalBank, 2, test::TestSamples(3000, 5), "Short");
    ChannelSettings& cs = m.song.settings(pattern);
    cs.instrument[0] = 1;
    cs.instrument[1] = 2;
    cs.instrument[2] = 2;
    for (int meas = 1; meas <= measures; ++meas) {
        test::SetNote(m, pattern, meas, 2, 1, 100, 0);
        test::SetNote(m, pattern, meas, 2, 7, 60, 127);
        test::SetNote(m, pattern, meas, 3, 3, 127, 64, 1);
    }
    test::SetNote(m, pattern, 1, 1, 1, 127, 30);  // rings on into the next measure
}

class StreamToDisk : public ::testing::Test {
protected:
    void SetUp() override { m->prompter = &prompter; }

    // The frames that rendering must produce, mixed here directly with MixFrame.
    static std::vector<std::uint8_t> ExpectedPatternBytes(Machine& ref, int measures) {
        std::vector<std::uint8_t> out;
        StartRender(ref, 1);
        for (int meas = 1; meas <= measures; ++meas) {
            ref.player.clock.PlayMeasure = static_cast<std::uint8_t>(meas);
            for (std::int32_t i = 0; i < ref.player.clock.MeasureLength; ++i) {
                StereoFrame f = MixFrame(PlayerOf(ref));
                test::PutU16(out, static_cast<std::uint16_t>(f.left));
                test::PutU16(out, static_cast<std::uint16_t>(f.right));
            }
            if (meas < measures) NextRenderMeasure(PlayerOf(ref), meas + 1);
            // The stretched sound struck in measure 1 rings on into measure 2.
            if (meas == 1 && measures > 1) {
                EXPECT_TRUE(ref.player.voice(1).active);
            }
        }
        return out;
    }

    std::unique_ptr<Machine> m = test::NewMachine();
    test::ScriptedPrompter prompter;
    test::ScratchDir dir;
};

TEST_F(StreamToDisk, OneMeasureAt145BpmIs72993Frames) {
    MakeGroove(*m, 1, 1);
    const std::string path = dir / "measure.wav";
    ASSERT_TRUE(RenderCurrentMeasure(*m, path));

    std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), kHeader + 291972);
    const WavHeader h = MakeWavHeader(2, 291972);
    EXPECT_EQ(std::memcmp(bytes.data(), &h, kHeader), 0);

    test::SoundFileInfo read = test::ReadWithLibsndfile(path);
    ASSERT_TRUE(read.opened);
    EXPECT_EQ(read.channels, 2);
    EXPECT_EQ(read.sampleRate, 44100);
    EXPECT_EQ(read.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_EQ(read.frames, 72993);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"measure.wav"});
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(prompter.busyDepth, 0);
    EXPECT_GT(prompter.busyCalls, 0);
}

TEST_F(StreamToDisk, TheCurrentMeasureIsTheEditedOne) {
    MakeGroove(*m, 3, 4);
    m->editor.CurrentPattern = 3;
    m->editor.CurrentMeasure = 2;
    const std::string path = dir / "m2.wav";
    ASSERT_TRUE(RenderCurrentMeasure(*m, path));

    auto ref = test::NewMachine();
    MakeGroove(*ref, 3, 4);
    ref->editor.CurrentPattern = 3;
    StartRender(*ref, 2);
    std::vector<std::uint8_t> expected;
    for (std::int32_t i = 0; i < ref->player.clock.MeasureLength; ++i) {
        StereoFrame f = MixFrame(PlayerOf(*ref));
        test::PutU16(expected, static_cast<std::uint16_t>(f.left));
        test::PutU16(expected, static_cast<std::uint16_t>(f.right));
    }
    std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), kHeader + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + kHeader));
}

TEST_F(StreamToDisk, AWholePatternIsEveryMeasureInTurnWithVoicesCarriedAcross) {
    for (int steps : {16, 12}) {
        auto machine = test::NewMachine();
        machine->prompter = &prompter;
        MakeGroove(*machine, 2, 4, 150, steps);
        machine->editor.CurrentPattern = 2;
        const std::string path = dir / ("pattern" + std::to_string(steps) + ".wav");
        ASSERT_TRUE(RenderWholePattern(*machine, path));

        const std::int32_t measureLength = steps == 16 ? 72993 : 54745;
        test::SoundFileInfo read = test::ReadWithLibsndfile(path);
        ASSERT_TRUE(read.opened);
        EXPECT_EQ(read.frames, 4 * measureLength) << steps;

        auto ref = test::NewMachine();
        MakeGroove(*ref, 2, 4, 150, steps);
        ref->editor.CurrentPattern = 2;
        std::vector<std::uint8_t> expected = ExpectedPatternBytes(*ref, 4);
        std::vector<std::uint8_t> bytes = test::ReadBytes(path);
        ASSERT_EQ(bytes.size(), kHeader + expected.size());
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + kHeader)) << steps;
    }
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(StreamToDisk, ProgressAndActivityFollowTheRender) {
    MakeGroove(*m, 1, 3);
    std::vector<std::string> activities;
    std::vector<int> percents;
    StreamObserver observer;
    observer.activity = [&](const std::string& a) { activities.push_back(a); };
    observer.progress = [&](int p) { percents.push_back(p); };
    ASSERT_TRUE(RenderWholePattern(*m, dir / "p.wav", &observer));

    EXPECT_EQ(activities, (std::vector<std::string>{"Rendering measure 1", "Rendering measure 2",
                                                    "Rendering measure 3", "Saving soundfile"}));
    ASSERT_GE(percents.size(), 3u);
    EXPECT_EQ(percents.front(), 0);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_EQ(std::adjacent_find(percents.begin(), percents.end()),
              percents.end());  // no repaint without change
    EXPECT_EQ(percents[percents.size() - 2],
              98);  // a little above 98 when the last measure is done
    EXPECT_EQ(percents.back(), 100);
}

TEST_F(StreamToDisk, ANameWithoutADotGetsDotWav) {
    MakeGroove(*m, 1, 1);
    ASSERT_TRUE(RenderCurrentMeasure(*m, dir / "groove"));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"groove.WAV"});
}

TEST_F(StreamToDisk, AnExistingFileIsReplacedOnlyAfterAYes) {
    MakeGroove(*m, 1, 1);
    const std::string path = dir / "old.wav";
    test::WriteBytes(path, {1, 2, 3});

    prompter.answers = {false};
    EXPECT_FALSE(RenderCurrentMeasure(*m, path));
    EXPECT_EQ(test::ReadBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"old.wav"});

    prompter.answers = {true};
    EXPECT_TRUE(RenderCurrentMeasure(*m, path));
    EXPECT_EQ(test::ReadBytes(path).size(), kHeader + 291972);
    EXPECT_EQ(prompter.questions,
              std::vector<std::string>(2, "This file exists... Do you want to overwrite it?"));
    EXPECT_TRUE(prompter.warnings.empty());

    const std::string locked = dir / "locked.wav";
    test::WriteBytes(locked, {4});
    ::chmod(locked.c_str(), 0444);
    prompter.answers = {true};
    EXPECT_FALSE(RenderCurrentMeasure(*m, locked));
    EXPECT_EQ(test::ReadBytes(locked), std::vector<std::uint8_t>{4});
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_EQ(prompter.warnings[0],
              FileFailureText(kMsgCannotCreate, locked, "the file is read-only"));
}

// The render is written once, beside the target, and renamed over it: the replaced file's
// permissions carry over, a new file gets the usual ones, and no other file is left behind.
TEST_F(StreamToDisk, ARenderTakesThePlaceOfTheTargetWithItsPermissions) {
    MakeGroove(*m, 1, 1);
    const std::string path = dir / "shared.wav";
    test::WriteBytes(path, {1, 2, 3});
    ::chmod(path.c_str(), 0640);
    prompter.answers = {true};
    ASSERT_TRUE(RenderCurrentMeasure(*m, path));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(test::ReadWithLibsndfile(path).frames, 72993);

    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_TRUE(RenderCurrentMeasure(*m, dir / "new.wav"));
    ASSERT_EQ(::stat((dir / "new.wav").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u & ~mask);
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"new.wav", "shared.wav"}));
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(StreamToDisk, RefusalsCreateNothing) {
    EXPECT_FALSE(RenderCurrentMeasure(*m, ""));
    const std::string missing = dir / "missing folder/x.wav";
    EXPECT_FALSE(RenderCurrentMeasure(*m, missing));
    EXPECT_FALSE(StartLiveSession(*m, missing));
    // The message keeps its sentence and adds the file and the system's reason.
    const std::string expected = FileFailureText(kMsgCannotCreate, missing, std::strerror(ENOENT));
    EXPECT_EQ(prompter.warnings,
              (std::vector<std::string>{"Some kind of shit hit the fan...", expected, expected}));
    EXPECT_FALSE(m->Streaming);
    EXPECT_EQ(m->stream, nullptr);
    EXPECT_TRUE(dir.list().empty());
}

TEST_F(StreamToDisk, ALeftoverTemporaryFileIsNeitherTouchedNorInTheWay) {
    MakeGroove(*m, 1, 1);
    const std::string temp = dir / "~wavconv.pcm";
    test::WriteBytes(temp, {7, 7, 7});
    EXPECT_TRUE(RenderCurrentMeasure(*m, dir / "x.wav"));
    EXPECT_EQ(test::ReadBytes(temp), (std::vector<std::uint8_t>{7, 7, 7}));
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"x.wav", "~wavconv.pcm"}));
}

TEST_F(StreamToDisk, AFailingWriteLeavesTheOldFileByteIdentical) {
    MakeGroove(*m, 1, 2);
    const std::string path = dir / "keep.wav";
    const std::vector<std::uint8_t> old = test::SampleBytes(test::TestSamples(5000, 9));
    test::WriteBytes(path, old);
    prompter.answers = {true};
    {
        test::FileSizeLimit limit(100000);  // the raw frames run out of room during measure 1
        EXPECT_FALSE(RenderWholePattern(*m, path));
    }
    EXPECT_EQ(test::ReadBytes(path), old);
    EXPECT_EQ(dir.list(), std::vector<std::string>{"keep.wav"});
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_NE(prompter.warnings[0].find(path), std::string::npos) << prompter.warnings[0];
    EXPECT_NE(prompter.warnings[0].find(std::strerror(EFBIG)), std::string::npos)
        << prompter.warnings[0];
    EXPECT_FALSE(m->Streaming);
    EXPECT_EQ(m->stream, nullptr);
    EXPECT_EQ(prompter.busyDepth, 0);
}

TEST_F(StreamToDisk, ALiveSessionRecordsEveryBlockTheLiveMixerMakes) {
    MakeGroove(*m, 1, 2);
    const std::string path = dir / "live.wav";
    ASSERT_TRUE(StartLiveSession(*m, path));
    EXPECT_TRUE(m->Streaming);
    EXPECT_EQ(StreamFileName(*m), path);
    EXPECT_FALSE(FileExists(path));

    PrepareStart(PlayerOf(*m));
    std::vector<std::uint8_t> expected;
    for (int block = 0; block < 5; ++block) {
        m->BufPos = block % 2 ? kSecondHalf : 1;
        RenderBlock(*m, 8820);
        const std::int16_t* words = m->StagingBuffer.data() + (m->BufPos - 1);
        for (int i = 0; i < 2 * 8820; ++i)
            test::PutU16(expected, static_cast<std::uint16_t>(words[i]));
    }
    ASSERT_TRUE(FinishStream(*m));

    std::vector<std::uint8_t> bytes = test::ReadBytes(path);
    ASSERT_EQ(bytes.size(), kHeader + expected.size());
    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), bytes.begin() + kHeader));
    EXPECT_EQ(test::ReadWithLibsndfile(path).frames, 5 * 8820);
    EXPECT_FALSE(m->Streaming);
    EXPECT_EQ(m->stream, nullptr);
    EXPECT_EQ(StreamFileName(*m), "");
    EXPECT_EQ(dir.list(), std::vector<std::string>{"live.wav"});
}

TEST_F(StreamToDisk, FinishingPutsTheClockBackToTheStart) {
    MakeGroove(*m, 4, 3);
    m->editor.CurrentPattern = 4;
    ASSERT_TRUE(StartLiveSession(*m, dir / "live.wav"));
    PrepareStart(PlayerOf(*m));
    m->Playing = true;
    for (int i = 0; i < 10; ++i) RenderBlock(*m, 10240);
    ASSERT_TRUE(FinishStream(*m));
    EXPECT_EQ(m->player.clock.PlayMeasure, 1);
    EXPECT_EQ(m->player.clock.PlayPattern, 4);
    EXPECT_EQ(m->player.clock.NextPattern, 4);
    EXPECT_EQ(m->player.clock.PlayStep, 1);
    EXPECT_EQ(m->player.clock.StepCounter, 1);
    for (int c = 1; c <= kChannels; ++c) {
        EXPECT_EQ(m->player.voice(c).active, 0);
        EXPECT_EQ(m->player.voice(c).position, 1.0);
    }
    EXPECT_TRUE(m->Playing);  // left to whoever stops playback
}

TEST_F(StreamToDisk, ALiveSessionNeverPlayedWritesNothing) {
    const std::string path = dir / "old.wav";
    test::WriteBytes(path, {1, 2});
    prompter.answers = {true};
    ASSERT_TRUE(StartLiveSession(*m, path));
    // Armed, nothing recorded yet: no file at all, so none can be left behind however the
    // program ends.
    EXPECT_EQ(dir.list(), std::vector<std::string>{"old.wav"});
    PrepareStart(PlayerOf(*m));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"old.wav"});
    EXPECT_TRUE(FinishStream(*m));
    EXPECT_EQ(test::ReadBytes(path), (std::vector<std::uint8_t>{1, 2}));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"old.wav"});
    EXPECT_TRUE(FinishStream(*m));  // nothing open: harmless
}

TEST_F(StreamToDisk, ALiveTakeThatCannotBeSavedStaysOnDisk) {
    MakeGroove(*m, 1, 1);
    const std::string path = dir / "take.wav";
    ASSERT_TRUE(StartLiveSession(*m, path));
    PrepareStart(PlayerOf(*m));
    for (int i = 0; i < 4; ++i) RenderBlock(*m, 10240);  // 163840 raw bytes
    {
        test::FileSizeLimit limit(100000);
        EXPECT_FALSE(FinishStream(*m));
    }
    ASSERT_EQ(dir.list().size(), 1u);
    const std::string raw = dir / dir.list()[0];
    EXPECT_TRUE(test::IsWavTempName(dir.list()[0])) << raw;
    EXPECT_EQ(test::ReadBytes(raw).size(), 163840u);
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_NE(prompter.warnings[0].find(path), std::string::npos);
    EXPECT_NE(prompter.warnings[0].find(raw), std::string::npos);
    EXPECT_FALSE(m->Streaming);
}

TEST_F(StreamToDisk, ALiveTakeWhoseWritesFailKeepsWhatReachedTheDisk) {
    MakeGroove(*m, 1, 1);
    ASSERT_TRUE(StartLiveSession(*m, dir / "take.wav"));
    PrepareStart(PlayerOf(*m));
    {
        test::FileSizeLimit limit(100000);
        for (int i = 0; i < 4; ++i) RenderBlock(*m, 10240);  // 163840 bytes do not fit
    }
    EXPECT_FALSE(FinishStream(*m));
    ASSERT_EQ(dir.list().size(), 1u);
    const std::string raw = dir / dir.list()[0];
    EXPECT_TRUE(test::IsWavTempName(dir.list()[0])) << raw;
    EXPECT_EQ(test::ReadBytes(raw).size(), 100000u);
    ASSERT_EQ(prompter.warnings.size(), 1u);
    EXPECT_NE(prompter.warnings[0].find(raw), std::string::npos) << prompter.warnings[0];
    EXPECT_NE(prompter.warnings[0].find(std::strerror(EFBIG)), std::string::npos)
        << prompter.warnings[0];
    EXPECT_FALSE(m->Streaming);
}

TEST_F(StreamToDisk, ATargetNamedLikeTheRawFileIsWrittenAndKept) {
    MakeGroove(*m, 1, 1);
    const std::string path = dir / "~wavconv.pcm";
    ASSERT_TRUE(RenderCurrentMeasure(*m, path));
    EXPECT_EQ(test::ReadWithLibsndfile(path).frames, 72993);
    EXPECT_TRUE(prompter.warnings.empty());
}

TEST_F(StreamToDisk, ANewStreamFinishesTheOneStillOpen) {
    MakeGroove(*m, 1, 1);
    ASSERT_TRUE(StartLiveSession(*m, dir / "first.wav"));
    PrepareStart(PlayerOf(*m));
    RenderBlock(*m, 1000);
    ASSERT_TRUE(RenderCurrentMeasure(*m, dir / "second.wav"));
    EXPECT_EQ(test::ReadWithLibsndfile(dir / "first.wav").frames, 1000);
    EXPECT_EQ(test::ReadWithLibsndfile(dir / "second.wav").frames, 72993);
}

TEST_F(StreamToDisk, TwoStreamsIntoOneFolderAtOnceBothSucceed) {
    MakeGroove(*m, 1, 1);
    auto other = test::NewMachine();
    other->prompter = &prompter;
    MakeGroove(*other, 1, 1);
    ASSERT_TRUE(StartLiveSession(*m, dir / "live.wav"));
    PrepareStart(PlayerOf(*m));
    RenderBlock(*m, 1000);
    ASSERT_TRUE(RenderCurrentMeasure(*other, dir / "offline.wav"));
    ASSERT_TRUE(FinishStream(*m));
    EXPECT_EQ(test::ReadWithLibsndfile(dir / "live.wav").frames, 1000);
    EXPECT_EQ(test::ReadWithLibsndfile(dir / "offline.wav").frames, 72993);
    EXPECT_TRUE(prompter.warnings.empty());
    EXPECT_EQ(dir.list(), (std::vector<std::string>{"live.wav", "offline.wav"}));
}

// A render killed halfway leaves nothing behind that stops the next one.
TEST_F(StreamToDisk, ARenderKilledHalfwayLeavesNoFileAndTheNextOneSucceeds) {
    MakeGroove(*m, 1, 4);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RemoveTemporaryFilesOnInterrupt();
        StreamObserver observer;
        observer.progress = [&](int percent) {
            if (percent < 10) return;
            const char byte = 1;
            if (::write(ready[1], &byte, 1) != 1) ::_exit(3);
            for (;;) ::pause();  // halfway through the pattern, waiting to be killed
        };
        RenderWholePattern(*m, dir / "take.wav", &observer);
        ::_exit(2);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ASSERT_EQ(dir.list().size(), 1u);  // the raw frames so far
    EXPECT_TRUE(test::IsWavTempName(dir.list()[0]));
    ::kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;
    ::close(ready[0]);
    ::close(ready[1]);
    EXPECT_TRUE(dir.list().empty());

    ASSERT_TRUE(RenderWholePattern(*m, dir / "take.wav"));
    EXPECT_EQ(test::ReadWithLibsndfile(dir / "take.wav").frames, 4 * 72993);
    EXPECT_TRUE(prompter.warnings.empty());
}

// Ctrl-C while a file is being replaced: the old file stays and the half-written one goes.
TEST_F(StreamToDisk, AnInterruptedSaveLeavesTheOldFileAlone) {
    const std::string path = dir / "song.sng";
    test::WriteBytes(path, {1, 2, 3});
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        RemoveTemporaryFilesOnInterrupt();
        SafeFileWriter out;
        if (!out.Open(path) || !out.Write("half", 4)) ::_exit(2);
        std::raise(SIGINT);
        ::_exit(3);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << status;
    EXPECT_EQ(test::ReadBytes(path), (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(dir.list(), std::vector<std::string>{"song.sng"});
}

}  // namespace
}  // namespace qtam
