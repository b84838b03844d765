#pragma once
// The plugin's parameters: what a host can automate, in the order of their indices.
// Thread: any.

#include <string>

#include "core/song.h"

namespace qtam::plugin {

enum Param : int {
    kMainVolume,
    kPlay,           // plays on its own clock while the host's transport does not roll
    kSongMode,       // the song's arrangement plays, in place of the pattern
    kPattern,        // 1..8: the pattern edited and played (queued while playing)
    kClockOut,       // MIDI clock out
    kChannelVolume,  // channel 1's; channel n's is kChannelVolume + n - 1
    kChannelMute = kChannelVolume + kChannels,  // the same for the mutes
    kParamCount = kChannelMute + kChannels,
};

struct ParamInfo {
    std::string symbol;  // a port symbol: letters, digits, '_'
    std::string name;
    float min = 0, max = 1, def = 0;
    bool toggle = false;   // off (0) or on (1)
    bool integer = false;  // whole numbers only
};
ParamInfo ParamInfoOf(int index);

}  // namespace qtam::plugin
