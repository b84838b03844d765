#include "song/song_history.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "banks/instrument_select.h"
#include "core/machine.h"
#include "engine/play_clock.h"
#include "song/edit_ops.h"
#include "song/grooves.h"
#include "song/panel_edits.h"
#include "song/slides.h"
#include "song/song_info.h"
#include "test_support.h"

namespace qtam {
namespace {

constexpr std::size_t kNoSave = static_cast<std::size_t>(-1);

class SongHistoryWalk : public ::testing::Test {
protected:
    std::unique_ptr<Machine> m = test::NewMachine();
    SongHistory history;
    std::mt19937 random{20240612u};
    // The userbank fields as the bank activation last left them.
    ShortString<255> bankFile_{};
    ShortString<30> bankDescription_{};

    int Draw(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); }

    void FillWithNoise(Song& song) {
        auto* bytes = reinterpret_cast<unsigned char*>(&song);
        for (std::size_t i = 0; i < sizeof(Song); ++i)
            bytes[i] = static_cast<unsigned char>(random());
    }

    // A song as a file may hold it: arbitrary bytes, or a tidy one with notes here and there.
    void RandomSong() {
        FillWithNoise(m->song);
        if (Draw(0, 1) == 0) NormalizeSong(m->song);
        NoteUserbank();
        MoveAround();
    }

    void MoveAround() {
        m->editor.CurrentPattern = static_cast<std::uint8_t>(Draw(1, kPatterns));
        m->editor.CurrentMeasure = static_cast<std::uint8_t>(Draw(1, kMeasures));
        m->editor.CurrentChannel = static_cast<std::uint8_t>(Draw(1, kChannels));
        m->editor.CurrentStep = static_cast<std::uint8_t>(Draw(1, kSlots));
    }

    // One edit of every kind a person makes, at the current position, with its history text.
    std::string RandomEdit() {
        Machine& mm = *m;
        switch (Draw(0, 27)) {
            case 0:
            case 1:
                ToggleStep(mm, Draw(1, kSlots));
                return "Toggle step";
            case 2:
                SetNoteDetails(mm, Draw(0, 127), Draw(0, 127), Draw(0, 1) == 1);
                return "Note details";
            case 3:
                SetChannelVolume(mm, Draw(1, kChannels), Draw(0, 127));
                return "Volume";
            case 4:
                SetSongTempo(mm, Draw(kTempoMin, kTempoMax));
                return "Tempo";
            case 5:
                SetSongShuffle(mm, Draw(kShuffleMin, kShuffleMax));
                return "Shuffle";
            case 6:
                SetDistortionGain(mm, Draw(0, kDistortionGainMax));
                return "Distortion";
            case 7:
                SetDistortionThreshold(mm, Draw(0, kDistortionThresholdMax));
                return "Threshold";
            case 8:
                EnterTempo(mm, DialogResult::Ok, std::to_string(Draw(0, 300)));
                return "Tempo";
            case 9:
                ToggleMute(mm, Draw(1, kChannels));
                return "Mute";
            case 10:
                ToggleDistortion(mm, Draw(1, kChannels));
                return "Distortion on";
            case 11:
                ChooseInstrument(mm, Draw(0, 1) ? Draw(1, 20) : 100 + Draw(1, 20));
                return "Instrument";
            case 12:
                ChooseInstrument(mm, InstrumentOfRows({Draw(-1, 19), Draw(-1, 19)}));
                return "Instrument";
            case 13:
                SetMeasureCount(mm, Draw(1, kMeasures));
                return "Measure count";
            case 14:
                SetStepsPerMeasure(mm, Draw(0, 1) ? 12 : 16);
                return "Steps";
            case 15: {
                // Copied somewhere else, pasted here.
                void (*copy[])(Machine&) = {CopyChannel, CopyMeasure, CopyPattern};
                copy[Draw(0, 2)](mm);
                MoveAround();
                (Draw(0, 1) ? Paste : PasteMix)(mm);
                return MenuEditText(mm, Paste);
            }
            case 16: {
                void (*shapes[])(Machine&) = {FadeInChannel,  FadeOutChannel, FadeInMeasure,
                                              FadeOutMeasure, PanLeftToRight, PanRightToLeft,
                                              PanCenter,      PanRandomly,    PanInverse};
                auto* shape = shapes[Draw(0, 8)];
                shape(mm);
                return MenuEditText(mm, shape);
            }
            case 17:
                (Draw(0, 1) ? EraseChannel : EraseMeasure)(mm);
                return "Erase";
            case 18:
                CustomSlide(mm, Draw(0, 1) ? SlideField::Velocity : SlideField::Pan,
                            DialogResult::Ok, Draw(0, 127), Draw(0, 127));
                return "Slide";
            case 19:
                ChooseGrooveMenuEntry(mm, Draw(0, kGrooveMenuSize - 1));
                return "Groove";
            case 20:
                RandomChaos(mm);
                return "Random Chaos";
            case 21:
                ToggleHumanize(mm);
                return "Humanize";
            case 22: {
                SongInfoDialog dialog;
                dialog.Show(mm, SongInfoMode::Edit);
                SongInfoFields f;
                f.title = "Take " + std::to_string(Draw(0, 9));
                f.author = Draw(0, 1) ? "" : "Someone";
                f.showInfoOnOpen = Draw(0, 1) == 1;
                dialog.Ok(mm, f);
                return "Song info";
            }
            case 23:
                // A drag: many values on the way, one entry at the release.
                for (int i = 0; i < 5; ++i) SetSongTempo(mm, Draw(kTempoMin, kTempoMax));
                return "Tempo drag";
            case 24:
                EnterShuffle(mm, DialogResult::Ok, std::to_string(Draw(0, 100)));
                return "Shuffle";
            default:
                ToggleStep(mm, Draw(1, kSlots));  // many small edits, as in a real session
                return "Toggle step";
        }
    }

