#include "engine/play_clock.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include "core/machine.h"
#include "engine/play_position.h"
#include "engine/voice_advance.h"

namespace qtam {

namespace {

enum class StartKind { Prepare, Render, NextRender };

const StepCell& PlayCell(const Player& m, int channel, int slot) {
    return m.song->cell(m.clock.PlayPattern, m.clock.PlayMeasure, channel, slot);
}

void LatchDistortion(Voice& v, const ChannelSettings& cs, int channel) {
    if (cs.distortionOn[channel - 1]) {
        v.distGain = cs.distortionGain;
        v.distThreshold = cs.distortionThreshold;
    } else {
        v.distGain = 0;
    }
}

void LogTrigger(Player& m, int channel, int level) {
    TriggerLog& log = m.triggers;
    if (!log.on || log.count >= TriggerLog::kSize) return;
    log.hits[static_cast<std::size_t>(log.count++)] = {
        log.frame, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(level)};
}

void TriggerByClock(Player& m, int channel) {
    const StepCell& cell = PlayCell(m, channel, m.clock.PlayStep);
    const ChannelSettings& cs = m.song->settings(m.clock.PlayPattern);
    if (!cell.hasNote() || m.muted(cs, channel)) return;

    Voice& v = m.voice(channel);
    v.active = 1;
    v.position = 1.0;
    v.level = static_cast<std::uint8_t>(cell.velocity);
    v.fadeStart = GateLength(m, channel, m.clock.PlayStep) - v.level;
    v.age = 0;
    v.pan = cell.pan;
    v.reversed = cell.reversed;
    LatchDistortion(v, cs, channel);
    if (m.humanize && v.level > 40) {
        int r = std::uniform_int_distribution<int>(0, 29)(*m.random);
        v.level = static_cast<std::uint8_t>(v.level + r - 15);
    }
    LogTrigger(m, channel, v.level);
}

void TriggerAtStart(Player& m, int channel, StartKind kind) {
    const StepCell& cell = PlayCell(m, channel, 1);
    if (!cell.hasNote()) return;
    const ChannelSettings& cs = m.song->settings(m.clock.PlayPattern);
    Voice& v = m.voice(channel);
    if (m.muted(cs, channel)) {
        if (kind != StartKind::NextRender) v.active = 0;
        return;
    }
    v.active = 1;
    // A prepared start keeps the position the voice has; one that had ended sits at 0.
    if (kind != StartKind::Prepare || v.position < 1.0) v.position = 1.0;
    v.level = static_cast<std::uint8_t>(cell.velocity);
    v.fadeStart = GateLength(m, channel, 1) - v.level;
    v.age = 0;
    v.pan = cell.pan;
    v.reversed = cell.reversed;
    LatchDistortion(v, cs, channel);
    LogTrigger(m, channel, v.level);
}

void TriggerAllAtStart(Player& m, StartKind kind) {
    for (int c = 1; c <= kChannels; ++c) TriggerAtStart(m, c, kind);
}

void ClearVoices(Player& m) {
    for (int c = 1; c <= kChannels; ++c) {
        m.voice(c).position = 1.0;
        m.voice(c).active = 0;
    }
}

bool InSongMode(const Player& m) {
    return m.clock.Entry != 0 && m.arrangement != nullptr;
}

void AdvanceVoices(Player& m) {
    const ChannelSettings& cs = m.song->settings(m.clock.PlayPattern);
    for (int c = 1; c <= kChannels; ++c)
        if (m.voice(c).active) AdvanceVoice(m.voice(c), m.muted(cs, c));
}

// The clock has just moved to step 1 of the next measure in song mode: a jump asked for, the
// next measure of the pass, the next pass, or the next entry. False when the list ends there.
bool NextSongMeasure(Player& m) {
    PlayClock& k = m.clock;
    const Arrangement& a = *m.arrangement;
    if (a.empty()) {  // the list was emptied while playing: the pattern loops on
        LeaveSongMode(m);
        if (k.PlayMeasure > MeasureCountOf(*m.song, k.PlayPattern)) k.PlayMeasure = 1;
        return true;
    }
    if (k.JumpEntry != 0) {
        const int jump = std::min<int>(k.JumpEntry, a.count);
        k.JumpEntry = 0;
        EnterEntry(m, jump);
        return true;
    }
    if (k.PlayMeasure <= MeasureCountOf(*m.song, k.PlayPattern)) return true;
    k.PlayMeasure = 1;
    if (k.Entry <= a.count && k.Pass < a.entry(k.Entry).repeats) {
        k.Pass += 1;
        return true;
    }
    int next = k.Entry + 1;
    if (next > a.count) {
        if (a.loopTo < 1 || a.loopTo > a.count) return false;
        next = a.loopTo;
    }
    EnterEntry(m, next);
    return true;
}

void PositionAtMeasure(Player& m, int measure) {
    PlayClock& k = m.clock;
    k.PlayMeasure = static_cast<std::uint8_t>(std::clamp(measure, 1, kMeasures));
    k.PlayPattern = k.NextPattern = m.startPattern;
    k.PlayStep = 1;
    k.StepCounter = 0;
    LeaveSongMode(m);
}

}  // namespace

const SampleSlot* ChannelSound(const Player& m, int channel) {
    // A live engine may take its first Song before its first sounds: no sound yet.
    if (m.sounds == nullptr) return nullptr;
    return SlotOf(*m.sounds, m.song->settings(m.clock.PlayPattern).instrument[channel - 1]);
}

void SetTempo(Player& m, int tempo, int shuffle) {
    PlayClock& k = m.clock;
    const double x = k.Rate * 60.0 / (4.0 * tempo);  // frames per sixteenth
    k.MeasureLength = static_cast<std::int32_t>(std::nearbyint(x * StepsPerMeasureOf(*m.song)));
    for (int i = 1; i <= kSlots; ++i) {
        const double share = (i % 2 == 1) ? shuffle : 200 - shuffle;
        k.StepLength[i] = static_cast<std::int32_t>(std::nearbyint(x * 0.01 * share));
    }
    UpdateVoiceRates(m);
}

void UpdateVoiceRates(Player& m) {
    // Stretched sounds span their measures whatever the rate, the others keep their pitch.
    const float unit = m.clock.Rate == 44100 ? 1.0f : static_cast<float>(44100.0 / m.clock.Rate);
    for (int c = 1; c <= kChannels; ++c) {
        Voice& v = m.voice(c);
        const SampleSlot* s = ChannelSound(m, c);
        v.rate = unit;
        v.between = m.clock.Rate != 44100;
        v.length = s ? s->sampleCount : 0;
        if (s && s->stretchMeasures > 0 && m.clock.MeasureLength > 0) {
            v.rate = static_cast<float>(
                static_cast<double>(s->sampleCount) /
                (static_cast<double>(s->stretchMeasures) * m.clock.MeasureLength));
        }
    }
}

std::int32_t GateLength(const Player& m, int channel, int slot) {
    const int steps = StepsPerMeasureOf(*m.song);
    const int pattern = m.clock.PlayPattern;
    const int measures = MeasureCountOf(*m.song, pattern);
    int s = std::clamp(slot, 1, kSlots);
    int meas = m.clock.PlayMeasure;
    std::int32_t sum = 0;
    // One cycle of the pattern at most: a start beyond the played measures may find no note.
    for (int n = 0; n < steps * measures; ++n) {
        sum += m.clock.StepLength[s];
        if (++s > steps) {
            s = 1;
            if (++meas > measures) meas = 1;
        }
        if (m.song->cell(pattern, meas, channel, s).hasNote()) return sum;
    }
    return sum;
}

void ChokeHihats(Player& m) {
    const ChannelSettings& cs = m.song->settings(m.clock.PlayPattern);
    for (int i = 1; i <= kChannels; ++i) {
        Voice& v = m.voice(i);
        if (!v.active) continue;
        const int instrument = cs.instrument[i - 1];
        const SampleSlot* sound = SlotOf(*m.sounds, instrument);
        if (sound == nullptr) continue;
        const int p1 = sound->hihat1 ? PartnerCode(instrument, sound->hihat1) : -1;
        const int p2 = sound->hihat2 ? PartnerCode(instrument, sound->hihat2) : -1;
        if (p1 < 0 && p2 < 0) continue;
        for (int j = 1; j <= kChannels; ++j) {
            if (j == i || m.muted(cs, j)) continue;
            if (!PlayCell(m, j, m.clock.PlayStep).hasLoudNote()) continue;
            const int other = cs.instrument[j - 1];
            if (other == p1 || other == p2) {
                v.active = 0;
                break;
            }
        }
    }
}

void Tick(Player& m) {
    PlayClock& k = m.clock;
    k.StepCounter += 1;
    if (k.StepCounter < k.StepLength[k.PlayStep] || k.Ended) {
        if (k.Ended) k.StepCounter = 1;  // the clock stands still while the voices ring out
        AdvanceVoices(m);
        return;
    }
    k.PlayStep += 1;
    k.StepCounter = 1;
    if (k.PlayStep > StepsPerMeasureOf(*m.song)) {
        k.PlayStep = 1;
        k.PlayMeasure += 1;
        if (InSongMode(m)) {
            if (!NextSongMeasure(m)) {
                EndArrangement(m);
                return;
            }
        } else if (k.PlayMeasure > MeasureCountOf(*m.song, k.PlayPattern)) {
            k.PlayMeasure = 1;
            k.PlayPattern = std::clamp<std::uint8_t>(k.NextPattern, 1, kPatterns);
        }
    }
    LogTrigger(m, 0, 0);
    for (int c = 1; c <= kChannels; ++c) TriggerByClock(m, c);
    ChokeHihats(m);
    UpdateVoiceRates(m);
}

void RewindClock(Player& m) {
    PlayClock& k = m.clock;
    k.PlayMeasure = 1;
    k.PlayPattern = k.NextPattern = m.startPattern;
    k.PlayStep = 1;
    k.StepCounter = 1;
    LeaveSongMode(m);
    if (m.songMode && m.arrangement != nullptr && !m.arrangement->empty())
        EnterEntry(m, m.startEntry <= m.arrangement->count ? m.startEntry : 1);
    ClearVoices(m);
}

void EnterEntry(Player& m, int entry) {
    PlayClock& k = m.clock;
    entry = std::clamp(entry, 1, kMaxEntries);
    const ArrangementEntry& e = m.arrangement->entry(entry);
    k.Entry = static_cast<std::uint16_t>(entry);
    k.Pass = 1;
    k.EntryMutes = e.mutes;
    k.Ended = false;
    k.PlayMeasure = 1;
    k.PlayPattern = k.NextPattern = std::clamp<std::uint8_t>(e.pattern, 1, kPatterns);
}

void LeaveSongMode(Player& m) {
    PlayClock& k = m.clock;
    k.Entry = 0;
    k.Pass = 1;
    k.EntryMutes = 0;
    k.JumpEntry = 0;
    k.Ended = false;
}

bool PlaceInArrangement(Player& m, std::int64_t measure) {
    const ArrangementPlace at = PlaceOfMeasure(*m.song, *m.arrangement, measure);
    if (at.entry == 0) {
        EndArrangement(m);
        return false;
    }
    EnterEntry(m, at.entry);
    m.clock.Pass = static_cast<std::uint8_t>(at.pass);
    m.clock.PlayMeasure = static_cast<std::uint8_t>(at.measure);
    return true;
}

void EndArrangement(Player& m) {
    PlayClock& k = m.clock;
    // The clock stays on the last step played, which the windows show.
    k.Ended = true;
    k.JumpEntry = 0;
    k.PlayStep = static_cast<std::uint8_t>(StepsPerMeasureOf(*m.song));
    k.PlayMeasure = static_cast<std::uint8_t>(MeasureCountOf(*m.song, k.PlayPattern));
    k.StepCounter = 1;
}

void ResetTransport(Machine& m) {
    m.Playing = false;
    m.Streaming = false;
    RewindClock(PlayerOf(m));
}

void PrepareStart(Player& m) {
    BeginStepStarts(m);
    UpdateVoiceRates(m);
    TriggerAllAtStart(m, StartKind::Prepare);
}

void PlaceClock(Player& m, int measure, int step, std::int32_t counter) {
    PlayClock& k = m.clock;
    k.PlayMeasure = static_cast<std::uint8_t>(std::clamp(measure, 1, kMeasures));
    k.PlayStep = static_cast<std::uint8_t>(std::clamp(step, 1, StepsPerMeasureOf(*m.song)));
    k.StepCounter = std::max<std::int32_t>(counter, 1);
}

void TriggerStep(Player& m) {
    LogTrigger(m, 0, 0);
    for (int c = 1; c <= kChannels; ++c) TriggerByClock(m, c);
    ChokeHihats(m);
    UpdateVoiceRates(m);
}

void TriggerPad(Player& m, int channel, int velocity) {
    if (channel < 1 || channel > kChannels || velocity <= 0) return;
    Voice& v = m.voice(channel);
    v.active = 1;
    v.position = 1.0;
    v.level = static_cast<std::uint8_t>(std::clamp(velocity, 1, 127));
    v.fadeStart = std::numeric_limits<std::int32_t>::max() / 2;  // the sound plays out
    v.age = 0;
    v.pan = 64;
    v.reversed = 0;
    LatchDistortion(v, m.song->settings(m.clock.PlayPattern), channel);
    UpdateVoiceRates(m);
}

void SilenceVoices(Player& m) {
    for (int c = 1; c <= kChannels; ++c) m.voice(c).active = 0;
}

void StartRender(Machine& machine, int measure) {
    machine.Playing = false;
    Player& m = PlayerOf(machine);
    PositionAtMeasure(m, measure);
    ClearVoices(m);
    UpdateVoiceRates(m);
    TriggerAllAtStart(m, StartKind::Render);
}

void NextRenderMeasure(Player& m, int measure) {
    PositionAtMeasure(m, measure);
    UpdateVoiceRates(m);
    TriggerAllAtStart(m, StartKind::NextRender);
}

}  // namespace qtam
