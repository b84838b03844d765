#include <gtest/gtest.h>

#include <vector>

#include "core/machine.h"
#include "engine/mixer.h"
#include "test_support.h"

namespace qtam {
namespace {

std::vector<std::int16_t> Constant(int n, std::int16_t value) {
    return std::vector<std::int16_t>(n, value);
}

// A machine whose channel `ch` plays internal slot `slot` with a note on step 1.
std::unique_ptr<Machine> OneNote(const std::vector<std::int16_t>& sound, int velocity, int pan,
                                 int volume, int ch = 1, int slot = 1) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, slot, sound);
    m->song.settings(1).instrument[ch - 1] = static_cast<std::uint8_t>(slot);
    m->song.settings(1).volume[ch - 1] = static_cast<std::uint8_t>(volume);
    test::SetNote(*m, 1, 1, ch, 1, velocity, pan);
    return m;
}

StereoFrame LiveFrame(Machine& m) {
    std::int16_t out[2];
    MixBlock(PlayerOf(m), out, 1);
    return {out[0], out[1]};
}

TEST(LiveMixer, PanAndVolumeUseShiftsBySeven) {
    struct Case {
        int sample, velocity, volume, pan, left, right;
    };
    const Case cases[] = {
        {10000, 127, 127, 64, 4960, 4960},  // centre: half on each side, volume 127 unscaled
        {10000, 127, 126, 64, 4883, 4883},  // 10000*126>>7 = 9843, *127>>7 = 9766, >>1
        {10000, 127, 127, 63, 4960, 4882},  // 64/128 left, 63/128 right
        {10000, 127, 127, 0, 9843, 0},      // hard left: 127/128
        {10000, 127, 127, 127, 0, 9843},
        {-10001, 127, 127, 64, -4962, -4962},  // shifts round toward minus infinity
        {10000, 0, 127, 64, 0, 0},             // velocity 0 sounds silent
    };
    for (const Case& c : cases) {
        auto m = OneNote(Constant(100, static_cast<std::int16_t>(c.sample)), c.velocity, c.pan,
                         c.volume);
        ResetTransport(*m);
        PrepareStart(PlayerOf(*m));
        StereoFrame f = LiveFrame(*m);
        EXPECT_EQ(f.left, c.left) << c.sample << " vol " << c.volume << " pan " << c.pan;
        EXPECT_EQ(f.right, c.right) << c.sample << " vol " << c.volume << " pan " << c.pan;
    }
}

TEST(DiskMixer, PanAndVolumeRoundWithTiesToEven) {
    struct Case {
        int sample, velocity, volume, pan, left, right;
    };
    const Case cases[] = {
        {10000, 127, 127, 64, 5000, 5000},
        {10000, 127, 100, 64, 3937, 3937},  // 10000*100/127 = 7874 (truncated), /2 exact
        {10001, 127, 127, 64, 5000, 5000},  // 5000.5 rounds to the even 5000
        {10003, 127, 127, 64, 5002, 5002},  // 5001.5 rounds to the even 5002
        {10000, 100, 127, 64, 3937, 3937},  // round(10000*100/127) = 7874
        {10000, 127, 127, 0, 9922, 0},      // 10000*127/128 = 9921.875
        {10000, 127, 127, 63, 5000, 4922},  // 4921.875
        {-7, 127, 127, 64, -4, -4},         // -3.5 rounds to the even -4
    };
    for (const Case& c : cases) {
        auto m = OneNote(Constant(100, static_cast<std::int16_t>(c.sample)), c.velocity, c.pan,
                         c.volume);
        StartRender(*m, 1);
        StereoFrame f = MixFrame(PlayerOf(*m));
        EXPECT_EQ(f.left, c.left) << c.sample << " vol " << c.volume << " pan " << c.pan;
        EXPECT_EQ(f.right, c.right) << c.sample << " vol " << c.volume << " pan " << c.pan;
    }
}

