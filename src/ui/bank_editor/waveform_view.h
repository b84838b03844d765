#pragma once
// WaveformView (once TWaveForm): a userbank slot's sound as the editor shows it.
//
// Thread: the user-interface thread.

#include <QImage>
#include <QWidget>

namespace qtam {

struct SampleSlot;

// The 160 x 50 waveform of a slot, black on white. A slot without a sound (or null) gives the
// cleared picture: the frame and the centre line.
constexpr int kWaveformWidth = 160;
constexpr int kWaveformHeight = 50;
QImage WaveformImage(const SampleSlot* slot);

// Shows the waveform picture pixel for pixel, enlarged without smoothing on dense screens.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    explicit WaveformView(QWidget* parent = nullptr);
    void SetImage(QImage image);
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

}  // namespace qtam
