#pragma once
// The arithmetic of the progress gauge: a value kept inside its range and the whole
// percentage that the control shows. The drawing is left to whoever shows it.

#include <cstdint>
#include <string>

namespace qtam {

class Gauge {
public:
    int MinValue() const { return min_; }
    int MaxValue() const { return max_; }
    int Progress() const { return progress_; }

    // A range turned inside out is refused (false) and nothing changes; a narrower range
    // pulls the progress into it.
    bool SetMinValue(int value) {
        if (value > max_) return false;
        min_ = value;
        if (progress_ < min_) progress_ = min_;
        return true;
    }
    bool SetMaxValue(int value) {
        if (value < min_) return false;
        max_ = value;
        if (progress_ > max_) progress_ = max_;
        return true;
    }

    // Clamped into the range. True when the shown percentage changed: time to repaint.
    bool SetProgress(int value) {
        const int before = Percent();
        progress_ = value < min_ ? min_ : (value > max_ ? max_ : value);
        return Percent() != before;
    }

    int Percent() const {
        if (max_ == min_) return 0;
        return static_cast<int>((static_cast<std::int64_t>(progress_) - min_) * 100 /
                                (static_cast<std::int64_t>(max_) - min_));
    }

    // "50%"
    std::string Text() const { return std::to_string(Percent()) + "%"; }

    // Pixels of a horizontal bar inside a drawing area of `innerWidth`.
    int BarWidth(int innerWidth) const {
        if (innerWidth <= 0) return 0;
        const std::int64_t w = static_cast<std::int64_t>(Percent()) * innerWidth / 100;
        return static_cast<int>(w < innerWidth ? w : innerWidth);
    }

private:
    int min_ = 0;
    int max_ = 100;
    int progress_ = 0;
};

}  // namespace qtam
