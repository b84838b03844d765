// The playback driver with JACK as its audio system, against a private jackd of this program's
// own (dummy driver): what the windows rely on. Start and Stop through the transport
// controller, the buttons following a transport rolled elsewhere, the ports' latency, and a
// server that goes away. (jack_check.py plays the same code through qtam-cli: the position,
// the grid, a master's tempo and a server that is not there.)
#include <fcntl.h>
#include <gtest/gtest.h>
#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio_test_support.h"
#include "core/machine.h"
#include "engine/audio/jack_output.h"
#include "engine/audio/playback.h"
#include "song/song_editor.h"
#include "test_support.h"
#include "transport/transport.h"

extern char** environ;

namespace qtam {
namespace {

const std::string kServer = "qtam-driver-" + std::to_string(::getpid());

// jackd on the dummy driver under kServer, stopped with SIGTERM (a killed server leaves
// shared-memory entries behind that stop later servers).
class PrivateJack {
public:
    PrivateJack() {
        ::setenv("JACK_DEFAULT_SERVER", kServer.c_str(), 1);
        // Synchronous (-S): a slow client (a sanitizer build) delays the periods rather than
        // losing them, and with them a MIDI Start.
        const char* argv[] = {"jackd", "--no-realtime", "-S", "-n",  kServer.c_str(), "-d", "dummy",
                              "-r",    "44100",         "-p", "256", nullptr};
        posix_spawn_file_actions_t quiet;  // its banner says nothing to the test's reader
        posix_spawn_file_actions_init(&quiet);
        posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
        if (::posix_spawnp(&pid_, "jackd", &quiet, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&quiet);
        for (int i = 0; i < 200 && !Up(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ~PrivateJack() { Stop(); }
    void Stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        // A client still connected when its server went leaves its semaphore behind.
        std::error_code ignored;
        for (const auto& e : std::filesystem::directory_iterator("/dev/shm", ignored))
            if (e.path().filename().string().find(kServer) != std::string::npos)
                std::filesystem::remove(e.path(), ignored);
    }
    static bool Up() {
        jack_client_t* c = jack_client_open("ping", JackNoStartServer, nullptr);
        if (c) jack_client_close(c);
        return c != nullptr;
    }

private:
    pid_t pid_ = -1;
};

struct Rig {
    std::unique_ptr<Machine> m = test::NewMachine();
    EventQueue events;
    PlaybackDriver driver{*m, events};
    SongEditor edits{*m};
    Transport transport{*m, driver, edits};
    std::string lost;

    explicit Rig(TransportSync sync, bool clockIn = false) {
        WaveDeviceSettings s;
        s.AudioSystem = kAudioSystemJack;
        s.JackTransport = sync;
        s.MidiClockIn = clockIn;
        s.JackConnect = 0;
        driver.ApplySettings(s);
        driver.OnDeviceLost = [this](const std::string& reason, bool) { lost = reason; };
    }
    bool Pump(const std::function<bool()>& done) { return test::PumpUntil(events, done); }
};

TEST(JackDriver, TheTransportOffPlaysAtOnceAndStops) {
    PrivateJack server;
    ASSERT_TRUE(PrivateJack::Up());
    Rig rig(TransportSync::Off);
    rig.transport.Start();
    ASSERT_TRUE(rig.driver.Jack().IsOpen()) << rig.lost;
    EXPECT_TRUE(rig.m->Playing);
    EXPECT_TRUE(rig.driver.StopButtonVisible());
    ASSERT_TRUE(rig.Pump([&] { return rig.driver.PlayedFrames() > 11025; }));
    // The running light finds a step by JACK's frame time.
    ASSERT_TRUE(rig.Pump([&] { return rig.driver.JackHeard().known(); }));
    EXPECT_EQ(rig.driver.JackHeard().pattern, 1);
    rig.transport.Stop();
    EXPECT_FALSE(rig.m->Playing);
    EXPECT_TRUE(rig.driver.StartButtonVisible());
    ASSERT_TRUE(rig.Pump([&] { return !rig.driver.Jack().Playing(); }));
    // Clock in chosen while playing (the MIDI setup is open then) closes the client: playing
    // ends as a stop ends it.
    rig.transport.Start();
    ASSERT_TRUE(rig.m->Playing);
    WaveDeviceSettings clockIn;
    clockIn.AudioSystem = kAudioSystemJack;
    clockIn.MidiClockIn = 1;
    rig.driver.ApplySettings(clockIn);
    EXPECT_FALSE(rig.driver.Jack().IsOpen());
    EXPECT_FALSE(rig.m->Playing);
    EXPECT_TRUE(rig.driver.StartButtonVisible());
}

TEST(JackDriver, FollowingTheButtonsFollowATransportRolledElsewhere) {
    PrivateJack server;
    Rig rig(TransportSync::Follow);
    rig.driver.OpenDevice();
    ASSERT_TRUE(rig.driver.Jack().IsOpen()) << rig.lost;
    jack_client_t* other = jack_client_open("other", JackNoStartServer, nullptr);
    ASSERT_NE(other, nullptr);
    jack_transport_start(other);
    ASSERT_TRUE(rig.Pump([&] { return rig.m->Playing; }));
    EXPECT_TRUE(rig.driver.StopButtonVisible());
    jack_transport_stop(other);
    ASSERT_TRUE(rig.Pump([&] { return !rig.m->Playing; }));
    EXPECT_TRUE(rig.driver.StartButtonVisible());
    // The panel's Start rolls the transport for everyone.
    rig.transport.Start();
    ASSERT_TRUE(rig.Pump([&] { return rig.m->Playing; }));
    EXPECT_EQ(jack_transport_query(other, nullptr), JackTransportRolling);
    rig.transport.Stop();
    ASSERT_TRUE(rig.Pump([&] {
        return jack_transport_query(other, nullptr) == JackTransportStopped && !rig.m->Playing;
    }));
    jack_client_close(other);
}

// A MIDI clock at 127.3 BPM, its Start and its Stop, sent from another client's process callback.
struct ClockSender {
    jack_client_t* client = jack_client_open("clock", JackNoStartServer, nullptr);
    jack_port_t* out =
        jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    std::atomic<int> phase{0};  // 1: Start, then ticks; 2: Stop
    double nextTick = -1, perTick = 44100 * 60.0 / (24 * 127.3);
    std::int64_t frame = 0;

    static int Process(jack_nframes_t frames, void* self) {
        auto* c = static_cast<ClockSender*>(self);
        void* buf = jack_port_get_buffer(c->out, frames);
        jack_midi_clear_buffer(buf);
        const std::uint8_t start = 0xFA, tick = 0xF8, stop = 0xFC;
        if (c->phase == 1 && c->nextTick < 0) {
            jack_midi_event_write(buf, 0, &start, 1);
            c->nextTick = static_cast<double>(c->frame) + 10;
        }
        for (; c->phase == 1 && c->nextTick < static_cast<double>(c->frame + frames);
             c->nextTick += c->perTick)
            jack_midi_event_write(
                buf, static_cast<jack_nframes_t>(std::llround(c->nextTick)) - c->frame, &tick, 1);
        if (c->phase == 2 && c->nextTick >= 0) {
            jack_midi_event_write(buf, 0, &stop, 1);
            c->nextTick = -1;
        }
        c->frame += frames;
        return 0;
    }
    // Closed even when an assertion ends the test early: its callback reads this object.
    ~ClockSender() {
        if (client != nullptr) jack_client_close(client);
    }
};

// Clock in wins over the transport: the windows' Start and Stop follow the clock's, and the
// Song's tempo becomes the clock's, rounded, while the transport controller keeps its fraction.
TEST(JackDriver, FollowingAMidiClockTheButtonsAndTheTempoFollowIt) {
    PrivateJack server;
    Rig rig(TransportSync::Follow, true);
    rig.driver.OpenDevice();
    ASSERT_TRUE(rig.driver.Jack().IsOpen()) << rig.lost;
    EXPECT_EQ(rig.driver.Jack().Sync(), TransportSync::Off);
    ClockSender clock;
    ASSERT_NE(clock.client, nullptr);
    jack_set_process_callback(clock.client, ClockSender::Process, &clock);
    ASSERT_EQ(jack_activate(clock.client), 0);
    ASSERT_EQ(jack_connect(clock.client, "clock:out",
                           (rig.driver.Jack().ClientName() + ":midi_in").c_str()),
              0);
    clock.phase = 1;
    ASSERT_TRUE(rig.Pump([&] { return rig.m->Playing && rig.m->song.tempo == 127; }));
    EXPECT_TRUE(rig.driver.StopButtonVisible());
    EXPECT_NEAR(rig.transport.ClockTempo(), 127.3, 0.1);
    clock.phase = 2;
    ASSERT_TRUE(rig.Pump([&] { return !rig.m->Playing; }));
    EXPECT_TRUE(rig.driver.StartButtonVisible());
}

// Connected to the system playback, the main ports carry its latency for a DAW to read, and
// add none of their own.
TEST(JackDriver, TheMainPortsReportTheirLatency) {
    PrivateJack server;
    auto m = test::NewMachine();
    EventQueue events;
    PlaybackDriver driver(*m, events);
    WaveDeviceSettings s;
    s.AudioSystem = kAudioSystemJack;
    s.JackTransport = TransportSync::Off;
    driver.ApplySettings(s);
    driver.OpenDevice();
    ASSERT_TRUE(driver.Jack().IsOpen());
    jack_client_t* other = jack_client_open("other", JackNoStartServer, nullptr);
    ASSERT_NE(other, nullptr);
    jack_port_t* main = jack_port_by_name(other, (driver.Jack().ClientName() + ":main_L").c_str());
    jack_port_t* system = jack_port_by_name(other, "system:playback_1");
    ASSERT_NE(main, nullptr);
    ASSERT_NE(system, nullptr);
    EXPECT_TRUE(jack_port_connected_to(main, "system:playback_1"));
    jack_latency_range_t downstream{}, capture{1, 1};
    jack_port_get_latency_range(system, JackPlaybackLatency, &downstream);
    EXPECT_GT(downstream.max, 0u);
    EXPECT_TRUE(test::PumpUntil(
        events,
        [&] { return driver.Jack().Latency() == static_cast<std::int64_t>(downstream.max); }))
        << driver.Jack().Latency() << " against " << downstream.max;
    jack_port_get_latency_range(main, JackCaptureLatency, &capture);
    EXPECT_EQ(capture.min, 0u);
    EXPECT_EQ(capture.max, 0u);
    jack_client_close(other);
}

TEST(JackDriver, ALostServerStopsAndTheNextStartConnectsAgain) {
    Rig rig(TransportSync::Off);
    std::string unreachable;
    rig.driver.OnJackUnreachable = [&](const std::string& why) { unreachable = why; };
    rig.transport.Start();  // no server yet
    EXPECT_FALSE(rig.m->Playing);
    EXPECT_NE(unreachable.find("cannot reach the JACK server"), std::string::npos) << unreachable;
    {
        PrivateJack server;
        rig.transport.Start();
        ASSERT_TRUE(rig.m->Playing) << rig.lost;
        ASSERT_TRUE(rig.Pump([&] { return rig.driver.PlayedFrames() > 0; }));
        server.Stop();
        ASSERT_TRUE(rig.Pump([&] { return !rig.lost.empty(); }));
    }
    EXPECT_NE(rig.lost.find("went away"), std::string::npos) << rig.lost;
    EXPECT_FALSE(rig.m->Playing);
    EXPECT_TRUE(rig.driver.StartButtonVisible());
    EXPECT_FALSE(rig.driver.Jack().IsOpen());
    PrivateJack again;
    rig.lost.clear();
    const std::int64_t before = rig.driver.PlayedFrames();  // every frame counts, the lost too
    EXPECT_GT(before, 0);
    rig.transport.Start();
    EXPECT_TRUE(rig.m->Playing) << rig.lost;
    ASSERT_TRUE(rig.Pump([&] { return rig.driver.PlayedFrames() > before; }));
    rig.transport.Stop();
}

// A pad controller's client: each note queued is sent at its next period.
struct PadClient {
    jack_client_t* client = jack_client_open("pads", JackNoStartServer, nullptr);
    jack_port_t* out =
        jack_port_register(client, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    std::atomic<int> note{-1};
    PadClient() {
        jack_set_process_callback(
            client,
            [](jack_nframes_t frames, void* arg) {
                auto* self = static_cast<PadClient*>(arg);
                void* buffer = jack_port_get_buffer(self->out, frames);
                jack_midi_clear_buffer(buffer);
                const int n = self->note.exchange(-1);
                if (n >= 0) {
                    const jack_midi_data_t on[3] = {0x99, static_cast<jack_midi_data_t>(n), 99};
                    jack_midi_event_write(buffer, 0, on, 3);
                }
                return 0;
            },
            this);
        jack_activate(client);
    }
    ~PadClient() { jack_client_close(client); }
};

// With the record switch on, a pad hit while playing becomes a note in its step, one undoable
// edit; every note-on reaches the windows (what the MIDI setup learns from), one no channel
// has included, which records nothing.
TEST(JackDriver, PadsAreHeardByTheWindowsAndRecordedWhileTheSwitchIsOn) {
    PrivateJack server;
    Rig rig(TransportSync::Off);
    rig.edits.TakeSong();
    std::vector<EngineReport> heard;
    rig.driver.OnPad = [&](const EngineReport& pad) { heard.push_back(pad); };
    rig.transport.SetRecordingPads(true);
    rig.transport.Start();
    ASSERT_TRUE(rig.driver.Jack().IsOpen()) << rig.lost;
    PadClient pads;
    ASSERT_NE(pads.client, nullptr);
    ASSERT_EQ(jack_connect(pads.client, "pads:out",
                           (rig.driver.Jack().ClientName() + ":midi_in").c_str()),
              0);
    const int kick = rig.driver.Jack().Midi().notes[0];
    ASSERT_TRUE(rig.Pump([&] { return rig.driver.PlayedFrames() > 4410; }));
    pads.note = 100;  // no channel's
    ASSERT_TRUE(rig.Pump([&] { return heard.size() == 1; }));
    EXPECT_EQ(heard[0].channel, 0);
    EXPECT_EQ(heard[0].note, 100);
    pads.note = kick;
    ASSERT_TRUE(rig.Pump([&] { return rig.edits.UndoText().starts_with("Record channel 1"); }));
    ASSERT_EQ(heard.size(), 2u);
    EXPECT_EQ(heard[1].channel, 1);
    auto recorded = [&] {
        int notes = 0;
        for (int slot = 1; slot <= 16; ++slot)
            for (int measure = 1; measure <= kMeasures; ++measure)
                notes += rig.m->song.cell(1, measure, 1, slot).velocity == 99;
        return notes;
    };
    EXPECT_EQ(recorded(), 1);
    rig.transport.Stop();
    EXPECT_TRUE(rig.edits.Undo());
    EXPECT_EQ(recorded(), 0);
}

}  // namespace
}  // namespace qtam

namespace qtam {
namespace {

// Where a recorded pad hit goes: of step starts in frame order, the one nearest to the hit,
// the later on a tie, found as a walk over all of them would.
TEST(NearestStart, FindsTheStartNearestToAFrame) {
    std::mt19937 random(33);
    for (int round = 0; round < 2000; ++round) {
        std::vector<std::int64_t> starts(std::uniform_int_distribution<int>(0, 40)(random));
        std::int64_t at = std::uniform_int_distribution<int>(-5000, 5000)(random);
        for (std::int64_t& s : starts)
            s = at += std::uniform_int_distribution<int>(1, 6000)(random);
        const std::int64_t frame = std::uniform_int_distribution<int>(-8000, 250000)(random);
        const std::int64_t count = static_cast<std::int64_t>(starts.size());
        std::int64_t want = -1;
        for (std::int64_t i = 0; i < count; ++i)
            if (want < 0 || std::llabs(starts[i] - frame) <= std::llabs(starts[want] - frame))
                want = i;
        EXPECT_EQ(NearestStart(
                      count, [&](std::int64_t i) { return starts[i]; }, frame),
                  want)
            << "round " << round;
    }
}

}  // namespace
}  // namespace qtam
