#pragma once
// The "&Edit" menu: copy and paste through the private clipboard, and the fixed velocity and
// pan shapes of one channel or one measure. Everything works at the edit position and on all
// 16 slots, whatever stepsPerMeasure is. None of these marks the Song changed or drops a
// prepared start. After Paste, Paste mix and both Erase items the caller refreshes the panel.

namespace qtam {

struct Machine;

void CopyChannel(Machine& m);
void CopyMeasure(Machine& m);
void CopyPattern(Machine& m);

// Overwrites the current channel, measure or pattern with what was copied last.
void Paste(Machine& m);
// Fills only the free cells (velocity byte exactly 255) from the clipboard.
void PasteMix(Machine& m);

void FadeInChannel(Machine& m);
void FadeOutChannel(Machine& m);
void FadeInMeasure(Machine& m);
void FadeOutMeasure(Machine& m);

void PanLeftToRight(Machine& m);
void PanRightToLeft(Machine& m);
void PanCenter(Machine& m);
// Reseeds m.random from the clock first.
void PanRandomly(Machine& m);
void PanInverse(Machine& m);

void EraseChannel(Machine& m);

// The pattern grid's row menu: channel 1..8 of the edited measure gets a note on slot `from`
// and on every `every`-th slot after it, up to the last step of the measure; a note already
// there keeps its velocity, pan and direction, a new one is written as a click writes it.
// `every` 0 clears the whole row instead. Returns whether a cell changed.
bool FillRow(Machine& m, int channel, int from, int every);
void EraseMeasure(Machine& m);

// The 16/12-step switch: stores the mode and recomputes the step timing. Slots 13..16 keep
// their contents; the Song is not marked changed.
void SetStepsPerMeasure(Machine& m, int steps);

}  // namespace qtam
