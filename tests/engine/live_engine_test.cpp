// The live engine driven by a scripted host, with no server: a rolling transport, relocations,
// a timebase's tempo, a MIDI clock coming in, pads and their recording, and playing on its own
// sample for sample as the live mixer.

#include "engine/live/live_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <random>
#include <vector>

#include "engine/mixer.h"
#include "engine/play_clock.h"
#include "test_support.h"

namespace qtam {
namespace {

constexpr int kRate = 44100;
constexpr int kPeriod = 256;
constexpr int kShuffle = 120;  // stored: the panel's 40
constexpr int kMain = 0, kChannel1 = 2, kChannel2 = 4;

// Channel 1 clicks on every step of both measures of pattern 1, channel 2 on step 1 of
// measure 2; the click is one sample of 20000, then silence.
std::unique_ptr<Machine> ClickMachine() {
    auto m = test::NewMachine();
    std::vector<std::int16_t> click(64, 0);
    click[0] = 20000;
    test::SetSound(m->banks.userbank, 1, click);
    m->song.tempo = 120;
    m->song.shuffle = kShuffle;
    m->song.measureCount[0] = 2;
    for (int c = 0; c < kChannels; ++c) m->song.settings(1).instrument[c] = 101;
    for (int measure = 1; measure <= 2; ++measure)
        for (int s = 1; s <= 16; ++s) test::SetNote(*m, 1, measure, 1, s, 127);
    test::SetNote(*m, 1, 2, 2, 1, 127);
    return m;
}

MidiMessage Midi(std::uint32_t frame, std::uint8_t a, std::uint8_t b = 0, std::uint8_t c = 0,
                 std::uint8_t size = 1) {
    return {frame, {a, b, c}, size};
}

// A host that hands the engine one period at a time, keeps what came out of three ports and
// what the engine reported.
struct Host {
    explicit Host(TransportSync sync, MidiSettings midi = {}) : m(ClickMachine()) {
        for (int p = 0; p < LiveEngine::kPorts; ++p) {
            ports[p].resize(kPeriod);
            buffers[p] = ports[p].data();
        }
        engine.SetMidi(midi);
        engine.Configure(kRate, sync);
        engine.Publish(m->song, 1, 1, false, 128);
        engine.PublishSounds(m->banks);
    }
    // One period; the transport at `frame` when rolling.
    void Period(bool rolling = false, std::int64_t frame = 0, std::vector<MidiMessage> midi = {}) {
        position.time = time;
        position.rolling = rolling;
        position.frame = frame;
        engine.Process(kPeriod, position, midi.data(), static_cast<int>(midi.size()), buffers);
        for (int p : {kMain, kChannel1, kChannel2})
            heard[p].insert(heard[p].end(), ports[p].begin(), ports[p].end());
        time += kPeriod;
        engine.Poll([&](const EngineReport& r) { reports.push_back(r); });
    }
    // The frames (counted from the first period) on which a port's sound starts after silence.
    std::vector<std::int64_t> Onsets(int port) const {
        std::vector<std::int64_t> out;
        const std::vector<float>& x = heard[port];
        for (std::size_t i = 0; i < x.size(); ++i)
            if (x[i] != 0 && (i == 0 || x[i - 1] == 0)) out.push_back(std::int64_t(i));
        return out;
    }
    bool Reported(EngineReport::Kind kind) const {
        return std::any_of(reports.begin(), reports.end(),
                           [&](const EngineReport& r) { return r.kind == kind; });
    }

