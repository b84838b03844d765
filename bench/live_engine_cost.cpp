// The cost of the live engine's process call as the JACK client makes it: 64-frame periods at
// 48000 Hz, the engine playing a song on its own clock into the main pair and the eight
// channel pairs. The plugin's figure comes from tests/plugin/clap_host --bench over the same
// song, so the two stand side by side.
//
//   live_engine_cost KIT SONG [SECONDS]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "banks/kit.h"
#include "core/machine.h"
#include "engine/live/live_engine.h"
#include "song/song_file.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: live_engine_cost KIT SONG [SECONDS]\n");
        return 2;
    }
    constexpr int kRate = 48000, kPeriod = 64;
    const double seconds = argc > 3 ? std::atof(argv[3]) : 20;
    auto m = std::make_unique<qtam::Machine>();
    if (!qtam::LoadInternalBank(*m, argv[1]) || !qtam::LoadSong(*m, argv[2], false)) return 1;
    auto engine = std::make_unique<qtam::LiveEngine>();
    engine->Configure(kRate, qtam::TransportSync::Off);
    engine->Publish(m->song, 1, 1, false, 128);
    engine->PublishSounds(m->banks);
    engine->Start();
    std::vector<std::vector<float>> buffers(qtam::LiveEngine::kPorts, std::vector<float>(kPeriod));
    float* ports[qtam::LiveEngine::kPorts];
    for (int p = 0; p < qtam::LiveEngine::kPorts; ++p) ports[p] = buffers[p].data();
    const long periods = static_cast<long>(seconds * kRate / kPeriod);
    double total = 0, longest = 0;
    long counted = 0;
    qtam::HostPosition at;
    for (long i = 0; i < periods; ++i) {
        at.time = i * kPeriod;
        const auto start = std::chrono::steady_clock::now();
        engine->Process(kPeriod, at, nullptr, 0, ports);
        const double took =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (i % 64 == 0) engine->Poll([](const qtam::EngineReport&) {});
        if (i * kPeriod < kRate) continue;  // the first second warms the caches
        total += took;
        longest = std::max(longest, took);
        ++counted;
    }
    const double mean = total / double(counted);
    std::printf("process %.2f us mean, %.2f us longest, %.3f %% of a %d-frame period at %d Hz\n",
                mean * 1e6, longest * 1e6, 100 * mean / (double(kPeriod) / kRate), kPeriod, kRate);
    return 0;
}
