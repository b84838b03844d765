#include "engine/audio/playback.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audio_test_support.h"
#include "core/machine.h"
#include "engine/device_settings.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

using namespace std::chrono_literals;
using test::PlayedBlock;

// Collects every block the live mixer produced, in order.
class CaptureSink : public StreamSink {
public:
    std::vector<std::uint8_t> bytes;
    void Append(const void* data, std::size_t count) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
    }
};

// A song that sounds on every beat, so the mixed blocks are far from silent.
std::unique_ptr<Machine> BeatMachine() {
    auto m = test::NewMachine();
    std::vector<std::int16_t> sound(6000);
    for (std::size_t i = 0; i < sound.size(); ++i)
        sound[i] = static_cast<std::int16_t>((i * 37) % 20000 - 10000);
    test::SetSound(m->banks.internalBank, 1, sound);
    m->song.settings(1).instrument[0] = 1;
    for (int slot : {1, 5, 9, 13}) test::SetNote(*m, 1, 1, 1, slot, 100, slot * 8);
    return m;
}

struct Rig {
    std::unique_ptr<Machine> m = BeatMachine();
    CaptureSink mixed;
    EventQueue events;
    PlaybackDriver driver{*m, events};
    std::vector<WaveOut::BlockInfo> done;
    std::vector<bool> answeredWhilePlaying;

    explicit Rig(int bufferSize = kDefaultBufferSize) {
        m->stream = &mixed;  // sees every RenderBlock
        m->Streaming = true;
        WaveDeviceSettings s;
        s.Buffer_size = bufferSize;
        driver.ApplySettings(s);
        driver.Playback.OnDone = [this](WaveOut& sender) {
            done.push_back(sender.DoneBlock());
            answeredWhilePlaying.push_back(m->Playing);
            driver.BlockPlayed(sender);
        };
    }

    std::size_t PlayedCount() const {
        std::size_t n = 0;
        for (const auto& b : done) n += b.played;
        return n;
    }

    void Stop() {
        m->Streaming = false;  // the capture is no stream file to finish
        driver.StopPlaying();
        ASSERT_TRUE(test::PumpUntil(events, [&] { return driver.Playback.HeldBlocks() == 0; }));
    }

    // What the file must hold: each played block at its device position.
    std::vector<PlayedBlock> Expected(
        const std::vector<std::vector<std::uint8_t>>& writtenInOrder) const {
        std::vector<PlayedBlock> blocks;
        for (const auto& b : done) {
            // A block the stop cut part of the way (a slow build may stop there) is in the
            // file as far as it played.
            const bool cut = !b.played && b.startedAt >= 0;
            if (!b.played && !cut) continue;
            EXPECT_LE(b.serial, writtenInOrder.size());
            if (b.serial > writtenInOrder.size()) break;
            blocks.push_back({b.serial, b.startedAt, writtenInOrder[b.serial - 1], cut});
        }
        return blocks;
    }

    std::vector<std::uint8_t> MixedChunk(std::size_t from, std::size_t size) const {
        EXPECT_LE(from + size, mixed.bytes.size());
        return {mixed.bytes.begin() + static_cast<std::ptrdiff_t>(from),
                mixed.bytes.begin() + static_cast<std::ptrdiff_t>(from + size)};
    }
};

class NormalStart : public ::testing::TestWithParam<int> {};

