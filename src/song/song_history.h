#pragma once
// The undo history of the Song: every edit a person makes, kept as the bytes of the Song record
// it changed (before and after) with a short text for the menu ("Toggle step 5").
//
// The history holds one copy of the Song as it stands at the current position. Recording an
// edit compares the Song with that copy, so a window only says when an edit is complete (a
// drag when the button is released): whatever changed since the last record is one entry.
//
// The userbank fields are never recorded nor written back: they name the active userbank,
// which the bank activation takes into the Song by itself, and an undo cannot reload a bank.
//
// Thread: user interface (the Machine's owner), every function here.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qtam {

struct Machine;
struct Song;

// The text of an edit found without a name (made before Undo, Redo or a save recorded it).
inline constexpr std::string_view kUnnamedEdit = "Edit";
// Past this many bytes of entries the oldest entries are dropped (a guard against sessions
// of huge edits: ordinary sessions stay far below it).
inline constexpr std::size_t kHistoryMemoryLimit = std::size_t{32} << 20;

class SongHistory {
public:
    SongHistory();
    ~SongHistory();
    SongHistory(const SongHistory&) = delete;
    SongHistory& operator=(const SongHistory&) = delete;

    // An empty history starting at `song`, which is the saved state (a new or opened Song).
    void Restart(const Song& song);

    // Records what differs in `song` from the state at the current position as one entry
    // named `text`; the entries that could have been redone are dropped. False, recording
    // nothing, when nothing differs.
    bool Record(const Song& song, std::string text);

    // Writes back the bytes of the entry before the current position (Undo) or after it
    // (Redo) and moves there; false when there is none. An edit not yet recorded is recorded
    // first: Undo takes it back, and as a new edit it leaves nothing to redo.
    bool Undo(Song& song);
    bool Redo(Song& song);

    bool CanUndo() const { return position_ > 0; }
    bool CanRedo() const { return position_ < entries_.size(); }
    // The text of the entry Undo or Redo would take; empty when there is none.
    std::string_view UndoText() const;
    std::string_view RedoText() const;

    // `song` was saved: it is recorded (when an edit is not yet) and its position becomes
    // the saved state.
    void MarkSaved(const Song& song);
    // No position is the saved state (the Song changed outside the history).
    void ForgetSaved();
    // The current position is the saved state.
    bool AtSaved() const { return saved_ == position_; }

    std::size_t EntryCount() const { return entries_.size(); }
    std::size_t Position() const { return position_; }
    // The bytes the entries hold: their records, texts and changed bytes (the copy of the
    // Song, 103 450 bytes for the whole session, is not counted).
    std::size_t MemoryUsed() const { return memory_; }

    // Called after every change of the entries, the position or the saved state (for the
    // menu items); may be empty.
    std::function<void()> Changed;

private:
    struct Entry {
        std::string text;
        // One run of changed bytes after another: its distance from the end of the run
        // before and its length (each a number in 7-bit groups), then its bytes before the
        // edit, then after it.
        std::vector<std::uint8_t> runs;
    };
    static std::size_t MemoryOf(const Entry& entry);
    // Writes the `after` (or before) bytes of every run of `entry` into `song` and the copy.
    void Apply(const Entry& entry, bool after, Song& song);
    void DropOldestPastLimit();
    void Notify();

    static constexpr std::size_t kNoSavedState = static_cast<std::size_t>(-1);

    std::unique_ptr<Song> current_;  // the Song at the current position
    std::deque<Entry> entries_;
    std::size_t position_ = 0;  // entries before it are done, entries from it are undone
    std::size_t saved_ = 0;
    std::size_t memory_ = 0;
};

// ---- With the Machine: the changed mark and what follows the Song's bytes come along.

// Records the edit just made (`text` names it). When it was recorded, the Song is marked
// changed unless the position is the saved state. False when nothing of the Song changed.
bool RecordEdit(Machine& m, SongHistory& history, std::string text);

// Undo and Redo of the Song: afterwards the changed mark says whether the position is the
// saved state, the step timing, the Humanize check and the caption follow the Song, and a
// prepared start is dropped (a playing mixer takes the Song at its next block).
bool UndoEdit(Machine& m, SongHistory& history);
bool RedoEdit(Machine& m, SongHistory& history);

// After a flow of the File menu: when it left the changed mark clear (a save went through),
// the current position becomes the saved state.
void TakeSavedState(const Machine& m, SongHistory& history);

// The text of an edit of the Edit menu (edit_ops.h) for the history: "Paste pattern",
// "Fade in channel", ... (kUnnamedEdit for a function that is no menu edit).
std::string MenuEditText(const Machine& m, void (*operation)(Machine&));

}  // namespace qtam
