#include "ui/dialogs/about_box.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QScreen>
#include <cmath>

#include "ui/qt/window_placement.h"

namespace qtam {

namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 200;

QFont PixelFont(int pixels, int weight, bool italic = false) {
    QFont f;
    f.setPixelSize(pixels);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(italic);
    return f;
}

void DrawKnob(QPainter& p, QPointF centre, double radius, double angleDegrees) {
    QRadialGradient g(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
    g.setColorAt(0, QColor(0xd8, 0xdc, 0xe4));
    g.setColorAt(1, QColor(0x4a, 0x50, 0x5c));
    p.setPen(QPen(QColor(0x10, 0x12, 0x18), 1));
    p.setBrush(g);
    p.drawEllipse(centre, radius, radius);
    const double a = angleDegrees * M_PI / 180.0;
    p.setPen(QPen(QColor(0xff, 0x8a, 0x1e), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(centre + QPointF(std::cos(a), -std::sin(a)) * radius * 0.3,
               centre + QPointF(std::cos(a), -std::sin(a)) * radius * 0.85);
}

// The product: a drum machine front with its name.
void DrawProduct(QPainter& p) {
    QLinearGradient sky(0, 0, 0, kHeight);
    sky.setColorAt(0, QColor(0x23, 0x2a, 0x3d));
    sky.setColorAt(1, QColor(0x08, 0x0a, 0x12));
    p.fillRect(QRect(0, 0, kWidth, kHeight), sky);

    p.setFont(PixelFont(40, QFont::Black, true));
    p.setPen(QColor(0x00, 0x00, 0x00, 0x90));
    p.drawText(QRect(2, 4, kWidth, 52), Qt::AlignHCenter | Qt::AlignVCenter, "Q.Tam");
    QLinearGradient gold(0, 10, 0, 50);
    gold.setColorAt(0, QColor(0xff, 0xd6, 0x6e));
    gold.setColorAt(1, QColor(0xff, 0x7a, 0x18));
    p.setPen(QPen(QBrush(gold), 1));
    p.drawText(QRect(0, 2, kWidth, 52), Qt::AlignHCenter | Qt::AlignVCenter, "Q.Tam");

    // The machine's front panel.
    const QRectF front(18, 62, 284, 90);
    QLinearGradient metal(0, front.top(), 0, front.bottom());
    metal.setColorAt(0, QColor(0x9a, 0xa2, 0xb0));
    metal.setColorAt(0.5, QColor(0x6c, 0x74, 0x82));
    metal.setColorAt(1, QColor(0x3c, 0x42, 0x4e));
    p.setPen(QPen(QColor(0x0c, 0x0e, 0x14), 1.5));
    p.setBrush(metal);
    p.drawRoundedRect(front, 8, 8);

    // Knobs and a display.
    DrawKnob(p, QPointF(46, 90), 13, 200);
    DrawKnob(p, QPointF(80, 90), 13, 120);
    DrawKnob(p, QPointF(114, 90), 13, 45);
    const QRectF display(140, 76, 146, 28);
    p.setPen(QPen(QColor(0x10, 0x14, 0x10), 1));
    p.setBrush(QColor(0x1c, 0x2e, 0x1a));
    p.drawRoundedRect(display, 3, 3);
    p.setFont(PixelFont(11, QFont::Bold));
    p.setPen(QColor(0x8c, 0xff, 0x7a));
    p.drawText(display, Qt::AlignCenter, "PATTERN 1  145 BPM");

    // Sixteen step buttons, a beat lit on them.
    const bool lit[16] = {true, false, false, true,  false, false, true,  false,
                          true, false, true,  false, false, true,  false, false};
    for (int i = 0; i < 16; ++i) {
        const QRectF key(28 + i * 16.6, 118, 12, 22);
        p.setPen(QPen(QColor(0x14, 0x16, 0x1c), 1));
        p.setBrush(i % 4 == 0 ? QColor(0xe4, 0xe4, 0xdc) : QColor(0xb8, 0xba, 0xb4));
        p.drawRoundedRect(key, 2, 2);
        const QPointF led(key.center().x(), key.top() - 4);
        p.setPen(Qt::NoPen);
        if (lit[i]) {
            QRadialGradient glow(led, 5);
            glow.setColorAt(0, QColor(0xff, 0x40, 0x20));
            glow.setColorAt(1, QColor(0xff, 0x40, 0x20, 0));
            p.setBrush(glow);
            p.drawEllipse(led, 5, 5);
        }
        p.setBrush(lit[i] ? QColor(0xff, 0x60, 0x30) : QColor(0x50, 0x18, 0x10));
        p.drawEllipse(led, 2, 2);
    }

    p.setFont(PixelFont(13, QFont::Bold));
    p.setPen(QColor(0xe8, 0xec, 0xf4));
    p.drawText(QRect(0, 156, kWidth, 18), Qt::AlignHCenter, "Vediveve Duzuda Duvivir 1.0");
    p.setFont(PixelFont(10, QFont::Normal));
    p.setPen(QColor(0x9c, 0xa6, 0xbc));
    p.drawText(QRect(0, 175, kWidth, 14), Qt::AlignHCenter,
               "sampling groove machine  \u00b7  Vellmarch");
}

// The second picture: a drum kit under a spotlight.
void DrawHidden(QPainter& p) {
    QRadialGradient spot(QPointF(160, 60), 220);
    spot.setColorAt(0, QColor(0x5a, 0x2a, 0x78));
    spot.setColorAt(1, QColor(0x0e, 0x06, 0x16));
    p.fillRect(QRect(0, 0, kWidth, kHeight), spot);

    // Cymbals.
    p.setPen(QPen(QColor(0x6a, 0x50, 0x20), 1.5));
    p.setBrush(QColor(0xe8, 0xc0, 0x4a));
    p.drawEllipse(QPointF(70, 62), 36, 7);
    p.drawEllipse(QPointF(252, 56), 40, 8);
    p.setPen(QPen(QColor(0xa0, 0xa0, 0xa8), 2));
    p.drawLine(QPointF(70, 69), QPointF(70, 160));
    p.drawLine(QPointF(252, 64), QPointF(252, 160));
    // Toms.
    for (const QPointF c : {QPointF(128, 96), QPointF(192, 96)}) {
        p.setPen(QPen(QColor(0x20, 0x06, 0x06), 1.5));
        p.setBrush(QColor(0xc0, 0x20, 0x30));
        p.drawRoundedRect(QRectF(c.x() - 22, c.y() - 8, 44, 26), 6, 6);
        p.setBrush(QColor(0xf0, 0xee, 0xe6));
        p.drawEllipse(c, 22, 7);
    }
    // The bass drum with the name on its head.
    QRadialGradient head(QPointF(152, 132), 60);
    head.setColorAt(0, QColor(0xff, 0xfa, 0xf0));
    head.setColorAt(1, QColor(0xc8, 0xc0, 0xb0));
    p.setPen(QPen(QColor(0xc0, 0x20, 0x30), 6));
    p.setBrush(head);
    p.drawEllipse(QPointF(160, 140), 44, 44);
    p.setFont(PixelFont(20, QFont::Black, true));
    p.setPen(QColor(0x30, 0x10, 0x40));
    p.drawText(QRectF(116, 126, 88, 28), Qt::AlignCenter, "Q.Tam");

    p.setFont(PixelFont(12, QFont::Bold));
    p.setPen(QColor(0xff, 0xe0, 0x8a));
    p.drawText(QRect(0, 8, kWidth, 18), Qt::AlignHCenter, "Keep the groove going!");
    p.setFont(PixelFont(10, QFont::Normal));
    p.setPen(QColor(0xd0, 0xc0, 0xe8));
    p.drawText(QRect(0, 186, kWidth, 14), Qt::AlignHCenter, "made by drummers, for drummers");
}

}  // namespace

AboutPicture::AboutPicture(Kind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
    setFixedSize(kWidth, kHeight);
}

void AboutPicture::paintEvent(QPaintEvent*) {
    // Vector drawing: sharp at whatever device pixel ratio the window has.
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    if (kind_ == Kind::Product)
        DrawProduct(p);
    else
        DrawHidden(p);
}

void AboutPicture::mousePressEvent(QMouseEvent*) {
    Q_EMIT clicked();
}

AboutBox::AboutBox(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      aboutPicture_(new AboutPicture(AboutPicture::Kind::Product, this)),
      hidden_(new AboutPicture(AboutPicture::Kind::Hidden, this)) {
    setWindowTitle(kAboutCaption);
    setFixedSize(kWidth, kHeight);
    aboutPicture_->setObjectName(QStringLiteral("aboutPicture"));
    hidden_->setObjectName(QStringLiteral("hidden"));
    hidden_->hide();
    connect(aboutPicture_, &AboutPicture::clicked, this, &AboutBox::Dismiss);
    connect(hidden_, &AboutPicture::clicked, this, &AboutBox::Dismiss);
    splashEnd_.setSingleShot(true);
    connect(&splashEnd_, &QTimer::timeout, this, &QWidget::hide);
}

void AboutBox::ShowAsSplash() {
    show();
    raise();
    splashShown_.start();
    // Painted now: what comes next (the kit loaded at the main window's first activation)
    // keeps the event loop busy, and an X server shows a window nothing has painted as black.
    WaitUntilExposed(*this, 1000);
    repaint();
    QCoreApplication::processEvents();
}

void AboutBox::GoAway() {
    if (!isVisible()) return;
    const qint64 seen = splashShown_.isValid() ? splashShown_.elapsed() : kSplashMs;
    if (seen >= kSplashMs) {
        hide();
    } else if (!splashEnd_.isActive()) {
        splashEnd_.start(static_cast<int>(kSplashMs - seen));
    }
}

bool AboutBox::HiddenPictureShown() const {
    return !hidden_->isHidden();
}

void AboutBox::Dismiss() {
    hide();
    hidden_->hide();
    aboutPicture_->show();
}

void AboutBox::PrepareToShow() {
    armed_ = false;
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        move(area.center() - QPoint(width() / 2, height() / 2));
    }
}

void AboutBox::OnHidden() {
    armed_ = false;
    splashShown_.invalidate();
    splashEnd_.stop();
    Q_EMIT wentAway();
}

void AboutBox::showEvent(QShowEvent* e) {
    if (!e->spontaneous()) PrepareToShow();
    QWidget::showEvent(e);
}

void AboutBox::hideEvent(QHideEvent* e) {
    // Spontaneous hides (the desktop minimising everything) are no going away.
    if (!e->spontaneous()) OnHidden();
    QWidget::hideEvent(e);
}

void AboutBox::keyPressEvent(QKeyEvent* e) {
    if (e->key() == kArmKey) {
        armed_ = !armed_;
    } else if (e->key() == kRevealKey && armed_) {
        aboutPicture_->hide();
        hidden_->show();
    } else {
        QWidget::keyPressEvent(e);
    }
}

}  // namespace qtam

#include "moc_about_box.cpp"
