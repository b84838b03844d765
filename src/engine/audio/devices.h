#pragma once
// The host's audio output service (SDL): keeping it started and listing its devices.

#include <string>
#include <vector>

namespace qtam {

inline constexpr const char* kDefaultWaveDevice = "Default wave-device";

// Keeps SDL's audio subsystem started for its lifetime (SDL counts the starts). SDL is told
// to leave signal handlers alone, so Ctrl-C still ends a terminal program.
class SdlAudioScope {
public:
    SdlAudioScope();
    ~SdlAudioScope();
    SdlAudioScope(const SdlAudioScope&) = delete;
    SdlAudioScope& operator=(const SdlAudioScope&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// Output devices the host reports; 0 when its audio service cannot start.
int OutputDeviceCount();
// Name of the output device of the 0-based number; empty when there is none.
std::string OutputDeviceName(int number);
// Every output device's name, in the host's order.
std::vector<std::string> HostOutputDeviceNames();
// The setup dialog's list: "Default wave-device", then the first ten devices.
std::vector<std::string> OutputDeviceList();
// The same list made from the names the host reports.
std::vector<std::string> DeviceListFrom(const std::vector<std::string>& hostNames);

}  // namespace qtam
