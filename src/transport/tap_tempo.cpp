#include "transport/tap_tempo.h"

#include <algorithm>
#include <cmath>

namespace qtam {

int TapTempo::Tap(Clock::time_point when, int min, int max) {
    if (taps_ > 0 && when - last_ >= kTimeout) taps_ = 0;
    if (taps_ > 0) {
        const double gap = std::chrono::duration<double>(when - last_).count();
        gaps_[static_cast<std::size_t>((taps_ - 1) % kGaps)] = gap;
    }
    last_ = when;
    ++taps_;
    if (taps_ < 2) return 0;
    const int n = std::min(taps_ - 1, kGaps);
    std::array<double, kGaps> sorted = gaps_;
    std::sort(sorted.begin(), sorted.begin() + n);
    const double median = n % 2 == 1 ? sorted[static_cast<std::size_t>(n / 2)]
                                     : (sorted[static_cast<std::size_t>(n / 2 - 1)] +
                                        sorted[static_cast<std::size_t>(n / 2)]) /
                                           2;
    if (!(median > 0)) return max;
    return static_cast<int>(std::clamp<long>(std::lround(60.0 / median), min, max));
}

bool TapTempo::Ended(Clock::time_point now) const {
    return taps_ == 0 || now - last_ >= kTimeout;
}

}  // namespace qtam
