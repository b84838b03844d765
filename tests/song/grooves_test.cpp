#include "song/grooves.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <string>

#include "core/machine.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::NewMachine;
using test::SetNote;

const GrooveTemplate& Template(std::string_view caption) {
    for (const auto& g : kGrooveTemplates)
        if (g.caption == caption) return g;
    throw std::runtime_error("no template " + std::string(caption));
}

TEST(GrooveMenu, CaptionsInMenuOrderWithRandomChaosInPlace) {
    const char* expected[] = {"Chemical Beat", "Clubby Feeling", "Default",       "Disco Fever",
                              "Drum 'n Bass",  "Euro Dance",     "Funky Drummer", "Hard Trance",
                              "Hard Step",     "Hiphop 1",       "Hiphop 2",      "Industrial",
                              "Jungle",        "Latin Groove",   "Pop Tune",      "Random Chaos",
                              "Rap Vibez",     "Rave Nation",    "Techno 1",      "Techno 2"};
    for (int i = 0; i < kGrooveMenuSize; ++i) EXPECT_EQ(GrooveMenuCaption(i), expected[i]) << i;
    EXPECT_EQ(GrooveMenuCaption(20), "");
    EXPECT_EQ(GrooveMenuCaption(-1), "");
}

TEST(GrooveMenu, SharedVelocitiesDifferOnlyInShuffle) {
    EXPECT_EQ(Template("Hard Step").velocities, Template("Rap Vibez").velocities);
    EXPECT_EQ(Template("Hard Step").velocities, Template("Hiphop 2").velocities);
    EXPECT_EQ(Template("Rap Vibez").shuffle, 105);
    EXPECT_EQ(Template("Chemical Beat").velocities, Template("Industrial").velocities);
    EXPECT_EQ(Template("Chemical Beat").shuffle, 102);
    EXPECT_EQ(Template("Industrial").shuffle, 105);
    EXPECT_EQ(Template("Clubby Feeling").shuffle, 125);
    EXPECT_EQ(Template("Rave Nation").velocities[15], 110);
    EXPECT_EQ(Template("Hard Trance").velocities[14], 100);
    for (const auto& g : kGrooveTemplates) {
        EXPECT_GE(g.shuffle, 100) << g.caption;
        EXPECT_LE(g.shuffle, 150) << g.caption;
        for (int v : g.velocities) EXPECT_LE(v, 127) << g.caption;
    }
}

TEST(Grooves, Techno1OnQuarterNotes) {
    auto m = NewMachine();
    for (int ch = 1; ch <= kChannels; ++ch)
        for (int s : {1, 5, 9, 13}) SetNote(*m, 1, 1, ch, s, 64);
    const std::int32_t straightStep = m->player.clock.StepLength[1];
    m->editor.StartPrepared = true;

    ASSERT_TRUE(ChooseGrooveMenuEntry(*m, 18));  // "Techno 1"

    for (int ch = 1; ch <= kChannels; ++ch)
        for (int s : {1, 5, 9, 13}) EXPECT_EQ(m->song.cell(1, 1, ch, s).velocity, 117);
    EXPECT_EQ(2 * m->song.shuffle - 200, 12);
    EXPECT_NE(m->player.clock.StepLength[1], straightStep);  // the timing follows the shuffle
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_FALSE(m->editor.StartPrepared);
}

