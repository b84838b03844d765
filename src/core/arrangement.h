#pragma once
// The arrangement: the patterns in the order a whole track plays them. Each entry plays a
// pattern a number of times, with some channels muted for its length; at the end of the list
// playback stops or goes on at an entry. A Song without an arrangement (no entries) plays its
// patterns as queued. It is kept beside the Song record and stored after it in the song file.

#include <cstdint>

#include "core/song.h"

namespace qtam {

inline constexpr int kMaxEntries = 256;
inline constexpr int kMaxRepeats = 99;

#pragma pack(push, 1)

struct ArrangementEntry {
    std::uint8_t pattern = 0;   // 1..8
    std::uint8_t repeats = 0;   // 1..99
    std::uint8_t mutes = 0;     // bit c-1: channel c is muted while the entry plays
    std::uint8_t reserved = 0;  // always 0
};

// A plain record, compared and kept for undo byte by byte: entries past `count` stay zero.
struct Arrangement {
    std::uint16_t count = 0;   // 0: no arrangement
    std::uint16_t loopTo = 0;  // 0: the list ends playback; 1..count: it goes on at that entry
    ArrangementEntry entries[kMaxEntries] = {};

    bool empty() const { return count == 0; }
    // 1-based, as everywhere in the model.
    const ArrangementEntry& entry(int n) const { return entries[n - 1]; }
    ArrangementEntry& entry(int n) { return entries[n - 1]; }
};

#pragma pack(pop)

static_assert(sizeof(ArrangementEntry) == 4);

// Whether channel c (1..8) of a mute byte is muted.
inline bool MutesChannel(std::uint8_t mutes, int channel) {
    return ((mutes >> (channel - 1)) & 1u) != 0;
}

// Where the arrangement is: entry 1..count, its pass 1..repeats and the pattern's measure.
struct ArrangementPlace {
    int entry = 0;  // 0: past the end of a list that stops
    int pass = 1;
    int measure = 1;
};

// Measures an entry lasts (its pattern's measures times its repeats).
int EntryMeasures(const Song& song, const ArrangementEntry& e);
// Measures the list lasts once through.
std::int64_t ArrangementMeasures(const Song& song, const Arrangement& a);
// The measure counted from 0 at the start of entry 1 that entry `entry` begins on.
std::int64_t EntryStartMeasure(const Song& song, const Arrangement& a, int entry);
// The place of measure `measure` (counted from 0 at the start of entry 1); a list that loops
// goes round its loop as often as needed. Linear in the entries.
ArrangementPlace PlaceOfMeasure(const Song& song, const Arrangement& a, std::int64_t measure);
// The first entry that plays `pattern`; 0 when none does.
int FirstEntryOf(const Arrangement& a, int pattern);
// True when every entry is in range, the loop names an entry and unused entries are zero.
bool ArrangementValid(const Arrangement& a);

}  // namespace qtam
