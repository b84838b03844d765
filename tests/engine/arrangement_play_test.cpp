// Song mode against what it stands for: a random arrangement of random patterns plays exactly
// what a session produces that queues the same patterns, with the same mutes, at the same
// measure ends. Rendered whole through the disk mixer, and played by a live engine through
// the live mixer, each against a queue session of its own mixer.

#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "engine/live/live_engine.h"
#include "engine/mixer.h"
#include "engine/play_clock.h"
#include "engine/stream_to_disk.h"
#include "test_support.h"

namespace qtam {
namespace {

struct Pass {
    int pattern;
    std::uint8_t mutes;
};

struct Memory final : StreamSink {
    std::vector<StereoFrame> frames;
    void Append(const void* bytes, std::size_t count) override {
        const auto* f = static_cast<const StereoFrame*>(bytes);
        frames.insert(frames.end(), f, f + count / sizeof(StereoFrame));
    }
};

// A song of four patterns of 1..3 measures with random notes over sounds long enough to ring
// over measure ends (one of them a hi-hat that chokes another), and a random stopping list.
void RandomSong(Machine& m, std::mt19937& random) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
    for (int slot = 1; slot <= 4; ++slot) {
        std::vector<std::int16_t> sound(static_cast<std::size_t>(pick(2000, 60000)));
        for (std::size_t i = 0; i < sound.size(); ++i)
            sound[i] = static_cast<std::int16_t>((i * (97 + slot * 31)) % 40000 - 20000);
        test::SetSound(m.banks.userbank, slot, sound);
    }
    m.banks.userbank.slot(2).hihat1 = 3;
    m.song.tempo = static_cast<std::uint16_t>(pick(200, 250));
    m.song.shuffle = static_cast<std::uint8_t>(pick(100, 150));
    m.song.humanize = static_cast<std::uint8_t>(pick(0, 1));
    m.editor.HumanizeChecked = m.song.humanize != 0;
    for (int p = 1; p <= 4; ++p) {
        m.song.measureCount[p - 1] = static_cast<std::uint8_t>(pick(1, 3));
        for (int c = 1; c <= kChannels; ++c) {
            m.song.settings(p).instrument[c - 1] = static_cast<std::uint8_t>(100 + pick(1, 4));
            m.song.settings(p).mute[c - 1] = pick(0, 7) == 0;
        }
        for (int n = 0; n < 40; ++n)
            test::SetNote(m, p, pick(1, 3), pick(1, 8), pick(1, 16), pick(0, 127), pick(0, 127),
                          pick(0, 1));
    }
    m.arrangement = Arrangement{};
    const int entries = pick(3, 6);
    for (int n = 1; n <= entries; ++n)
        m.arrangement.entry(n) = {static_cast<std::uint8_t>(pick(1, 4)),
                                  static_cast<std::uint8_t>(pick(1, 3)),
                                  static_cast<std::uint8_t>(pick(0, 3) == 0 ? pick(0, 255) : 0), 0};
    m.arrangement.count = static_cast<std::uint16_t>(entries);
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
}

std::vector<Pass> Passes(const Arrangement& a) {
    std::vector<Pass> out;
    for (int n = 1; n <= a.count; ++n)
        for (int r = 0; r < a.entry(n).repeats; ++r)
            out.push_back({a.entry(n).pattern, a.entry(n).mutes});
    return out;
}

// The queue session: pattern mode, the next pass's pattern queued and its mutes set on the
// pattern's own switches right before the frame whose tick ends the pass playing. `mixOne`
// mixes one frame into the session's output; it ends with the frame that ends the last pass.
template <class MixOne>
void QueueSession(const Machine& m, std::mt19937& random, MixOne mixOne) {
    auto song = std::make_unique<Song>(m.song);
    const std::vector<Pass> passes = Passes(m.arrangement);
    auto muteFor = [&](const Pass& pass) {
        for (int c = 1; c <= kChannels; ++c)
            song->settings(pass.pattern).mute[c - 1] =
                m.song.settings(pass.pattern).mute[c - 1] | MutesChannel(pass.mutes, c);
    };
    Player q;
    q.song = song.get();
    q.sounds = &m.banks.byInstrument;
    q.random = &random;
    q.humanize = m.editor.HumanizeChecked;
    q.startPattern = static_cast<std::uint8_t>(passes[0].pattern);
    SetTempo(q, m.song.tempo, m.song.shuffle);
    RewindClock(q);
    muteFor(passes[0]);
    PrepareStart(q);
    const int steps = StepsPerMeasureOf(*song);
    for (std::size_t next = 1;;) {
        const PlayClock& k = q.clock;
        const bool endsPass = k.StepCounter + 1 >= k.StepLength[k.PlayStep] &&
                              k.PlayStep == steps &&
                              k.PlayMeasure == MeasureCountOf(*song, k.PlayPattern);
        const bool endsList = endsPass && next == passes.size();
        if (endsPass && !endsList) {
            q.clock.NextPattern = static_cast<std::uint8_t>(passes[next].pattern);
            muteFor(passes[next++]);
        }
        mixOne(q);
        if (endsList) return;
    }
}

TEST(ArrangementPlay, EveryEntryPlaysAsTheQueuedPatternWould) {
    for (int round = 0; round < 6; ++round) {
        std::mt19937 random(static_cast<unsigned>(round * 7919 + 1));
        auto m = test::NewMachine();
        RandomSong(*m, random);

        // Rendered whole, through the disk mixer.
        Memory rendered;
        m->random.seed(99);
        m->stream = &rendered;
        RenderOffline(*m, StreamMode::WholeArrangement);
        m->stream = nullptr;
        std::mt19937 queueRandom(99);
        std::vector<StereoFrame> queued;
        QueueSession(*m, queueRandom, [&](Player& q) {
            queued.push_back({});
            MixFrames(q, &queued.back(), 1);
        });
        ASSERT_GE(rendered.frames.size(), queued.size()) << "round " << round;
        for (std::size_t f = 0; f < queued.size(); ++f)
            ASSERT_EQ(std::make_pair(rendered.frames[f].left, rendered.frames[f].right),
                      std::make_pair(queued[f].left, queued[f].right))
                << "round " << round << ", frame " << f;

        // Played by a live engine on its own in song mode, through the live mixer.
        LiveEngine engine;
        engine.Configure(44100, TransportSync::Off);
        engine.SetArrangement(m->arrangement, true);
        engine.Publish(m->song, 1, 1, m->editor.HumanizeChecked, 128);
        engine.PublishSounds(m->banks);
        engine.Start();
        std::vector<std::int16_t> played;
        std::int16_t block[2 * 256];
        bool stopped = false;
        while (!stopped && played.size() < 2 * rendered.frames.size() + 4096) {
            engine.Process(256, {}, nullptr, 0, nullptr, block);
            played.insert(played.end(), block, block + 2 * 256);
            engine.Poll([&](const EngineReport& r) { stopped |= r.kind == EngineReport::Stopped; });
        }
        EXPECT_TRUE(stopped) << "the list ends, and playing with it, once the sounds rang out";
        std::mt19937 liveRandom(5489u);  // the engine's own
        std::vector<std::int16_t> live;
        QueueSession(*m, liveRandom, [&](Player& q) {
            live.resize(live.size() + 2);
            MixBlock(q, &live[live.size() - 2], 1);
        });
        ASSERT_GE(played.size(), live.size());
        for (std::size_t i = 0; i < live.size(); ++i)
            ASSERT_EQ(played[i], live[i]) << "round " << round << ", frame " << i / 2;
    }
}

}  // namespace
}  // namespace qtam
