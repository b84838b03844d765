#pragma once
// Tells a held key's repeats from real presses. The X server repeats a held key as release and
// press pairs. Qt marks them as repeats only when the press is already waiting as the release
// is read, which a busy loop can miss; the pair still shares one timestamp.
//
// Thread: the user-interface thread.

#include <QKeyEvent>
#include <cstdint>

namespace qtam {

class KeyRepeatGuard {
public:
    // A key release; false for a repeat's release, which does not count as one.
    bool Release(const QKeyEvent& e) {
        if (e.isAutoRepeat()) return false;
        key_ = e.key();
        at_ = e.timestamp();
        return true;
    }
    // Whether a key press only repeats a held key (its release then did not count).
    bool PressRepeats(const QKeyEvent& e) const {
        return e.isAutoRepeat() || (at_ != 0 && e.timestamp() == at_ && e.key() == key_);
    }

private:
    int key_ = 0;
    std::uint64_t at_ = 0;  // 0: no time known
};

}  // namespace qtam