TEST_P(NormalStart, QueuesTwoSilentBlocksThenTheMixedOnes) {
    const int bufferSize = GetParam();
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    Rig rig(bufferSize);
    const std::size_t blockBytes = static_cast<std::size_t>(bufferSize) * 1024 * 4;
    EXPECT_EQ(rig.driver.BlockFrames, bufferSize * 1024);

    rig.driver.OpenDevice();
    ASSERT_TRUE(rig.driver.Playback.IsOpen());
    rig.driver.StartPlaying();
    EXPECT_TRUE(rig.m->Playing);
    EXPECT_FALSE(rig.driver.EditorOptionEnabled());
    EXPECT_FALSE(rig.driver.SetupDeviceEnabled());
    EXPECT_TRUE(rig.driver.StopButtonVisible());
    EXPECT_FALSE(rig.driver.StartButtonVisible());
    EXPECT_EQ(rig.mixed.bytes.size(), blockBytes);  // one block mixed ahead

    ASSERT_TRUE(test::PumpUntil(rig.events, [&] { return rig.PlayedCount() >= 8; }));
    rig.Stop();
    rig.driver.CloseDevice();

    // Two blocks of silence, then the mixer's blocks in the order they were mixed; the one
    // mixed last was never written.
    std::vector<std::vector<std::uint8_t>> written(
        2, std::vector<std::uint8_t>(PlaybackDriver::kLeadInBytes, 0));
    const std::size_t mixedBlocks = rig.mixed.bytes.size() / blockBytes;
    ASSERT_EQ(rig.mixed.bytes.size(), mixedBlocks * blockBytes);
    for (std::size_t i = 0; i + 1 < mixedBlocks; ++i)
        written.push_back(rig.MixedChunk(i * blockBytes, blockBytes));
    ASSERT_EQ(rig.done.size(), written.size());
    for (const auto& b : rig.done)
        EXPECT_EQ(b.size, written[b.serial - 1].size()) << "block " << b.serial;
    EXPECT_NE(written[2], std::vector<std::uint8_t>(blockBytes, 0));

    const auto expected = rig.Expected(written);
    ASSERT_GE(expected.size(), 8u);
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(expected[i].serial, i + 1);
    test::ExpectFileHoldsBlocks(test::ReadBytes(dir / "out.raw"),
                                rig.driver.Playback.DevicePosition(), expected);
    std::int64_t answered = 0;
    for (std::size_t i = 0; i < rig.done.size(); ++i)
        if (rig.done[i].played && rig.answeredWhilePlaying[i])
            answered += static_cast<std::int64_t>(rig.done[i].size / 4);
    EXPECT_EQ(rig.driver.PlayedFrames(), answered);
}

INSTANTIATE_TEST_SUITE_P(BufferSizes, NormalStart, ::testing::Values(8, 2, 10));

TEST(PreparedStart, QueuesTheWholePreparedHalfThenContinues) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    test::ScriptedPrompter prompter;
    Rig rig;
    rig.m->prompter = &prompter;
    const std::size_t blockBytes = 8192 * 4;

    rig.driver.PressStart(true, true);  // Ctrl + left button
    EXPECT_TRUE(rig.m->editor.StartPrepared);
    EXPECT_FALSE(rig.m->Playing);
    EXPECT_EQ(prompter.busyDepth, 1);
    EXPECT_FALSE(rig.driver.EditorOptionEnabled());
    EXPECT_TRUE(rig.driver.StartButtonVisible());
    EXPECT_EQ(rig.mixed.bytes.size(), 40960u);  // the whole second half
    rig.driver.ReleaseStart();
    EXPECT_EQ(prompter.busyDepth, 0);

    rig.driver.OpenDevice();
    ASSERT_TRUE(rig.driver.Playback.IsOpen());
    rig.driver.PressStart(true, false);  // a plain click starts it
    EXPECT_TRUE(rig.m->Playing);
    EXPECT_FALSE(rig.m->editor.StartPrepared);
    EXPECT_EQ(rig.mixed.bytes.size(), 40960u + blockBytes);

    ASSERT_TRUE(test::PumpUntil(rig.events, [&] { return rig.PlayedCount() >= 5; }));
    rig.Stop();
    rig.driver.CloseDevice();

    std::vector<std::vector<std::uint8_t>> written{rig.MixedChunk(0, 20480),
                                                   rig.MixedChunk(20480, 20480)};
    const std::size_t after = (rig.mixed.bytes.size() - 40960) / blockBytes;
    for (std::size_t i = 0; i + 1 < after; ++i)
        written.push_back(rig.MixedChunk(40960 + i * blockBytes, blockBytes));
    ASSERT_EQ(rig.done.size(), written.size());
    EXPECT_EQ(rig.done[0].size, 20480u);
    EXPECT_EQ(rig.done[1].size, 20480u);
    EXPECT_EQ(rig.done[2].size, blockBytes);
    test::ExpectFileHoldsBlocks(test::ReadBytes(dir / "out.raw"),
                                rig.driver.Playback.DevicePosition(), rig.Expected(written));
}

