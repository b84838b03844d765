// Writes the program's icon, drawn by the groove panel's skin, as a hicolor icon theme tree:
// OUT/hicolor/scalable/apps/qtam.svg and OUT/hicolor/NxN/apps/qtam.png.
//
//   make_icon OUT

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgGenerator>
#include <array>
#include <cstdio>

#include "ui/groove_panel/skin.h"

namespace {

constexpr std::array<int, 8> kPngSizes = {16, 22, 24, 32, 48, 64, 128, 256};

bool WriteSvg(const QString& path) {
    using qtam::skin::kIconSize;
    QSvgGenerator svg;
    svg.setFileName(path);
    svg.setSize(QSize(kIconSize, kIconSize));
    svg.setViewBox(QRect(0, 0, kIconSize, kIconSize));
    svg.setTitle("Q.Tam");
    svg.setDescription("The Q.Tam drum machine");
    QPainter p;
    if (!p.begin(&svg)) return false;
    qtam::skin::PaintIcon(p);
    return p.end();
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
        ok = ok && QDir().mkpath(folder) &&
             qtam::skin::IconImage(size).save(folder + "/qtam.png", "PNG");
    }
    if (!ok) {
        std::fprintf(stderr, "make_icon: cannot write the icons into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
