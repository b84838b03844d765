#include "engine/device_settings.h"

#include <algorithm>
#include <cstdio>

namespace qtam {

std::int32_t BlockFramesOf(int bufferSize) {
    return std::clamp(bufferSize, kMinBufferSize, kMaxBufferSize) * kFramesPerBufferUnit;
}

void ApplyDeviceChoice(WaveDeviceSettings& settings, int chosenEntry, int chosenBufferSize,
                       int numDevices) {
    settings.DeviceNum = chosenEntry < 0 ? 0 : chosenEntry;
    settings.NumDevices = numDevices;
    settings.DeviceSetup = 1;
    settings.Buffer_size = std::clamp(chosenBufferSize, kMinBufferSize, kMaxBufferSize);
}

}  // namespace qtam
