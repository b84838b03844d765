#pragma once
// The small widgets the groove panel is made of: a picture that paints one skin drawing, the
// knob picture whose pointer line is drawn into it, a label that reports presses and clicks,
// and a horizontal up-down. Each one only reports the mouse to its owner; the owner decides.
//
// Thread: the user-interface thread.

#include <QImage>
#include <QLabel>
#include <QTimer>
#include <QWidget>
#include <functional>

#include "ui/groove_panel/skin.h"

namespace qtam {

using MouseHandler = std::function<void(QMouseEvent* event)>;

// A press and release of the left button inside the widget: the host's "click".
bool IsClick(const QWidget& widget, const QMouseEvent* release);

class SkinPicture : public QWidget {
public:
    SkinPicture(skin::Picture picture, int variant, const QString& name, QWidget* parent);

    skin::Picture picture() const { return picture_; }
    int variant() const { return variant_; }
    // Shows another drawing in this picture (the lamps copy theirs this way).
    void SetPicture(skin::Picture picture, int variant = 0);
    void CopyPicture(const SkinPicture& from) { SetPicture(from.picture(), from.variant()); }

    MouseHandler onPress;
    MouseHandler onMove;
    MouseHandler onRelease;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    skin::Picture picture_;
    int variant_;
};

// The knob: a canvas holding the knob drawing, on which lines are drawn at run time. The
// canvas is kept at the resolution it is shown at; when that changes it is drawn again from
// the knob drawing and the pointer line last drawn.
class KnobPicture : public SkinPicture {
public:
    KnobPicture(const QString& name, QWidget* parent);

    // A line of pen width 1 between two pixels of the 53 x 53 canvas, end points included.
    void DrawLine(QPoint from, QPoint to, const QColor& color);
    // The pointer line now drawn (white shadow and black line), kept to redraw the canvas.
    void SetPointer(QPoint inner, QPoint outer, bool shown);
    // The colour of the canvas at a logical pixel (what the user sees there).
    QColor PixelAt(QPoint logical) const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void EnsureCanvas(qreal scale);

    QImage canvas_;
    qreal scale_ = 0;
    QPoint inner_, outer_;
    bool pointerShown_ = false;
};

class PanelLabel : public QLabel {
public:
    PanelLabel(const QString& name, const QColor& background, bool bold, int pixelSize,
               QWidget* parent);

    MouseHandler onPress;
    MouseHandler onRelease;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A horizontal up-down without wrap: the left half lowers the position, the right half raises
// it, one step per press and again while the button is held. `onClick` follows every step.
class UpDown : public QWidget {
public:
    UpDown(const QString& name, QWidget* parent);

    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    // The position is always kept within the range.
    void SetRange(int min, int max);
    void SetPosition(int position);

    std::function<void()> onClick;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void StepOnce();

    int min_ = 1;
    int max_ = 1;
    int position_ = 1;
    int pressed_ = 0;  // -1 left, 1 right
    QTimer repeat_;
};

}  // namespace qtam
