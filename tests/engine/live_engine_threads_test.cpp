// The engine processing on one thread while the owner loads banks, imports into a slot that is
// playing, empties it and edits the Song on another: every block plays whole sounds, and the
// snapshots the engine moved past are freed. Run under ThreadSanitizer by `make tsan`.

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "engine/live/live_engine.h"
#include "test_support.h"

namespace qtam {
namespace {

constexpr int kFrames = 128;

// A sound of one value throughout, so that a sound read while being written would show.
void PutSound(SampleBank& bank, int slot, std::int16_t value, int length) {
    test::SetSound(bank, slot, std::vector<std::int16_t>(static_cast<std::size_t>(length), value));
}

TEST(LiveEngineThreads, BanksChangeWhilePadsAndSongsPlay) {
    auto m = test::NewMachine();
    for (int c = 0; c < kChannels; ++c) m->song.settings(1).instrument[c] = 101;
    PutSound(m->banks.userbank, 1, 1000, 5000);
    LiveEngine engine;
    engine.Configure(44100, TransportSync::Off);
    engine.Publish(m->song, 1, 1, false, 128);
    engine.PublishSounds(m->banks);
    engine.Start();

    std::atomic<bool> done{false};
    std::atomic<int> torn{0}, blocks{0};
    std::thread host([&] {
        std::vector<float> ports[LiveEngine::kPorts];
        float* buffers[LiveEngine::kPorts];
        for (int p = 0; p < LiveEngine::kPorts; ++p) {
            ports[p].resize(kFrames);
            buffers[p] = ports[p].data();
        }
        const int kick = engine.Midi().notes[0];
        for (std::uint32_t i = 0; !done.load(); ++i) {
            const MidiMessage pad{i % kFrames, {0x90, std::uint8_t(kick), 100}, 3};
            engine.Process(kFrames, {}, &pad, i % 3 == 0 ? 1 : 0, buffers);
            // Channel 1 plays only pads of one velocity, of one sound of one value at a time, and
            // the sounds change only between blocks: within a block its samples agree.
            const std::vector<float>& ch = ports[2];
            float first = 0;
            for (float x : ch) {
                if (x == 0) continue;
                if (first == 0) first = x;
                if (x != first) torn.fetch_add(1);
            }
            blocks.fetch_add(1);
        }
    });
    for (int round = 0; round < 300 || blocks.load() < 300; ++round) {
        const auto value = static_cast<std::int16_t>(100 + round % 200);
        switch (round % 4) {
            case 0:  // an import into the slot that plays
                PutSound(m->banks.userbank, 1, value, 3000 + round % 2000);
                break;
            case 1:  // the slot emptied
                m->banks.userbank.emptySlot(1);
                break;
            case 2:  // a whole bank loaded
                for (int slot = 1; slot <= kBankSlots; ++slot)
                    PutSound(m->banks.userbank, slot, value, 2000);
                break;
            default:  // an edit
                m->song.settings(1).volume[0] = static_cast<std::uint8_t>(60 + round % 60);
                engine.Publish(m->song, 1, 1, round % 8 == 3, 128);
        }
        engine.PublishSounds(m->banks);
        engine.Poll(nullptr);
        std::this_thread::yield();
    }
    done = true;
    host.join();
    engine.Poll(nullptr);
    EXPECT_EQ(torn.load(), 0);
    EXPECT_GE(blocks.load(), 300);
    EXPECT_TRUE(engine.Playing());
}

TEST(SoundSnapshots, SharedBuffersAreCopiedBeforeTheyAreWrittenAndOldSnapshotsFreed) {
    Banks banks;
    PutSound(banks.userbank, 2, 7, 10);
    SoundSnapshots snapshots;
    EXPECT_TRUE(snapshots.Update(banks));
    EXPECT_FALSE(snapshots.Update(banks));  // nothing changed
    const SoundSnapshot* playing = snapshots.Acquire();
    const SampleSlot* sound = SlotOf(playing->byInstrument, 102);
    PutSound(banks.userbank, 2, 9, 10);  // the bank's buffer is shared: a copy is written
    EXPECT_EQ(sound->samples[0], 7);
    EXPECT_NE(sound->samples.get(), banks.userbank.slot(2).samples.get());
    EXPECT_TRUE(snapshots.Update(banks));
    EXPECT_EQ(snapshots.Kept(), 2u);  // the newest, and the one still in use
    snapshots.Acquire();
    snapshots.Collect();
    EXPECT_EQ(snapshots.Kept(), 1u);
    EXPECT_EQ(SlotOf(snapshots.Acquire()->byInstrument, 102)->samples[0], 9);
}

}  // namespace
}  // namespace qtam
