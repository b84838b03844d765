#pragma once
// A pattern as a Standard MIDI File, as `qtam-cli midi` and File > Export MIDI file write it.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/song.h"

namespace qtam {

struct Machine;

// Pattern 1..8 of the Song as the bytes of a MIDI file: format 1, 96 ticks per quarter note,
// the song's tempo and time signature (16 steps 4/4, 12 steps 3/4), one track per channel that
// is not muted, named after its sound, notes on MIDI channel 10 where the mixer starts them.
// Thread: owner.
std::vector<std::uint8_t> PatternAsMidi(const Machine& m, int pattern);
// The whole arrangement, once through, the same way: each entry's pattern as often as it
// repeats, one after another, without the channels the entry mutes; a track for each channel
// that sounds in any entry. Thread: owner.
std::vector<std::uint8_t> ArrangementAsMidi(const Machine& m);

// The drum note of a channel playing sound `code` (a kit slot 1..20 by its General MIDI
// drum, a userbank slot 101..120 by its name, otherwise by the channel's usual role): the
// notes of the MIDI file, of the JACK MIDI notes out and of the pads in.
// Thread: owner.
std::uint8_t DrumNoteFor(const Machine& m, int code, int channel);
// DrumNoteFor of every channel of a pattern.
// Thread: owner.
std::array<std::uint8_t, kChannels> DrumNotesOf(const Machine& m, int pattern);

// File > Export MIDI file: the edited pattern (in song mode, with an arrangement, the whole
// arrangement) into `fileName` (".mid" added to a name without
// any dot), asking before an existing file is replaced. False when nothing was written (the
// user has been told why, or declined).
// Thread: owner.
bool ExportPatternAsMidi(Machine& m, const std::string& fileName);

}  // namespace qtam
