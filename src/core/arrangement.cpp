#include "core/arrangement.h"

namespace qtam {

int EntryMeasures(const Song& song, const ArrangementEntry& e) {
    const int pattern = e.pattern >= 1 && e.pattern <= kPatterns ? e.pattern : 1;
    return MeasureCountOf(song, pattern) * (e.repeats >= 1 ? e.repeats : 1);
}

std::int64_t ArrangementMeasures(const Song& song, const Arrangement& a) {
    return EntryStartMeasure(song, a, a.count + 1);
}

std::int64_t EntryStartMeasure(const Song& song, const Arrangement& a, int entry) {
    std::int64_t start = 0;
    for (int n = 1; n < entry && n <= a.count; ++n) start += EntryMeasures(song, a.entry(n));
    return start;
}

ArrangementPlace PlaceOfMeasure(const Song& song, const Arrangement& a, std::int64_t measure) {
    if (a.count == 0 || measure < 0) return {};
    const std::int64_t total = ArrangementMeasures(song, a);
    if (measure >= total) {
        if (a.loopTo < 1 || a.loopTo > a.count) return {};
        const std::int64_t loopStart = EntryStartMeasure(song, a, a.loopTo);
        measure = loopStart + (measure - loopStart) % (total - loopStart);
    }
    for (int n = 1; n <= a.count; ++n) {
        const int length = EntryMeasures(song, a.entry(n));
        if (measure < length) {
            const int perPass = length / (a.entry(n).repeats >= 1 ? a.entry(n).repeats : 1);
            return {n, static_cast<int>(measure / perPass) + 1,
                    static_cast<int>(measure % perPass) + 1};
        }
        measure -= length;
    }
    return {};
}

int FirstEntryOf(const Arrangement& a, int pattern) {
    for (int n = 1; n <= a.count; ++n)
        if (a.entry(n).pattern == pattern) return n;
    return 0;
}

bool ArrangementValid(const Arrangement& a) {
    if (a.count > kMaxEntries || a.loopTo > a.count) return false;
    for (int n = 1; n <= kMaxEntries; ++n) {
        const ArrangementEntry& e = a.entry(n);
        if (n > a.count) {
            if (e.pattern != 0 || e.repeats != 0 || e.mutes != 0 || e.reserved != 0) return false;
        } else if (e.pattern < 1 || e.pattern > kPatterns || e.repeats < 1 ||
                   e.repeats > kMaxRepeats || e.reserved != 0) {
            return false;
        }
    }
    return true;
}

}  // namespace qtam
