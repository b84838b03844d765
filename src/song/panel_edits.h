#pragma once
// What the groove panel's controls and its small dialogs change: one function per edit, on the
// Song, the editor state and the play clock. The windows only draw the outcome. Edits at "the
// current channel", "the current pattern" or "the current measure" work at the edit position
// in m.editor.
//
// Each says whether it marks the Song changed and whether it drops a prepared start; the
// difference between the two is kept as it always was (see EditorState::MarkEdited).
//
// Thread: user interface (the Machine's owner), every function here.

#include <cstdint>
#include <string_view>

#include "core/song.h"
#include "song/slides.h"

namespace qtam {

struct Machine;

// The ranges the panel's controls give; a value outside goes to the nearer limit.
inline constexpr int kChannelVolumeMax = 127;
inline constexpr int kShuffleMin = 100;  // stored; the user sees 2 * (shuffle - 100)
inline constexpr int kShuffleMax = 150;
inline constexpr int kDistortionGainMax = 64;
inline constexpr int kDistortionThresholdMax = 64 * 79;
inline constexpr int kMainVolumeMax = 255;

// ---- The step buttons

// Slot 1..16 of the current channel in the current measure: a note becomes an empty cell
// (velocity 255), anything else a note of velocity 80. Either way pan 64, not reversed and
// the 16-bit reserved field cleared; the reserved byte stays. Marks the Song edited. Returns
// whether the slot now holds a note (false, and nothing written, for a slot outside 1..16).
// Thread: user interface.
bool ToggleStep(Machine& m, int slot);
// ToggleStep on any channel 1..8 of the current measure.
// Thread: user interface.
bool ToggleCell(Machine& m, int channel, int slot);
// Makes the cell of channel 1..8, slot 1..16 of the current measure hold a note (as a click sets
// it) or none, unless it already does. Returns whether it changed.
// Thread: user interface.
bool PaintCell(Machine& m, int channel, int slot, bool note);

// The velocity of the note of channel 1..8, slot 1..16 in the current measure, kept in
// 1..127; a cell without a note stays empty. Returns the velocity it has now, or -1 for no
// note. Thread: user interface.
int SetCellVelocity(Machine& m, int channel, int slot, int velocity);

// "Ok" of the note details of the cell at CurrentStep: writes only the values that differ
// (velocity and pan kept in 0..127) and then sets the changed mark; a prepared start stays.
// A cell without a note stays as it is. Returns whether anything was written.
// Thread: user interface.
bool SetNoteDetails(Machine& m, int velocity, int pan, bool reversed);

// ---- The channel strip (channel 1..8 of the current pattern; others change nothing)

// The switch turns on exactly when it is not 1. Both mark the Song edited.
// Thread: user interface.
void ToggleMute(Machine& m, int channel);
void ToggleDistortion(Machine& m, int channel);

// Stores 0..kChannelVolumeMax and marks the Song edited.
// Thread: user interface.
void SetChannelVolume(Machine& m, int channel, int volume);

// The instrument list's choice for the current channel: 1..20 the kit, 101..120 the userbank;
// any other number (0: nothing chosen) changes nothing. Only a different instrument is
// written, and then only the changed mark is set; a prepared start stays. Returns whether it
// was written.
// Thread: user interface.
bool ChooseInstrument(Machine& m, int instrument);

// ---- The song's timing: each stores the value, recomputes the step timing and marks the Song
// edited.

// Beats per minute, kTempoMin..kTempoMax.
// Thread: user interface.
void SetSongTempo(Machine& m, int tempo);
// The stored shuffle, kShuffleMin..kShuffleMax.
// Thread: user interface.
void SetSongShuffle(Machine& m, int shuffle);

// ---- The distortion of the current pattern: stored and the Song marked edited.

// 0..kDistortionGainMax.
// Thread: user interface.
void SetDistortionGain(Machine& m, int gain);
// 0..kDistortionThresholdMax.
// Thread: user interface.
void SetDistortionThreshold(Machine& m, int threshold);

// ---- The main volume knob: not part of the Song, so nothing is recorded. The mixer moves
// MainVolume toward the target while playing; stopped, it follows at once. 0..kMainVolumeMax.
// Drops a prepared start.
// Thread: user interface.
void SetMainVolume(Machine& m, int target);

// ---- Patterns and measures

// Pattern 1..8 on the keypad: edits it from measure 1 and queues it for playback. While
// playing the clock changes to it at the end of its measure; stopped, it plays from it at
// once. Drops a prepared start but does not mark the Song changed. Returns false, changing
// nothing, for the pattern already edited or a number outside 1..8.
// Thread: user interface.
bool ChoosePattern(Machine& m, int pattern);

// Edits measure 1..count of the current pattern; nothing is marked.
// Thread: user interface.
void ChooseMeasure(Machine& m, int measure);

// The current pattern's measure count, 1..16; marks the Song edited. The edited measure is
// left where it is, even past the new count.
// Thread: user interface.
void SetMeasureCount(Machine& m, int count);

// ---- The value dialogs of tempo and shuffle

// On Ok: stores the entered value (text read as ReadValueEntry does, within the range the
// dialog shows) through SetSongTempo or SetSongShuffle. Returns whether the Song was written
// (Cancel writes nothing).
// Thread: user interface.
bool EnterTempo(Machine& m, DialogResult result, std::string_view text);
bool EnterShuffle(Machine& m, DialogResult result, std::string_view text);

}  // namespace qtam
