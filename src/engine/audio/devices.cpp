#include "engine/audio/devices.h"

#include <SDL.h>

#include <algorithm>
#include <atomic>
#include <thread>

#include "engine/device_settings.h"

namespace qtam {

namespace {
struct BackgroundClose {
    std::unique_ptr<SdlAudioScope> audio;
    std::atomic<bool> finished{false};
};

// The closes under way, or finished and not yet let go of.
std::vector<std::shared_ptr<BackgroundClose>>& BackgroundCloses() {
    static auto* closes = new std::vector<std::shared_ptr<BackgroundClose>>;  // never freed
    return *closes;
}

void ReleaseFinishedCloses() {
    std::erase_if(BackgroundCloses(), [](const auto& c) { return c->finished.load(); });
}
}  // namespace

void CloseDeviceInBackground(std::uint32_t device, std::unique_ptr<SdlAudioScope> audio) {
    auto close = std::make_shared<BackgroundClose>();
    close->audio = std::move(audio);
    BackgroundCloses().push_back(close);
    std::thread([device, close] {
        SDL_CloseAudioDevice(device);
        close->finished = true;
    }).detach();
}

int BackgroundClosesUnderWay() {
    ReleaseFinishedCloses();
    return static_cast<int>(BackgroundCloses().size());
}

SdlAudioScope::SdlAudioScope() {
    ReleaseFinishedCloses();
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    ok_ = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
}

SdlAudioScope::~SdlAudioScope() {
    if (ok_) SDL_QuitSubSystem(SDL_INIT_AUDIO);
}

int OutputDeviceCount() {
    SdlAudioScope audio;
    if (!audio.ok()) return 0;
    return std::max(0, SDL_GetNumAudioDevices(0));
}

std::string OutputDeviceName(int number) {
    SdlAudioScope audio;
    if (!audio.ok() || number < 0 || number >= SDL_GetNumAudioDevices(0)) return {};
    const char* name = SDL_GetAudioDeviceName(number, 0);
    return name ? name : "";
}

std::vector<std::string> DeviceListFrom(const std::vector<std::string>& hostNames) {
    std::vector<std::string> list{kDefaultWaveDevice};
    const std::size_t n = std::min<std::size_t>(hostNames.size(), kMaxListedDevices);
    list.insert(list.end(), hostNames.begin(), hostNames.begin() + static_cast<std::ptrdiff_t>(n));
    return list;
}

std::vector<std::string> HostOutputDeviceNames() {
    std::vector<std::string> names;
    SdlAudioScope audio;  // one start of the audio service for the whole listing
    if (audio.ok()) {
        const int n = std::max(0, SDL_GetNumAudioDevices(0));
        for (int i = 0; i < n; ++i) {
            const char* name = SDL_GetAudioDeviceName(i, 0);
            names.emplace_back(name ? name : "");
        }
    }
    return names;
}

std::vector<std::string> OutputDeviceList() {
    return DeviceListFrom(HostOutputDeviceNames());
}

}  // namespace qtam
