// Playback through a real sound server that goes away: killed while playing, down at the next
// start, back again, and frozen; and its devices coming and going. Each test runs a PulseAudio
// server of its own.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>

#include "audio_test_support.h"
#include "core/machine.h"
#include "engine/audio/devices.h"
#include "engine/audio/playback.h"
#include "engine/audio/pulse_stream.h"
#include "engine/stream_to_disk.h"
#include "private_pulse.h"
#include "temp_folder.h"
#include "test_support.h"

namespace qtam {
namespace {

using namespace std::chrono_literals;

constexpr std::int64_t kFramesPerSecond = 44100;

struct Rig {
    test::PrivatePulse server;
    std::unique_ptr<Machine> m = test::NewMachine();
    EventQueue events;
    PlaybackDriver driver{*m, events};
    int losses = 0;
    std::string reason;
    bool recorded = false;

    Rig() {
        std::vector<std::int16_t> sound(4000);
        for (std::size_t i = 0; i < sound.size(); ++i)
            sound[i] = static_cast<std::int16_t>((i * 53) % 16000 - 8000);
        test::SetSound(m->banks.internalBank, 1, sound);
        m->song.settings(1).instrument[0] = 1;
        for (int slot = 1; slot <= 16; ++slot) test::SetNote(*m, 1, 1, 1, slot, 100);
        driver.OnDeviceLost = [this](const std::string& why, bool finished) {
            ++losses;
            reason = why;
            recorded = finished;
        };
    }

    // Starts as the Start button does, and waits until `seconds` have been played.
    bool PlayFor(double seconds) {
        driver.OpenDevice();
        if (!driver.Playback.IsOpen()) return false;
        driver.StartPlaying();
        const auto frames = static_cast<std::int64_t>(seconds * kFramesPerSecond);
        return test::PumpUntil(
            events, [&] { return driver.PlayedFrames() >= frames; }, 15s);
    }

    bool WaitForLoss(std::chrono::milliseconds limit) {
        const int before = losses;
        return test::PumpUntil(
            events, [&] { return losses > before; }, limit);
    }

