// The metronome and the count-in of the live engine, and its auditions: clicks on the very
// frames the beats begin on, never in a live take or a render, and sounds played without the Song.

#include "engine/live/metronome.h"

#include <gtest/gtest.h>

#include <vector>

#include "engine/live/live_engine.h"
#include "engine/mixer.h"
#include "test_support.h"

namespace qtam {
namespace {

constexpr int kClickRate = 44100;

// An engine on its own clock over a Song without notes, whose main pair and take are kept.
struct ClickHost {
    explicit ClickHost(int tempo, int shuffle, int steps) : m(test::NewMachine()) {
        m->song.tempo = tempo;
        m->song.shuffle = shuffle;
        m->song.stepsPerMeasure = static_cast<std::uint8_t>(steps);
        test::SetSound(m->banks.userbank, 1, std::vector<std::int16_t>(500, 9000));
        engine.Configure(kClickRate, TransportSync::Off);
        engine.metronome().SetOn(true);
        engine.metronome().SetLevel(100);
        engine.Publish(m->song, 1, 1, false, 128);
        engine.PublishSounds(m->banks);
        engine.SetRecording(true);
    }
    void Run(int frames, int period = 301) {
        for (int done = 0; done < frames; done += period) {
            std::vector<std::int16_t> block(2 * static_cast<std::size_t>(period));
            HostPosition at;
            at.time = time;
            engine.Process(static_cast<std::uint32_t>(period), at, nullptr, 0, nullptr,
                           block.data());
            for (int f = 0; f < period; ++f) left.push_back(block[2 * static_cast<std::size_t>(f)]);
            time += period;
            engine.Poll([&](const EngineReport& r) { reports.push_back(r); });
            std::int16_t taken[2 * 4096];
            while (const std::size_t n = engine.TakeRecorded(taken, 4096))
                for (std::size_t i = 0; i < 2 * n; ++i) takeLoud = takeLoud || taken[i] != 0;
        }
    }
    // Frames where sound begins after at least 100 silent ones.
    std::vector<std::int64_t> Onsets() const {
        std::vector<std::int64_t> out;
        std::int64_t quiet = 100;
        for (std::size_t i = 0; i < left.size(); ++i) {
            if (left[i] != 0 && quiet >= 100) out.push_back(static_cast<std::int64_t>(i));
            quiet = left[i] == 0 ? quiet + 1 : 0;
        }
        return out;
    }
    int Peak(std::int64_t from) const {
        int peak = 0;
        for (std::int64_t i = from; i < from + 200; ++i)
            peak = std::max(peak, std::abs(int(left[static_cast<std::size_t>(i)])));
        return peak;
    }

    std::unique_ptr<Machine> m;
    LiveEngine engine;
    std::int64_t time = 0;
    std::vector<std::int16_t> left;
    std::vector<EngineReport> reports;
    bool takeLoud = false;
};

// Over tempos, shuffles and both step counts: a click begins on exactly the frames on which
// the steps that begin a beat begin, louder on the measure's first; the take has none of it.
TEST(Metronome, ClicksOnEveryBeatFrameAndNeverInTheTake) {
    for (int steps : {16, 12})
        for (int tempo : {50, 97, 145, 250})
            for (int shuffle : {100, 123, 150}) {
                SCOPED_TRACE(testing::Message() << steps << " steps " << tempo << " bpm");
                ClickHost host(tempo, shuffle, steps);
                host.engine.Start();
                host.Run(kClickRate * 60 / tempo * 9);  // more than two measures of 12
                std::vector<std::int64_t> beats, accents;
                for (const EngineReport& r : host.reports) {
                    if (r.kind != EngineReport::Step || !BeginsBeat(r.step)) continue;
                    beats.push_back(r.time);
                    if (r.step == 1) accents.push_back(r.time);
                }
                ASSERT_GE(beats.size(), std::size_t(8));
                EXPECT_EQ(host.Onsets(), beats);
                EXPECT_GT(host.Peak(accents[1]), host.Peak(beats[1]));
                EXPECT_FALSE(host.takeLoud);
            }
}

// A render of the same Song is silent: the clicks live in the engine only.
TEST(Metronome, NeverInARender) {
    ClickHost host(120, 100, 16);
    std::vector<StereoFrame> out(kClickRate);
    StartRender(*host.m, 1);
    MixFrames(PlayerOf(*host.m), out.data(), kClickRate);
    for (const StereoFrame& f : out) ASSERT_EQ(f.left | f.right, 0);
}

// The count-in: the clicks of one measure, then the first step on the frame after it.
TEST(Metronome, CountsInOneMeasureThenStartsOnItsFirstFrame) {
    for (int steps : {16, 12}) {
        ClickHost host(133, 130, steps);
        host.engine.metronome().SetOn(false);  // the count-in clicks all the same
        host.engine.Start(true);
        const CountIn in = CountInOf(kClickRate, 133, 130, steps);
        host.Run(static_cast<int>(in.length) + kClickRate);
        ASSERT_EQ(in.beats, steps / kStepsPerBeat);
        std::vector<std::int64_t> clicks(in.beat.begin(), in.beat.begin() + in.beats);
        EXPECT_EQ(host.Onsets(), clicks);
        const auto first =
            std::find_if(host.reports.begin(), host.reports.end(),
                         [](const EngineReport& r) { return r.kind == EngineReport::Step; });
        ASSERT_NE(first, host.reports.end());
        EXPECT_EQ(first->time, in.length);
        EXPECT_EQ(first->step, 1);
    }
}

// An audition sounds while stopped, from the next block on, and not in the take.
TEST(Metronome, AuditionSoundsWhileStopped) {
    ClickHost host(120, 100, 16);
    host.engine.metronome().SetOn(false);
    host.Run(1000);
    EXPECT_TRUE(host.Onsets().empty());
    ASSERT_TRUE(host.engine.Audition(101, 127));
    host.Run(1000);
    EXPECT_EQ(host.Onsets(), std::vector<std::int64_t>{1204});  // the next block's first frame
    EXPECT_FALSE(host.takeLoud);
}

}  // namespace
}  // namespace qtam