    std::unique_ptr<Machine> m;
    LiveEngine engine;
    HostPosition position;
    std::int64_t time = 0;
    std::array<std::vector<float>, LiveEngine::kPorts> ports;
    float* buffers[LiveEngine::kPorts] = {};
    std::array<std::vector<float>, LiveEngine::kPorts> heard;
    std::vector<EngineReport> reports;
};

// The onsets expected from a grid over steps [first, last) that begin in [from, to).
std::vector<std::int64_t> GridOnsets(const StepGrid& grid, std::int64_t from, std::int64_t to) {
    std::vector<std::int64_t> out;
    for (std::int64_t k = std::max<std::int64_t>(grid.StepAt(from), 0); grid.Begin(k) < to; ++k)
        if (grid.Begin(k) >= from) out.push_back(grid.Begin(k));
    return out;
}

std::vector<std::int64_t> Within(const std::vector<std::int64_t>& x, std::int64_t from,
                                 std::int64_t to) {
    std::vector<std::int64_t> out;
    std::copy_if(x.begin(), x.end(), std::back_inserter(out),
                 [&](std::int64_t f) { return f >= from && f < to; });
    return out;
}

TEST(LiveEngine, FollowsARollingTransportAndItsRelocations) {
    Host host(TransportSync::Follow);
    const StepGrid grid(kRate, 120, kShuffle);
    const std::int64_t jump = grid.Begin(16 + 32 * 3);  // step 1 of measure 2, fourth cycle
    const std::int64_t middle = grid.Begin(301) + 1000;
    std::int64_t frame = 0;
    for (int p = 0; p < 10; ++p) host.Period();  // stopped: silence
    const std::int64_t rolled = host.time;
    for (int p = 0; p < 140; ++p, frame += kPeriod) host.Period(true, frame);
    const std::int64_t jumped = host.time;
    frame = jump;
    for (int p = 0; p < 150; ++p, frame += kPeriod) host.Period(true, frame);
    const std::int64_t split = host.time;
    frame = middle;
    for (int p = 0; p < 50; ++p, frame += kPeriod) host.Period(true, frame);

    const auto clicks = host.Onsets(kChannel1);
    EXPECT_TRUE(Within(clicks, 0, rolled).empty());
    auto shifted = [](std::vector<std::int64_t> v, std::int64_t by) {
        for (auto& f : v) f += by;
        return v;
    };
    EXPECT_EQ(Within(clicks, rolled, jumped),
              shifted(GridOnsets(grid, 0, jumped - rolled), rolled));
    EXPECT_EQ(Within(clicks, jumped, split),
              shifted(GridOnsets(grid, jump, jump + split - jumped), jumped - jump));
    // Into the middle of a step it waits for the next one, which sounds on its frame.
    EXPECT_EQ(
        Within(clicks, split, host.time),
        shifted(GridOnsets(grid, grid.Begin(302), middle + host.time - split), split - middle));
    // After the jump it continues from measure 2, as the new place says.
    const auto measure2 = Within(host.Onsets(kChannel2), jumped, split);
    EXPECT_TRUE(std::find(measure2.begin(), measure2.end(), jumped) != measure2.end());
    EXPECT_TRUE(host.Reported(EngineReport::Started));
    for (int p = 0; p < 4; ++p) host.Period(false);
    EXPECT_EQ(host.reports.back().kind, EngineReport::Stopped);
    EXPECT_FALSE(host.engine.Playing());
}

TEST(LiveEngine, PlaysOnTheTimebasesTempo) {
    Host host(TransportSync::Follow);
    for (double bpm : {100.0, 137.5}) {
        host.reports.clear();
        const std::int64_t start = host.time;
        std::int64_t frame = 0;
        for (int p = 0; p < 200; ++p, frame += kPeriod) {
            const double beats = double(frame) * bpm / (60.0 * kRate);
            host.position = {0,
                             true,
                             0,
                             true,
                             std::int32_t(beats / 4) + 1,
                             std::int32_t(std::fmod(beats, 4.0)) + 1,
                             std::fmod(beats, 1.0) * 1920,
                             1920,
                             bpm};
            host.Period(true, frame);
        }
        const StepGrid grid(kRate, bpm, kShuffle);
        // Within a tick's rounding of the grid the master's bar, beat and tick give.
        const auto want = GridOnsets(grid, 0, host.time - start);
        const auto got = Within(host.Onsets(kChannel1), start, host.time);
        ASSERT_EQ(got.size(), want.size()) << bpm;
        for (std::size_t i = 0; i < got.size(); ++i) EXPECT_NEAR(got[i] - start, want[i], 1) << i;
        auto tempo = std::find_if(host.reports.begin(), host.reports.end(), [](const auto& r) {
            return r.kind == EngineReport::MasterTempo;
        });
        ASSERT_NE(tempo, host.reports.end());
        EXPECT_EQ(tempo->bpm, bpm);
        for (int p = 0; p < 2; ++p) host.Period(false);  // stops before the next tempo
    }
}

TEST(LiveEngine, StepsOnTheTicksOfAMidiClockComingIn) {
    MidiSettings midi;
    midi.clockIn = true;
    Host host(TransportSync::Off, midi);
    host.m->song.shuffle = 100;  // every step on a tick
    host.engine.Publish(host.m->song, 1, 1, false, 128);
    const double perTick = kRate * 60.0 / (24 * 131.0);  // 131 BPM
    std::vector<std::int64_t> ticks;
    std::int64_t next = 300;
    bool started = false;
    for (int p = 0; p < 400; ++p) {
        std::vector<MidiMessage> in;
        if (!started) in.push_back(Midi(10, 0xFA));
        started = true;
        while (next < host.time + kPeriod) {
            in.push_back(Midi(std::uint32_t(next - host.time), 0xF8));
            ticks.push_back(next);
            next = std::llround(300 + perTick * double(ticks.size()));
        }
        host.Period(false, 0, in);
    }
    std::vector<std::int64_t> want;
    for (std::size_t t = 0; t < ticks.size(); t += 6) want.push_back(ticks[t]);
    EXPECT_EQ(host.Onsets(kChannel1), want);
    auto tempo =
        std::find_if(host.reports.rbegin(), host.reports.rend(),
                     [](const EngineReport& r) { return r.kind == EngineReport::ClockTempo; });
    ASSERT_NE(tempo, host.reports.rend());
    EXPECT_NEAR(tempo->bpm, 131.0, 0.05);
}

TEST(LiveEngine, PadsSoundOnTheirFrameAndAreRecordedIntoTheNearestStep) {
    Host host(TransportSync::Follow);
    const int kick = host.engine.Midi().notes[0];
    // Stopped: the hit sounds from the frame it came in on.
    host.Period(false, 0, {Midi(100, 0x99, std::uint8_t(kick), 90, 3)});
    EXPECT_EQ(host.Onsets(kChannel1), std::vector<std::int64_t>{100});
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_EQ(host.reports[0].channel, 1);
    EXPECT_EQ(host.reports[0].velocity, 90);
    EXPECT_EQ(host.reports[0].time, 100);
    // Playing: a hit 300 frames after step 6 begins is placed on step 6, once step 7 is mixed.
    const StepGrid grid(kRate, 120, kShuffle);
    const std::int64_t rolled = host.time;
    const std::int64_t hit = rolled + grid.Begin(5) + 300;
    PadsToPlace pads;
    std::vector<PlayPosition> placed;
    std::int64_t frame = 0;
    for (int p = 0; p < 150; ++p, frame += kPeriod) {
        std::vector<MidiMessage> in;
        if (hit >= host.time && hit < host.time + kPeriod)
            in.push_back(Midi(std::uint32_t(hit - host.time), 0x90, std::uint8_t(kick), 77, 3));
        host.reports.clear();
        host.Period(true, frame, in);
        for (const EngineReport& r : host.reports) pads.Add(r);
        pads.Place([&](std::int64_t t) { return host.engine.StepNearest(t); },
                   [&](const PlayPosition& at, const EngineReport&) { placed.push_back(at); });
    }
    ASSERT_EQ(placed.size(), 1u);
    EXPECT_EQ(placed[0].pattern, 1);
    EXPECT_EQ(placed[0].measure, 1);
    EXPECT_EQ(placed[0].step, 6);
    EXPECT_EQ(placed[0].start, rolled + grid.Begin(5));
    EXPECT_EQ(host.engine.Heard(rolled + grid.Begin(5) + 1).step, 6);
}

// Playing on its own, in blocks of any size, the engine gives the live mixer's very samples.
TEST(LiveEngine, OwnClockIsTheLiveMixerSampleForSample) {
    std::mt19937 pick(7);
    for (int run = 0; run < 3; ++run) {
        Host host(TransportSync::Off);
        host.m->song.shuffle = static_cast<std::uint8_t>(100 + 25 * run);
        host.m->song.tempo = static_cast<std::uint16_t>(90 + 40 * run);
        test::SetNote(*host.m, 1, 1, 3, 3, 100, 20, 1);
        host.engine.Publish(host.m->song, 1, 1, false, 100 + 10 * run);
        auto reference = ClickMachine();
        reference->song = host.m->song;
        Player& ref = PlayerOf(*reference);
        ref.clock.MainVolume = ref.clock.MainVolumeTarget =
            static_cast<std::int16_t>(100 + 10 * run);
        SetTempo(ref, reference->song.tempo, reference->song.shuffle);
        RewindClock(ref);
        PrepareStart(ref);
        host.engine.Start();
        std::vector<std::int16_t> got, want;
        for (int frames = 0; frames < 3 * kRate;) {
            const int n = std::uniform_int_distribution<int>(1, 3000)(pick);
            std::vector<std::int16_t> a(2 * n), b(2 * n);
            host.engine.Process(n, {}, nullptr, 0, nullptr, a.data());
            MixBlock(ref, b.data(), n);
            got.insert(got.end(), a.begin(), a.end());
            want.insert(want.end(), b.begin(), b.end());
            frames += n;
        }
        ASSERT_EQ(got, want) << "run " << run;
        EXPECT_EQ(host.engine.PlayedFrames(), std::int64_t(got.size() / 2));
    }
}

}  // namespace
}  // namespace qtam