TEST(PreparedStart, AClearedPreparationGivesANormalStartWhereTheClockWasLeft) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    Rig rig;
    // What the mixer would give after the advance mixing and a fresh trigger of step 1.
    auto reference = BeatMachine();
    std::vector<std::int16_t> scratch(2 * 10240);
    PrepareStart(PlayerOf(*reference));
    MixBlock(PlayerOf(*reference), scratch.data(), 10240);
    PrepareStart(PlayerOf(*reference));
    MixBlock(PlayerOf(*reference), scratch.data(), 8192);
    const auto* expectedMix = reinterpret_cast<const std::uint8_t*>(scratch.data());

    rig.driver.PressStart(true, true);
    rig.driver.ReleaseStart();
    rig.m->editor.StartPrepared = false;  // as an edit of the song does
    rig.driver.OpenDevice();
    rig.driver.StartPlaying();
    ASSERT_EQ(rig.mixed.bytes.size(), 40960u + 32768u);
    EXPECT_EQ(std::memcmp(rig.mixed.bytes.data() + 40960, expectedMix, 32768), 0);
    ASSERT_TRUE(test::PumpUntil(rig.events, [&] { return rig.PlayedCount() >= 3; }));
    rig.Stop();
    EXPECT_EQ(rig.done[0].size, std::size_t{PlaybackDriver::kLeadInBytes});
    EXPECT_EQ(rig.done[1].size, std::size_t{PlaybackDriver::kLeadInBytes});
    EXPECT_EQ(rig.done[2].size, 32768u);
}

TEST(Stop, ReturnsEveryBlockAndResetsTheClockToTheEditedPattern) {
    test::UseDummyDriver();
    Rig rig;
    rig.m->editor.CurrentPattern = 2;
    rig.driver.OpenDevice();
    ASSERT_TRUE(rig.driver.Playback.IsOpen());
    rig.driver.StartPlaying();
    ASSERT_TRUE(test::PumpUntil(rig.events, [&] { return !rig.done.empty(); }));
    const std::size_t mixedAtStop = rig.mixed.bytes.size();

    rig.m->Streaming = false;
    rig.driver.StopPlaying();
    EXPECT_FALSE(rig.m->Playing);
    EXPECT_FALSE(rig.driver.Playback.IsPlaying());
    EXPECT_TRUE(rig.driver.EditorOptionEnabled());
    EXPECT_TRUE(rig.driver.SetupDeviceEnabled());
    EXPECT_TRUE(rig.driver.StartButtonVisible());
    EXPECT_EQ(rig.m->player.clock.PlayPattern, 2);
    EXPECT_EQ(rig.m->player.clock.NextPattern, 2);
    EXPECT_EQ(rig.m->player.clock.PlayMeasure, 1);
    EXPECT_EQ(rig.m->player.clock.PlayStep, 1);

    ASSERT_TRUE(test::PumpUntil(rig.events, [&] { return rig.driver.Playback.HeldBlocks() == 0; }));
    test::PumpFor(rig.events, 50ms);
    // Every written block came back exactly once, and none was answered after the stop.
    for (std::size_t i = 0; i < rig.done.size(); ++i) EXPECT_EQ(rig.done[i].serial, i + 1);
    EXPECT_EQ(rig.mixed.bytes.size(), mixedAtStop);
    EXPECT_TRUE(rig.driver.Playback.IsOpen());
}

TEST(Stop, LateNoticesOfAStoppedSessionDoNotFeedTheNextOne) {
    test::UseDummyDriver();
    Rig rig;
    rig.driver.OpenDevice();
    rig.driver.StartPlaying();
    rig.m->Streaming = false;
    rig.driver.StopPlaying();  // its notices are still waiting in the queue
    rig.m->Streaming = true;
    rig.driver.StartPlaying();
    const std::size_t mixedAtStart = rig.mixed.bytes.size();
    rig.events.ProcessEvents();  // the stopped session's three blocks come back
    EXPECT_EQ(rig.mixed.bytes.size(), mixedAtStart);
    EXPECT_EQ(rig.driver.Playback.HeldBlocks(), 2u);
    rig.Stop();
}

