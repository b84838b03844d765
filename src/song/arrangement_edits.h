#pragma once
// The changes an arrangement takes, on the record alone: the edit layer (song_editor.h) calls
// them, records each as one undoable entry and tells the windows. Each keeps the record plain:
// entries past the count stay zero, and the loop keeps naming the entry it named (or the
// list stops when that entry goes). False, changing nothing, for a request out of range.
//
// Thread: any (they touch only the record given).

#include <cstdint>

namespace qtam {

struct Arrangement;

// A new entry of `pattern` (1..8) played `repeats` (1..99) times, without mutes, inserted
// before entry `at` (1..count+1; count+1 appends).
bool InsertEntry(Arrangement& a, int at, int pattern, int repeats);
// A copy of entry `entry` right after it.
bool DuplicateEntry(Arrangement& a, int entry);
bool DeleteEntry(Arrangement& a, int entry);
// Entry `entry` moves to place `to` (1..count), the others close up.
bool MoveEntry(Arrangement& a, int entry, int to);
bool SetEntryPattern(Arrangement& a, int entry, int pattern);
bool SetEntryRepeats(Arrangement& a, int entry, int repeats);
// The channels the entry mutes, bit c-1 for channel c.
bool SetEntryMutes(Arrangement& a, int entry, std::uint8_t mutes);
// 0: the list ends playback; 1..count: it goes on at that entry.
bool SetArrangementLoop(Arrangement& a, int loopTo);

}  // namespace qtam
