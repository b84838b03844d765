#pragma once
// Where every control of the groove panel lies, in the panel's own pixels (636 x 385, origin
// at the top left). The panel places its controls from this table, the skin draws the face
// under them from it, and the position-to-value mappings take their ranges from it: a
// control moved here moves everywhere. Channels, step buttons and lamps are numbered from 1.

#include <array>

namespace qtam::layout {

struct Rect {
    int left;
    int top;
    int width;
    int height;
};

inline constexpr int kPanelWidth = 636;
inline constexpr int kPanelHeight = 385;

// ---- The eight channel columns (n = 1..8)

inline constexpr std::array<int, 8> kInstrumentNameLefts = {19, 94, 170, 244, 320, 394, 470, 544};
inline constexpr int kInstrumentNameTop = 51;
inline constexpr int kInstrumentNameWidth = 70;
inline constexpr int kInstrumentNameHeight = 13;

inline constexpr std::array<int, 8> kVolumeLabelLefts = {45, 119, 194, 269, 344, 420, 494, 570};
inline constexpr int kVolumeLabelTop = 75;
inline constexpr int kVolumeLabelWidth = 40;
inline constexpr int kVolumeLabelHeight = 13;

// The volume slider caps move between these tops (volume 127 at the top, 0 at the bottom).
inline constexpr std::array<int, 8> kVolumeSliderLefts = {24, 98, 173, 247, 323, 398, 473, 547};
inline constexpr int kVolumeSliderTopMin = 75;
inline constexpr int kVolumeSliderTopMax = 163;

inline constexpr std::array<int, 8> kLampLefts = {58, 134, 209, 284, 359, 434, 509, 584};
inline constexpr int kDistortionLampTop = 142;
inline constexpr int kMuteLampTop = 169;

// The highlight behind the selected channel's column, and the channel buttons.
inline constexpr int ChannelHighlightLeft(int n) {
    return 43 + 75 * (n - 1);
}
inline constexpr int kChannelHighlightTop = 101;
inline constexpr int ChannelButtonLeft(int n) {
    return 21 + 75 * (n - 1);
}
inline constexpr int kChannelButtonTop = 190;

// ---- The step buttons (b = 1..16) and the covers of the four a 12-step measure leaves out

inline constexpr std::array<int, 16> kStepLefts = {71,  101, 131, 161, 196, 226, 256, 286,
                                                   320, 350, 380, 410, 445, 475, 505, 535};
inline constexpr int kStepTop = 222;
inline constexpr std::array<int, 4> kStepCoverLefts = {161, 286, 410, 535};

// ---- The lower row

inline constexpr int kPatternKeysLeft = 130;
inline constexpr int kPatternKeysTop = 305;

inline constexpr Rect kMeasureCountArrows = {18, 305, 65, 18};
inline constexpr Rect kEditMeasureArrows = {18, 325, 65, 18};
inline constexpr Rect kMeasureCountLabel = {86, 307, 40, 15};
inline constexpr Rect kEditMeasureLabel = {86, 327, 40, 15};

// The horizontal sliders: tempo and shuffle move over 206..270, distortion and threshold over
// 454..518.
inline constexpr int kTempoSliderLeftMin = 206;
inline constexpr int kTempoSliderLeftMax = 270;
inline constexpr int kTempoSliderTop = 306;
inline constexpr int kShuffleSliderTop = 326;
inline constexpr int kDistSliderLeftMin = 454;
inline constexpr int kDistSliderLeftMax = 518;
inline constexpr int kDistortionSliderTop = 306;
inline constexpr int kThresholdSliderTop = 326;

inline constexpr Rect kTempoLabel = {297, 307, 40, 15};
inline constexpr Rect kShuffleLabel = {297, 327, 40, 15};

inline constexpr int kStartButtonLeft = 366;
inline constexpr int kStartButtonTop = 297;
inline constexpr int kStopButtonLeft = 367;
inline constexpr int kStopButtonTop = 324;

// ---- Where playback is (shown only while playing, except the follow switch)

// The running light lies over the number under step button b, from kStepLefts[b - 1] - 2.
inline constexpr int kStepLightTop = 268;
inline constexpr Rect kPlayingMeasure = {568, 223, 50, 32};
inline constexpr Rect kFollowSwitch = {568, 262, 52, 16};
inline constexpr Rect kTapButton = {258, 341, 32, 14};  // beside SHUFFLE, under the slider
// The Song/Pattern switch under the pattern keys: lit while playback walks the arrangement.
inline constexpr Rect kSongSwitch = {130, 348, 69, 16};

inline constexpr int kKnobLeft = 565;
inline constexpr int kKnobTop = 302;

}  // namespace qtam::layout