TEST(SpaceBar, HoldingItTogglesOnceAndReleasingArmsItAgain) {
    test::UseDummyDriver();
    Rig rig;
    rig.m->Streaming = false;
    rig.driver.KeyDown(true, true);  // the main window opens the device first
    EXPECT_TRUE(rig.driver.Playback.IsOpen());
    EXPECT_TRUE(rig.m->Playing);
    rig.driver.KeyDown(true, true);  // auto-repeat
    rig.driver.KeyDown(true, true);
    EXPECT_TRUE(rig.m->Playing);
    rig.driver.KeyUp();
    rig.driver.KeyDown(true, false);
    EXPECT_FALSE(rig.m->Playing);
    rig.driver.KeyUp();
    rig.driver.KeyDown(false, false);  // another key disarms it too
    rig.driver.KeyDown(true, false);
    EXPECT_FALSE(rig.m->Playing);
    rig.driver.KeyUp();
    rig.driver.KeyDown(true, false);
    EXPECT_TRUE(rig.m->Playing);
    rig.Stop();
}

TEST(Playback, ADeviceThatCannotBeOpenedPlaysNothingAndSaysNothing) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "missing-folder/out.raw");
    test::ScriptedPrompter prompter;
    Rig rig;
    rig.m->prompter = &prompter;
    rig.driver.OpenDevice();
    EXPECT_FALSE(rig.driver.Playback.IsOpen());
    rig.driver.StartPlaying();
    EXPECT_TRUE(rig.m->Playing);
    EXPECT_EQ(test::PumpFor(rig.events, 100ms), 0);
    EXPECT_TRUE(rig.done.empty());
    EXPECT_EQ(rig.mixed.bytes.size(), 32768u);  // nothing came back, so nothing more was mixed
    EXPECT_EQ(rig.driver.PlayedFrames(), 0);
    rig.m->Streaming = false;
    rig.driver.StopPlaying();
    EXPECT_TRUE(prompter.warnings.empty());
    rig.driver.CloseDevice();
    EXPECT_EQ(rig.driver.Playback.HeldBlocks(), 0u);
}

TEST(LiveRecording, TheWavHoldsEveryBlockMixedBetweenStartAndStopAndTheOneAhead) {
    test::TempFolder dir;
    test::UseDiskDriver(dir / "out.raw");
    auto m = BeatMachine();
    EventQueue events;
    PlaybackDriver driver(*m, events);
    int answered = 0;
    driver.Playback.OnDone = [&](WaveOut& sender) {
        answered += m->Playing;
        driver.BlockPlayed(sender);
    };
    ASSERT_TRUE(StartLiveSession(*m, dir / "live.wav"));
    driver.OpenDevice();
    driver.StartPlaying();
    ASSERT_TRUE(test::PumpUntil(events, [&] { return answered >= 6; }));
    EXPECT_TRUE(driver.StopPlaying());
    EXPECT_FALSE(m->Streaming);
    driver.CloseDevice();

    const int blocks = answered + 1;
    const std::size_t dataBytes = static_cast<std::size_t>(blocks) * 8192 * 4;
    const auto wav = test::ReadBytes(dir / "live.wav");
    ASSERT_EQ(wav.size(), 44 + dataBytes);
    EXPECT_EQ(std::memcmp(wav.data(), "RIFF", 4), 0);
    std::uint32_t declared;
    std::memcpy(&declared, wav.data() + 40, 4);
    EXPECT_EQ(declared, dataBytes);

    auto reference = BeatMachine();
    PrepareStart(PlayerOf(*reference));
    std::vector<std::int16_t> mixed(static_cast<std::size_t>(blocks) * 8192 * 2);
    for (int b = 0; b < blocks; ++b)
        MixBlock(PlayerOf(*reference), mixed.data() + static_cast<std::size_t>(b) * 8192 * 2, 8192);
    EXPECT_EQ(std::memcmp(wav.data() + 44, mixed.data(), dataBytes), 0);
}

