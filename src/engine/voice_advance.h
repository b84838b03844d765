#pragma once
// What a clock tick does to one sounding voice on a frame that does not start a step. The tick
// and the frame mixers share it, so that a voice ends the same way on every path.

#include "core/player.h"

namespace qtam {

// A muted channel falls silent; a voice whose position has passed its length ends.
inline void EndIfDone(Voice& w, bool muted) {
    if (muted) {
        w.active = 0;
    } else if (w.position > w.length) {
        w.active = 0;
        w.position = 0;
        w.reversed = 0;
    }
}

inline void AdvanceVoice(Voice& w, bool muted) {
    w.position += w.rate;
    EndIfDone(w, muted);
}

}  // namespace qtam
