#pragma once
// The play clock: step lengths from the tempo, the step advance that triggers, fades and chokes
// the voices, and the switch to the next pattern. The frame mixers (mixer.h) call Tick after
// every frame. Nothing here allocates, locks or does I/O.

#include <cstdint>

namespace qtam {

struct Machine;
struct Player;
struct SampleSlot;

// Recomputes StepLength and MeasureLength; call whenever tempo, shuffle or stepsPerMeasure change.
// Thread: owner.
void SetTempo(Player& m, int tempo, int shuffle);
// Every voice's rate and length from its channel's sound in the playing pattern.
// Thread: owner.
void UpdateVoiceRates(Player& m);
// Frames from the start of step `slot` to the channel's next note, at most one pattern cycle.
// Thread: owner.
std::int32_t GateLength(const Player& m, int channel, int slot);
// Cuts the sounding voices whose hi-hat partner strikes on the current step.
// Thread: owner.
void ChokeHihats(Player& m);
// One frame of the clock: the voices advance, or a new step begins and triggers its notes.
// Thread: owner.
void Tick(Player& m);

// The clock back at step 1 of measure 1 of the edited pattern (in song mode, of the
// arrangement's start entry), every voice silent; Playing and Streaming are left alone.
// Thread: owner.
void RewindClock(Player& m);
// RewindClock after a stop: Playing and Streaming cleared as well (a stream file is finished
// by the caller beforehand).
// Thread: owner.
void ResetTransport(Machine& m);
// Song mode. The clock at measure 1 of arrangement entry 1..count, its first pass, with the
// entry's mutes; the step and the voices are left alone.
// Thread: whichever owns `m`; never allocates, locks or does I/O.
void EnterEntry(Player& m, int entry);
// Out of song mode: patterns loop as queued. Thread: whichever owns `m`.
void LeaveSongMode(Player& m);
// The clock at the entry, pass and measure of arrangement measure `measure` (0 at the start
// of entry 1); past the end of a list that stops, the arrangement has ended (false).
// Thread: whichever owns `m`; never allocates, locks or does I/O.
bool PlaceInArrangement(Player& m, std::int64_t measure);
// The list has ended: nothing more triggers, the voices ring out.
// Thread: whichever owns `m`; never allocates, locks or does I/O.
void EndArrangement(Player& m);

// Triggers the notes at step 1 of PlayMeasure for a start of live playback, and begins the
// record of step starts there.
// Thread: owner.
void PrepareStart(Player& m);
// Places the clock within the playing pattern at `step` of `measure`, `counter` frames into the
// step (1 on its first frame); the voices are left alone.
// Thread: whichever owns `m`; never allocates, locks or does I/O.
void PlaceClock(Player& m, int measure, int step, std::int32_t counter);
// Triggers the notes of the clock's step as the clock does when a step begins.
// Thread: whichever owns `m`; never allocates, locks or does I/O.
void TriggerStep(Player& m);
// A pad hit: the channel's sound starts now at `velocity` (1..127) and plays out, whether
// the clock runs or not. Thread: whichever owns `m`; never allocates, locks or does I/O.
void TriggerPad(Player& m, int channel, int velocity);
// Every voice falls silent at once. Thread: whichever owns `m`.
void SilenceVoices(Player& m);
// Places the clock at step 1 of measure 1..16 of the edited pattern for an offline render.
// Thread: owner.
void StartRender(Machine& m, int measure);
// The next measure of a whole-pattern render; voices without a note at its step 1 sound on.
// Thread: owner.
void NextRenderMeasure(Player& m, int measure);

// The sound a channel names in the playing pattern; null for an invalid instrument number.
// Thread: owner.
const SampleSlot* ChannelSound(const Player& m, int channel);

}  // namespace qtam
