#include "ui/bank_editor/waveform_view.h"

#include <QPainter>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "core/sample_bank.h"

namespace qtam {

namespace {

constexpr int kWaveformCentre = 25;
constexpr int kWaveformLevelStep = 1201;  // sample units per pixel of height

}  // namespace

QImage WaveformImage(const SampleSlot* slot) {
    QImage image(kWaveformWidth, kWaveformHeight, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setPen(QPen(Qt::black, 0));
    p.setBrush(Qt::white);
    p.drawRect(0, 0, kWaveformWidth - 1, kWaveformHeight - 1);
    if (slot == nullptr || !slot->hasSound()) {
        p.drawLine(0, kWaveformCentre, kWaveformWidth - 1, kWaveformCentre);
        return image;
    }
    // 161, not 160: the last column never reaches the end of the sound.
    const std::int32_t step = slot->sampleCount / (kWaveformWidth + 1);
    for (int x = 0; x < kWaveformWidth; ++x) {
        const int v = slot->samples[static_cast<std::size_t>(x) * step];
        // lrint rounds halves to even in the default rounding mode.
        const int h = static_cast<int>(std::lrint(static_cast<double>(v) / kWaveformLevelStep));
        p.drawLine(x, kWaveformCentre, x, kWaveformCentre + h);
        p.drawLine(x, kWaveformCentre, x, kWaveformCentre - h);
    }
    return image;
}

WaveformView::WaveformView(QWidget* parent) : QWidget(parent) {
    setFixedSize(kWaveformWidth, kWaveformHeight);
    image_ = WaveformImage(nullptr);
}

void WaveformView::SetImage(QImage image) {
    image_ = std::move(image);
    update();
}

void WaveformView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    // Whole pixels, enlarged without smoothing at device pixel ratios above 1.
    p.setRenderHint(QPainter::SmoothPixmapTransform, false);
    p.drawImage(QRect(0, 0, kWaveformWidth, kWaveformHeight), image_);
}

}  // namespace qtam

#include "moc_waveform_view.cpp"
