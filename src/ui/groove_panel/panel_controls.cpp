#include "ui/groove_panel/panel_controls.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <QPixmapCache>
#include <algorithm>
#include <cmath>

namespace qtam {

bool IsClick(const QWidget& widget, const QMouseEvent* release) {
    return release->button() == Qt::LeftButton &&
           widget.rect().contains(release->position().toPoint());
}

SkinPicture::SkinPicture(skin::Picture picture, int variant, const QString& name, QWidget* parent)
    : QWidget(parent), picture_(picture), variant_(variant) {
    setObjectName(name);
    resize(skin::SizeOf(picture));
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void SkinPicture::SetPicture(skin::Picture picture, int variant) {
    if (picture == picture_ && variant == variant_) return;
    picture_ = picture;
    variant_ = variant;
    update();
}

// Each picture is drawn once at each pixel ratio and kept: a repaint copies it. The light moving
// over the panel repaints the background under it several times a second, and drawing that
// again (its printed labels shaped and laid out each time) was most of the program's work while
// playing.
void SkinPicture::paintEvent(QPaintEvent* event) {
    const qreal ratio = devicePixelRatioF();
    const QString key = QStringLiteral("qtam-skin-%1-%2-%3")
                            .arg(static_cast<int>(picture_))
                            .arg(variant_)
                            .arg(ratio);
    QPixmap drawn;
    if (!QPixmapCache::find(key, &drawn)) {
        const QSize size = skin::SizeOf(picture_);
        drawn = QPixmap(size * ratio);
        drawn.setDevicePixelRatio(ratio);
        drawn.fill(Qt::transparent);
        QPainter into(&drawn);
        skin::Paint(into, picture_, variant_);
        into.end();
        QPixmapCache::insert(key, drawn);
    }
    QPainter p(this);
    const QRect exposed = event->rect();
    p.drawPixmap(exposed, drawn,
                 QRectF(exposed.topLeft() * ratio, exposed.size() * ratio).toRect());
}

void SkinPicture::mousePressEvent(QMouseEvent* event) {
    if (onPress) onPress(event);
}

void SkinPicture::mouseMoveEvent(QMouseEvent* event) {
    if (onMove) onMove(event);
}

void SkinPicture::mouseReleaseEvent(QMouseEvent* event) {
    if (onRelease) onRelease(event);
}

KnobPicture::KnobPicture(const QString& name, QWidget* parent)
    : SkinPicture(skin::Picture::VolumeKnob, 0, name, parent) {}

void KnobPicture::EnsureCanvas(qreal scale) {
    if (scale == scale_ && !canvas_.isNull()) return;
    scale_ = scale;
    const QSize logical = skin::SizeOf(skin::Picture::VolumeKnob);
    canvas_ = QImage(
        QSize(int(std::ceil(logical.width() * scale)), int(std::ceil(logical.height() * scale))),
        QImage::Format_ARGB32_Premultiplied);
    canvas_.setDevicePixelRatio(scale);
    QPainter p(&canvas_);
    skin::Paint(p, skin::Picture::VolumeKnob);
    p.end();
    if (pointerShown_) {
        // white shadow first, then the black line over it, as they were drawn
        DrawLine(inner_ + QPoint(1, 1), outer_ + QPoint(1, 1), Qt::white);
        DrawLine(inner_, outer_, Qt::black);
    }
}

void KnobPicture::DrawLine(QPoint from, QPoint to, const QColor& color) {
    if (canvas_.isNull()) EnsureCanvas(devicePixelRatioF());
    QPainter p(&canvas_);
    p.setRenderHint(QPainter::Antialiasing, false);
    // Pixels are squares: a pen of width 1 through the pixel centres covers exactly the
    // pixels of the line, so drawing it again in another colour covers the same ones.
    QPen pen(color, 1.0, Qt::SolidLine, Qt::SquareCap);
    p.setPen(pen);
    p.drawLine(QPointF(from) + QPointF(0.5, 0.5), QPointF(to) + QPointF(0.5, 0.5));
    p.end();
    update();
}

void KnobPicture::SetPointer(QPoint inner, QPoint outer, bool shown) {
    inner_ = inner;
    outer_ = outer;
    pointerShown_ = shown;
}

QColor KnobPicture::PixelAt(QPoint logical) const {
    if (canvas_.isNull()) return {};
    const QPoint device(int((logical.x() + 0.5) * scale_), int((logical.y() + 0.5) * scale_));
    return canvas_.pixelColor(device);
}

void KnobPicture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // The scale the picture is shown at: the screen's, or a screenshot's.
    const qreal scale = std::max<qreal>(1.0, p.deviceTransform().m11());
    EnsureCanvas(scale);
    p.drawImage(QRectF(QPointF(0, 0), QSizeF(skin::SizeOf(skin::Picture::VolumeKnob))), canvas_);
}

PanelLabel::PanelLabel(const QString& name, const QColor& background, bool bold, int pixelSize,
                       QWidget* parent)
    : QLabel(parent) {
    setObjectName(name);
    setAlignment(Qt::AlignCenter);
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, background);
    pal.setColor(QPalette::WindowText, Qt::white);
    setPalette(pal);
    setFont(skin::PanelFont(pixelSize, bold));
    setTextFormat(Qt::PlainText);
}

void PanelLabel::mousePressEvent(QMouseEvent* event) {
    if (onPress) onPress(event);
}

void PanelLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (onRelease) onRelease(event);
}

UpDown::UpDown(const QString& name, QWidget* parent) : QWidget(parent) {
    setObjectName(name);
    resize(65, 18);
    repeat_.setInterval(90);
    connect(&repeat_, &QTimer::timeout, this, [this] {
        repeat_.setInterval(90);
        StepOnce();
    });
}

void UpDown::SetRange(int min, int max) {
    min_ = min;
    max_ = std::max(min, max);
    SetPosition(position_);
}

void UpDown::SetPosition(int position) {
    const int p = std::clamp(position, min_, max_);
    if (p == position_) return;
    position_ = p;
    update();
}

void UpDown::StepOnce() {
    if (pressed_ == 0 || !isEnabled()) return;
    SetPosition(position_ + pressed_);
    if (onClick) onClick();
}

void UpDown::paintEvent(QPaintEvent*) {
    QPainter p(this);
    skin::PaintUpDown(p, size(), pressed_, isEnabled());
}

void UpDown::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = event->position().x() < width() / 2.0 ? -1 : 1;
    update();
    StepOnce();
    repeat_.start(400);  // the first repeat waits longer
}

void UpDown::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return;
    pressed_ = 0;
    repeat_.stop();
    update();
}

void UpDown::changeEvent(QEvent* event) {
    if (event->type() == QEvent::EnabledChange && !isEnabled()) {
        pressed_ = 0;
        repeat_.stop();
    }
    QWidget::changeEvent(event);
}

}  // namespace qtam
