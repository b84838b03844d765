#include "song/arrangement_edits.h"

#include <algorithm>

#include "core/arrangement.h"

namespace qtam {

namespace {

bool IsEntry(const Arrangement& a, int entry) {
    return entry >= 1 && entry <= a.count;
}

}  // namespace

bool InsertEntry(Arrangement& a, int at, int pattern, int repeats) {
    if (a.count >= kMaxEntries || at < 1 || at > a.count + 1 || pattern < 1 ||
        pattern > kPatterns || repeats < 1 || repeats > kMaxRepeats)
        return false;
    std::copy_backward(a.entries + at - 1, a.entries + a.count, a.entries + a.count + 1);
    a.entry(at) = {static_cast<std::uint8_t>(pattern), static_cast<std::uint8_t>(repeats), 0, 0};
    a.count += 1;
    if (a.loopTo >= at) a.loopTo += 1;
    return true;
}

bool DuplicateEntry(Arrangement& a, int entry) {
    if (!IsEntry(a, entry)) return false;
    const ArrangementEntry copy = a.entry(entry);
    if (!InsertEntry(a, entry + 1, copy.pattern, copy.repeats)) return false;
    a.entry(entry + 1).mutes = copy.mutes;
    return true;
}

bool DeleteEntry(Arrangement& a, int entry) {
    if (!IsEntry(a, entry)) return false;
    std::copy(a.entries + entry, a.entries + a.count, a.entries + entry - 1);
    a.entry(a.count) = {};
    a.count -= 1;
    if (a.loopTo == entry)
        a.loopTo = 0;  // the entry it went on at is gone: the list stops
    else if (a.loopTo > entry)
        a.loopTo -= 1;
    return true;
}

bool MoveEntry(Arrangement& a, int entry, int to) {
    if (!IsEntry(a, entry) || !IsEntry(a, to)) return false;
    const ArrangementEntry moved = a.entry(entry);
    const int loop = a.loopTo;
    if (to < entry)
        std::copy_backward(a.entries + to - 1, a.entries + entry - 1, a.entries + entry);
    else
        std::copy(a.entries + entry, a.entries + to, a.entries + entry - 1);
    a.entry(to) = moved;
    // The loop follows the entry it names.
    if (loop == entry)
        a.loopTo = static_cast<std::uint16_t>(to);
    else if (to < entry && loop >= to && loop < entry)
        a.loopTo = static_cast<std::uint16_t>(loop + 1);
    else if (to > entry && loop > entry && loop <= to)
        a.loopTo = static_cast<std::uint16_t>(loop - 1);
    return true;
}

bool SetEntryPattern(Arrangement& a, int entry, int pattern) {
    if (!IsEntry(a, entry) || pattern < 1 || pattern > kPatterns) return false;
    a.entry(entry).pattern = static_cast<std::uint8_t>(pattern);
    return true;
}

bool SetEntryRepeats(Arrangement& a, int entry, int repeats) {
    if (!IsEntry(a, entry) || repeats < 1 || repeats > kMaxRepeats) return false;
    a.entry(entry).repeats = static_cast<std::uint8_t>(repeats);
    return true;
}

bool SetEntryMutes(Arrangement& a, int entry, std::uint8_t mutes) {
    if (!IsEntry(a, entry)) return false;
    a.entry(entry).mutes = mutes;
    return true;
}

bool SetArrangementLoop(Arrangement& a, int loopTo) {
    if (loopTo < 0 || loopTo > a.count) return false;
    a.loopTo = static_cast<std::uint16_t>(loopTo);
    return true;
}

}  // namespace qtam
