// Watches the machine while something plays: a loop sleeps a millisecond at a time and prints
// every wake-up that came MIN_MS or more after the one before, with the wall-clock time and
// the ticks the hypervisor stole from this machine's processors since the previous line (or
// the previous second). A gap every thread saw at once is the machine's, not a program's.
//
//   wakeup_gaps [MIN_MS]      (default 8; runs until killed)
//   prints: EPOCH_SECONDS GAP_MS STEAL_TICKS

#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

long long Nanoseconds(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long StolenTicks() {
    long long fields[8] = {};
    if (std::FILE* f = std::fopen("/proc/stat", "r")) {
        if (std::fscanf(f, "cpu %lld %lld %lld %lld %lld %lld %lld %lld", &fields[0], &fields[1],
                        &fields[2], &fields[3], &fields[4], &fields[5], &fields[6],
                        &fields[7]) != 8)
            fields[7] = 0;
        std::fclose(f);
    }
    return fields[7];
}

}  // namespace

int main(int argc, char** argv) {
    const long long minGap = (argc > 1 ? std::atoll(argv[1]) : 8) * 1000000LL;
    long long before = Nanoseconds(CLOCK_MONOTONIC);
    long long stolen = StolenTicks();
    long long stolenAt = before;
    for (;;) {
        const timespec millisecond{0, 1000000};
        nanosleep(&millisecond, nullptr);
        const long long now = Nanoseconds(CLOCK_MONOTONIC);
        if (now - before >= minGap) {
            const long long s = StolenTicks();
            std::printf("%.3f %.1f %lld\n", static_cast<double>(Nanoseconds(CLOCK_REALTIME)) / 1e9,
                        static_cast<double>(now - before) / 1e6, s - stolen);
            std::fflush(stdout);
            stolen = s;
            stolenAt = now;
        } else if (now - stolenAt >= 1000000000LL) {
            stolen = StolenTicks();
            stolenAt = now;
        }
        before = now;
    }
}
