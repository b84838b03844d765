#include "ui/dialogs/progress_gauge.h"

#include <QPainter>
#include <QPixmap>
#include <stdexcept>

namespace qtam {

ProgressGauge::ProgressGauge(QWidget* parent) : QWidget(parent) {
    resize(100, 100);
    // Every pixel is painted here, so Qt need not clear the background first.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressGauge::SetMinValue(int value) {
    if (!gauge_.SetMinValue(value))
        throw std::logic_error("The gauge's minimum cannot lie above its maximum");
    update();
}

void ProgressGauge::SetMaxValue(int value) {
    if (!gauge_.SetMaxValue(value))
        throw std::logic_error("The gauge's maximum cannot lie below its minimum");
    update();
}

void ProgressGauge::SetProgress(int value) {
    // Painted at once: an offline render holds the event loop while it moves the gauge.
    if (gauge_.SetProgress(value)) repaint();
}

QString ProgressGauge::Text() const {
    return QString::fromStdString(gauge_.Text());
}

void ProgressGauge::SetForeColor(const QColor& color) {
    foreColor_ = color;
    update();
}

void ProgressGauge::PaintGauge(QPainter& p, const QRect& area) const {
    const QColor back = Qt::white;
    p.fillRect(area, back);
    p.setPen(QPen(Qt::black, 0));
    p.drawRect(area.adjusted(0, 0, -1, -1));
    const QRect inner = area.adjusted(1, 1, -1, -1);
    if (inner.isEmpty()) return;

    QRect bar;
    const int width = gauge_.BarWidth(inner.width());
    if (width > 0) {
        bar = QRect(inner.left(), inner.top(), width, inner.height());
        p.fillRect(bar, foreColor_);
    }

    // The text in the bar's colour over the background and in the background's colour over
    // the bar, so every part of it stands out.
    const QString text = Text();
    p.save();
    p.setClipRect(inner);
    p.setPen(foreColor_);
    p.drawText(inner, Qt::AlignCenter, text);
    if (!bar.isEmpty()) {
        p.setClipRect(bar);
        p.setPen(back);
        p.drawText(inner, Qt::AlignCenter, text);
    }
    p.restore();
}

void ProgressGauge::paintEvent(QPaintEvent*) {
    // Drawn off-screen at the screen's pixel density, then copied in one operation.
    const qreal ratio = devicePixelRatioF();
    QPixmap offscreen(size() * ratio);
    offscreen.setDevicePixelRatio(ratio);
    {
        QPainter p(&offscreen);
        PaintGauge(p, rect());
    }
    QPainter screen(this);
    screen.drawPixmap(0, 0, offscreen);
}

}  // namespace qtam

#include "moc_progress_gauge.cpp"
