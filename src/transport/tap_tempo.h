#pragma once
// Tap tempo: the tempo of the taps, from the median of the gaps between the last few (one
// late or early tap moves it little), for a tapping that ends after kTimeout without a tap.
//
// Thread: owner, every member.

#include <array>
#include <chrono>

namespace qtam {

class TapTempo {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::milliseconds kTimeout{2000};
    static constexpr int kGaps = 8;  // the gaps the median is taken of, the newest

    // A tap at `when`. Returns the tempo in beats per minute (whole, within min..max) from the
    // second tap of a tapping on, 0 for its first.
    int Tap(Clock::time_point when, int min, int max);
    // The tapping is over at `now`: the last tap lies kTimeout or more before it.
    bool Ended(Clock::time_point now) const;
    // The next tap begins a new tapping.
    void Reset() { taps_ = 0; }
    int Taps() const { return taps_; }

private:
    std::array<double, kGaps> gaps_{};  // seconds, the newest at (taps_ - 2) % kGaps
    int taps_ = 0;
    Clock::time_point last_{};
};

}  // namespace qtam
