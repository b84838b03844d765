#pragma once
// The groove panel's pixel positions and the values they stand for. The controls are pictures
// dragged over the skin, so these mappings are the behaviour; the panel only moves pictures.
// No Qt here, so they can be checked without a display; the positions come from the panel's
// layout table.

#include <cstdint>

#include "ui/groove_panel/panel_layout.h"

namespace qtam {

// Nearest integer, halves to the even neighbour (12.5 -> 12, 37.5 -> 38).
int Nearest(double x);

// ---- Step buttons of the 12-step measure

// Slot 1..12 -> visible button; 0 outside.
int StepToButton12(int slot);
// Button 1..16 -> slot; 0 for the four covered buttons and outside.
int ButtonToStep12(int button);
// The slot a button edits under the given steps per measure (0: none).
int SlotOfButton(int button, int stepsPerMeasure);
// The button that shows a slot (0: not shown).
int ButtonOfSlot(int slot, int stepsPerMeasure);

// ---- Dragging

// A picture dragged by the mouse at `mouse` (relative to the picture, grabbed 11 pixels in)
// from `position`, kept within lo..hi.
int DraggedPosition(int position, int mouse, int lo, int hi);

// ---- Channel volume sliders (top 75..163)

using layout::kVolumeSliderTopMax;
using layout::kVolumeSliderTopMin;
int VolumeFromSliderTop(int top);
int VolumeSliderTop(int volume);

// ---- Tempo and shuffle sliders (left 206..270; the offset is left - 206)

using layout::kTempoSliderLeftMax;
using layout::kTempoSliderLeftMin;
int TempoFromSliderOffset(int offset);
int ShuffleFromSliderOffset(int offset);
int TempoSliderOffset(int tempo);
int ShuffleSliderOffset(int shuffle);

// ---- Distortion gain and threshold sliders (left 454..518)

using layout::kDistSliderLeftMax;
using layout::kDistSliderLeftMin;
inline constexpr int kThresholdStep = 79;
int DistortionGainFromSliderLeft(int left);
int DistortionThresholdFromSliderLeft(int left);
int DistSliderLeft(int distortionGain);
int ThresholdSliderLeft(int distortionThreshold);

// ---- Main volume knob

using layout::kKnobTop;
// The target a drag sets: KnobBase + (top - y - top), taken in 16 bits, then kept in 0..255.
int KnobDragTarget(std::int16_t knobBase, int y);

struct KnobPoint {
    int x;
    int y;
    bool operator==(const KnobPoint&) const = default;
};
struct KnobLine {
    KnobPoint inner;
    KnobPoint outer;
};
// The pointer line for a main volume, on the knob picture's own 53 x 53 canvas.
KnobLine KnobLineFor(int mainVolumeTarget);

// ---- Pattern keypad (69 x 39): top row 1..4, bottom row 5..8

int PatternAtKeypad(int x, int y);

}  // namespace qtam
