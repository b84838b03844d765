#include "ui/groove_panel/panel_values.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "core/song.h"

namespace qtam {

namespace {

constexpr std::array<int, 12> kStepToButton12 = {1, 2, 3, 5, 6, 7, 9, 10, 11, 13, 14, 15};
constexpr std::array<int, 16> kButtonToStep12 = {1, 2, 3, 0, 4, 5, 6, 0, 7, 8, 9, 0, 10, 11, 12, 0};

}  // namespace

int Nearest(double x) {
    const double below = std::floor(x);
    const double fraction = x - below;
    double r = below;
    if (fraction > 0.5 || (fraction == 0.5 && std::fmod(below, 2.0) != 0.0)) r = below + 1.0;
    return static_cast<int>(r);
}

int StepToButton12(int slot) {
    return slot >= 1 && slot <= 12 ? kStepToButton12[slot - 1] : 0;
}

int ButtonToStep12(int button) {
    return button >= 1 && button <= 16 ? kButtonToStep12[button - 1] : 0;
}

int SlotOfButton(int button, int stepsPerMeasure) {
    if (stepsPerMeasure == 12) return ButtonToStep12(button);
    return button >= 1 && button <= kSlots ? button : 0;
}

int ButtonOfSlot(int slot, int stepsPerMeasure) {
    if (stepsPerMeasure == 12) return StepToButton12(slot);
    return slot >= 1 && slot <= kSlots ? slot : 0;
}

int DraggedPosition(int position, int mouse, int lo, int hi) {
    return std::clamp(position + (mouse - 11), lo, hi);
}

int VolumeFromSliderTop(int top) {
    top = std::clamp(top, kVolumeSliderTopMin, kVolumeSliderTopMax);
    return 127 - Nearest((top - kVolumeSliderTopMin) * 1.443);
}

int VolumeSliderTop(int volume) {
    // A foreign song may hold a volume above 127; keep its slider on the travel.
    const int top = kVolumeSliderTopMax - Nearest(volume * 0.693000693000693);
    return std::clamp(top, kVolumeSliderTopMin, kVolumeSliderTopMax);
}

int TempoFromSliderOffset(int offset) {
    offset = std::clamp(offset, 0, kTempoSliderLeftMax - kTempoSliderLeftMin);
    return Nearest(offset * 3.125) + kTempoMin;
}

int ShuffleFromSliderOffset(int offset) {
    offset = std::clamp(offset, 0, kTempoSliderLeftMax - kTempoSliderLeftMin);
    return Nearest(offset * 0.78125) + 100;
}

int TempoSliderOffset(int tempo) {
    return std::clamp(Nearest((tempo - kTempoMin) * 0.32), 0,
                      kTempoSliderLeftMax - kTempoSliderLeftMin);
}

int ShuffleSliderOffset(int shuffle) {
    return std::clamp(Nearest((shuffle - 100) * 1.28), 0,
                      kTempoSliderLeftMax - kTempoSliderLeftMin);
}

int DistortionGainFromSliderLeft(int left) {
    return std::clamp(left, kDistSliderLeftMin, kDistSliderLeftMax) - kDistSliderLeftMin;
}

int DistortionThresholdFromSliderLeft(int left) {
    return DistortionGainFromSliderLeft(left) * kThresholdStep;
}

int DistSliderLeft(int distortionGain) {
    return std::clamp(distortionGain + kDistSliderLeftMin, kDistSliderLeftMin, kDistSliderLeftMax);
}

int ThresholdSliderLeft(int distortionThreshold) {
    return std::clamp(distortionThreshold / kThresholdStep + kDistSliderLeftMin, kDistSliderLeftMin,
                      kDistSliderLeftMax);
}

int KnobDragTarget(std::int16_t knobBase, int y) {
    const auto target = static_cast<std::int16_t>(knobBase + (kKnobTop - y - kKnobTop));
    return std::clamp<int>(target, 0, 255);
}

KnobLine KnobLineFor(int mainVolumeTarget) {
    // From straight down, through left, up and right: 320 units make a full turn.
    const double a = (mainVolumeTarget + 32) * 6.283185307179586 * 0.003125;
    const double s = -std::sin(a);
    const double c = std::cos(a);
    auto at = [&](double radius) {
        return KnobPoint{static_cast<int>(std::trunc(s * radius)) + 26,
                         static_cast<int>(std::trunc(c * radius)) + 26};
    };
    return {at(12), at(21)};
}

int PatternAtKeypad(int x, int y) {
    const int column = x < 17 ? 1 : x < 34 ? 2 : x < 51 ? 3 : 4;
    return column + (y > 19 ? 4 : 0);
}

}  // namespace qtam
