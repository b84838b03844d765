#include "ui/groove_panel/skin.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <array>
#include <cmath>

#include "ui/groove_panel/panel_layout.h"

namespace qtam::skin {

namespace {

// The face and its recessed plates. Pictures lie on plates, whose colours are flat.
const QColor kFaceTop{0x3a, 0x3c, 0x41};
const QColor kFaceBottom{0x2a, 0x2c, 0x30};
const QColor kPlate{0x1f, 0x20, 0x23};
const QColor kPlateDark{0x0e, 0x0e, 0x10};
const QColor kPlateLight{0x47, 0x4a, 0x50};
const QColor kHighlight{0x33, 0x3f, 0x52};
const QColor kPrint{0xc4, 0xc8, 0xd0};
const QColor kPrintDim{0x80, 0x85, 0x8e};
const QColor kAmber{0xff, 0xa8, 0x2a};
const QColor kRubberTop{0x5c, 0x5f, 0x66};
const QColor kRubberBottom{0x3e, 0x41, 0x47};

QRectF Area(const layout::Rect& r) {
    return QRectF(r.left, r.top, r.width, r.height);
}

void Text(QPainter& p, const QRectF& r, const QString& s, int px, bool bold, const QColor& c,
          Qt::Alignment align = Qt::AlignCenter, qreal spacing = 0.0) {
    QFont f = PanelFont(px, bold);
    if (spacing != 0.0) f.setLetterSpacing(QFont::AbsoluteSpacing, spacing);
    p.setFont(f);
    p.setPen(c);
    p.drawText(r, int(align), s);
}

// A recessed plate: flat fill, a dark edge above and left, a light edge below and right.
void Plate(QPainter& p, const QRectF& r, const QColor& fill = kPlate, qreal radius = 3.0) {
    p.setPen(Qt::NoPen);
    p.setBrush(kPlateLight);
    p.drawRoundedRect(r.adjusted(0, 0, 1, 1), radius, radius);
    p.setBrush(kPlateDark);
    p.drawRoundedRect(r.adjusted(-1, -1, 0, 0), radius, radius);
    p.setBrush(fill);
    p.drawRoundedRect(r, radius, radius);
}

// A thin frame around a display window (the labels lie inside it).
void Bezel(QPainter& p, const QRectF& r) {
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kPlateDark, 1));
    p.drawRect(r.adjusted(-0.5, -0.5, 0.5, 0.5));
    p.setPen(QPen(kPlateLight, 1));
    p.drawLine(QPointF(r.left() - 1, r.bottom() + 1.5), QPointF(r.right() + 1.5, r.bottom() + 1.5));
    p.drawLine(QPointF(r.right() + 1.5, r.top() - 1), QPointF(r.right() + 1.5, r.bottom() + 1.5));
}

void Screw(QPainter& p, QPointF c) {
    QRadialGradient g(c - QPointF(1, 1), 4.5);
    g.setColorAt(0, QColor(0x9a, 0x9d, 0xa3));
    g.setColorAt(1, QColor(0x4b, 0x4d, 0x52));
    p.setPen(QPen(kPlateDark, 0.8));
    p.setBrush(g);
    p.drawEllipse(c, 3.6, 3.6);
    p.setPen(QPen(QColor(0x2a, 0x2b, 0x2e), 1.0));
    p.drawLine(c + QPointF(-2.2, 1.2), c + QPointF(2.2, -1.2));
}

// A glow: a soft light of `color` fading out at `radius`.
void Glow(QPainter& p, QPointF c, qreal radius, QColor color, int alpha) {
    QRadialGradient g(c, radius);
    color.setAlpha(alpha);
    g.setColorAt(0, color);
    color.setAlpha(0);
    g.setColorAt(1, color);
    p.setPen(Qt::NoPen);
    p.setBrush(g);
    p.drawEllipse(c, radius, radius);
}

// A rubber key body with a bevel.
void Key(QPainter& p, const QRectF& r, QColor top, QColor bottom, qreal radius) {
    p.setPen(Qt::NoPen);
    p.setBrush(kPlateDark);
    p.drawRoundedRect(r.adjusted(-0.5, -0.5, 0.5, 1.0), radius + 0.5, radius + 0.5);
    QLinearGradient g(r.topLeft(), r.bottomLeft());
    g.setColorAt(0, top);
    g.setColorAt(1, bottom);
    p.setBrush(g);
    p.drawRoundedRect(r, radius, radius);
    // the lit upper edge of the key
    p.setPen(QPen(top.lighter(135), 1));
    p.drawLine(QPointF(r.left() + radius, r.top() + 0.5),
               QPointF(r.right() - radius, r.top() + 0.5));
}

