#include "song/panel_edits.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <random>
#include <string>

#include "banks/instrument_select.h"
#include "core/machine.h"
#include "engine/play_clock.h"
#include "song/edit_ops.h"
#include "test_support.h"

namespace qtam {
namespace {

using test::NewMachine;

bool SameSong(const Song& a, const Song& b) {
    return std::memcmp(&a, &b, sizeof(Song)) == 0;
}

// A Song of arbitrary bytes, as a foreign file may hold, edited at an arbitrary position.
class PanelEdits : public ::testing::Test {
protected:
    std::unique_ptr<Machine> m = NewMachine();
    std::mt19937 random{20240611u};
    int scrambles_ = 0;

    int Draw(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }

    // New bytes for the whole Song every few calls (they are many), a new edit position always.
    void Scramble() {
        if (scrambles_++ % 16 == 0) {
            auto* bytes = reinterpret_cast<unsigned char*>(&m->song);
            for (std::size_t i = 0; i < sizeof(Song); i += 4) {
                const std::uint32_t word = random();
                std::memcpy(bytes + i, &word, std::min<std::size_t>(4, sizeof(Song) - i));
            }
        }
        m->editor.CurrentPattern = static_cast<std::uint8_t>(Draw(1, kPatterns));
        m->editor.CurrentMeasure = static_cast<std::uint8_t>(Draw(1, kMeasures));
        m->editor.CurrentChannel = static_cast<std::uint8_t>(Draw(1, kChannels));
        MarkSongSaved(*m);
        m->editor.StartPrepared = true;
    }
    ChannelSettings& Settings(Song& s) { return s.settings(m->editor.CurrentPattern); }
    StepCell& Cell(Song& s, int slot) {
        const EditorState& e = m->editor;
        return s.cell(e.CurrentPattern, e.CurrentMeasure, e.CurrentChannel, slot);
    }
    // The step timing the clock has after the engine retimes the Song as it stands.
    std::vector<std::int32_t> TimingOf(const Song& song) {
        auto ref = NewMachine();
        ref->song = song;
        SetTempo(PlayerOf(*ref), song.tempo, song.shuffle);
        std::vector<std::int32_t> t(std::begin(ref->player.clock.StepLength),
                                    std::end(ref->player.clock.StepLength));
        t.push_back(ref->player.clock.MeasureLength);
        return t;
    }
    std::vector<std::int32_t> Timing() {
        std::vector<std::int32_t> t(std::begin(m->player.clock.StepLength),
                                    std::end(m->player.clock.StepLength));
        t.push_back(m->player.clock.MeasureLength);
        return t;
    }
};

TEST_F(PanelEdits, AStepToggleWritesItsFourFieldsAndNothingElse) {
    for (int round = 0; round < 400; ++round) {
        Scramble();
        const int slot = Draw(1, kSlots);
        const Song before = m->song;
        const StepCell old = Cell(m->song, slot);

        const bool lit = ToggleStep(*m, slot);
        EXPECT_EQ(lit, !old.hasNote());
        Song expected = before;
        StepCell& c = Cell(expected, slot);
        c.velocity = static_cast<std::int8_t>(old.hasNote() ? -1 : 80);
        c.pan = 64;
        c.reversed = 0;
        c.reserved2 = 0;
        ASSERT_TRUE(SameSong(expected, m->song)) << "round " << round << " slot " << slot;
        EXPECT_TRUE(SongChanged(*m));
        EXPECT_FALSE(m->editor.StartPrepared);

        // Twice gives the note back (or takes it away again); the reserved byte never moves.
        EXPECT_EQ(ToggleStep(*m, slot), old.hasNote());
        EXPECT_EQ(Cell(m->song, slot).hasNote(), old.hasNote());
        EXPECT_EQ(Cell(m->song, slot).reserved1, old.reserved1);
    }
}

TEST_F(PanelEdits, ASlotOutsideTheMeasureChangesNothing) {
    Scramble();
    const Song before = m->song;
    for (int slot : {-1, 0, kSlots + 1, 255}) EXPECT_FALSE(ToggleStep(*m, slot));
    EXPECT_TRUE(SameSong(before, m->song));
    EXPECT_FALSE(SongChanged(*m));
    EXPECT_TRUE(m->editor.StartPrepared);
}

TEST_F(PanelEdits, MuteAndDistortionSwitchOneByteOfTheEditedPattern) {
    using Field = std::uint8_t(ChannelSettings::*)[kChannels];
    const struct {
        void (*toggle)(Machine&, int);
        Field field;
    } switches[] = {{ToggleMute, &ChannelSettings::mute},
                    {ToggleDistortion, &ChannelSettings::distortionOn}};
    for (const auto& s : switches) {
        for (int round = 0; round < 200; ++round) {
            Scramble();
            const int channel = Draw(0, kChannels + 1);
            const Song before = m->song;
            s.toggle(*m, channel);
            Song expected = before;
            if (channel >= 1 && channel <= kChannels) {
                std::uint8_t& on = (Settings(expected).*s.field)[channel - 1];
                on = on == 1 ? 0 : 1;
            }
            ASSERT_TRUE(SameSong(expected, m->song)) << "channel " << channel;
            EXPECT_EQ(SongChanged(*m), channel >= 1 && channel <= kChannels);
        }
    }
}

// Every value control: the stored field is the value kept in the control's range, no other
// byte of the Song moves, and the Song is marked edited.
TEST_F(PanelEdits, ValueControlsStoreTheValueWithinTheirRangeAndNothingElse) {
    struct Control {
        std::string name;
        std::function<void(Machine&, int)> set;
        std::function<void(Song&, int)> expect;
        int lo, hi;
    };
    const int channel = 5;
    const std::vector<Control> controls = {
        {"volume", [&](Machine& mm, int v) { SetChannelVolume(mm, channel, v); },
         [&](Song& s, int v) { Settings(s).volume[channel - 1] = static_cast<std::uint8_t>(v); }, 0,
         kChannelVolumeMax},
        {"tempo", SetSongTempo, [](Song& s, int v) { s.tempo = static_cast<std::uint16_t>(v); },
         kTempoMin, kTempoMax},
        {"shuffle", SetSongShuffle,
         [](Song& s, int v) { s.shuffle = static_cast<std::uint8_t>(v); }, kShuffleMin,
         kShuffleMax},
        {"gain", SetDistortionGain,
         [&](Song& s, int v) { Settings(s).distortionGain = static_cast<std::uint16_t>(v); }, 0,
         kDistortionGainMax},
        {"threshold", SetDistortionThreshold,
         [&](Song& s, int v) { Settings(s).distortionThreshold = static_cast<std::uint16_t>(v); },
         0, kDistortionThresholdMax},
        {"measures", SetMeasureCount,
         [&](Song& s, int v) {
             s.measureCount[m->editor.CurrentPattern - 1] = static_cast<std::uint8_t>(v);
         },
         1, kMeasures},
    };
    for (const Control& c : controls) {
        for (int value = -70; value <= kDistortionThresholdMax + 70; value += Draw(1, 13)) {
            Scramble();
            const std::uint8_t measure = m->editor.CurrentMeasure;
            Song expected = m->song;
            c.set(*m, value);
            c.expect(expected, std::clamp(value, c.lo, c.hi));
            ASSERT_TRUE(SameSong(expected, m->song)) << c.name << " " << value;
            EXPECT_FALSE(m->editor.StartPrepared);
            EXPECT_EQ(m->editor.CurrentMeasure, measure);
        }
    }
}

TEST_F(PanelEdits, TempoAndShuffleRetimeTheClockAndTheEntriesMakeTheSameEdit) {
    for (int value = -5; value <= 300; value += 7) {
        SetSongTempo(*m, value);
        EXPECT_EQ(Timing(), TimingOf(m->song)) << "tempo " << value;
        const Song bySlider = m->song;
        SetSongTempo(*m, kTempoMin + 1);
        EXPECT_TRUE(EnterTempo(*m, DialogResult::Ok, std::to_string(value)));
        EXPECT_TRUE(SameSong(bySlider, m->song)) << "tempo " << value;

        SetSongShuffle(*m, ShuffleFromShown(value));
        EXPECT_EQ(Timing(), TimingOf(m->song)) << "shuffle " << value;
        const Song shuffled = m->song;
        SetSongShuffle(*m, kShuffleMin + 1);
        EXPECT_TRUE(EnterShuffle(*m, DialogResult::Ok, std::to_string(value)));
        EXPECT_TRUE(SameSong(shuffled, m->song)) << "shuffle " << value;
    }
}

TEST_F(PanelEdits, TheStepSwitchKeepsEverySlotAndRetimes) {
    for (int steps : {12, 16, 0, 11, 13, 255, -12}) {
        Scramble();
        Song expected = m->song;
        expected.stepsPerMeasure = static_cast<std::uint8_t>(steps == 12 ? 12 : 16);
        SetStepsPerMeasure(*m, steps);
        EXPECT_TRUE(SameSong(expected, m->song)) << steps;
        EXPECT_EQ(Timing(), TimingOf(m->song));
        EXPECT_TRUE(m->editor.StartPrepared);
    }
}

TEST(Knob, TargetMovesVolumeOnlyWhileStopped) {
    auto m = test::NewMachine();
    SetMainVolume(*m, 200);
    EXPECT_EQ(m->player.clock.MainVolumeTarget, 200);
    EXPECT_EQ(m->player.clock.MainVolume, 200);
    m->Playing = true;
    SetMainVolume(*m, 50);
    EXPECT_EQ(m->player.clock.MainVolumeTarget, 50);
    EXPECT_EQ(m->player.clock.MainVolume, 200);
    EXPECT_FALSE(SongChanged(*m));
}

TEST_F(PanelEdits, TheMainVolumeFollowsAtOnceOnlyWhileStopped) {
    const Song song = m->song;
    for (bool playing : {false, true}) {
        for (int target = -300; target <= 600; target += 17) {
            m->Playing = playing;
            m->player.clock.MainVolume = 77;
            m->editor.StartPrepared = true;
            SetMainVolume(*m, target);
            EXPECT_EQ(m->player.clock.MainVolumeTarget, std::clamp(target, 0, kMainVolumeMax));
            EXPECT_EQ(m->player.clock.MainVolume, playing ? 77 : m->player.clock.MainVolumeTarget);
            EXPECT_FALSE(m->editor.StartPrepared);  // mixed at the old level
        }
    }
    EXPECT_TRUE(SameSong(song, m->song));
    EXPECT_FALSE(SongChanged(*m));
}

TEST_F(PanelEdits, APatternChoiceQueuesWhilePlayingAndSwitchesWhileStopped) {
    for (bool playing : {false, true}) {
        for (int current = 1; current <= kPatterns; ++current) {
            for (int chosen = -1; chosen <= kPatterns + 1; ++chosen) {
                Scramble();
                m->Playing = playing;
                m->editor.CurrentPattern = static_cast<std::uint8_t>(current);
                m->editor.CurrentMeasure = 3;
                m->player.clock.PlayPattern = 2;
                m->player.clock.NextPattern = 2;
                const Song song = m->song;
                const bool taken = chosen >= 1 && chosen <= kPatterns && chosen != current;
                EXPECT_EQ(ChoosePattern(*m, chosen), taken);
                EXPECT_TRUE(SameSong(song, m->song));
                EXPECT_FALSE(SongChanged(*m));
                EXPECT_EQ(m->editor.CurrentPattern, taken ? chosen : current);
                EXPECT_EQ(m->editor.CurrentMeasure, taken ? 1 : 3);
                EXPECT_EQ(m->player.clock.NextPattern, taken ? chosen : 2);
                EXPECT_EQ(m->player.clock.PlayPattern, taken && !playing ? chosen : 2);
                EXPECT_EQ(m->editor.StartPrepared, !taken);
            }
        }
    }
}

TEST_F(PanelEdits, AMeasureChoiceStaysWithinThePatternsMeasures) {
    for (int stored : {0, 1, 4, 16, 17, 255}) {
        for (int measure = -2; measure <= 20; ++measure) {
            Scramble();
            m->song.measureCount[m->editor.CurrentPattern - 1] = static_cast<std::uint8_t>(stored);
            const Song song = m->song;
            ChooseMeasure(*m, measure);
            EXPECT_EQ(m->editor.CurrentMeasure,
                      std::clamp(measure, 1, MeasureCountOf(song, m->editor.CurrentPattern)));
            EXPECT_TRUE(SameSong(song, m->song));
            EXPECT_TRUE(m->editor.StartPrepared);
        }
    }
}

TEST_F(PanelEdits, AnInstrumentIsWrittenOnlyWhenItNamesASlotAndDiffers) {
    for (int instrument = -1; instrument <= 260; ++instrument) {
        Scramble();
        const Song before = m->song;
        std::uint8_t& stored = Settings(m->song).instrument[m->editor.CurrentChannel - 1];
        const int old = stored;
        const bool names = (instrument >= 1 && instrument <= kBankSlots) ||
                           (instrument > kUserbankBase && instrument <= kUserbankBase + kBankSlots);
        const bool written = ChooseInstrument(*m, instrument);
        EXPECT_EQ(written, names && instrument != old) << instrument;
        Song expected = before;
        if (written)
            Settings(expected).instrument[m->editor.CurrentChannel - 1] =
                static_cast<std::uint8_t>(instrument);
        EXPECT_TRUE(SameSong(expected, m->song)) << instrument;
        EXPECT_EQ(SongChanged(*m), written);
        EXPECT_TRUE(m->editor.StartPrepared);
        // The dialog selects what was chosen, and choosing that selection again writes nothing.
        if (names) {
            EXPECT_EQ(InstrumentOfRows(RowsOfCurrentInstrument(*m)), instrument);
            EXPECT_FALSE(ChooseInstrument(*m, InstrumentOfRows(RowsOfCurrentInstrument(*m))));
        }
    }
    EXPECT_FALSE(ChooseInstrument(*m, InstrumentOfRows({})));
}

TEST_F(PanelEdits, NoteDetailsWriteOnlyTheirCellAndOnlyOnANote) {
    for (int round = 0; round < 400; ++round) {
        Scramble();
        m->editor.CurrentStep = static_cast<std::uint8_t>(Draw(0, kSlots + 1));
        const int velocity = Draw(-20, 150);
        const int pan = Draw(-20, 150);
        const bool reversed = Draw(0, 1) == 1;
        const Song before = m->song;
        const bool written = SetNoteDetails(*m, velocity, pan, reversed);

        Song expected = before;
        const int step = m->editor.CurrentStep;
        if (step >= 1 && step <= kSlots && Cell(expected, step).hasNote()) {
            StepCell& c = Cell(expected, step);
            c.velocity = static_cast<std::int8_t>(std::clamp(velocity, 0, 127));
            c.pan = static_cast<std::uint8_t>(std::clamp(pan, 0, 127));
            // A reversed byte other than 0 or 1 already reads as reversed and stays.
            if ((c.reversed != 0) != reversed) c.reversed = reversed ? 1 : 0;
        }
        ASSERT_TRUE(SameSong(expected, m->song)) << "round " << round;
        EXPECT_EQ(written, !SameSong(before, m->song));
        EXPECT_EQ(SongChanged(*m), written);
        EXPECT_TRUE(m->editor.StartPrepared);
    }
}

}  // namespace
}  // namespace qtam
