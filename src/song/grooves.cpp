#include "song/grooves.h"

#include <random>

#include "core/machine.h"
#include "engine/play_clock.h"

namespace qtam {

const std::array<GrooveTemplate, 19> kGrooveTemplates = {{
    {"Chemical Beat", {127, 60, 80, 90, 110, 60, 80, 80, 50, 90, 60, 80, 127, 70, 80, 80}, 102},
    {"Clubby Feeling", {90, 70, 85, 70, 90, 70, 85, 80, 90, 80, 85, 70, 90, 70, 85, 80}, 125},
    {"Default", {80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80, 80}, 100},
    {"Disco Fever", {110, 70, 100, 70, 120, 70, 100, 70, 110, 70, 100, 70, 120, 70, 100, 70}, 100},
    {"Drum 'n Bass", {100, 70, 90, 70, 90, 90, 120, 60, 90, 70, 100, 80, 80, 70, 100, 80}, 100},
    {"Euro Dance", {115, 70, 110, 90, 115, 70, 110, 90, 115, 70, 110, 90, 115, 70, 110, 90}, 100},
    {"Funky Drummer", {100, 60, 100, 90, 100, 60, 90, 80, 90, 70, 60, 80, 100, 70, 90, 80}, 110},
    {"Hard Trance", {127, 70, 90, 70, 127, 70, 90, 70, 127, 70, 90, 70, 127, 70, 100, 90}, 100},
    {"Hard Step", {110, 80, 80, 80, 110, 60, 90, 90, 100, 60, 70, 60, 110, 60, 90, 60}, 100},
    {"Hiphop 1", {110, 60, 100, 90, 110, 60, 60, 90, 70, 90, 80, 80, 110, 70, 60, 80}, 115},
    {"Hiphop 2", {110, 80, 80, 80, 110, 60, 90, 90, 100, 60, 70, 60, 110, 60, 90, 60}, 100},
    {"Industrial", {127, 60, 80, 90, 110, 60, 80, 80, 50, 90, 60, 80, 127, 70, 80, 80}, 105},
    {"Jungle", {100, 70, 80, 90, 100, 90, 80, 60, 70, 50, 100, 80, 90, 60, 90, 50}, 100},
    {"Latin Groove", {90, 90, 100, 70, 90, 60, 90, 60, 50, 60, 100, 70, 80, 90, 110, 70}, 115},
    {"Pop Tune", {100, 70, 70, 70, 110, 70, 70, 70, 100, 70, 70, 70, 110, 70, 70, 70}, 100},
    {"Rap Vibez", {110, 80, 80, 80, 110, 60, 90, 90, 100, 60, 70, 60, 110, 60, 90, 60}, 105},
    {"Rave Nation", {127, 70, 110, 70, 127, 70, 110, 70, 127, 70, 110, 70, 127, 70, 110, 110}, 100},
    {"Techno 1", {117, 70, 90, 70, 117, 70, 90, 70, 117, 70, 90, 70, 117, 70, 90, 70}, 106},
    {"Techno 2", {117, 70, 100, 100, 117, 70, 100, 100, 117, 70, 100, 100, 117, 70, 100, 100}, 100},
}};

namespace {

// Every note above velocity 0 of the current pattern, all 16 measures whatever measureCount
// says; measure outermost, slot innermost (the order Random Chaos draws in).
template <typename NewVelocity>
void ReshapeLoudNotes(Machine& m, NewVelocity newVelocity) {
    const int p = m.editor.CurrentPattern;
    for (int meas = 1; meas <= kMeasures; ++meas) {
        for (int ch = 1; ch <= kChannels; ++ch) {
            for (int slot = 1; slot <= kSlots; ++slot) {
                StepCell& c = m.song.cell(p, meas, ch, slot);
                if (c.hasLoudNote()) c.velocity = static_cast<std::int8_t>(newVelocity(slot));
            }
        }
    }
}

}  // namespace

std::string_view GrooveMenuCaption(int index) {
    if (index == kRandomChaosMenuIndex) return kRandomChaosCaption;
    if (index < 0 || index >= kGrooveMenuSize) return {};
    return kGrooveTemplates[index < kRandomChaosMenuIndex ? index : index - 1].caption;
}

bool ChooseGrooveMenuEntry(Machine& m, int index) {
    if (index < 0 || index >= kGrooveMenuSize) return false;
    if (index == kRandomChaosMenuIndex) {
        RandomChaos(m);
    } else {
        ApplyGroove(m, kGrooveTemplates[index < kRandomChaosMenuIndex ? index : index - 1]);
    }
    return true;
}

void ApplyGroove(Machine& m, const GrooveTemplate& groove) {
    ReshapeLoudNotes(m, [&](int slot) { return groove.velocities[slot - 1]; });
    m.song.shuffle = groove.shuffle;
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
    m.editor.DropPreparedStart();
}

void RandomChaos(Machine& m) {
    std::uniform_int_distribution<int> draw(0, 99);
    ReshapeLoudNotes(m, [&](int) { return 27 + draw(m.random); });
    m.editor.DropPreparedStart();
}

void ToggleHumanize(Machine& m) {
    m.editor.HumanizeChecked = !m.editor.HumanizeChecked;
    m.song.humanize = m.editor.HumanizeChecked ? 1 : 0;
}

}  // namespace qtam
