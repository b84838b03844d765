#pragma once
// The custom velocity and pan slides, the note details of one step, and the value entry that
// the panel uses for tempo and shuffle. Each takes the dialog's outcome as it closed.

#include <string>
#include <string_view>

namespace qtam {

struct Machine;
struct Song;

enum class DialogResult { Ok, Cancel };

// ---- Custom slides ("Channel" > "Custom velocity slide" / "Custom pan slide")

enum class SlideField { Velocity, Pan };

inline constexpr int kSlideInitialValue = 64;  // both bars and both numbers on every opening
inline constexpr std::string_view kSlideStartLabel = "Startvalue (step 1)";

// "Endvalue (step 16)" or "Endvalue (step 12)".
std::string CustomSlideEndLabel(const Song& song);

// The ramp's value on slot 1..steps: start on slot 1, end on slot `steps`, rounded, ties to even.
int SlideValue(int start, int end, int slot, int steps);

// On Ok: lays the ramp over the notes of the current channel's first stepsPerMeasure slots;
// empty cells keep their place in the ramp and all their values. Marks the Song changed and
// drops a prepared start. Cancel changes nothing.
void CustomSlide(Machine& m, SlideField field, DialogResult result, int start, int end);

// ---- Note details of the cell at CurrentStep

inline constexpr int kMaxOutVelocity = 127;  // "Max out"
inline constexpr int kCenterPan = 64;        // "Center"

struct NoteDetailsView {
    bool enabled = false;  // false: no note there; the controls are disabled
    int velocity = 0;
    int pan = 0;
    bool reversed = false;
    std::string velocityText;  // blank when disabled
    std::string panText;
};

NoteDetailsView ShowNoteDetails(const Machine& m);

// "Ok": SetNoteDetails (panel_edits.h).
bool NoteDetailsOk(Machine& m, int velocity, int pan, bool reversed);

// ---- Value entry

struct ValueEntry {
    int minimum;
    int maximum;
    int increment;
    int maxLength;
    int value;
};

// The number the dialog gives back: outside the range it goes to the nearer limit; text that
// is not a number counts as the minimum.
int ReadValueEntry(std::string_view text, int minimum, int maximum);

// The shuffle as the user sees and enters it (0..100) and back; an odd entry loses its half.
inline int ShownShuffle(int shuffle) {
    return 2 * (shuffle - 100);
}
inline int ShuffleFromShown(int shown) {
    return shown / 2 + 100;
}

ValueEntry TempoEntry(const Song& song);
ValueEntry ShuffleEntry(const Song& song);

// On Ok: stores the entered value, recomputes the step timing, marks the Song changed and
// drops a prepared start. Returns whether the Song was written (Cancel writes nothing).
// Defined with the other panel edits (panel_edits.h).
bool EnterTempo(Machine& m, DialogResult result, std::string_view text);
bool EnterShuffle(Machine& m, DialogResult result, std::string_view text);

}  // namespace qtam
