// Tick accuracy and CPU cost of PrecisionTimer at the light show's interval.
//
//   precision_timer_bench [ticks] [interval_ms]      (defaults 200 and 55)
//
// The ticks are handled the way the program handles them: the worker posts each one to an
// EventQueue that this thread drains. Reported: the deviation of each interval from the
// nominal one, as seen where the tick runs (on this thread) and as the timer's own Elapsed
// counts it, and the process's CPU time (the worker plus this mostly sleeping thread).

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "engine/audio/event_queue.h"
#include "engine/audio/precision_timer.h"

namespace {

using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Report(const char* what, const std::vector<double>& gapsMs, double nominal) {
    double sum = 0, sumAbs = 0, worst = 0;
    for (double g : gapsMs) {
        const double d = g - nominal;
        sum += d;
        sumAbs += std::abs(d);
        worst = std::max(worst, std::abs(d));
    }
    const double n = static_cast<double>(gapsMs.size());
    std::printf("%-26s mean %+.3f ms, mean |dev| %.3f ms, worst |dev| %.3f ms\n", what, sum / n,
                sumAbs / n, worst);
}

}  // namespace

int main(int argc, char** argv) {
    const int ticks = argc > 1 ? std::atoi(argv[1]) : 200;
    const int interval = argc > 2 ? std::atoi(argv[2]) : 55;
    if (ticks < 2 || interval < 1 || interval > 65535) {
        std::fprintf(stderr, "usage: precision_timer_bench [ticks >= 2] [interval_ms 1..65535]\n");
        return 2;
    }

    qtam::EventQueue events;
    qtam::PrecisionTimer timer(events);
    timer.SetInterval(static_cast<std::uint16_t>(interval));
    std::vector<Clock::time_point> arrived;
    arrived.reserve(ticks);
    timer.OnTimer = [&](qtam::PrecisionTimer&) { arrived.push_back(Clock::now()); };

    const double cpuBefore = CpuSeconds();
    const auto wallBefore = Clock::now();
    timer.SetEnabled(true);
    while (static_cast<int>(arrived.size()) < ticks) {
        events.WaitAndProcess(std::chrono::milliseconds(1000));
    }
    timer.SetEnabled(false);
    const double wall = std::chrono::duration<double>(Clock::now() - wallBefore).count();
    const double cpu = CpuSeconds() - cpuBefore;

    std::vector<double> arrivalGaps;
    for (int i = 1; i < ticks; ++i)
        arrivalGaps.push_back(
            std::chrono::duration<double, std::milli>(arrived[i] - arrived[i - 1]).count());
    std::printf("%d ticks at %d ms (%d intervals)\n", ticks, interval, ticks - 1);
    Report("interval where it runs:", arrivalGaps, interval);
    std::printf("CPU time %.3f s over %.3f s wall: %.1f %% of one core\n", cpu, wall,
                100.0 * cpu / wall);
    return 0;
}
