#include "song/song.h"

#include <algorithm>

#include "core/machine.h"
#include "engine/mixer.h"
#include "song/init_song.h"

namespace qtam {

void NormalizeSong(Song& song) {
    if (song.stepsPerMeasure != 12) song.stepsPerMeasure = 16;
    for (auto& n : song.measureCount)
        n = static_cast<std::uint8_t>(std::clamp<int>(n, 1, kMeasures));
    song.tempo = static_cast<std::uint16_t>(std::clamp<int>(song.tempo, 50, 250));
    song.shuffle = static_cast<std::uint8_t>(std::clamp<int>(song.shuffle, 100, 150));
    // A pan above 127 would turn one channel's gain negative and double the other.
    for (Pattern& pattern : song.patterns)
        for (Measure& measure : pattern.measures)
            for (auto& channel : measure.steps)
                for (StepCell& cell : channel)
                    cell.pan = static_cast<std::uint8_t>(std::min<int>(cell.pan, 127));
}

static void ResetCell(StepCell& c) {
    c.velocity = -1;
    c.pan = 64;
    c.reversed = 0;
    c.reserved2 = 0;
}

void InitSong(Machine& m) {
    Song& s = m.song;
    EditorState& e = m.editor;
    PlayClock& clock = m.clock;

    e.CurrentChannel = e.CurrentMeasure = e.CurrentPattern = e.CurrentStep = 1;
    clock.PlayMeasure = clock.PlayPattern = clock.NextPattern = clock.PlayStep = 1;

    s.header.set(kSongHeader);

    s.tempo = 145;
    s.shuffle = 100;
    SetTempo(m, s.tempo, s.shuffle);

    s.showInfoOnOpen = 0;
    s.humanize = 0;
    e.HumanizeChecked = false;

    s.stepsPerMeasure = 16;

    s.title.set("");
    s.subtitle.set("");
    s.author.set("");
    s.copyright.set(kNewCopyright);

    s.userbankFile.set(m.activation.UserbankPath);
    s.userbankDescription.set(m.banks.userbank.description);

    for (int p = 1; p <= kPatterns; ++p) {
        for (int meas = 1; meas <= kMeasures; ++meas) {
            Measure& measure = s.measure(p, meas);
            for (int ch = 0; ch < kChannels; ++ch) {
                for (auto& c : measure.steps[ch]) ResetCell(c);
                measure.settings.instrument[ch] = 1;
                measure.settings.distortionOn[ch] = 0;
                measure.settings.volume[ch] = 100;
                measure.settings.mute[ch] = 0;
            }
        }
        s.settings(p).distortionGain = 10;
        s.settings(p).distortionThreshold = 0;
    }

    for (auto& n : s.measureCount) n = 1;

    clock.StepCounter = 0;
    SetTempo(m, s.tempo, s.shuffle);

    e.SongChanged = false;
}

}  // namespace qtam
