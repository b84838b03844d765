// Draws the program's icon with the groove panel's own pictures and writes it as a hicolor icon
// theme tree: OUT/hicolor/scalable/apps/qtam.svg and OUT/hicolor/NxN/apps/qtam.png.
//
//   make_icon OUT

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QSvgGenerator>
#include <array>
#include <cstdio>

#include "ui/skin.h"

namespace {

// The icon is drawn in a square of this many logical units, then scaled to each size.
constexpr int kUnits = 64;
constexpr std::array<int, 8> kPngSizes = {16, 22, 24, 32, 48, 64, 128, 256};

// The panel face: a rounded square in the face's gradient, with a recessed plate holding a
// row of beat lamps over two step buttons, the first lit as beat 1 is on the panel.
void PaintIcon(QPainter& p) {
    using qtam::skin::Picture;
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient face(0, 0, 0, kUnits);
    face.setColorAt(0, QColor(0x4a, 0x4d, 0x53));
    face.setColorAt(1, QColor(0x2a, 0x2c, 0x30));
    p.setPen(QPen(QColor(0x0e, 0x0e, 0x10), 1.0));
    p.setBrush(face);
    p.drawRoundedRect(QRectF(1.5, 1.5, kUnits - 3, kUnits - 3), 10, 10);

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x0e, 0x0e, 0x10));
    p.drawRoundedRect(QRectF(3.5, 3.5, 57, 57), 6, 6);
    p.setBrush(QColor(0x1f, 0x20, 0x23));
    p.drawRoundedRect(QRectF(4, 4, 56, 56), 6, 6);

    const auto at = [&p](qreal x, qreal y, Picture picture, int variant = 0) {
        p.save();
        p.translate(x, y);
        qtam::skin::Paint(p, picture, variant);
        p.restore();
    };
    at(7, 4.5, Picture::DarkOn);
    at(18, 4.5, Picture::DarkOff);
    at(35, 4.5, Picture::DarkOn);
    at(46, 4.5, Picture::DarkOff);
    at(4.5, 16, Picture::StepLit, 1);
    at(32.5, 16, Picture::StepLit);
}

bool WriteSvg(const QString& path) {
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(kUnits, kUnits));
    svg.setViewBox(QRect(0, 0, kUnits, kUnits));
    svg.setTitle("Q.Tam");
    svg.setDescription("The Q.Tam drum machine");
    QPainter p;
    if (!p.begin(&svg)) return false;
    PaintIcon(p);
    return p.end();
}

bool WritePng(const QString& path, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.scale(qreal(size) / kUnits, qreal(size) / kUnits);
    PaintIcon(p);
    p.end();
    return image.save(path, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_icon OUT\n");
        return 2;
    }
    // Drawn offscreen: the build needs no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[1]) + "/hicolor/";
    bool ok = QDir().mkpath(out + "scalable/apps") && WriteSvg(out + "scalable/apps/qtam.svg");
    for (int size : kPngSizes) {
        const QString folder = out + QString("%1x%1/apps").arg(size);
        ok = ok && QDir().mkpath(folder) && WritePng(folder + "/qtam.png", size);
    }
    if (!ok) {
        std::fprintf(stderr, "make_icon: cannot write the icons into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