TEST(Grooves, EveryMeasureOfThePatternOnlyNotesAboveZero) {
    for (const auto& g : kGrooveTemplates) {
        auto m = NewMachine();
        m->editor.CurrentPattern = 2;
        SetNote(*m, 2, 16, 3, 6, 10, 33, 1);  // beyond measureCount, changed all the same
        SetNote(*m, 2, 1, 1, 2, 0, 40);       // velocity 0 stays
        SetNote(*m, 1, 1, 1, 6, 10);          // another pattern stays
        m->song.settings(2).volume[0] = 55;
        ApplyGroove(*m, g);
        EXPECT_EQ(m->song.cell(2, 16, 3, 6).velocity, g.velocities[5]) << g.caption;
        EXPECT_EQ(m->song.cell(2, 16, 3, 6).pan, 33);
        EXPECT_EQ(m->song.cell(2, 16, 3, 6).reversed, 1);
        EXPECT_EQ(m->song.cell(2, 1, 1, 2).velocity, 0) << g.caption;
        EXPECT_EQ(m->song.cell(2, 1, 1, 3).velocity, -1) << g.caption;
        EXPECT_EQ(m->song.cell(1, 1, 1, 6).velocity, 10);
        EXPECT_EQ(m->song.settings(2).volume[0], 55);
        EXPECT_EQ(m->song.shuffle, g.shuffle);
    }
}

TEST(Grooves, DefaultStraightensAndSetsEighty) {
    auto m = NewMachine();
    m->song.shuffle = 130;
    SetNote(*m, 1, 3, 8, 16, 127);
    ASSERT_TRUE(ChooseGrooveMenuEntry(*m, 2));
    EXPECT_EQ(m->song.cell(1, 3, 8, 16).velocity, 80);
    EXPECT_EQ(m->song.shuffle, 100);
}

TEST(Grooves, RandomChaosScattersWithoutReseeding) {
    auto m = NewMachine();
    for (int meas = 1; meas <= kMeasures; ++meas)
        for (int ch = 1; ch <= kChannels; ++ch)
            for (int s = 1; s <= kSlots; ++s) SetNote(*m, 1, meas, ch, s, 100);
    SetNote(*m, 1, 7, 4, 4, 0);
    m->song.cell(1, 7, 4, 5).velocity = -1;
    m->song.shuffle = 117;
    m->editor.StartPrepared = true;
    m->random.seed(99);

    ASSERT_TRUE(ChooseGrooveMenuEntry(*m, kRandomChaosMenuIndex));

    // The same draws, in the same order, from the same unreseeded generator.
    std::mt19937 expected(99);
    std::uniform_int_distribution<int> draw(0, 99);
    std::set<int> seen;
    for (int meas = 1; meas <= kMeasures; ++meas)
        for (int ch = 1; ch <= kChannels; ++ch)
            for (int s = 1; s <= kSlots; ++s) {
                const int v = m->song.cell(1, meas, ch, s).velocity;
                if (meas == 7 && ch == 4 && (s == 4 || s == 5)) continue;
                ASSERT_EQ(v, 27 + draw(expected)) << meas << "/" << ch << "/" << s;
                seen.insert(v);
            }
    EXPECT_EQ(*seen.begin(), 27);
    EXPECT_EQ(*seen.rbegin(), 126);
    EXPECT_EQ(m->song.cell(1, 7, 4, 4).velocity, 0);
    EXPECT_EQ(m->song.cell(1, 7, 4, 5).velocity, -1);
    EXPECT_EQ(m->song.shuffle, 117);
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_FALSE(m->editor.StartPrepared);
}

TEST(Grooves, MenuIndexOutsideDoesNothing) {
    auto m = NewMachine();
    SetNote(*m, 1, 1, 1, 1, 100);
    EXPECT_FALSE(ChooseGrooveMenuEntry(*m, 20));
    EXPECT_FALSE(ChooseGrooveMenuEntry(*m, -1));
    EXPECT_EQ(m->song.cell(1, 1, 1, 1).velocity, 100);
}

TEST(Humanize, ToggleStoresInTheSongWithoutMarkingIt) {
    auto m = NewMachine();
    m->editor.StartPrepared = true;
    ToggleHumanize(*m);
    EXPECT_TRUE(m->editor.HumanizeChecked);
    EXPECT_EQ(m->song.humanize, 1);
    ToggleHumanize(*m);
    EXPECT_FALSE(m->editor.HumanizeChecked);
    EXPECT_EQ(m->song.humanize, 0);
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_TRUE(m->editor.StartPrepared);
}

}  // namespace
}  // namespace qtam
