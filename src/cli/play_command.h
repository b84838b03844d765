#pragma once
// The "play" and "devices" commands of qtam-cli: real-time playback of a song through the
// sound device, and the list of output devices.

#include <string>
#include <vector>

namespace qtam::cli {

// qtam-cli play SONG [--pattern N] [--seconds S] [--device N] [--buffer-size B] [--latency MS]
//                    [--record OUT.wav] [--kit FILE] [--userbank FILE]
// `args` are the words after "play". Returns the process exit code.
int RunPlay(const std::vector<std::string>& args);

// qtam-cli devices: the device numbers that --device takes, with their names.
int RunDevices(const std::vector<std::string>& args);

extern const char* const kPlayUsage;
extern const char* const kDevicesUsage;

}  // namespace qtam::cli