TEST(BothMixers, EightFullScaleVoicesClipInsteadOfWrapping) {
    for (std::int16_t full : {std::int16_t(32767), std::int16_t(-32768)}) {
        auto m = test::NewMachine();
        test::SetSound(m->banks.internalBank, 1, Constant(50, full));
        for (int ch = 1; ch <= 8; ++ch) {
            m->song.settings(1).volume[ch - 1] = 127;
            test::SetNote(*m, 1, 1, ch, 1, 127, 0);
        }
        m->player.clock.MainVolume = m->player.clock.MainVolumeTarget = 255;
        ResetTransport(*m);
        PrepareStart(PlayerOf(*m));
        StereoFrame live = LiveFrame(*m);
        EXPECT_EQ(live.left, full > 0 ? 32767 : -32768);
        EXPECT_EQ(live.right, 0);
        StartRender(*m, 1);
        StereoFrame disk = MixFrame(PlayerOf(*m));
        EXPECT_EQ(disk.left, full > 0 ? 32767 : -32768);
    }
}

TEST(LiveMixer, DistortionAmplifiesOnlyAboveTheThresholdAndSaturates) {
    auto m = OneNote({100, 2000, -2000, 5}, 127, 0, 127);
    ChannelSettings& cs = m->song.settings(1);
    cs.distortionOn[0] = 1;
    cs.distortionGain = 20;
    cs.distortionThreshold = 50;
    ResetTransport(*m);
    PrepareStart(PlayerOf(*m));
    std::int16_t out[8];
    MixBlock(PlayerOf(*m), out, 4);
    auto hardLeft = [](int s) { return (((s * 127) >> 7) * 127) >> 7; };
    EXPECT_EQ(out[0], hardLeft(2000));   // 100 * 20
    EXPECT_EQ(out[2], hardLeft(32767));  // 2000 * 20 saturates
    EXPECT_EQ(out[4], hardLeft(-2000));  // the negative half is untouched
    EXPECT_EQ(out[6], hardLeft(5));      // below the threshold
}

TEST(Voices, ReversedStepsPlayFromTheLastSample) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, 1, {1000, 2000, 3000, 4000, 5000});
    m->song.settings(1).volume[0] = 127;
    test::SetNote(*m, 1, 1, 1, 1, 127, 64, 1);
    StartRender(*m, 1);
    std::vector<int> heard;
    for (int i = 0; i < 7; ++i) heard.push_back(MixFrame(PlayerOf(*m)).left);
    EXPECT_EQ(heard, (std::vector<int>{2500, 2000, 1500, 1000, 500, 0, 0}));
    EXPECT_FALSE(m->player.voice(1).active);
}

TEST(Voices, StretchedSoundsLastTheirMeasures) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, 1, Constant(30000, 1000));
    m->banks.internalBank.slot(1).stretchMeasures = 2;
    m->song.measureCount[0] = 4;  // nothing retriggers the channel for four measures
    test::SetNote(*m, 1, 1, 1, 1, 127);
    StartRender(*m, 1);
    EXPECT_FLOAT_EQ(m->player.voice(1).rate, static_cast<float>(30000.0 / (2.0 * 72993)));
    int frames = 0;
    while (m->player.voice(1).active && frames < 400000) {
        MixFrame(PlayerOf(*m));
        ++frames;
    }
    // Voices stand still on the frame that starts a step: 32 of them in two measures.
    EXPECT_NEAR(frames, 2 * 72993 + 32, 8);
}

TEST(Voices, StretchRateHalvesAtTwoMeasuresOfTheSoundsLength) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, 1, Constant(40000, 1));
    m->banks.internalBank.slot(1).stretchMeasures = 2;
    m->player.clock.MeasureLength = 40000;
    UpdateVoiceRates(PlayerOf(*m));
    EXPECT_EQ(m->player.voice(1).rate, 0.5f);
}

TEST(Voices, FadeBeforeTheNextNoteFallsOnePerFrame) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, 1, Constant(20000, 10000));
    test::SetNote(*m, 1, 1, 1, 1, 100);
    test::SetNote(*m, 1, 1, 1, 2, 100);
    StartRender(*m, 1);
    const Voice& v = m->player.voice(1);
    EXPECT_EQ(v.fadeStart, 4562 - 100);
    for (int i = 0; i < 4462; ++i) MixFrame(PlayerOf(*m));
    EXPECT_EQ(v.level, 100);
    MixFrame(PlayerOf(*m));
    EXPECT_EQ(v.level, 99);
    for (int i = 0; i < 98; ++i) MixFrame(PlayerOf(*m));
    EXPECT_EQ(v.level, 1);
    MixFrame(PlayerOf(*m));  // mixed at level 0; its tick starts step 2 and retriggers
    EXPECT_EQ(v.level, 100);
    EXPECT_EQ(v.age, 0);
}

