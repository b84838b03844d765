// Frames per second of both mixers on a busy pattern: all eight channels sounding long
// userbank sounds, a note on every step. Reported as multiples of real time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <vector>

#include "core/machine.h"
#include "engine/mixer.h"
#include "song/init_song.h"

namespace {

constexpr double kFramesPerSecond = 44100.0;

std::unique_ptr<qtam::Machine> BusyMachine() {
    auto m = std::make_unique<qtam::Machine>();
    qtam::InitSong(*m);
    for (int slot = 1; slot <= 8; ++slot) {
        std::int16_t* buf = m->banks.userbank.ensureBuffer(slot);
        const int n = qtam::kUserSlotCapacity;
        for (int i = 0; i < n; ++i)
            buf[i] = static_cast<std::int16_t>(20000.0 * std::sin(i * 0.01 * slot) *
                                               (1.0 - double(i) / n));
        m->banks.userbank.slot(slot).sampleCount = n;
    }
    m->song.measureCount[0] = 4;
    for (int ch = 1; ch <= 8; ++ch) {
        auto& cs = m->song.settings(1);
        cs.instrument[ch - 1] = static_cast<std::uint8_t>(100 + ch);
        cs.volume[ch - 1] = static_cast<std::uint8_t>(90 + ch);
        cs.distortionOn[ch - 1] = ch % 2;
        for (int meas = 1; meas <= 4; ++meas)
            for (int s = 1; s <= 16; ++s) {
                auto& c = m->song.cell(1, meas, ch, s);
                c.velocity = static_cast<std::int8_t>(60 + (s * 7 + ch) % 60);
                c.pan = static_cast<std::uint8_t>((s * 13 + ch * 5) % 128);
                c.reversed = (s + ch) % 5 == 0;
            }
    }
    m->song.settings(1).distortionThreshold = 790;
    m->editor.HumanizeChecked = true;
    m->song.shuffle = 120;
    qtam::SetTempo(PlayerOf(*m), 145, 120);
    qtam::ResetTransport(*m);
    qtam::PrepareStart(PlayerOf(*m));
    return m;
}

void BM_RenderBlock(benchmark::State& state) {
    auto m = BusyMachine();
    const int frames = 8192;  // the default block
    for (auto _ : state) {
        m->BufPos = m->BufPos == 1 ? qtam::kSecondHalf : 1;
        qtam::RenderBlock(*m, frames);
        benchmark::DoNotOptimize(m->StagingBuffer.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["xRealTime"] = benchmark::Counter(static_cast<double>(frames) / kFramesPerSecond,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_RenderBlock)->Unit(benchmark::kMicrosecond);

void BM_MixFrame(benchmark::State& state) {
    auto m = BusyMachine();
    qtam::StartRender(*m, 1);
    const int frames = 8192;
    for (auto _ : state) {
        for (int i = 0; i < frames; ++i) benchmark::DoNotOptimize(qtam::MixFrame(PlayerOf(*m)));
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["xRealTime"] = benchmark::Counter(static_cast<double>(frames) / kFramesPerSecond,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MixFrame)->Unit(benchmark::kMicrosecond);

// The block form of the disk mixer that rendering to disk uses.
void BM_MixFrames(benchmark::State& state) {
    auto m = BusyMachine();
    qtam::StartRender(*m, 1);
    const int frames = 8192;
    std::vector<qtam::StereoFrame> out(frames);
    for (auto _ : state) {
        qtam::MixFrames(PlayerOf(*m), out.data(), frames);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations() * frames);
    state.counters["xRealTime"] = benchmark::Counter(static_cast<double>(frames) / kFramesPerSecond,
                                                     benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_MixFrames)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