    // What the user sees after a stop: nothing plays, Start is back, the menus are on.
    void ExpectStopped() const {
        EXPECT_FALSE(m->Playing);
        EXPECT_TRUE(driver.StartButtonVisible());
        EXPECT_FALSE(driver.StopButtonVisible());
        EXPECT_TRUE(driver.EditorOptionEnabled());
    }
};

// The WAV a live recording leaves: its header's data size matches the frames after it.
std::uint32_t WavDataBytes(const std::string& path) {
    const auto bytes = test::ReadBytes(path);
    if (bytes.size() < 44 || std::memcmp(bytes.data(), "RIFF", 4) != 0) return 0;
    std::uint32_t data = 0;
    std::memcpy(&data, bytes.data() + 40, 4);
    return data == bytes.size() - 44 ? data : 0;
}

TEST(DeviceLoss, AKilledServerStopsPlaybackKeepsTheRecordingAndSoundReturnsWithIt) {
    test::HangGuard guard(90);
    Rig rig;
    test::TempFolder dir;
    ASSERT_TRUE(rig.server.Start());
    ASSERT_TRUE(StartLiveSession(*rig.m, dir / "live.wav"));
    ASSERT_TRUE(rig.PlayFor(1.0));

    rig.server.Kill();
    ASSERT_TRUE(rig.WaitForLoss(5s)) << "a killed server went unnoticed";
    EXPECT_FALSE(rig.reason.empty());
    rig.ExpectStopped();
    EXPECT_FALSE(rig.driver.Playback.IsOpen());
    // The recording is finished as Stop finishes it: every frame played, as whole blocks.
    EXPECT_TRUE(rig.recorded);
    EXPECT_FALSE(rig.m->Streaming);
    const std::uint32_t data = WavDataBytes(dir / "live.wav");
    EXPECT_GE(data, rig.driver.PlayedFrames() * 4);
    EXPECT_EQ(data % (rig.driver.BlockFrames * 4), 0u);

    // Start while the server is still down: told at once, not silence.
    rig.driver.OpenDevice();
    EXPECT_FALSE(rig.driver.Playback.IsOpen());
    rig.driver.StartPlaying();
    ASSERT_TRUE(rig.WaitForLoss(2s));
    EXPECT_NE(rig.reason.find("could not be opened again"), std::string::npos) << rig.reason;
    rig.ExpectStopped();

    // The server is back: the next start opens the device anew and plays.
    ASSERT_TRUE(rig.server.Start());
    ASSERT_TRUE(rig.PlayFor(0.5)) << "no sound after the server came back";
    EXPECT_EQ(rig.losses, 2);
    rig.driver.StopPlaying();
    rig.driver.CloseDevice();
}

TEST(DeviceLoss, AFrozenServerIsADeviceThatTakesNothingAndNothingHangs) {
    test::HangGuard guard(90);
    Rig rig;
    ASSERT_TRUE(rig.server.Start());
    ASSERT_TRUE(rig.PlayFor(0.5));
    rig.server.Freeze();
    const auto frozen = std::chrono::steady_clock::now();
    ASSERT_TRUE(rig.WaitForLoss(5s)) << "a device that takes nothing went unnoticed";
    const auto noticed = std::chrono::steady_clock::now() - frozen;
    EXPECT_GE(noticed, WaveOut::kStallLimit);
    EXPECT_NE(rig.reason.find("took no sound"), std::string::npos) << rig.reason;
    rig.ExpectStopped();
    EXPECT_FALSE(rig.driver.Playback.IsOpen());
    // The stream of our own closed at once: its thread never waits on the server (SDL's
    // close would, and goes on in the background).
    EXPECT_EQ(BackgroundClosesUnderWay(), 0);
    rig.server.Kill();
    ASSERT_TRUE(rig.server.Start());
    ASSERT_TRUE(rig.PlayFor(0.5)) << "no sound from a new server after a frozen one";
    rig.driver.StopPlaying();
}

bool Listed(const std::string& name) {
    const auto names = HostOutputDeviceNames();
    return std::find(names.begin(), names.end(), name) != names.end();
}

// The device list is asked anew each time (the setup dialog asks when it opens), also while
// the panel's device is open; a configured device that was unplugged opens the default one.
TEST(DeviceList, ADevicePluggedInLaterIsListedAndOneUnpluggedGivesWayToTheDefault) {
    test::HangGuard guard(60);
    test::PrivatePulse server;
    ASSERT_TRUE(server.Start());
    EventQueue events;
    WaveOut panel(events);  // open all along, as the panel's device is
    panel.channels = 2;
    panel.samples = 44100;
    panel.SampleBits = 16;
    panel.Open();
    ASSERT_TRUE(panel.IsOpen());
    EXPECT_FALSE(Listed("Plugged"));

    // SDL starts watching the server's devices a moment after it starts; a device added
    // before that would only be seen at SDL's next start.
    test::PumpFor(events, 1500ms);
    const int module = server.AddDevice("Plugged");
    ASSERT_GE(module, 0);
    ASSERT_TRUE(test::PumpUntil(
        events, [] { return Listed("Plugged"); }, 10s))
        << "listed: " << ::testing::PrintToString(HostOutputDeviceNames());
    const auto names = HostOutputDeviceNames();
    const auto number = std::find(names.begin(), names.end(), "Plugged") - names.begin();
    ASSERT_EQ(std::size_t(number) + 1, names.size()) << "the new device is listed last";

    WaveOut chosen(events);
    chosen.channels = 2;
    chosen.samples = 44100;
    chosen.SampleBits = 16;
    chosen.device = static_cast<std::uint8_t>(number + 1);
    chosen.Open();
    EXPECT_TRUE(chosen.IsOpen());
    EXPECT_FALSE(chosen.OpenedDefaultInstead());
    chosen.Close();

    ASSERT_TRUE(server.RemoveDevice(module));
    ASSERT_TRUE(test::PumpUntil(
        events, [] { return !Listed("Plugged"); }, 5s));
    chosen.Open();
    EXPECT_TRUE(chosen.IsOpen());
    EXPECT_TRUE(chosen.OpenedDefaultInstead());
}

// What the server says of the one stream and of the null sink: the stream's buffer and the
// sink's configured latency (microseconds), and the stream's program.
struct ServerView {
    long buffer = -1;
    long sinkConfigured = -1;
    std::string program;
};

ServerView ReadServer() {
    ServerView v;
    FILE* out = ::popen("pactl list sink-inputs; pactl list sinks", "r");
    if (out == nullptr) return v;
    char line[512];
    while (std::fgets(line, sizeof line, out) != nullptr) {
        long now = 0;
        char name[128];
        std::sscanf(line, " Buffer Latency: %ld usec", &v.buffer);
        std::sscanf(line, " Latency: %ld usec, configured %ld usec", &now, &v.sinkConfigured);
        if (std::sscanf(line, " application.name = \"%127[^\"]\"", name) == 1) v.program = name;
    }
    ::pclose(out);
    return v;
}

long MicrosecondsOf(std::uint32_t bytes) {
    return static_cast<long>(bytes / 4 * 1000000LL / kFramesPerSecond);
}

// The latency chosen reaches the server as the stream's buffer and the sink's latency, which
// is the buffer less two requests (the server's rule without adjust-latency), not a quarter.
TEST(PulseBuffer, TheLatencyChosenIsWhatTheServerRuns) {
    for (int latency : {kMinLatencyMs, kDefaultLatencyMs, 200}) {
        SCOPED_TRACE(latency);
        Rig rig;
        ASSERT_TRUE(rig.server.Start());
        WaveDeviceSettings settings;
        settings.Latency = latency;
        rig.driver.ApplySettings(settings);
        ASSERT_TRUE(rig.PlayFor(0.5));
        ASSERT_TRUE(rig.driver.Playback.OnPulse());
        const PulseBuffer asked = PulseBufferFor(latency, kFramesPerSecond, 4);
        const ServerView v = ReadServer();
        EXPECT_EQ(v.program, "Q.Tam");
        EXPECT_NEAR(v.sinkConfigured, MicrosecondsOf(asked.tlength - 2 * asked.minreq), 100);
        EXPECT_LE(v.buffer, MicrosecondsOf(asked.tlength) + 100);
        EXPECT_NEAR(rig.driver.Playback.GrantedLatencyMs(), MicrosecondsOf(asked.tlength) / 1000,
                    1);
        // The server's own estimate has replaced the guess (else the light keeps looking often),
        // and it is no more than the stream's buffer and the sink's. The timing it comes from
        // ages between the server's updates, more so in a slow instrumented build: 5 ms slack,
        // far below the quarter the guess would be off by.
        ASSERT_TRUE(rig.driver.Playback.TakenAndLatencyNow().latencyKnown);
        EXPECT_LE(rig.driver.Playback.LatencyFrames() * 1000000LL / kFramesPerSecond,
                  MicrosecondsOf(asked.tlength) + v.sinkConfigured + 5000);
        rig.driver.StopPlaying();
    }
}

// A fill that comes late makes the server play silence: each such underrun is counted.
TEST(PulseUnderruns, EachLateFillIsCounted) {
    test::PrivatePulse server;
    ASSERT_TRUE(server.Start());
    std::atomic<int> lateFills{0};
    auto fill = [](void* user, std::uint8_t* out, int len) {
        std::memset(out, 0, static_cast<std::size_t>(len));
        auto& late = *static_cast<std::atomic<int>*>(user);
        if (late.load() > 0) {
            late.fetch_sub(1);
            std::this_thread::sleep_for(600ms);  // three times the stream's whole latency
        }
    };
    PulseStream stream;
    std::string error;
    ASSERT_TRUE(stream.Open({}, 0, 200, fill, &lateFills, error)) << error;
    std::this_thread::sleep_for(500ms);
    const std::uint64_t before = stream.Underruns();
    for (int i = 1; i <= 2; ++i) {
        lateFills = 1;
        const auto end = std::chrono::steady_clock::now() + 10s;
        while (stream.Underruns() < before + i && std::chrono::steady_clock::now() < end)
            std::this_thread::sleep_for(20ms);
        EXPECT_GE(stream.Underruns(), before + i);
    }
    EXPECT_FALSE(stream.Failed());
}

}  // namespace
}  // namespace qtam