void ChannelKey(QPainter& p, QPointF at, int channel, bool selected) {
    const QRectF r(at.x() + 1, at.y() + 1, 64, 20);
    if (selected) {
        Key(p, r, QColor(0xff, 0xc0, 0x55), QColor(0xd9, 0x80, 0x14), 3);
    } else {
        Key(p, r, kRubberTop, kRubberBottom, 3);
    }
    // a small indicator at the left of the key
    const QPointF led(r.left() + 9, r.center().y());
    p.setPen(QPen(kPlateDark, 0.8));
    p.setBrush(selected ? QColor(0xff, 0xf4, 0xd0) : QColor(0x2a, 0x1c, 0x10));
    p.drawEllipse(led, 2.4, 2.4);
    Text(p, r.adjusted(12, 0, 0, 0), QString::number(channel), 12, true,
         selected ? QColor(0x30, 0x1a, 0x00) : kPrint);
}

void StepButton(QPainter& p, bool lit, bool first) {
    p.fillRect(QRectF(0, 0, 27, 44), kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(0.5, 0.5, 26, 43);
    Key(p, body, QColor(0x35, 0x37, 0x3c), QColor(0x26, 0x27, 0x2b), 3);
    // the LED window at the top
    const QRectF led(7.5, 3.5, 12, 5);
    if (lit) {
        Glow(p, led.center(), 11, QColor(0xff, 0x50, 0x30), 150);
        QLinearGradient g(led.topLeft(), led.bottomLeft());
        g.setColorAt(0, QColor(0xff, 0xd8, 0xc0));
        g.setColorAt(1, QColor(0xff, 0x3a, 0x1c));
        p.setPen(QPen(QColor(0x70, 0x10, 0x08), 0.8));
        p.setBrush(g);
    } else {
        p.setPen(QPen(kPlateDark, 0.8));
        p.setBrush(QColor(0x42, 0x16, 0x12));
    }
    p.drawRoundedRect(led, 1.5, 1.5);
    // the pad
    const QRectF pad(3, 12, 21, 29);
    QColor top, bottom;
    // A note is lit the same on every step; the first step of a beat is marked by a thin amber
    // rim only (and its amber number), never by a light pad that would read as a note.
    if (lit) {
        top = QColor(0xff, 0x8a, 0x66);
        bottom = QColor(0xd8, 0x34, 0x1e);
    } else {
        top = kRubberTop;
        bottom = kRubberBottom;
    }
    Key(p, pad, top, bottom, 2.5);
    if (first && !lit) {
        p.setPen(QPen(QColor(kAmber.red(), kAmber.green(), kAmber.blue(), 150), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(pad.adjusted(0.5, 0.5, -0.5, -0.5), 2.5, 2.5);
    }
    if (lit) {
        // light from inside the pad
        QRadialGradient g(pad.center() + QPointF(0, -3), 14);
        g.setColorAt(0, QColor(255, 255, 230, 120));
        g.setColorAt(1, QColor(255, 255, 230, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawRoundedRect(pad, 2.5, 2.5);
    }
}

void Lamp(QPainter& p, bool on, bool selectedColumn) {
    p.fillRect(QRectF(0, 0, 12, 12), selectedColumn ? kHighlight : kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(6, 6);
    p.setPen(Qt::NoPen);
    p.setBrush(kPlateDark);
    p.drawEllipse(c, 5.8, 5.8);
    p.setBrush(QColor(0x55, 0x58, 0x5e));
    p.drawEllipse(c + QPointF(0.3, 0.3), 5.0, 5.0);
    QRadialGradient g(c - QPointF(1.2, 1.2), 5.0);
    if (on) {
        const int v = selectedColumn ? 255 : 225;
        g.setColorAt(0, QColor(255, 250, 220));
        g.setColorAt(0.45, QColor(v, selectedColumn ? 0x8c : 0x6c, 0x1a));
        g.setColorAt(1, QColor(v * 3 / 4, 0x30, 0x08));
    } else {
        const int v = selectedColumn ? 0x58 : 0x3a;
        g.setColorAt(0, QColor(v + 0x20, v / 2 + 0x10, v / 3 + 0x08));
        g.setColorAt(1, QColor(v, v / 3, v / 4));
    }
    p.setBrush(g);
    p.drawEllipse(c, 4.1, 4.1);
}

// The captions of a channel column; the highlight prints them brighter.
void ColumnCaptions(QPainter& p, QPointF at, const QColor& c) {
    Text(p, QRectF(at.x(), at.y() + 28, 44, 10), QStringLiteral("DIST"), 8, true, c,
         Qt::AlignCenter, 0.8);
    Text(p, QRectF(at.x(), at.y() + 55, 44, 10), QStringLiteral("MUTE"), 8, true, c,
         Qt::AlignCenter, 0.8);
}

void ChannelHighlight(QPainter& p) {
    p.fillRect(QRectF(0, 0, 44, 85), kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    Glow(p, QPointF(22, 42), 44, QColor(0x5a, 0x86, 0xc8), 90);
    p.setPen(QPen(QColor(0x6f, 0x9c, 0xdc), 1));
    p.setBrush(kHighlight);
    p.drawRoundedRect(QRectF(1.5, 1.5, 41, 82), 4, 4);
    // a lit rule at the top of the column
    p.setPen(QPen(kAmber, 2));
    p.drawLine(QPointF(10, 6), QPointF(34, 6));
    ColumnCaptions(p, QPointF(0, 0), QColor(0xf2, 0xf4, 0xf8));
}

void PatternKeypad(QPainter& p, int lit, int alsoLit) {
    p.fillRect(QRectF(0, 0, 69, 39), kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    for (int n = 1; n <= 8; ++n) {
        const int column = (n - 1) % 4;
        const int row = (n - 1) / 4;
        const QRectF r(column * 17 + 1.5, row * 20 + 1.5, column == 3 ? 16 : 14, 16);
        const bool on = n == lit || n == alsoLit;
        if (on) {
            Glow(p, r.center(), 14, kAmber, 110);
            Key(p, r, QColor(0xff, 0xcf, 0x6a), QColor(0xe8, 0x8a, 0x18), 2);
        } else {
            Key(p, r, kRubberTop, kRubberBottom, 2);
        }
        Text(p, r.adjusted(0, 0, 0, 1), QString::number(n), 11, true,
             on ? QColor(0x30, 0x18, 0x00) : kPrint);
    }
}

void SliderCap(QPainter& p, bool vertical) {
    const QSizeF size = vertical ? QSizeF(15, 22) : QSizeF(21, 15);
    p.fillRect(QRectF(QPointF(0, 0), size), kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(0.5, 0.5, size.width() - 1, size.height() - 1);
    p.setPen(QPen(kPlateDark, 1));
    QLinearGradient g(body.topLeft(), vertical ? body.bottomLeft() : body.topRight());
    g.setColorAt(0, QColor(0xe6, 0xe8, 0xec));
    g.setColorAt(0.48, QColor(0xb4, 0xb7, 0xbd));
    g.setColorAt(0.52, QColor(0x8c, 0x8f, 0x96));
    g.setColorAt(1, QColor(0xc4, 0xc7, 0xcc));
    p.setBrush(g);
    p.drawRoundedRect(body, 2, 2);
    // grip: a black line across the middle, with a white line beside it
    p.setRenderHint(QPainter::Antialiasing, false);
    if (vertical) {
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(QPointF(2, 10.5), QPointF(12, 10.5));
        p.setPen(QPen(QColor(255, 255, 255, 200), 1));
        p.drawLine(QPointF(2, 11.5), QPointF(12, 11.5));
        p.setPen(QPen(QColor(0x70, 0x73, 0x79), 1));
        for (qreal y : {4.5, 7.5, 14.5, 17.5}) p.drawLine(QPointF(4, y), QPointF(10, y));
    } else {
        p.setPen(QPen(Qt::black, 1));
        p.drawLine(QPointF(10.5, 2), QPointF(10.5, 12));
        p.setPen(QPen(QColor(255, 255, 255, 200), 1));
        p.drawLine(QPointF(11.5, 2), QPointF(11.5, 12));
        p.setPen(QPen(QColor(0x70, 0x73, 0x79), 1));
        for (qreal x : {4.5, 7.5, 14.5, 17.5}) p.drawLine(QPointF(x, 4), QPointF(x, 10));
    }
}

void TransportButton(QPainter& p, bool start) {
    const QSizeF size = start ? QSizeF(55, 26) : QSizeF(53, 25);
    p.fillRect(QRectF(QPointF(0, 0), size), kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF body(1, 1, size.width() - 2, size.height() - 2);
    Key(p, body, QColor(0x6a, 0x6d, 0x74), QColor(0x43, 0x46, 0x4c), 3);
    const QColor icon = start ? QColor(0x52, 0xe0, 0x74) : QColor(0xff, 0x4a, 0x36);
    const QPointF c(12, body.center().y());
    Glow(p, c, 9, icon, 90);
    p.setPen(QPen(icon.darker(200), 0.8));
    p.setBrush(icon);
    if (start) {
        QPainterPath tri;
        tri.moveTo(c + QPointF(-3.5, -5));
        tri.lineTo(c + QPointF(5, 0));
        tri.lineTo(c + QPointF(-3.5, 5));
        tri.closeSubpath();
        p.drawPath(tri);
    } else {
        p.drawRoundedRect(QRectF(c.x() - 4, c.y() - 4, 8, 8), 1, 1);
    }
    Text(p, QRectF(20, body.top(), body.right() - 21, body.height()),
         start ? QStringLiteral("START") : QStringLiteral("STOP"), 9, true,
         QColor(0xf4, 0xf5, 0xf7), Qt::AlignCenter, 0.3);
}

void Knob(QPainter& p) {
    p.fillRect(QRectF(0, 0, 53, 53), kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(26.5, 26.5);
    p.setPen(Qt::NoPen);
    // shadow and skirt
    p.setBrush(QColor(0, 0, 0, 120));
    p.drawEllipse(c + QPointF(0.6, 1.0), 26.3, 26.3);
    QConicalGradient rim(c, 45);
    rim.setColorAt(0.0, QColor(0xf0, 0xf1, 0xf3));
    rim.setColorAt(0.25, QColor(0x6a, 0x6c, 0x70));
    rim.setColorAt(0.5, QColor(0x2c, 0x2d, 0x30));
    rim.setColorAt(0.75, QColor(0x6a, 0x6c, 0x70));
    rim.setColorAt(1.0, QColor(0xf0, 0xf1, 0xf3));
    p.setBrush(rim);
    p.drawEllipse(c, 26.0, 26.0);
    p.setBrush(kPlateDark);
    p.drawEllipse(c, 24.6, 24.6);
    // the face: flat grey, the erasing pen's colour, wherever the pointer can be drawn
    p.setBrush(kKnobFace);
    p.drawEllipse(c, 24.0, 24.0);
}

void HideCover(QPainter& p) {
    p.fillRect(QRectF(0, 0, 29, 46), kPlate);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x2c, 0x2e, 0x32), 1));
    p.setBrush(QColor(0x1a, 0x1b, 0x1e));
    p.drawRoundedRect(QRectF(1.5, 1.5, 26, 43), 3, 3);
    p.setPen(QPen(kPrintDim, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(10, 23), QPointF(19, 23));
}

// The position colour: green like the start key's arrow, apart from the red and amber notes.
const QColor kPositionGreen{0x52, 0xe0, 0x74};
const QColor kStepGroup{0x24, 0x25, 0x29};  // the face of a group of four step buttons

// Over the number under a step button: a lit green plate with the number dark on it, or, for
// the step sounding in a measure not shown, a green outline with the number green.
void StepLight(QPainter& p, int button, bool elsewhere) {
    p.fillRect(QRectF(0, 0, 31, 11), kStepGroup);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF pill(3.5, 0.5, 24, 10);
    if (elsewhere) {
        p.setPen(QPen(kPositionGreen, 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(pill, 3, 3);
        Text(p, QRectF(2, 0, 27, 11), QString::number(button), 8, true, kPositionGreen);
        return;
    }
    Glow(p, pill.center(), 15, kPositionGreen, 110);
    QLinearGradient g(pill.topLeft(), pill.bottomLeft());
    g.setColorAt(0, QColor(0xc8, 0xff, 0xd4));
    g.setColorAt(1, kPositionGreen);
    p.setPen(QPen(QColor(0x1a, 0x60, 0x2c), 0.8));
    p.setBrush(g);
    p.drawRoundedRect(pill, 3, 3);
    Text(p, QRectF(2, 0, 27, 11), QString::number(button), 8, true, QColor(0x06, 0x2a, 0x10));
}

// The measure being heard: a caption over a display window with the number in green.
void PlayingMeasure(QPainter& p, int measure) {
    p.fillRect(QRectF(0, 0, 50, 32), kPlate);
    Text(p, QRectF(0, 0, 50, 10), QStringLiteral("PLAYING"), 7, true, kPrint, Qt::AlignCenter, 0.6);
    const QRectF window(4, 13, 42, 17);
    p.setPen(QPen(kPlateDark, 1));
    p.setBrush(QColor(0x06, 0x0a, 0x07));
    p.drawRect(window);
    if (measure < 32) {
        Text(p, window, QStringLiteral("\u25B6 %1").arg(measure), 11, true, kPositionGreen);
        return;
    }
    // Song mode: entry.pass.measure, as a hardware song position reads.
    const QString place = QStringLiteral("%1.%2.%3")
                              .arg(measure / (32 * 128))
                              .arg(measure / 32 % 128)
                              .arg(measure % 32);
    Text(p, window, place, place.size() <= 6 ? 10 : 8, true, kPositionGreen);
}

// The Song/Pattern switch: a lamp, lit in song mode, and its name.
void SongSwitch(QPainter& p, bool on) {
    p.fillRect(QRectF(0, 0, 69, 16), kPlate);
    p.save();
    p.translate(1, 2);
    Lamp(p, on, false);
    p.restore();
    Text(p, QRectF(15, 0, 54, 16), QStringLiteral("SONG"), 7, true, on ? kPrint : kPrintDim,
         Qt::AlignLeft | Qt::AlignVCenter, 0.4);
}

// The follow switch: a lamp, lit while the edit measure follows the playing one, and its name.
void FollowSwitch(QPainter& p, bool on) {
    p.fillRect(QRectF(0, 0, 52, 16), kPlate);
    p.save();
    p.translate(1, 2);
    Lamp(p, on, false);
    p.restore();
    Text(p, QRectF(15, 0, 37, 16), QStringLiteral("FOLLOW"), 7, true, on ? kPrint : kPrintDim,
         Qt::AlignLeft | Qt::AlignVCenter, 0.4);
}

// The tap tempo key: a small plate key with its name, lit while the taps are counted.
void TapButton(QPainter& p, bool tapping) {
    p.fillRect(QRectF(0, 0, 32, 14), kPlate);
    QLinearGradient face(0, 0, 0, 14);
    face.setColorAt(0, kPlateLight);
    face.setColorAt(1, kFaceBottom);
    p.setPen(QPen(kPlateDark, 1.0));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 13), 2, 2);
    Text(p, QRectF(0, 0, 32, 14), QStringLiteral("TAP"), 7, true, tapping ? kPositionGreen : kPrint,
         Qt::AlignCenter, 0.4);
}

void KnobScale(QPainter& p, QPointF c) {
    // One tick every 32 steps of the main volume, from 0 (down-left) to 255 (down-right).
    for (int v = 0; v <= 256; v += 32) {
        const double a = (std::min(v, 255) + 32) * 6.283185307179586 / 320.0;
        const QPointF dir(-std::sin(a), std::cos(a));
        const bool major = v == 0 || v == 128 || v == 256;
        p.setPen(QPen(major ? kPrint : kPrintDim, major ? 1.6 : 1.0, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(c + dir * 28.0, c + dir * (major ? 30.5 : 29.5));
    }
    Text(p, QRectF(c.x() - 36, c.y() + 26, 20, 10), QStringLiteral("MIN"), 7, true, kPrintDim);
    Text(p, QRectF(c.x() + 16, c.y() + 26, 20, 10), QStringLiteral("MAX"), 7, true, kPrintDim);
}

void HorizontalTrack(QPainter& p, qreal left, qreal top) {
    // the slot the 21-pixel cap travels in over 64 pixels, centred on its row
    const qreal y = top + 6;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x05, 0x05, 0x06));
    p.drawRoundedRect(QRectF(left + 3, y, 79, 3), 1.5, 1.5);
    p.setPen(QPen(kPlateLight, 1));
    p.drawLine(QPointF(left + 4, y + 3.5), QPointF(left + 81, y + 3.5));
    p.setPen(QPen(kPrintDim, 1));
    for (int i = 0; i <= 8; ++i) {
        const qreal x = left + 10.5 + i * 8;
        p.drawLine(QPointF(x, top - 2), QPointF(x, top - (i % 4 == 0 ? 5 : 3.5)));
    }
}

void Background(QPainter& p, int variant) {
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, 385);
    face.setColorAt(0, kFaceTop);
    face.setColorAt(1, kFaceBottom);
    p.fillRect(QRectF(0, 0, 636, 385), face);
    // the case's edge
    p.setPen(QPen(QColor(0x5c, 0x5f, 0x66), 1));
    p.drawLine(QPointF(0.5, 0.5), QPointF(635.5, 0.5));
    p.drawLine(QPointF(0.5, 0.5), QPointF(0.5, 384.5));
    p.setPen(QPen(QColor(0x12, 0x12, 0x14), 1));
    p.drawLine(QPointF(0.5, 384.5), QPointF(635.5, 384.5));
    p.drawLine(QPointF(635.5, 0.5), QPointF(635.5, 384.5));
    for (QPointF s : {QPointF(7, 8), QPointF(629, 8), QPointF(7, 377), QPointF(629, 377)})
        Screw(p, s);

    // name plate
    QFont brand = PanelFont(24, true);
    brand.setItalic(true);
    brand.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    p.setFont(brand);
    p.setPen(kAmber);
    p.drawText(QRectF(18, 8, 120, 32), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Q.TAM"));
    Text(p, QRectF(124, 8, 300, 32), QStringLiteral("SAMPLING  GROOVE  MACHINE"), 10, true, kPrint,
         Qt::AlignLeft | Qt::AlignVCenter, 1.2);
    Text(p, QRectF(400, 8, 218, 32), HeaderText(variant), 8, true, kPrintDim,
         Qt::AlignRight | Qt::AlignVCenter, 0.8);
    p.setPen(QPen(kAmber, 1.5));
    p.drawLine(QPointF(124, 34.5), QPointF(618, 34.5));

    // ---- the eight channel strips
    Plate(p, QRectF(13, 46, 610, 170));
    for (int k = 1; k < 8; ++k) {
        const qreal x = 15 + 75 * k - 0.5;
        p.setPen(QPen(kPlateDark, 1));
        p.drawLine(QPointF(x, 50), QPointF(x, 212));
        p.setPen(QPen(QColor(0x2c, 0x2d, 0x31), 1));
        p.drawLine(QPointF(x + 1, 50), QPointF(x + 1, 212));
    }
    for (int n = 1; n <= 8; ++n) {
        const int ins = layout::kInstrumentNameLefts[n - 1];
        const int slider = layout::kVolumeSliderLefts[n - 1];
        const int num = layout::kVolumeLabelLefts[n - 1];
        const qreal column = layout::ChannelHighlightLeft(n);
        Bezel(p, QRectF(ins, layout::kInstrumentNameTop, layout::kInstrumentNameWidth,
                        layout::kInstrumentNameHeight));
        Text(p, QRectF(slider - 4, 65, 62, 10), QStringLiteral("VOLUME"), 7, true, kPrintDim,
             Qt::AlignLeft | Qt::AlignVCenter, 0.8);
        // the fader's slot and its scale
        const qreal cx = slider + 7.5;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0x05, 0x05, 0x06));
        p.drawRoundedRect(QRectF(cx - 1.5, 79, 3, 104), 1.5, 1.5);
        p.setPen(QPen(kPlateLight, 1));
        p.drawLine(QPointF(cx + 2, 80), QPointF(cx + 2, 182));
        for (int i = 0; i <= 8; ++i) {
            const qreal y = 86.5 + i * 11;
            p.setPen(QPen(i % 4 == 0 ? kPrint : kPrintDim, 1));
            p.drawLine(QPointF(slider - 4, y), QPointF(slider - (i % 4 == 0 ? 0.5 : 1.5), y));
        }
        Bezel(p, QRectF(num, layout::kVolumeLabelTop, layout::kVolumeLabelWidth,
                        layout::kVolumeLabelHeight));
        // the column of the two lamps, in the dark style
        p.setPen(QPen(QColor(0x2e, 0x30, 0x35), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(column + 1.5, 101.5, 41, 82), 4, 4);
        ColumnCaptions(p, QPointF(column, 101), kPrintDim);
        // under each channel key: the key as it looks when its channel is selected
        ChannelKey(p, QPointF(layout::ChannelButtonLeft(n), layout::kChannelButtonTop), n, true);
    }

    // ---- the step buttons
    Plate(p, QRectF(13, 219, 610, 64));
    Text(p, QRectF(18, 224, 48, 11), QStringLiteral("STEPS"), 9, true, kPrint,
         Qt::AlignLeft | Qt::AlignVCenter, 1.0);
    Text(p, QRectF(18, 240, 50, 10), QStringLiteral("L  note"), 7, true, kPrintDim,
         Qt::AlignLeft | Qt::AlignVCenter, 0.4);
    Text(p, QRectF(18, 251, 50, 10), QStringLiteral("R  details"), 7, true, kPrintDim,
         Qt::AlignLeft | Qt::AlignVCenter, 0.4);
    for (int g = 0; g < 4; ++g) {
        const qreal left = layout::kStepLefts[g * 4] - 3.5;
        p.setPen(QPen(QColor(0x34, 0x36, 0x3b), 1));
        p.setBrush(QColor(0x24, 0x25, 0x29));
        p.drawRoundedRect(QRectF(left, 220.5, 123, 61), 4, 4);
    }
    for (int b = 1; b <= 16; ++b) {
        const int left = layout::kStepLefts[b - 1];
        const bool first = (b - 1) % 4 == 0;
        Text(p, QRectF(left - 2, 268, 31, 11), QString::number(b), 8, true,
             first ? kAmber : kPrintDim);
    }

    // ---- the lower controls
    Plate(p, QRectF(13, 286, 610, 84));
    auto separator = [&](qreal x) {
        p.setPen(QPen(kPlateDark, 1));
        p.drawLine(QPointF(x, 290), QPointF(x, 366));
        p.setPen(QPen(QColor(0x2c, 0x2d, 0x31), 1));
        p.drawLine(QPointF(x + 1, 290), QPointF(x + 1, 366));
    };
    auto header = [&](const QRectF& r, const QString& s, Qt::Alignment a = Qt::AlignLeft) {
        Text(p, r.adjusted(0, -2, 0, -2), s, 8, true, kPrint, a | Qt::AlignVCenter, 0.9);
    };
    // measures
    header(QRectF(18, 290, 110, 11), QStringLiteral("MEASURES"));
    Text(p, QRectF(18, 345, 108, 10), QStringLiteral("\u25B2 LENGTH   \u25BC EDIT"), 7, true,
         kPrintDim, Qt::AlignLeft | Qt::AlignVCenter, 0.2);
    Bezel(p, Area(layout::kMeasureCountLabel));
    Bezel(p, Area(layout::kEditMeasureLabel));
    separator(128.5);
    // pattern
    header(QRectF(130, 290, 69, 11), QStringLiteral("PATTERN"));
    p.setPen(QPen(kPlateDark, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(layout::kPatternKeysLeft - 0.5, layout::kPatternKeysTop - 0.5, 71, 41),
                      3, 3);
    separator(202.5);
    // tempo and shuffle
    header(QRectF(206, 290, 85, 11), QStringLiteral("TEMPO"));
    header(QRectF(297, 290, 40, 11), QStringLiteral("BPM"), Qt::AlignHCenter);
    HorizontalTrack(p, layout::kTempoSliderLeftMin, layout::kTempoSliderTop);
    HorizontalTrack(p, layout::kTempoSliderLeftMin, layout::kShuffleSliderTop);
    header(QRectF(206, 345, 85, 11), QStringLiteral("SHUFFLE"));
    header(QRectF(297, 345, 40, 11), QStringLiteral("%"), Qt::AlignHCenter);
    Bezel(p, Area(layout::kTempoLabel));
    Bezel(p, Area(layout::kShuffleLabel));
    separator(348.5);
    // transport
    p.setPen(QPen(kPlateDark, 1));
    p.setBrush(QColor(0x17, 0x18, 0x1a));
    p.drawRoundedRect(QRectF(363.5, 294.5, 60, 57), 4, 4);
    Text(p, QRectF(352, 354, 84, 10), QStringLiteral("SPACE BAR"), 7, true, kPrintDim,
         Qt::AlignCenter, 0.8);
    separator(438.5);
    // distortion
    header(QRectF(454, 290, 90, 11), QStringLiteral("DISTORTION"));
    HorizontalTrack(p, layout::kDistSliderLeftMin, layout::kDistortionSliderTop);
    HorizontalTrack(p, layout::kDistSliderLeftMin, layout::kThresholdSliderTop);
    header(QRectF(454, 345, 90, 11), QStringLiteral("THRESHOLD"));
    separator(548.5);
    // main volume
    header(QRectF(553, 290, 77, 11), QStringLiteral("VOLUME"), Qt::AlignHCenter);
    KnobScale(p, QPointF(layout::kKnobLeft + 26.5, layout::kKnobTop + 26.5));

    Text(p, QRectF(13, 371, 610, 12),
         QStringLiteral("STEREO  \u00B7  16 BIT  \u00B7  8 PATTERNS  \u00B7  16 MEASURES"), 7, true,
         QColor(0x6a, 0x6e, 0x76), Qt::AlignRight | Qt::AlignVCenter, 0.8);
}

}  // namespace

void PaintUpDown(QPainter& p, QSize size, int pressed, bool enabled) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), kPlate);
    const qreal half = size.width() / 2.0;
    for (int side : {-1, 1}) {
        const QRectF r(side < 0 ? 0.5 : half + 0.5, 0.5, half - 1.5, size.height() - 1.5);
        const bool down = pressed == side;
        Key(p, r, down ? kRubberBottom : kRubberTop, down ? kRubberTop : kRubberBottom, 2.5);
        const QPointF c = r.center() + (down ? QPointF(0.5, 0.5) : QPointF(0, 0));
        QPainterPath arrow;
        arrow.moveTo(c + QPointF(3.5 * side, 0));
        arrow.lineTo(c + QPointF(-2.5 * side, -4));
        arrow.lineTo(c + QPointF(-2.5 * side, 4));
        arrow.closeSubpath();
        p.setPen(Qt::NoPen);
        p.setBrush(enabled ? kPrint : kPrintDim.darker(150));
        p.drawPath(arrow);
    }
    p.restore();
}

QFont PanelFont(int pixelSize, bool bold) {
    QFont f(QStringLiteral("Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setHintingPreference(QFont::PreferNoHinting);
    return f;
}

QSize SizeOf(Picture picture) {
    switch (picture) {
        case Picture::Background:
            return {636, 385};
        case Picture::ChannelHighlight:
            return {44, 85};
        case Picture::StepLit:
        case Picture::StepDark:
            return {27, 44};
        case Picture::Channel:
            return {66, 22};
        case Picture::Pattern:
            return {69, 39};
        case Picture::LiteOff:
        case Picture::LiteOn:
        case Picture::DarkOff:
        case Picture::DarkOn:
            return {12, 12};
        case Picture::VolSlider:
            return {15, 22};
        case Picture::HSlider:
            return {21, 15};
        case Picture::StartButton:
            return {55, 26};
        case Picture::StopButton:
            return {53, 25};
        case Picture::VolumeKnob:
            return {53, 53};
        case Picture::HideCover:
            return {29, 46};
        case Picture::StepLight:
            return {31, 11};
        case Picture::PlayingMeasure:
            return {50, 32};
        case Picture::FollowSwitch:
            return {52, 16};
        case Picture::TapButton:
            return {32, 14};
        case Picture::SongSwitch:
            return {69, 16};
    }
    return {};
}

QString HeaderText(int variant) {
    const int steps = variant % 32 == 12 ? 12 : 16;
    const int rate = variant / 32 > 0 ? variant / 32 : 44100;
    // 44.1, 48, 88.2, 22.05: as many decimals as the rate has.
    return QStringLiteral("8 CHANNELS  \u00B7  %1 STEPS  \u00B7  %2 kHz")
        .arg(steps)
        .arg(QString::number(rate / 1000.0, 'g', 7));
}

void Paint(QPainter& p, Picture picture, int variant) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    switch (picture) {
        case Picture::Background:
            Background(p, variant);
            break;
        case Picture::ChannelHighlight:
            ChannelHighlight(p);
            break;
        case Picture::StepLit:
            StepButton(p, true, variant == 1);
            break;
        case Picture::StepDark:
            StepButton(p, false, variant == 1);
            break;
        case Picture::Channel:
            p.fillRect(QRectF(0, 0, 66, 22), kPlate);
            ChannelKey(p, QPointF(0, 0), variant, false);
            break;
        case Picture::Pattern:
            PatternKeypad(p, variant % kQueuedKey, variant / kQueuedKey);
            break;
        case Picture::LiteOff:
            Lamp(p, false, true);
            break;
        case Picture::LiteOn:
            Lamp(p, true, true);
            break;
        case Picture::DarkOff:
            Lamp(p, false, false);
            break;
        case Picture::DarkOn:
            Lamp(p, true, false);
            break;
        case Picture::VolSlider:
            SliderCap(p, true);
            break;
        case Picture::HSlider:
            SliderCap(p, false);
            break;
        case Picture::StartButton:
            TransportButton(p, true);
            break;
        case Picture::StopButton:
            TransportButton(p, false);
            break;
        case Picture::VolumeKnob:
            Knob(p);
            break;
        case Picture::HideCover:
            HideCover(p);
            break;
        case Picture::StepLight:
            StepLight(p, variant % kStepLightElsewhere, variant >= kStepLightElsewhere);
            break;
        case Picture::PlayingMeasure:
            PlayingMeasure(p, variant);
            break;
        case Picture::FollowSwitch:
            FollowSwitch(p, variant == 1);
            break;
        case Picture::TapButton:
            TapButton(p, variant == 1);
            break;
        case Picture::SongSwitch:
            SongSwitch(p, variant == 1);
            break;
    }
    p.restore();
}

void PaintIcon(QPainter& p) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, kIconSize);
    face.setColorAt(0, kPlateLight);
    face.setColorAt(1, kFaceBottom);
    p.setPen(QPen(kPlateDark, 1.0));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(1.5, 1.5, kIconSize - 3, kIconSize - 3), 10, 10);
    // The recessed plate that the pictures lie on (their own backgrounds are this colour).
    p.setPen(Qt::NoPen);
    p.setBrush(kPlateDark);
    p.drawRoundedRect(QRectF(3.5, 3.5, 57, 57), 6, 6);
    p.setBrush(kPlate);
    p.drawRoundedRect(QRectF(4, 4, 56, 56), 6, 6);

    const auto at = [&p](qreal x, qreal y, Picture picture, int variant = 0) {
        p.save();
        p.translate(x, y);
        Paint(p, picture, variant);
        p.restore();
    };
    at(7, 4.5, Picture::DarkOn);
    at(18, 4.5, Picture::DarkOff);
    at(35, 4.5, Picture::DarkOn);
    at(46, 4.5, Picture::DarkOff);
    at(4.5, 16, Picture::StepLit, 1);
    at(32.5, 16, Picture::StepLit);
    p.restore();
}

QImage IconImage(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(qreal(size) / kIconSize, qreal(size) / kIconSize);
    PaintIcon(p);
    return image;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : kWindowIconSizes) icon.addPixmap(QPixmap::fromImage(IconImage(size)));
    return icon;
}

QIcon WindowIcon(const QString& programFolder) {
    const QString folder = programFolder + "/../share/icons/hicolor/";
    QIcon icon;
    for (int size : kWindowIconSizes) {
        const QString file = folder + QString("%1x%1/apps/qtam.png").arg(size);
        if (QFileInfo::exists(file)) icon.addFile(file, QSize(size, size));
    }
    return icon.isNull() ? ProgramIcon() : icon;
}

void PaintFocusRing(QPainter& p, QSize size, int band) {
    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setBrush(Qt::NoBrush);
    const QRectF outer(0, 0, size.width(), size.height());
    // Filled frames rather than pen strokes: whole logical pixels map to whole device pixels.
    const auto frame = [&p](const QRectF& r, const QColor& color) {
        p.fillRect(QRectF(r.left(), r.top(), r.width(), 1), color);
        p.fillRect(QRectF(r.left(), r.bottom() - 1, r.width(), 1), color);
        p.fillRect(QRectF(r.left(), r.top(), 1, r.height()), color);
        p.fillRect(QRectF(r.right() - 1, r.top(), 1, r.height()), color);
    };
    // Two pixels of black and two of yellow: whatever lies under the ring (an orange key, a lit
    // step, the dark body), one of the two bands stands out from it by far more than 3:1.
    for (int i = 0; i < 2 * band; ++i)
        frame(outer.adjusted(i, i, -i, -i), i < band ? QColor(Qt::black) : QColor(255, 230, 0));
    p.restore();
}

}  // namespace qtam::skin