TEST(Voices, AVelocityZeroNoteStopsTheChannelButChokesNothing) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, 1, Constant(40000, 10000), "open");
    test::SetSound(m->banks.internalBank, 2, Constant(40000, 10000), "closed");
    m->banks.internalBank.slot(1).hihat1 = 2;
    m->song.settings(1).instrument[1] = 2;
    test::SetNote(*m, 1, 1, 1, 1, 100);  // open hat on channel 1
    test::SetNote(*m, 1, 1, 2, 2, 0);    // silent closed hat: no choke
    test::SetNote(*m, 1, 1, 2, 1, 100);
    test::SetNote(*m, 1, 1, 2, 3, 0);
    StartRender(*m, 1);
    for (int i = 0; i < 4562; ++i) MixFrame(PlayerOf(*m));
    ASSERT_EQ(m->player.clock.PlayStep, 2);
    EXPECT_TRUE(m->player.voice(1).active);
    // The channel 2 voice was retriggered silent: level 0, its earlier sound gone.
    EXPECT_TRUE(m->player.voice(2).active);
    EXPECT_EQ(m->player.voice(2).level, 0);
    EXPECT_EQ(m->player.voice(2).position, 1.0);
}

TEST(Voices, AnOpenHatIsChokedOnTheVeryStepItStarts) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.userbank, 3, Constant(40000, 10000), "open");
    test::SetSound(m->banks.userbank, 2, Constant(40000, 10000), "closed");
    m->banks.userbank.slot(3).hihat2 = 2;
    m->song.settings(1).instrument[0] = 103;
    m->song.settings(1).instrument[1] = 102;
    test::SetNote(*m, 1, 1, 1, 2, 100);
    test::SetNote(*m, 1, 1, 2, 2, 1);
    StartRender(*m, 1);
    for (int i = 0; i < 4562; ++i) MixFrame(PlayerOf(*m));
    ASSERT_EQ(m->player.clock.PlayStep, 2);
    EXPECT_FALSE(m->player.voice(1).active);
    EXPECT_TRUE(m->player.voice(2).active);

    // Muting the closed hat's channel lets the open hat ring.
    m->song.settings(1).mute[1] = 1;
    StartRender(*m, 1);
    for (int i = 0; i < 4562; ++i) MixFrame(PlayerOf(*m));
    EXPECT_TRUE(m->player.voice(1).active);
}

TEST(Voices, MutingASoundingChannelSilencesItOnTheNextFrame) {
    auto m = OneNote(Constant(40000, 10000), 127, 64, 127);
    ResetTransport(*m);
    PrepareStart(PlayerOf(*m));
    EXPECT_NE(LiveFrame(*m).left, 0);
    m->song.settings(1).mute[0] = 1;
    LiveFrame(*m);  // the tick after this frame ends the voice
    EXPECT_FALSE(m->player.voice(1).active);
    EXPECT_EQ(LiveFrame(*m).left, 0);
    // Muted notes trigger nothing at a start either.
    PrepareStart(PlayerOf(*m));
    EXPECT_FALSE(m->player.voice(1).active);
}

TEST(Voices, HumanizeVariesLoudNotesOnlyAndIsReproducible) {
    auto run = [](int velocity, unsigned seed) {
        auto m = test::NewMachine();
        m->editor.HumanizeChecked = true;
        m->random.seed(seed);
        for (int s = 1; s <= 16; ++s) test::SetNote(*m, 1, 1, 1, s, velocity);
        StartRender(*m, 1);
        std::vector<int> levels;
        for (int step = 0; step < 15; ++step) {
            while (m->player.voice(1).age != 0 || levels.size() == static_cast<std::size_t>(step)) {
                MixFrame(PlayerOf(*m));
                if (m->player.voice(1).age == 0) break;
            }
            levels.push_back(m->player.voice(1).level);
        }
        return levels;
    };
    std::vector<int> loud = run(100, 7);
    int lo = 1000, hi = -1000;
    for (int l : loud) {
        lo = std::min(lo, l - 100);
        hi = std::max(hi, l - 100);
    }
    EXPECT_GE(lo, -15);
    EXPECT_LE(hi, 14);
    EXPECT_LT(lo, hi);  // it does vary
    EXPECT_EQ(run(100, 7), loud);
    for (int l : run(40, 7)) EXPECT_EQ(l, 40);
}

