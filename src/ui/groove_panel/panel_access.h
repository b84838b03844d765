#pragma once
// The groove panel's controls as the keyboard and a screen reader see them. The panel is made
// of pictures that only know the mouse; over each control lies a FocusSpot: a widget that
// takes no mouse, paints nothing but the skin's focus ring while it has the focus, and tells
// the accessibility layer the control's role, name, state and value. The panel gives every
// spot what the control does on a key, through the same handlers a click reaches.
//
// Thread: the user-interface thread.

#include <QAccessible>
#include <QWidget>
#include <functional>

namespace qtam {

// What a screen reader is told of one control.
struct ControlDescription {
    QAccessible::Role role = QAccessible::Button;
    QString name;
    QString value;  // spoken after the name ("122 BPM"); empty when there is none
    bool checkable = false;
    bool checked = false;
    // Sliders and the knob also report their position as a number within a range.
    bool ranged = false;
    int current = 0;
    int minimum = 0;
    int maximum = 0;

    bool operator==(const ControlDescription&) const = default;
};

// The keyboard groups of the panel, in Tab order.
enum class ControlGroup {
    Channels,
    Instruments,
    ChannelVolumes,
    DistortionLamps,
    MuteLamps,
    Steps,
    PatternKeys,
    Measures,
    TempoAndShuffle,
    Distortion,
    VolumeKnob,
    Transport,
    Follow,
};

class FocusSpot : public QWidget {
public:
    FocusSpot(const QString& name, ControlGroup group, QWidget* parent);

    ControlGroup group() const { return group_; }

    std::function<ControlDescription()> describe;
    // Enter (as a left click); Shift+Enter or the menu key (as a right click).
    std::function<void()> onEnter;
    std::function<void()> onDetails;
    // Sliders and the knob: moves by a number of positions, up or right being positive.
    std::function<void(int positions)> onMove;
    // The width of each of the focus ring's two bands; a spot around a label of text lies
    // outside it with a thin ring, which then covers none of the text.
    int ringBand = 2;
    bool vertical = false;  // a vertical slider takes Up/Down for its value, Left/Right to move

    // The description last told to the screen reader, to report only what changed.
    ControlDescription told;

protected:
    void paintEvent(QPaintEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    ControlGroup group_;
};

// Lets Qt's accessibility layer describe FocusSpots (once per application; safe to repeat).
void InstallPanelAccessibility();

// Tells the screen reader what changed in the spot since it was last told.
void ReportChanges(FocusSpot& spot);

}  // namespace qtam
