#pragma once
// The groove panel's pictures, drawn by code. Every drawing is made of vector strokes and fills
// in the picture's own logical pixels, so a painter scaled to the device pixel ratio draws it
// sharp at any scale. The colours of the panel face are flat where a picture lies on it, so a
// picture (a lamp, a slider cap, the knob) meets the face without a seam.
//
// Thread: the user-interface thread (QPainter on widgets and pixmaps).

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QSize>
#include <QString>

class QPainter;

namespace qtam::skin {

enum class Picture {
    Background,        // 636 x 385: the whole panel face; variant: BackgroundVariant
    ChannelHighlight,  // 44 x 85: highlight of the selected channel's column
    StepLit,           // 27 x 44 (variant 1: first button of a group of four)
    StepDark,          // 27 x 44 (variant 1: first button of a group of four)
    Channel,           // 66 x 22, variant = channel 1..8, drawn unselected
    Pattern,           // 69 x 39, variant = the lit key 1..8
    LiteOff,           // 12 x 12 lamps: selected column
    LiteOn,
    DarkOff,  // 12 x 12 lamps: the other columns
    DarkOn,
    VolSlider,    // 15 x 22: vertical slider cap
    HSlider,      // 21 x 15: horizontal slider cap
    StartButton,  // 55 x 26
    StopButton,   // 53 x 25
    VolumeKnob,   // 53 x 53: knob face, flat grey 136 where the pointer is drawn
    HideCover,    // 29 x 46: blank cover of a button a 12-step measure leaves out
    // 31 x 11: the running light over a step button's number, variant = button 1..16, plus
    // kStepLightElsewhere when the step sounds in another measure than the one shown.
    StepLight,
    // 50 x 32: the measure being heard, variant = measure 1..16; in song mode the entry, the
    // pass and the measure (SongPlaceVariant).
    PlayingMeasure,
    FollowSwitch,  // 52 x 16: lamp and caption, variant 1 when on
    TapButton,     // 32 x 14: tap tempo, variant 1 while a tapping goes on
    SongSwitch,    // 69 x 16: lamp and caption, variant 1 when on (song mode)
};

// Background variants: the steps per measure (12 or 16) and the sample rate printed, in whole
// hertz (0: the program's own 44100).
inline constexpr int BackgroundVariant(int steps, int rateHz) {
    return steps + 32 * (rateHz > 0 && rateHz <= 1000000 ? rateHz : 0);
}
// The header printed on the face: "8 CHANNELS  ·  16 STEPS  ·  44.1 kHz".
QString HeaderText(int variant);

// Pattern variants: the lit key 1..8, plus kQueuedKey times a second key lit with it.
inline constexpr int kQueuedKey = 16;
inline constexpr int kStepLightElsewhere = 32;
// PlayingMeasure in song mode: entry 1..256, pass 1..99 and measure 1..16 in one variant.
inline constexpr int SongPlaceVariant(int entry, int pass, int measure) {
    return measure + 32 * (pass + 128 * entry);
}

QSize SizeOf(Picture picture);

// Paints the picture with its top-left corner at the painter's origin.
void Paint(QPainter& p, Picture picture, int variant = 0);

// A horizontal up-down (two arrow keys side by side); `pressed` -1 left, 1 right, 0 none.
void PaintUpDown(QPainter& p, QSize size, int pressed, bool enabled);

// The keyboard focus ring along the edge of a spot of the given size: a yellow band inside a
// black one, each `band` pixels wide, on whole logical pixels so that it stays sharp at any
// scale.
void PaintFocusRing(QPainter& p, QSize size, int band = 2);

// The knob face's colour, which the erasing pen of the pointer line must match.
inline const QColor kKnobFace{136, 136, 136};
// Label colours.
inline const QColor kLabelBlue{0, 0, 64};

// The desktop's sans-serif at a pixel size (so that the tabled label sizes hold at any scale).
QFont PanelFont(int pixelSize, bool bold);

// The program's icon: the panel face with beat lamps over two step buttons, the first lit as
// beat 1 is, in a square of kIconSize logical pixels (scale the painter for other sizes).
inline constexpr int kIconSize = 64;
void PaintIcon(QPainter& p);

// The icon as an image of size x size pixels, transparent around the face.
QImage IconImage(int size);

// The sizes of the icon a window carries, for its desktop's task bar and window switcher. No
// larger: every window sends every size to the X server as it is made, which slows the start.
inline constexpr int kWindowIconSizes[] = {16, 24, 32, 48, 64, 128};
// The icon at the sizes windows use, drawn.
QIcon ProgramIcon();
// The icon for the program's windows: from the files installed with the program in
// `programFolder` (its prefix's share/icons/hicolor, where the build folder has them too), read
// when a window needs them; drawn (ProgramIcon) when there are none. Looked up by path, not in
// the icon theme: a theme lookup reads every folder of the theme.
QIcon WindowIcon(const QString& programFolder);

}  // namespace qtam::skin