TEST(Voices, ASoundSwappedUnderASoundingVoiceIsNeverOverrun) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, 1, Constant(1000, 8000));
    test::SetSound(m->banks.internalBank, 2, Constant(10, 8000));
    test::SetNote(*m, 1, 1, 1, 1, 127);
    StartRender(*m, 1);
    for (int i = 0; i < 500; ++i) MixFrame(PlayerOf(*m));
    m->song.settings(1).instrument[0] = 2;      // a patch change while playing
    EXPECT_EQ(MixFrame(PlayerOf(*m)).left, 0);  // position 501 lies beyond the new sound
    m->song.settings(1).instrument[0] = 0;      // no such slot: silence, never a crash
    EXPECT_EQ(MixFrame(PlayerOf(*m)).left, 0);
}

TEST(Voices, AVoiceContinuesInTheNextPatternsSound) {
    auto m = test::NewMachine();
    test::SetSound(m->banks.internalBank, 1, Constant(40000, 1000));
    test::SetSound(m->banks.internalBank, 2, Constant(40000, 3000));
    m->song.settings(1).volume[0] = 127;
    m->song.settings(2).volume[0] = 127;
    m->song.settings(2).instrument[0] = 2;
    test::SetNote(*m, 1, 1, 1, 16, 127);
    StartRender(*m, 1);
    m->player.clock.NextPattern = 2;
    while (m->player.clock.PlayStep != 16) MixFrame(PlayerOf(*m));
    for (int i = 0; i < 4561; ++i) MixFrame(PlayerOf(*m));
    ASSERT_EQ(m->player.clock.PlayPattern, 2);
    ASSERT_TRUE(m->player.voice(1).active);
    const double position = m->player.voice(1).position;
    EXPECT_EQ(MixFrame(PlayerOf(*m)).left, RoundDiv(RoundDiv(3000LL * 127, 127), 2));
    EXPECT_GT(position, 4000.0);
}

TEST(Voices, APreparedStartNeverReadsBeforeTheFirstSample) {
    auto m = OneNote({5000, 6000, 7000}, 127, 64, 127);
    ResetTransport(*m);
    PrepareStart(PlayerOf(*m));
    for (int i = 0; i < 10; ++i) LiveFrame(*m);  // the sound ends; position drops to 0
    ASSERT_FALSE(m->player.voice(1).active);
    ASSERT_EQ(m->player.voice(1).position, 0.0);
    PrepareStart(PlayerOf(*m));  // a later start after a cleared prepared start
    EXPECT_EQ(m->player.voice(1).position, 1.0);
    EXPECT_EQ(LiveFrame(*m).left, (((5000 * 127) >> 7)) >> 1);
}

TEST(MainVolume, TheLiveMixerGlidesOneStepPerFrame) {
    auto m = OneNote(Constant(40000, 10000), 127, 64, 127);
    ResetTransport(*m);
    PrepareStart(PlayerOf(*m));
    m->player.clock.MainVolumeTarget = 131;
    std::int16_t out[8];
    MixBlock(PlayerOf(*m), out, 4);
    EXPECT_EQ(m->player.clock.MainVolume, 131);
    EXPECT_EQ(out[0], (4960 * 129) >> 7);
    EXPECT_EQ(out[6], (4960 * 131) >> 7);
    // The disk mixer uses the value as it stands.
    m->player.clock.MainVolumeTarget = 0;
    StartRender(*m, 1);
    EXPECT_EQ(MixFrame(PlayerOf(*m)).left, (5000 * 131) >> 7);
}

TEST(RenderBlock, FillsTheSelectedHalfOfTheStagingBuffer) {
    auto m = OneNote(Constant(40000, 10000), 127, 64, 127);
    ResetTransport(*m);
    PrepareStart(PlayerOf(*m));
    m->BufPos = kSecondHalf;
    RenderBlock(*m, 10240);
    EXPECT_EQ(m->StagingBuffer[kSecondHalf - 1], 4960);
    EXPECT_EQ(m->StagingBuffer[kSecondHalf], 4960);
    EXPECT_EQ(m->StagingBuffer[0], 0);
    // A block that would run past the buffer is cut at its end.
    m->BufPos = kStagingWords - 3;
    RenderBlock(*m, 10240);
    EXPECT_EQ(m->StagingBuffer[kStagingWords - 1], 4960);
}

}  // namespace
}  // namespace qtam
