// How fast and how closely the JACK client's measure of a MIDI clock coming in (ClockTempo)
// locks on. Each trial: a clock at a random tempo of 60..240 BPM, every tick on a whole frame at
// 44100 Hz and jittered by up to J (0, 0.25, 0.5 and 1 ms), taken cold, a minute later changed
// to another random tempo for another minute. Prints, per jitter, the ticks until the measured
// tempo comes within 0.1 BPM and stays there for the rest of the minute (median and worst of
// the trials, after the start and after the change; "never" when it does not stay), and the
// error from the third beat on (the worst and the RMS, in BPM), of the first minute (a steady
// clock) and of the second (the change included).
//
//   build/bin/clock_in_lock_bench [TRIALS] [SEED]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "engine/step_grid.h"

using namespace qtam;

namespace {

constexpr int kRate = 44100;
constexpr int kNever = 1 << 30;

struct Segment {
    int lockTicks = kNever;
    double worst = 0, squares = 0;
    int counted = 0;
};

// A minute of ticks at `bpm` into `tempo`, from frame `t` on.
Segment Run(ClockTempo& tempo, double& t, double bpm, double jitter, std::mt19937& r) {
    std::uniform_real_distribution<double> shake(-jitter, jitter);
    const int ticks = static_cast<int>(24 * bpm);
    Segment s;
    int lastOff = -1;
    for (int n = 0; n < ticks; ++n) {
        tempo.Tick(std::llround(t + shake(r)));
        t += kRate * 60.0 / (24 * bpm);
        const double error = std::fabs(tempo.Bpm() - bpm);
        if (error > 0.1) lastOff = n;
        if (n < 48) continue;
        s.worst = std::max(s.worst, error);
        s.squares += error * error;
        s.counted += 1;
    }
    if (lastOff < ticks - 1) s.lockTicks = lastOff + 2;  // the ticks taken, counted from 1
    return s;
}

void Print(const char* what, std::vector<int> ticks) {
    std::sort(ticks.begin(), ticks.end());
    auto text = [](int n) {
        static char buf[2][16];
        static int which = 0;
        which ^= 1;
        if (n >= kNever)
            std::snprintf(buf[which], sizeof buf[which], "never");
        else
            std::snprintf(buf[which], sizeof buf[which], "%d", n);
        return buf[which];
    };
    std::printf("  %s: median %s ticks, worst %s", what, text(ticks[ticks.size() / 2]),
                text(ticks.back()));
}

}  // namespace

int main(int argc, char** argv) {
    const int trials = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    std::mt19937 r(argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1u);
    std::printf("clock-in tempo lock, %d trials a jitter, 60..240 BPM, 44100 Hz\n", trials);
    for (double ms : {0.0, 0.25, 0.5, 1.0}) {
        std::vector<int> start, change;
        double worst[2] = {}, squares[2] = {};
        int counted[2] = {};
        for (int trial = 0; trial < trials; ++trial) {
            ClockTempo tempo(kRate);
            double t = std::uniform_real_distribution<double>(0, 1e8)(r);
            for (int segment = 0; segment < 2; ++segment) {
                const double bpm = std::uniform_real_distribution<double>(60, 240)(r);
                const Segment s = Run(tempo, t, bpm, kRate * ms / 1000.0, r);
                (segment == 0 ? start : change).push_back(s.lockTicks);
                worst[segment] = std::max(worst[segment], s.worst);
                squares[segment] += s.squares;
                counted[segment] += s.counted;
            }
        }
        std::printf("jitter %.2f ms:", ms);
        Print("lock after the start", start);
        Print(";  after a change", change);
        for (int segment = 0; segment < 2; ++segment)
            std::printf(";  %s: worst %.4f BPM, RMS %.4f BPM",
                        segment == 0 ? "error, a steady clock" : "after a change", worst[segment],
                        std::sqrt(squares[segment] / std::max(counted[segment], 1)));
        std::printf("\n");
    }
    return 0;
}
