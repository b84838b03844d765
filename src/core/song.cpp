#include "core/song.h"

#include <algorithm>

namespace qtam {

void NormalizeSong(Song& song) {
    if (song.stepsPerMeasure != 12) song.stepsPerMeasure = 16;
    for (auto& n : song.measureCount)
        n = static_cast<std::uint8_t>(std::clamp<int>(n, 1, kMeasures));
    song.tempo = static_cast<std::uint16_t>(std::clamp<int>(song.tempo, kTempoMin, kTempoMax));
    song.shuffle = static_cast<std::uint8_t>(std::clamp<int>(song.shuffle, 100, 150));
    // A pan above 127 would turn one channel's gain negative and double the other.
    for (Pattern& pattern : song.patterns)
        for (Measure& measure : pattern.measures)
            for (auto& channel : measure.steps)
                for (StepCell& cell : channel)
                    cell.pan = static_cast<std::uint8_t>(std::min<int>(cell.pan, 127));
}

}  // namespace qtam