TEST(DeviceSettings, BlockFramesFollowTheBufferSizeWithinItsRange) {
    EXPECT_EQ(BlockFramesOf(8), 8192);
    EXPECT_EQ(BlockFramesOf(2), 2048);
    EXPECT_EQ(BlockFramesOf(10), 10240);
    EXPECT_EQ(BlockFramesOf(1), 2048);
    EXPECT_EQ(BlockFramesOf(0), 2048);
    EXPECT_EQ(BlockFramesOf(-5), 2048);
    EXPECT_EQ(BlockFramesOf(11), 10240);

    WaveDeviceSettings s;
    EXPECT_EQ(s.DeviceNum, 0);
    EXPECT_EQ(s.Buffer_size, 8);
    ApplyDeviceChoice(s, 3, 4, 12);
    EXPECT_EQ(s.DeviceNum, 3);
    EXPECT_EQ(s.Buffer_size, 4);
    EXPECT_EQ(s.NumDevices, 12);
    EXPECT_EQ(s.DeviceSetup, 1);
    ApplyDeviceChoice(s, -1, 4, 12);  // "Ok" with no entry selected
    EXPECT_EQ(s.DeviceNum, 0);

    EventQueue events;
    auto m = test::NewMachine();
    PlaybackDriver driver(*m, events);
    s.Buffer_size = 99;  // a hand-edited configuration
    s.DeviceNum = 4;
    driver.ApplySettings(s);
    EXPECT_EQ(driver.BlockFrames, 10240);
    EXPECT_EQ(driver.DeviceNum, 4);
}

TEST(DeviceSettings, ABlockSizeSetOutOfRangeStaysWithinAStagingHalf) {
    test::UseDummyDriver();
    Rig rig;
    rig.m->Streaming = false;
    rig.driver.BlockFrames = 99 * 1024;  // set straight from an unchecked configuration value
    rig.driver.OpenDevice();
    rig.driver.StartPlaying();
    ASSERT_TRUE(test::PumpUntil(rig.events, [&] { return rig.done.size() >= 2; }));
    rig.Stop();
    for (std::size_t i = 2; i < rig.done.size(); ++i) EXPECT_EQ(rig.done[i].size, 40960u);
    ASSERT_GT(rig.done.size(), 2u);
}

// QTam.ini's MIDI notes: any eight notes come back as written; anything else is refused and
// leaves the table as it was.
TEST(DeviceSettings, MidiNotesReadBackAsWrittenAndNothingElse) {
    std::mt19937 random(8);
    const std::array<std::uint8_t, 8> keep{1, 2, 3, 4, 5, 6, 7, 8};
    for (int round = 0; round < 500; ++round) {
        std::array<std::uint8_t, 8> notes{};
        for (auto& n : notes) n = static_cast<std::uint8_t>(random() % 128);
        const std::string text = MidiNotesText(notes);
        std::array<std::uint8_t, 8> back = keep;
        ASSERT_TRUE(ParseMidiNotes(text, back)) << text;
        EXPECT_EQ(back, notes);
        // One character changed, dropped or added: refused unless still eight notes 0..127.
        std::string bad = text;
        const std::size_t at = random() % bad.size();
        switch (random() % 3) {
            case 0:
                bad[at] = "x,9-"[random() % 4];
                break;
            case 1:
                bad.erase(at, 1);
                break;
            default:
                bad.insert(at, 1, ",9"[random() % 2]);
                break;
        }
        int count = 0, value = 0, digits = 0;
        bool valid = !bad.empty() && bad.front() != ',' && bad.back() != ',';
        for (char c : bad + ",") {
            if (c == ',') {
                valid = valid && digits > 0 && digits < 4 && value <= 127;
                ++count, value = 0, digits = 0;
            } else if (c >= '0' && c <= '9') {
                value = value * 10 + (c - '0'), ++digits;
            } else {
                valid = false;
            }
        }
        valid = valid && count == 8;
        back = keep;
        EXPECT_EQ(ParseMidiNotes(bad, back), valid) << bad;
        if (!valid) {
            EXPECT_EQ(back, keep) << bad;
        }
    }
}

}  // namespace
}  // namespace qtam