    // The bank activation takes the active userbank into the Song now and then.
    void ActivateSomeUserbank() {
        m->song.userbankFile.set("/banks/" + std::to_string(Draw(0, 999)) + ".ubf");
        m->song.userbankDescription.set("bank " + std::to_string(Draw(0, 9)));
        NoteUserbank();
    }
    void NoteUserbank() {
        bankFile_ = m->song.userbankFile;
        bankDescription_ = m->song.userbankDescription;
    }

    // The Song holds the bytes of `expected` but for the userbank fields, which the history
    // leaves as the bank activation last set them.
    ::testing::AssertionResult SongIs(const Song& expected) {
        Song e = expected;
        e.userbankFile = bankFile_;
        e.userbankDescription = bankDescription_;
        if (std::memcmp(&e, &m->song, sizeof(Song)) == 0) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "the Song differs from the recorded state";
    }

    std::vector<std::int32_t> Timing(const Machine& machine) {
        std::vector<std::int32_t> t(std::begin(machine.clock.StepLength),
                                    std::end(machine.clock.StepLength));
        t.push_back(machine.clock.MeasureLength);
        return t;
    }

    // What follows the Song after an undo or a redo.
    void ExpectDerivedStateFollows(std::size_t position, std::size_t saved) {
        EXPECT_EQ(m->editor.SongChanged, position != saved);
        EXPECT_FALSE(m->editor.StartPrepared);
        EXPECT_EQ(m->editor.HumanizeChecked, m->song.humanize != 0);
        auto ref = test::NewMachine();
        ref->song = m->song;
        SetTempo(*ref, m->song.tempo, m->song.shuffle);
        EXPECT_EQ(Timing(*m), Timing(*ref));
    }
};

// Random sequences of every kind of edit on random songs, with undo, redo, saves and new edits
// on the way: the Song always holds the bytes recorded for its position, undoing everything
// gives the starting bytes, redoing everything the last ones, and the changed mark is set
// exactly away from the saved state.
TEST_F(SongHistoryWalk, EveryWalkMatchesTheBytesRecordedAlongTheWay) {
    for (int round = 0; round < 60; ++round) {
        RandomSong();
        history.Restart(m->song);
        m->editor.SongChanged = false;
        std::vector<Song> states{m->song};  // the branch the history can reach
        std::vector<std::string> texts{""};
        std::size_t position = 0, saved = 0;

        for (int step = 0; step < 120; ++step) {
            const int what = Draw(0, 19);
            if (what < 9) {
                if (Draw(0, 5) == 0) MoveAround();
                if (Draw(0, 9) == 0) ActivateSomeUserbank();
                m->editor.StartPrepared = true;
                std::string text = RandomEdit();
                const bool changed = !SongIs(states[position]);
                ASSERT_EQ(RecordEdit(*m, history, text), changed) << text;
                if (!changed) continue;
                states.resize(position + 1);
                texts.resize(position + 1);
                if (saved != kNoSave && saved > position) saved = kNoSave;
                states.push_back(m->song);
                texts.push_back(text);
                ++position;
                EXPECT_EQ(history.UndoText(), text);
                EXPECT_FALSE(history.CanRedo());
                EXPECT_TRUE(m->editor.SongChanged);
            } else if (what < 14) {
                ASSERT_EQ(UndoEdit(*m, history), position > 0);
                if (position == 0) continue;
                --position;
                ASSERT_TRUE(SongIs(states[position])) << "undo to " << position;
                EXPECT_EQ(history.RedoText(), texts[position + 1]);
                ExpectDerivedStateFollows(position, saved);
            } else if (what < 18) {
                ASSERT_EQ(RedoEdit(*m, history), position + 1 < states.size());
                if (position + 1 == states.size()) continue;
                ++position;
                ASSERT_TRUE(SongIs(states[position])) << "redo to " << position;
                EXPECT_EQ(history.UndoText(), texts[position]);
                ExpectDerivedStateFollows(position, saved);
            } else {
                // A save clears the mark; the history takes the position as the saved state.
                m->editor.SongChanged = false;
                TakeSavedState(*m, history);
                saved = position;
                EXPECT_TRUE(history.AtSaved());
            }
            ASSERT_EQ(history.Position(), position);
            ASSERT_EQ(history.EntryCount(), states.size() - 1);
        }

        const bool undone = position > 0;
        while (UndoEdit(*m, history)) {
        }
        ASSERT_TRUE(SongIs(states.front())) << "round " << round;
        if (undone) {
            EXPECT_EQ(m->editor.SongChanged, saved != 0);
        }
        while (RedoEdit(*m, history)) {
        }
        ASSERT_TRUE(SongIs(states.back())) << "round " << round;
        if (states.size() > 1) {
            EXPECT_EQ(m->editor.SongChanged, saved != states.size() - 1);
        }
    }
}

// An edit the history was not told about is not lost: Undo records it first and takes it back,
// Redo records it and then has nothing to redo, a save records it before it is the saved state.
TEST_F(SongHistoryWalk, AnEditNotYetRecordedIsRecordedBeforeUndoRedoAndSave) {
    RandomSong();
    NormalizeSong(m->song);
    history.Restart(m->song);
    const Song start = m->song;
    ToggleStep(*m, 1);
    ASSERT_TRUE(RecordEdit(*m, history, "Toggle step 1"));
    const Song first = m->song;

    ToggleStep(*m, 2);  // not recorded
    ASSERT_TRUE(UndoEdit(*m, history));
    EXPECT_TRUE(SongIs(first));
    EXPECT_EQ(history.RedoText(), kUnnamedEdit);
    ASSERT_TRUE(UndoEdit(*m, history));
    EXPECT_TRUE(SongIs(start));
    EXPECT_FALSE(m->editor.SongChanged);

    ASSERT_TRUE(RedoEdit(*m, history));
    ToggleStep(*m, 3);  // not recorded: a new edit, so the unnamed entry cannot be redone
    EXPECT_FALSE(RedoEdit(*m, history));
    EXPECT_EQ(history.EntryCount(), 2u);
    const Song third = m->song;

    ToggleStep(*m, 4);  // not recorded, then saved
    m->editor.SongChanged = false;
    TakeSavedState(*m, history);
    EXPECT_EQ(history.EntryCount(), 3u);
    ASSERT_TRUE(UndoEdit(*m, history));
    EXPECT_TRUE(SongIs(third));
    EXPECT_TRUE(m->editor.SongChanged);
    ASSERT_TRUE(RedoEdit(*m, history));
    EXPECT_FALSE(m->editor.SongChanged);
}

// A change of the Song outside the history (a userbank from the menu) keeps the mark set until
// the next save, whatever is undone; nothing recorded leaves the mark as it was.
TEST_F(SongHistoryWalk, AChangeOutsideTheHistoryKeepsTheMarkUntilSaved) {
    RandomSong();
    history.Restart(m->song);
    m->editor.SongChanged = false;
    ActivateSomeUserbank();
    m->editor.SongChanged = true;  // as a userbank load from the menu leaves it
    history.ForgetSaved();
    EXPECT_FALSE(RecordEdit(*m, history, "nothing"));
    EXPECT_TRUE(m->editor.SongChanged);
    ToggleMute(*m, 3);
    ASSERT_TRUE(RecordEdit(*m, history, "Toggle mute 3"));
    ASSERT_TRUE(UndoEdit(*m, history));
    EXPECT_TRUE(m->editor.SongChanged);
    EXPECT_FALSE(UndoEdit(*m, history));

    m->editor.SongChanged = false;  // saved
    TakeSavedState(*m, history);
    ASSERT_TRUE(RedoEdit(*m, history));
    EXPECT_TRUE(m->editor.SongChanged);
    ASSERT_TRUE(UndoEdit(*m, history));
    EXPECT_FALSE(m->editor.SongChanged);

    // A new song or an opened one starts an empty history at its saved state.
    RandomSong();
    history.Restart(m->song);
    EXPECT_FALSE(history.CanUndo());
    EXPECT_FALSE(history.CanRedo());
    EXPECT_TRUE(history.AtSaved());
    EXPECT_EQ(history.MemoryUsed(), 0u);
}

// Entries past the memory limit go, oldest first: what stays still undoes to the bytes of its
// own position, a saved state that went is no longer reachable, and the newest edit stays.
TEST_F(SongHistoryWalk, TheOldestEntriesGoPastTheMemoryLimit) {
    RandomSong();
    history.Restart(m->song);
    std::vector<Song> states{m->song};
    const int edits = static_cast<int>(kHistoryMemoryLimit / (2 * sizeof(Song))) + 20;
    for (int i = 0; i < edits; ++i) {
        FillWithNoise(m->song);  // every byte changes: the largest entry there is
        NoteUserbank();
        ASSERT_TRUE(RecordEdit(*m, history, "Everything"));
        states.push_back(m->song);
        ASSERT_LE(history.MemoryUsed(), kHistoryMemoryLimit);
    }
    const std::size_t kept = history.EntryCount();
    EXPECT_LT(kept, static_cast<std::size_t>(edits));
    EXPECT_GT(kept, static_cast<std::size_t>(edits) / 2);
    EXPECT_TRUE(m->editor.SongChanged);
    for (std::size_t back = 1; back <= kept; ++back) {
        ASSERT_TRUE(UndoEdit(*m, history));
        ASSERT_TRUE(SongIs(states[states.size() - 1 - back]));
        EXPECT_TRUE(m->editor.SongChanged);  // the opened state went with its entries
    }
    EXPECT_FALSE(history.CanUndo());
}

// The Edit menu's texts name what is pasted.
TEST(MenuEditText, NamesTheEditAndWhatIsPasted) {
    auto m = test::NewMachine();
    m->editor.ClipboardKind = 3;
    EXPECT_EQ(MenuEditText(*m, Paste), "Paste pattern");
    m->editor.ClipboardKind = 1;
    EXPECT_EQ(MenuEditText(*m, PasteMix), "Paste mix channel");
    EXPECT_EQ(MenuEditText(*m, FadeOutMeasure), "Fade out measure");
    EXPECT_EQ(MenuEditText(*m, CopyChannel), kUnnamedEdit);
}

}  // namespace
}  // namespace qtam
