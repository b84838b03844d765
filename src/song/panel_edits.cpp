#include "song/panel_edits.h"

#include <algorithm>

#include "banks/instrument_select.h"
#include "core/machine.h"
#include "engine/play_clock.h"

namespace qtam {

namespace {

bool IsChannel(int channel) {
    return channel >= 1 && channel <= kChannels;
}

// The settings in force for the edited pattern.
ChannelSettings& EditedSettings(Machine& m) {
    return m.song.settings(m.editor.CurrentPattern);
}

// An on/off byte of a song file may hold anything: only 1 counts as on.
void Flip(std::uint8_t& on) {
    on = on == 1 ? 0 : 1;
}

bool IsInstrumentNumber(int instrument) {
    const bool kit = instrument >= 1 && instrument <= kBankSlots;
    const bool userbank = instrument > kUserbankBase && instrument <= kUserbankBase + kBankSlots;
    return kit || userbank;
}

// The clock's step lengths follow the Song's tempo, shuffle and steps per measure.
void RetimeSong(Machine& m) {
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
}

}  // namespace

bool ToggleStep(Machine& m, int slot) {
    return ToggleCell(m, m.editor.CurrentChannel, slot);
}

namespace {

// The cell of channel 1..8, slot 1..16 in the edited measure; null outside those ranges.
StepCell* EditedCell(Machine& m, int channel, int slot) {
    if (slot < 1 || slot > kSlots || channel < 1 || channel > kChannels) return nullptr;
    const EditorState& e = m.editor;
    return &m.song.cell(e.CurrentPattern, e.CurrentMeasure, channel, slot);
}

void WriteClickedCell(Machine& m, StepCell& c, bool note) {
    c.velocity = static_cast<std::int8_t>(note ? 80 : -1);
    c.pan = 64;
    c.reversed = 0;
    c.reserved2 = 0;
    m.editor.DropPreparedStart();
}

}  // namespace

bool ToggleCell(Machine& m, int channel, int slot) {
    StepCell* c = EditedCell(m, channel, slot);
    if (c == nullptr) return false;
    const bool note = !c->hasNote();
    WriteClickedCell(m, *c, note);
    return note;
}

int SetCellVelocity(Machine& m, int channel, int slot, int velocity) {
    StepCell* c = EditedCell(m, channel, slot);
    if (c == nullptr || !c->hasNote()) return -1;
    c->velocity = static_cast<std::int8_t>(std::clamp(velocity, 1, 127));
    return c->velocity;
}

bool PaintCell(Machine& m, int channel, int slot, bool note) {
    StepCell* c = EditedCell(m, channel, slot);
    if (c == nullptr || c->hasNote() == note) return false;
    WriteClickedCell(m, *c, note);
    return true;
}

bool SetNoteDetails(Machine& m, int velocity, int pan, bool reversed) {
    const EditorState& e = m.editor;
    if (e.CurrentStep < 1 || e.CurrentStep > kSlots) return false;
    StepCell& c = m.song.cell(e.CurrentPattern, e.CurrentMeasure, e.CurrentChannel, e.CurrentStep);
    if (!c.hasNote()) return false;
    velocity = std::clamp(velocity, 0, 127);
    pan = std::clamp(pan, 0, 127);
    bool written = false;
    if (c.velocity != velocity) {
        c.velocity = static_cast<std::int8_t>(velocity);
        written = true;
    }
    if (c.pan != pan) {
        c.pan = static_cast<std::uint8_t>(pan);
        written = true;
    }
    if ((c.reversed != 0) != reversed) {
        c.reversed = reversed ? 1 : 0;
        written = true;
    }
    return written;
}

void ToggleMute(Machine& m, int channel) {
    if (!IsChannel(channel)) return;
    Flip(EditedSettings(m).mute[channel - 1]);
    m.editor.DropPreparedStart();
}

void ToggleDistortion(Machine& m, int channel) {
    if (!IsChannel(channel)) return;
    Flip(EditedSettings(m).distortionOn[channel - 1]);
    m.editor.DropPreparedStart();
}

void SetChannelVolume(Machine& m, int channel, int volume) {
    if (!IsChannel(channel)) return;
    EditedSettings(m).volume[channel - 1] =
        static_cast<std::uint8_t>(std::clamp(volume, 0, kChannelVolumeMax));
    m.editor.DropPreparedStart();
}

bool ChooseInstrument(Machine& m, int instrument) {
    if (!IsInstrumentNumber(instrument)) return false;
    std::uint8_t& stored = EditedSettings(m).instrument[m.editor.CurrentChannel - 1];
    if (stored == instrument) return false;
    stored = static_cast<std::uint8_t>(instrument);
    return true;
}

void SetSongTempo(Machine& m, int tempo) {
    m.song.tempo = static_cast<std::uint16_t>(std::clamp(tempo, kTempoMin, kTempoMax));
    RetimeSong(m);
    m.editor.DropPreparedStart();
}

void SetSongShuffle(Machine& m, int shuffle) {
    m.song.shuffle = static_cast<std::uint8_t>(std::clamp(shuffle, kShuffleMin, kShuffleMax));
    RetimeSong(m);
    m.editor.DropPreparedStart();
}

void SetDistortionGain(Machine& m, int gain) {
    EditedSettings(m).distortionGain =
        static_cast<std::uint16_t>(std::clamp(gain, 0, kDistortionGainMax));
    m.editor.DropPreparedStart();
}

void SetDistortionThreshold(Machine& m, int threshold) {
    EditedSettings(m).distortionThreshold =
        static_cast<std::uint16_t>(std::clamp(threshold, 0, kDistortionThresholdMax));
    m.editor.DropPreparedStart();
}

void SetMainVolume(Machine& m, int target) {
    m.player.clock.MainVolumeTarget =
        static_cast<std::int16_t>(std::clamp(target, 0, kMainVolumeMax));
    if (!m.Playing) m.player.clock.MainVolume = m.player.clock.MainVolumeTarget;
    m.editor.DropPreparedStart();  // the start mixed in advance has the old level
}

bool ChoosePattern(Machine& m, int pattern) {
    if (pattern < 1 || pattern > kPatterns || pattern == m.editor.CurrentPattern) return false;
    const auto p = static_cast<std::uint8_t>(pattern);
    m.editor.CurrentPattern = p;
    m.editor.CurrentMeasure = 1;
    m.player.clock.NextPattern = p;
    // A running playback changes to the queued pattern at the end of its measure.
    if (!m.Playing) m.player.clock.PlayPattern = p;
    m.editor.StartPrepared = false;
    return true;
}

void ChooseMeasure(Machine& m, int measure) {
    const int count = MeasureCountOf(m.song, m.editor.CurrentPattern);
    m.editor.CurrentMeasure = static_cast<std::uint8_t>(std::clamp(measure, 1, count));
}

void SetMeasureCount(Machine& m, int count) {
    m.song.measureCount[m.editor.CurrentPattern - 1] =
        static_cast<std::uint8_t>(std::clamp(count, 1, kMeasures));
    m.editor.DropPreparedStart();
}

bool EnterTempo(Machine& m, DialogResult result, std::string_view text) {
    if (result != DialogResult::Ok) return false;
    const ValueEntry entry = TempoEntry(m.song);
    SetSongTempo(m, ReadValueEntry(text, entry.minimum, entry.maximum));
    return true;
}

bool EnterShuffle(Machine& m, DialogResult result, std::string_view text) {
    if (result != DialogResult::Ok) return false;
    const ValueEntry entry = ShuffleEntry(m.song);
    SetSongShuffle(m, ShuffleFromShown(ReadValueEntry(text, entry.minimum, entry.maximum)));
    return true;
}

}  // namespace qtam
