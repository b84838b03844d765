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
#include "song/song_editor.h"
#include "song/song_info.h"
#include "test_support.h"

namespace qtam {
namespace {

class SongHistoryWalk : public ::testing::Test {
protected:
    std::unique_ptr<Machine> m = test::NewMachine();
    SongHistory history;
    // The edit layer every input calls; made anew for a song as opening one does.
    std::unique_ptr<SongEditor> edits = std::make_unique<SongEditor>(*m);
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

    // One edit of every kind a person makes, at the current position, through the edit layer
    // as the panel, the dialogs and the menus call it; returns the text its entry should have.
    std::string RandomEdit() {
        const int channel = Draw(1, kChannels);
        const std::string number = std::to_string(channel);
        switch (Draw(0, 26)) {
            case 26: {
                // A pad hit recorded while playing: the cell holds the hit's velocity.
                const int pattern = Draw(1, kPatterns), measure = Draw(1, kMeasures);
                const int slot = Draw(1, StepsPerMeasureOf(m->song)), velocity = Draw(1, 127);
                EXPECT_TRUE(edits->RecordHit(pattern, measure, channel, slot, velocity));
                EXPECT_EQ(m->song.cell(pattern, measure, channel, slot).velocity, velocity);
                EXPECT_FALSE(edits->RecordHit(pattern, measure, channel, kSlots + 1, velocity));
                return "Record channel " + number + ", step " + std::to_string(slot);
            }
            case 0: {
                const int slot = Draw(1, kSlots);
                edits->ToggleStep(slot);
                return "Toggle step " + std::to_string(slot);
            }
            case 1:
                edits->SetNoteDetails(Draw(0, 127), Draw(0, 127), Draw(0, 1) == 1);
                return "Note details";
            case 2:
                // A drag by mouse or by a held key: many values, one entry at the release.
                for (int i = Draw(1, 4); i > 0; --i)
                    edits->DragChannelVolume(channel, Draw(0, 127));
                edits->EndDrag();
                return "Volume channel " + number;
            case 3:
                for (int i = Draw(1, 4); i > 0; --i) edits->DragTempo(Draw(kTempoMin, kTempoMax));
                edits->EndDrag();
                return "Tempo";
            case 4:
                for (int i = Draw(1, 4); i > 0; --i)
                    edits->DragShuffle(Draw(kShuffleMin, kShuffleMax));
                edits->EndDrag();
                return "Shuffle";
            case 5:
                edits->DragDistortionGain(Draw(0, kDistortionGainMax));
                edits->EndDrag();
                return "Distortion gain";
            case 6:
                edits->DragDistortionThreshold(Draw(0, kDistortionThresholdMax));
                edits->EndDrag();
                return "Distortion threshold";
            case 19:
                edits->EnterTempo(DialogResult::Ok, std::to_string(Draw(0, 300)));
                return "Tempo";
            case 7:
                edits->ToggleMute(channel);
                return "Mute channel " + number;
            case 8:
                edits->ToggleDistortion(channel);
                return "Distortion channel " + number;
            case 9:
                edits->ChooseInstrument(InstrumentOfRows({Draw(-1, 19), Draw(-1, 19)}));
                return "Instrument choice";
            case 10:
                edits->SetMeasureCount(Draw(1, kMeasures));
                return "Measure count";
            case 11: {
                const int steps = Draw(0, 1) ? 12 : 16;
                edits->SetStepsPerMeasure(steps);
                return std::to_string(steps) + " step measure";
            }
            case 12: {
                // Copied somewhere else, pasted here.
                void (*copy[])(Machine&) = {CopyChannel, CopyMeasure, CopyPattern};
                copy[Draw(0, 2)](*m);
                MoveAround();
                const MenuEdit paste = Draw(0, 1) ? MenuEdit::Paste : MenuEdit::PasteMix;
                edits->ApplyMenuEdit(paste);
                return MenuEditText(*m, paste);
            }
            case 13: {
                const auto edit = static_cast<MenuEdit>(
                    Draw(int(MenuEdit::FadeInChannel), int(MenuEdit::EraseMeasure)));
                edits->ApplyMenuEdit(edit);
                return MenuEditText(*m, edit);
            }
            case 14: {
                const SlideField field = Draw(0, 1) ? SlideField::Velocity : SlideField::Pan;
                edits->ApplySlide(field, DialogResult::Ok, Draw(0, 127), Draw(0, 127));
                return field == SlideField::Velocity ? "Custom velocity slide" : "Custom pan slide";
            }
            case 15: {
                const int index = Draw(0, kGrooveMenuSize - 1);
                edits->ApplyGrooveMenuEntry(index);
                const std::string caption(GrooveMenuCaption(index));
                return index == kRandomChaosMenuIndex ? caption : "Apply groove " + caption;
            }
            case 16:
                edits->ToggleHumanize();
                return "Humanize";
            case 17: {
                SongInfoDialog dialog;
                dialog.Show(*m, SongInfoMode::Edit);
                SongInfoFields f;
                f.title = "Take " + std::to_string(Draw(0, 9));
                f.author = Draw(0, 1) ? "" : "Someone";
                f.showInfoOnOpen = Draw(0, 1) == 1;
                edits->ApplySongInfo(dialog, f);
                return "Song info";
            }
            case 18:
                edits->EnterShuffle(DialogResult::Ok, std::to_string(Draw(0, 100)));
                return "Shuffle";
            default: {
                const int slot = Draw(1, kSlots);  // many small edits, as in a real session
                edits->ToggleStep(slot);
                return "Toggle step " + std::to_string(slot);
            }
        }
    }

