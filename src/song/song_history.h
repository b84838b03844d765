#pragma once
// The undo history of the Song and its arrangement: every edit a person makes, kept as the bytes
// of the Song record and the arrangement it changed (before and after) with a short text for
// the menu ("Toggle step 5").
//
// The history holds one copy of both as they stand at the current position. Recording an
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
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qtam {

struct Song;
struct Arrangement;

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

    // An empty history starting at `song` (a new or opened Song).
    void Restart(const Song& song, const Arrangement& arrangement);

    // Records what differs in `song` from the state at the current position as one entry
    // named `text`; the entries that could have been redone are dropped. False, recording
    // nothing, when nothing differs.
    bool Record(const Song& song, const Arrangement& arrangement, std::string text);

    // Writes back the bytes of the entry before the current position (Undo) or after it
    // (Redo) and moves there; false when there is none. An edit not yet recorded is recorded
    // first: Undo takes it back, and as a new edit it leaves nothing to redo.
    bool Undo(Song& song, Arrangement& arrangement);
    bool Redo(Song& song, Arrangement& arrangement);

    bool CanUndo() const { return position_ > 0; }
    bool CanRedo() const { return position_ < entries_.size(); }
    // The text of the entry Undo or Redo would take; empty when there is none.
    std::string_view UndoText() const;
    std::string_view RedoText() const;

    std::size_t EntryCount() const { return entries_.size(); }
    std::size_t Position() const { return position_; }
    // The bytes the entries hold: their records, texts and changed bytes (the copy of the
    // Song, 103 450 bytes for the whole session, is not counted).
    std::size_t MemoryUsed() const { return memory_; }

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
    void Apply(const Entry& entry, bool after, Song& song, Arrangement& arrangement);
    void DropOldestPastLimit();

    std::unique_ptr<Song> current_;  // the Song at the current position
    std::unique_ptr<Arrangement> currentArrangement_;
    std::deque<Entry> entries_;
    std::size_t position_ = 0;  // entries before it are done, entries from it are undone
    std::size_t memory_ = 0;
};

}  // namespace qtam
