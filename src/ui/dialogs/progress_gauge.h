#pragma once
// ProgressGauge (once TGauge): the progress gauge control. A horizontal bar with the percentage
// written across its middle, readable over the bar and over the background alike.

#include <QColor>
#include <QWidget>

#include "engine/gauge.h"

namespace qtam {

class ProgressGauge : public QWidget {
    Q_OBJECT
public:
    // A reusable control: it needs nothing of the program, so it takes no AppContext.
    explicit ProgressGauge(QWidget* parent = nullptr);

    int MinValue() const { return gauge_.MinValue(); }
    int MaxValue() const { return gauge_.MaxValue(); }
    int Progress() const { return gauge_.Progress(); }
    // A minimum above the maximum (or a maximum below the minimum) throws std::logic_error
    // and changes nothing; a narrower range pulls Progress into it.
    void SetMinValue(int value);
    void SetMaxValue(int value);
    // Kept within MinValue..MaxValue; repaints at once, and only when the shown percentage
    // changes.
    void SetProgress(int value);

    int Percent() const { return gauge_.Percent(); }
    QString Text() const;  // "50%"

    // The bar's colour; the background is white, inside a black frame.
    QColor ForeColor() const { return foreColor_; }
    void SetForeColor(const QColor& color);

    QSize sizeHint() const override { return {100, 100}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void PaintGauge(QPainter& p, const QRect& area) const;

    Gauge gauge_;
    QColor foreColor_ = Qt::black;
};

}  // namespace qtam
