#include "plugin/params.h"

#include "song/panel_edits.h"

namespace qtam::plugin {

ParamInfo ParamInfoOf(int index) {
    if (index >= kChannelMute && index < kChannelMute + kChannels) {
        const std::string n = std::to_string(index - kChannelMute + 1);
        return {"mute" + n, "Mute channel " + n, 0, 1, 0, true, true};
    }
    if (index >= kChannelVolume && index < kChannelVolume + kChannels) {
        const std::string n = std::to_string(index - kChannelVolume + 1);
        return {"volume" + n, "Volume channel " + n, 0, kChannelVolumeMax, kChannelVolumeMax, false,
                true};
    }
    switch (index) {
        case kMainVolume:
            return {"main_volume", "Main volume", 0, kMainVolumeMax, 128, false, true};
        case kPlay:
            return {"play", "Play", 0, 1, 0, true, true};
        case kSongMode:
            return {"song_mode", "Song mode", 0, 1, 0, true, true};
        case kPattern:
            return {"pattern", "Pattern", 1, kPatterns, 1, false, true};
        case kClockOut:
            return {"clock_out", "MIDI clock out", 0, 1, 0, true, true};
        default:
            return {};
    }
}

}  // namespace qtam::plugin
