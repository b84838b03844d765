#include "engine/device_settings.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace qtam {

std::int32_t BlockFramesOf(int bufferSize) {
    return std::clamp(bufferSize, kMinBufferSize, kMaxBufferSize) * kFramesPerBufferUnit;
}

int LatencyOfBufferSize(int bufferSize) {
    static constexpr int kLatencyMs[] = {20, 30, 45, 60, 80, 100, 120, 250, 500};
    static_assert(std::size(kLatencyMs) == kMaxBufferSize - kMinBufferSize + 1);
    static_assert(kLatencyMs[kDefaultBufferSize - kMinBufferSize] == kDefaultLatencyMs);
    static_assert(kLatencyMs[0] == kMinLatencyMs && kLatencyMs[8] == kMaxLatencyMs);
    return kLatencyMs[std::clamp(bufferSize, kMinBufferSize, kMaxBufferSize) - kMinBufferSize];
}

void ApplyDeviceChoice(WaveDeviceSettings& settings, int chosenEntry, int chosenBufferSize,
                       int numDevices) {
    settings.DeviceNum = chosenEntry < 0 ? 0 : chosenEntry;
    settings.NumDevices = numDevices;
    settings.DeviceSetup = 1;
    settings.Buffer_size = std::clamp(chosenBufferSize, kMinBufferSize, kMaxBufferSize);
    settings.Latency = LatencyOfBufferSize(settings.Buffer_size);
}

}  // namespace qtam
