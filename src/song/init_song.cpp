#include "song/init_song.h"

#include "core/machine.h"
#include "core/song.h"
#include "engine/play_clock.h"

namespace qtam {

static void ResetCell(StepCell& c) {
    c.velocity = -1;
    c.pan = 64;
    c.reversed = 0;
    c.reserved2 = 0;
}

void InitSongRecord(Song& s, std::string_view userbankPath, std::string_view description) {
    s.header.set(kSongHeader);

    s.tempo = 145;
    s.shuffle = 100;

    s.showInfoOnOpen = 0;
    s.humanize = 0;

    s.stepsPerMeasure = 16;

    s.title.set("");
    s.subtitle.set("");
    s.author.set("");
    s.copyright.set(kNewCopyright);

    s.userbankFile.set(userbankPath);
    s.userbankDescription.set(description);

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
}

void InitSong(Machine& m) {
    Song& s = m.song;
    EditorState& e = m.editor;
    PlayClock& clock = m.player.clock;

    e.CurrentChannel = e.CurrentMeasure = e.CurrentPattern = e.CurrentStep = 1;
    clock.PlayMeasure = clock.PlayPattern = clock.NextPattern = clock.PlayStep = 1;

    InitSongRecord(s, m.activation.UserbankPath, m.banks.userbank.description);
    m.arrangement = Arrangement{};
    e.HumanizeChecked = false;
    SetTempo(PlayerOf(m), s.tempo, s.shuffle);

    clock.StepCounter = 0;
    SetTempo(PlayerOf(m), s.tempo, s.shuffle);

    MarkSongSaved(m);
}

}  // namespace qtam
