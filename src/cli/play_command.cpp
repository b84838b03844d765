#include "cli/play_command.h"

#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <optional>

#include "cli/cli_common.h"
#include "core/machine.h"
#include "engine/audio/devices.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"
#include "song/song.h"

namespace qtam::cli {

const char* const kPlayUsage =
    "usage: qtam-cli play SONG [--pattern N] [--seconds S] [--device N] [--buffer-size B]\n"
    "                          [--record OUT.wav] [--kit FILE] [--userbank FILE] [--force]\n"
    "  Plays SONG from measure 1 of pattern N (1..8, default 1) through the sound device\n"
    "  until S seconds have been played (default: until Ctrl-C), then stops as the Stop\n"
    "  button does. --device takes a number from 'qtam-cli devices' (default 0: the default\n"
    "  device), --buffer-size the block size in units of 1024 frames (2..10, default 8).\n"
    "  --record records the session to a WAV file (--force overwrites an existing one).\n";

const char* const kDevicesUsage =
    "usage: qtam-cli devices\n"
    "  Lists the output devices with the numbers that 'qtam-cli play --device' takes.\n";

namespace {

std::atomic<bool> interrupted{false};

void OnInterrupt(int signal) {
    interrupted = true;
    ::signal(signal, SIG_DFL);  // a second one ends the program at once
}

struct PlayOptions {
    LoadOptions load;
    std::optional<double> seconds;
    int device = 0;
    int bufferSize = kDefaultBufferSize;
    std::string record;
    bool force = false;
};

int Usage(const std::string& why) {
    std::cerr << "qtam-cli play: " << why << "\n" << kPlayUsage;
    return 2;
}

// Nullopt (and the reason in `error`) when the words do not make a valid command.
std::optional<PlayOptions> ParsePlayArgs(const std::vector<std::string>& words,
                                         std::string& error) {
    const auto args = ParseArgs(
        words,
        {"--pattern", "--seconds", "--device", "--buffer-size", "--record", "--kit", "--userbank"},
        {"--force"}, error);
    if (!args) return std::nullopt;
    if (args->positional.size() != 1) {
        error = args->positional.empty() ? "no song given" : "more than one song given";
        return std::nullopt;
    }
    PlayOptions o;
    o.load.song = args->positional[0];
    o.load.kit = args->Value("--kit");
    o.load.userbank = args->Value("--userbank");
    if (auto n = args->Number("--pattern", 1, kPatterns, error)) o.load.pattern = *n;
    if (auto n = args->Number("--device", 0, kMaxListedDevices, error)) o.device = *n;
    if (auto n = args->Number("--buffer-size", kMinBufferSize, kMaxBufferSize, error))
        o.bufferSize = *n;
    if (!error.empty()) return std::nullopt;
    if (auto s = args->Value("--seconds")) {
        char* end = nullptr;
        const double v = std::strtod(s->c_str(), &end);
        if (s->empty() || *end != '\0' || !(v > 0) || v > 1e7) {
            error = "--seconds takes a positive number";
            return std::nullopt;
        }
        o.seconds = v;
    }
    o.record = args->Value("--record").value_or("");
    o.force = args->Has("--force");
    return o;
}

}  // namespace

int RunPlay(const std::vector<std::string>& words) {
    std::string error;
    const auto options = ParsePlayArgs(words, error);
    if (!options) return Usage(error);
    const PlayOptions& o = *options;

    TerminalPrompter prompter(o.force);
    auto m = NewMachine(prompter);
    if (!LoadForCommand(*m, o.load)) return 1;
    ResetTransport(*m);  // measure 1 of the chosen pattern

    EventQueue events;
    PlaybackDriver driver(*m, events);
    WaveDeviceSettings settings;
    settings.DeviceNum = o.device;
    settings.Buffer_size = o.bufferSize;
    driver.ApplySettings(settings);
    driver.OpenDevice();
    if (!driver.Playback.IsOpen())
        return Fail("the sound device " + std::to_string(o.device) + " could not be opened");
    if (!o.record.empty() && !StartLiveSession(*m, o.record)) return 1;

    interrupted = false;
    struct sigaction action {};
    action.sa_handler = OnInterrupt;  // no SA_RESTART: the wait returns at once
    sigemptyset(&action.sa_mask);
    // Ctrl-C and a kill stop playback as the Stop button does, so a recording is finished.
    struct sigaction previousInt {};
    struct sigaction previousTerm {};
    sigaction(SIGINT, &action, &previousInt);
    sigaction(SIGTERM, &action, &previousTerm);

    // Counted from the blocks the device hands back, so the length does not depend on how
    // fast the device takes them.
    const std::int64_t target =
        o.seconds ? static_cast<std::int64_t>(*o.seconds * 44100.0 + 0.5) : INT64_MAX;
    // A device that stops handing blocks back would otherwise keep us waiting for ever.
    constexpr auto kStallLimit = std::chrono::seconds(5);
    driver.DoPlayStuff();
    auto lastProgress = std::chrono::steady_clock::now();
    std::int64_t lastPlayed = 0;
    bool stalled = false;
    while (!interrupted && driver.PlayedFrames() < target) {
        events.WaitAndProcess(std::chrono::milliseconds(200));
        const auto now = std::chrono::steady_clock::now();
        if (driver.PlayedFrames() != lastPlayed) {
            lastPlayed = driver.PlayedFrames();
            lastProgress = now;
        } else if (now - lastProgress > kStallLimit) {
            stalled = true;
            break;
        }
    }
    const bool recorded = driver.DoStopStuff();  // finishes a recording
    driver.CloseDevice();
    sigaction(SIGINT, &previousInt, nullptr);
    sigaction(SIGTERM, &previousTerm, nullptr);

    if (stalled) std::cerr << "qtam-cli: the sound device stopped playing\n";
    std::printf("Played %.2f s of pattern %d%s\n",
                static_cast<double>(driver.PlayedFrames()) / 44100.0, o.load.pattern,
                interrupted ? " (interrupted)" : "");
    return recorded && !stalled ? 0 : 1;
}

int RunDevices(const std::vector<std::string>& words) {
    if (!words.empty()) {
        std::cerr << kDevicesUsage;
        return 2;
    }
    const auto list = OutputDeviceList();
    for (std::size_t i = 0; i < list.size(); ++i) std::printf("%zu  %s\n", i, list[i].c_str());
    return 0;
}

}  // namespace qtam::cli
