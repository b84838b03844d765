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

std::string MidiNotesText(const std::array<std::uint8_t, 8>& notes) {
    std::string text;
    for (std::uint8_t n : notes) text += (text.empty() ? "" : ",") + std::to_string(n);
    return text;
}

bool ParseMidiNotes(const std::string& text, std::array<std::uint8_t, 8>& notes) {
    std::array<std::uint8_t, 8> read{};
    std::size_t at = 0;
    for (std::size_t i = 0; i < read.size(); ++i) {
        if (i > 0 && (at >= text.size() || text[at++] != ',')) return false;
        int value = 0, digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4)
            value = value * 10 + (text[at++] - '0'), ++digits;
        if (digits == 0 || digits > 3 || value > 127) return false;
        read[i] = static_cast<std::uint8_t>(value);
    }
    if (at != text.size()) return false;
    notes = read;
    return true;
}

}  // namespace qtam
