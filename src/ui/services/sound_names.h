#pragma once
// How the windows name the sound a channel of the edited pattern plays.
//
// Thread: owner (the user-interface thread).

#include <QString>

namespace qtam {

struct Machine;

// The name of channel 1..8's sound, trimmed; "no sound" when it is not in memory.
QString ChannelSoundName(const Machine& m, int channel);

}  // namespace qtam