    // The bank activation takes the active userbank into the Song (and its saved state) now
    // and then.
    void ActivateSomeUserbank() {
        m->song.userbankFile.set("/banks/" + std::to_string(Draw(0, 999)) + ".ubf");
        m->song.userbankDescription.set("bank " + std::to_string(Draw(0, 9)));
        m->savedSong.userbankFile = m->song.userbankFile;
        m->savedSong.userbankDescription = m->song.userbankDescription;
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
        std::vector<std::int32_t> t(std::begin(machine.player.clock.StepLength),
                                    std::end(machine.player.clock.StepLength));
        t.push_back(machine.player.clock.MeasureLength);
        return t;
    }

    // The changed mark is on exactly when the bytes differ from those saved.
    void ExpectMarkFollows(const Song& saved) { EXPECT_EQ(SongChanged(*m), !SongIs(saved)); }

    // What follows the Song after an undo or a redo.
    void ExpectDerivedStateFollows(const Song& saved) {
        ExpectMarkFollows(saved);
        EXPECT_FALSE(m->editor.StartPrepared);
        EXPECT_EQ(m->editor.HumanizeChecked, m->song.humanize != 0);
        auto ref = test::NewMachine();
        ref->song = m->song;
        SetTempo(PlayerOf(*ref), m->song.tempo, m->song.shuffle);
        EXPECT_EQ(Timing(*m), Timing(*ref));
    }
};

// Random sequences of every kind of edit, through the edit layer, on random songs, with undo,
// redo, saves and new edits on the way: each edit is one entry named for it, one undo gives
// exactly the bytes before it, undoing everything gives the starting bytes, redoing everything
// the last ones, and the changed mark is set exactly when the bytes differ from those saved.
TEST_F(SongHistoryWalk, EveryWalkMatchesTheBytesRecordedAlongTheWay) {
    for (int round = 0; round < 60; ++round) {
        RandomSong();
        MarkSongSaved(*m);
        edits = std::make_unique<SongEditor>(*m);  // as after an open
        const SongHistory& h = edits->history();
        Song saved = m->song;
        std::vector<Song> states{m->song};  // the branch the history can reach
        std::vector<std::string> texts{""};
        std::size_t position = 0;

        for (int step = 0; step < 120; ++step) {
            const int what = Draw(0, 19);
            if (what < 9) {
                if (Draw(0, 5) == 0) MoveAround();
                if (Draw(0, 9) == 0) ActivateSomeUserbank();
                m->editor.StartPrepared = true;
                const std::string text = RandomEdit();
                if (SongIs(states[position])) {
                    ASSERT_EQ(h.Position(), position) << text << ": nothing changed";
                    continue;
                }
                states.resize(position + 1);
                texts.resize(position + 1);
                ASSERT_EQ(h.Position(), position + 1) << text;
                states.push_back(m->song);
                texts.push_back(text);
                ++position;
                EXPECT_EQ(edits->UndoText(), text);
                EXPECT_FALSE(h.CanRedo());
                ExpectMarkFollows(saved);
                // One undo gives exactly the bytes before it; a redo the bytes after.
                ASSERT_TRUE(edits->Undo());
                ASSERT_TRUE(SongIs(states[position - 1])) << "undo of " << text;
                ASSERT_TRUE(edits->Redo());
                ASSERT_TRUE(SongIs(states[position])) << "redo of " << text;
            } else if (what < 14) {
                ASSERT_EQ(edits->Undo(), position > 0);
                if (position == 0) continue;
                --position;
                ASSERT_TRUE(SongIs(states[position])) << "undo to " << position;
                EXPECT_EQ(edits->RedoText(), texts[position + 1]);
                ExpectDerivedStateFollows(saved);
            } else if (what < 18) {
                ASSERT_EQ(edits->Redo(), position + 1 < states.size());
                if (position + 1 == states.size()) continue;
                ++position;
                ASSERT_TRUE(SongIs(states[position])) << "redo to " << position;
                EXPECT_EQ(edits->UndoText(), texts[position]);
                ExpectDerivedStateFollows(saved);
            } else {
                // A save: these bytes are the saved state, the history stays.
                MarkSongSaved(*m);
                saved = m->song;
                EXPECT_FALSE(SongChanged(*m));
            }
            ASSERT_EQ(h.Position(), position);
            ASSERT_EQ(h.EntryCount(), states.size() - 1);
        }

        while (edits->Undo()) {
        }
        ASSERT_TRUE(SongIs(states.front())) << "round " << round;
        ExpectMarkFollows(saved);
        while (edits->Redo()) {
        }
        ASSERT_TRUE(SongIs(states.back())) << "round " << round;
        ExpectMarkFollows(saved);
    }
}

// A drag is one entry however many values it passed; the next edit or an undo ends it first,
// so its entry never takes in another edit.
TEST_F(SongHistoryWalk, ADragIsOneEntryEndedByTheNextCall) {
    RandomSong();
    NormalizeSong(m->song);
    m->song.tempo = 120;
    MarkSongSaved(*m);
    edits = std::make_unique<SongEditor>(*m);
    const Song start = m->song;
    for (int tempo : {60, 70, 80}) edits->DragTempo(tempo);
    edits->ToggleStep(3);
    EXPECT_EQ(edits->history().EntryCount(), 2u);
    ASSERT_TRUE(edits->Undo());
    EXPECT_EQ(edits->UndoText(), "Tempo");
    EXPECT_EQ(m->song.tempo, 80);
    for (int tempo : {90, 100}) edits->DragTempo(tempo);
    ASSERT_TRUE(edits->Undo());
    EXPECT_EQ(m->song.tempo, 80);
    ASSERT_TRUE(edits->Undo());
    EXPECT_TRUE(SongIs(start));
    EXPECT_FALSE(SongChanged(*m));
}

// A change of the Song outside the history (a userbank from the menu) keeps the mark set until
// the next save, whatever is undone.
TEST_F(SongHistoryWalk, AChangeOutsideTheHistoryKeepsTheMarkUntilSaved) {
    RandomSong();
    MarkSongSaved(*m);
    edits = std::make_unique<SongEditor>(*m);
    m->song.userbankFile.set("/banks/other.ubf");  // as a userbank load from the menu leaves it
    NoteUserbank();
    EXPECT_TRUE(SongChanged(*m));
    edits->ToggleMute(3);
    ASSERT_TRUE(edits->Undo());
    EXPECT_TRUE(SongChanged(*m));
    EXPECT_FALSE(edits->Undo());

    MarkSongSaved(*m);  // saved
    ASSERT_TRUE(edits->Redo());
    EXPECT_TRUE(SongChanged(*m));
    ASSERT_TRUE(edits->Undo());
    EXPECT_FALSE(SongChanged(*m));
}

// Entries past the memory limit go, oldest first: what stays still undoes to the bytes of its
// own position, a saved state that went is no longer reachable, and the newest edit stays.
TEST_F(SongHistoryWalk, TheOldestEntriesGoPastTheMemoryLimit) {
    RandomSong();
    history.Restart(m->song, m->arrangement);
    std::vector<Song> states{m->song};
    const int edits = static_cast<int>(kHistoryMemoryLimit / (2 * sizeof(Song))) + 20;
    for (int i = 0; i < edits; ++i) {
        FillWithNoise(m->song);  // every byte changes: the largest entry there is
        NoteUserbank();
        ASSERT_TRUE(history.Record(m->song, m->arrangement, "Everything"));
        states.push_back(m->song);
        ASSERT_LE(history.MemoryUsed(), kHistoryMemoryLimit);
    }
    const std::size_t kept = history.EntryCount();
    EXPECT_LT(kept, static_cast<std::size_t>(edits));
    EXPECT_GT(kept, static_cast<std::size_t>(edits) / 2);
    EXPECT_TRUE(SongChanged(*m));
    for (std::size_t back = 1; back <= kept; ++back) {
        ASSERT_TRUE(history.Undo(m->song, m->arrangement));
        ASSERT_TRUE(SongIs(states[states.size() - 1 - back]));
        EXPECT_TRUE(SongChanged(*m));  // the bytes differ from those opened
    }
    EXPECT_FALSE(history.CanUndo());
}

// The Edit menu's texts name what is pasted.
TEST(MenuEditText, NamesTheEditAndWhatIsPasted) {
    auto m = test::NewMachine();
    m->editor.ClipboardKind = 3;
    EXPECT_EQ(MenuEditText(*m, MenuEdit::Paste), "Paste pattern");
    m->editor.ClipboardKind = 1;
    EXPECT_EQ(MenuEditText(*m, MenuEdit::PasteMix), "Paste mix channel");
    EXPECT_EQ(MenuEditText(*m, MenuEdit::FadeOutMeasure), "Fade out measure");
}

}  // namespace
}  // namespace qtam
