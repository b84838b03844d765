#pragma once
// The host's audio output service (SDL): keeping it started and listing its devices.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qtam {

inline constexpr const char* kDefaultWaveDevice = "Default wave-device";

// Keeps SDL's audio subsystem started for its lifetime (SDL counts the starts). SDL is told
// to leave signal handlers alone, so Ctrl-C still ends a terminal program. Thread: the one
// that uses sound (the user-interface thread, or a terminal program's only one).
class SdlAudioScope {
public:
    // Also lets go of the starts kept by closes in the background that have finished.
    SdlAudioScope();
    ~SdlAudioScope();
    SdlAudioScope(const SdlAudioScope&) = delete;
    SdlAudioScope& operator=(const SdlAudioScope&) = delete;
    bool ok() const { return ok_; }

private:
    bool ok_ = false;
};

// Closes an open device on a thread of its own, for a device whose audio thread may wait for
// ever on a sound server that no longer answers (SDL's close waits for that thread). The device
// must be paused, so that it never calls back again. `audio` stays started until the close has
// finished: stopping the audio service while the close runs is not safe.
// Thread: as SdlAudioScope.
void CloseDeviceInBackground(std::uint32_t device, std::unique_ptr<SdlAudioScope> audio);
// How many of those closes are still waiting. Thread: as SdlAudioScope.
int BackgroundClosesUnderWay();

// Loads the sound library (SDL) unless it is loaded; the first load may take a while (it
// brings in many libraries behind it). Thread: any.
void LoadSoundLibrary();
// Whether the load has been tried (it may have failed: then sound simply cannot be used).
// Thread: any.
bool SoundLibraryLoadTried();

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
