// A pattern as a Standard MIDI File (format 1, 96 ticks per quarter note): a tempo track, then
// one track per channel that is not muted and holds a note, all on MIDI channel 10, the drum
// channel. Notes start where the mixer starts them, shuffle included.

#include "song/midi_export.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "core/config.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/sample_bank.h"
#include "core/song.h"
#include "core/text_codec.h"

namespace qtam {

namespace {

constexpr int kTicksPerQuarter = 96;
constexpr std::uint8_t kDrumChannel = 9;  // MIDI channel 10

// General MIDI drum notes of the default kit's twenty sounds, slot 1 first.
constexpr std::uint8_t kKitNotes[20] = {
    35,  // Kick Boom: Acoustic Bass Drum
    36,  // Kick Punch: Bass Drum 1
    38,  // Snare Fat: Acoustic Snare
    40,  // Snare Tight: Electric Snare
    39,  // Clap: Hand Clap
    37,  // Rimshot: Side Stick
    42,  // HiHat Closed
    44,  // HiHat Pedal
    46,  // HiHat Open
    49,  // Crash: Crash Cymbal 1
    51,  // Ride: Ride Cymbal 1
    45,  // Tom Low: Low Tom
    47,  // Tom Mid: Low-Mid Tom
    50,  // Tom High: High Tom
    56,  // Cowbell
    75,  // Clave: Claves
    54,  // Tambourine
    70,  // Shaker: Maracas
    63,  // Conga: Open Hi Conga
    71,  // Zap: Short Whistle
};

bool Says(const std::string& name, const char* word) {
    return name.find(word) != std::string::npos;
}

std::uint8_t NoteByName(std::string name) {
    for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (Says(name, "kick") || Says(name, "bass drum")) return 36;
    if (Says(name, "rim")) return 37;
    if (Says(name, "snare")) return 38;
    if (Says(name, "clap")) return 39;
    if (Says(name, "hat") || Says(name, "hh")) {
        if (Says(name, "open")) return 46;
        if (Says(name, "pedal") || Says(name, "foot")) return 44;
        return 42;
    }
    if (Says(name, "tom")) {
        if (Says(name, "low") || Says(name, "floor")) return 45;
        if (Says(name, "hi")) return 50;
        return 47;
    }
    if (Says(name, "ride")) return 51;
    if (Says(name, "crash") || Says(name, "cymbal")) return 49;
    return 0;
}

}  // namespace

std::uint8_t DrumNoteFor(const Machine& m, int code, int channel) {
    if (code >= 1 && code <= 20) return kKitNotes[code - 1];
    if (code >= 101 && code <= 120) {
        const std::uint8_t byName = NoteByName(m.banks.userbank.slot(code - 100).name);
        if (byName != 0) return byName;
    }
    return kDefaultMidiNotes[channel - 1];  // a name that says nothing
}

std::array<std::uint8_t, kChannels> DrumNotesOf(const Machine& m, int pattern) {
    std::array<std::uint8_t, kChannels> notes{};
    const ChannelSettings& cs = m.song.settings(pattern);
    for (int ch = 1; ch <= kChannels; ++ch)
        notes[static_cast<std::size_t>(ch - 1)] = DrumNoteFor(m, cs.instrument[ch - 1], ch);
    return notes;
}

namespace {

struct Event {
    std::uint32_t tick;
    std::vector<std::uint8_t> bytes;  // status and data, or a meta event
};

void AppendNumber(std::vector<std::uint8_t>& out, std::uint32_t v, int bytes) {
    for (int i = bytes - 1; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

void AppendVariable(std::vector<std::uint8_t>& out, std::uint32_t v) {
    std::uint8_t groups[5];
    int n = 0;
    do {
        groups[n++] = static_cast<std::uint8_t>(v & 0x7F);
        v >>= 7;
    } while (v != 0);
    while (n > 0) {
        --n;
        out.push_back(static_cast<std::uint8_t>(groups[n] | (n > 0 ? 0x80 : 0)));
    }
}

Event Meta(std::uint32_t tick, std::uint8_t type, const std::string& data) {
    Event e{tick, {0xFF, type}};
    AppendVariable(e.bytes, static_cast<std::uint32_t>(data.size()));
    e.bytes.insert(e.bytes.end(), data.begin(), data.end());
    return e;
}

void AppendTrack(std::vector<std::uint8_t>& file, std::vector<Event> events, std::uint32_t end) {
    // Stable: a note-off written before a note-on at the same tick stays before it.
    std::stable_sort(events.begin(), events.end(),
                     [](const Event& a, const Event& b) { return a.tick < b.tick; });
    events.push_back(Meta(end, 0x2F, ""));
    std::vector<std::uint8_t> body;
    std::uint32_t now = 0;
    for (const Event& e : events) {
        AppendVariable(body, e.tick - now);
        now = e.tick;
        body.insert(body.end(), e.bytes.begin(), e.bytes.end());
    }
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    AppendNumber(file, static_cast<std::uint32_t>(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
}

// The sound's name for the track name, without trailing blanks, in UTF-8.
std::string SoundName(const Machine& m, int code) {
    const SampleSlot* slot = SlotOf(m.banks, code);
    if (slot == nullptr) return "sound code " + std::to_string(code);
    std::string name = WithoutTrailingBlanks(slot->name);
    if (name.empty()) name = code > 100 ? "u" + std::to_string(code - 100) : std::to_string(code);
    return Cp1252ToUtf8(name);
}

}  // namespace

namespace {

// One pattern played once, with the channels `mutes` silences (bit c-1) besides its own mutes.
struct MidiPass {
    int pattern;
    std::uint8_t mutes;
};

bool Sounds(const Song& song, const MidiPass& pass, int ch) {
    return song.settings(pass.pattern).mute[ch - 1] == 0 && !MutesChannel(pass.mutes, ch);
}

// The passes one after another, each pattern's measures in turn.
std::vector<std::uint8_t> PassesAsMidi(const Machine& m, const std::vector<MidiPass>& passes,
                                       const std::string& untitled) {
    const Song& song = m.song;
    const int steps = StepsPerMeasureOf(song);
    std::int64_t measures = 0;
    for (const MidiPass& pass : passes) measures += MeasureCountOf(song, pass.pattern);
    // Frames to ticks: a quarter note is 2646000 / tempo frames.
    const double ticksPerFrame = kTicksPerQuarter * song.tempo / 2646000.0;
    auto tickOf = [&](std::int64_t measure, int step) {  // step 1..steps+1
        std::int64_t frames = (measure - 1) * m.player.clock.MeasureLength;
        for (int s = 1; s < step; ++s) frames += m.player.clock.StepLength[s];
        if (step > steps) frames = measure * m.player.clock.MeasureLength;
        return static_cast<std::uint32_t>(std::lround(static_cast<double>(frames) * ticksPerFrame));
    };
    const std::uint32_t end = tickOf(measures + 1, 1);

    std::vector<std::uint8_t> file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    // A track for each channel that sounds in any pass and has a note, named after its first
    // sound.
    int firstPass[kChannels + 1] = {};
    for (int ch = 1; ch <= kChannels; ++ch)
        for (std::size_t i = 0; i < passes.size() && firstPass[ch] == 0; ++i)
            if (Sounds(song, passes[i], ch)) firstPass[ch] = static_cast<int>(i) + 1;

    std::vector<Event> tempo;
    std::string title = Cp1252ToUtf8(song.title.str());
    if (title.empty()) title = untitled;
    tempo.push_back(Meta(0, 0x03, title));
    {
        const std::uint32_t perQuarter = static_cast<std::uint32_t>(60000000.0 / song.tempo + 0.5);
        std::string data = {static_cast<char>(perQuarter >> 16), static_cast<char>(perQuarter >> 8),
                            static_cast<char>(perQuarter)};
        tempo.push_back(Meta(0, 0x51, data));
        // 16 steps are a 4/4 measure of sixteenths, 12 steps a 3/4 one.
        std::string signature = {static_cast<char>(steps / 4), 2, 24, 8};
        tempo.push_back(Meta(0, 0x58, signature));
    }
    std::vector<std::vector<Event>> channels;

    for (int ch = 1; ch <= kChannels; ++ch) {
        if (firstPass[ch] == 0) continue;
        const int named = song.settings(passes[firstPass[ch] - 1].pattern).instrument[ch - 1];
        std::vector<Event> events;
        events.push_back(
            Meta(0, 0x03, "Channel " + std::to_string(ch) + ": " + SoundName(m, named)));
        std::int64_t first = 0;  // the pass's first measure, counted from 0
        for (const MidiPass& pass : passes) {
            const int count = MeasureCountOf(song, pass.pattern);
            const std::uint8_t note =
                DrumNoteFor(m, song.settings(pass.pattern).instrument[ch - 1], ch);
            for (int meas = 1; meas <= count && Sounds(song, pass, ch); ++meas)
                for (int s = 1; s <= steps; ++s) {
                    const StepCell& c = song.cell(pass.pattern, meas, ch, s);
                    if (c.velocity <= 0) continue;  // velocity 0 would be a note-off in MIDI
                    const std::uint32_t on = tickOf(first + meas, s);
                    const std::uint32_t off = std::max(on + 1, tickOf(first + meas, s + 1));
                    events.push_back({on,
                                      {static_cast<std::uint8_t>(0x90 | kDrumChannel), note,
                                       static_cast<std::uint8_t>(c.velocity)}});
                    events.push_back(
                        {off, {static_cast<std::uint8_t>(0x80 | kDrumChannel), note, 64}});
                }
            first += count;
        }
        // Offs at a tick go before the next note's on at the same tick.
        std::stable_sort(events.begin(), events.end(), [](const Event& a, const Event& b) {
            if (a.tick != b.tick) return a.tick < b.tick;
            return (a.bytes[0] & 0xF0) == 0x80 && (b.bytes[0] & 0xF0) != 0x80;
        });
        // A channel without a note is no track: nothing would play there.
        if (events.size() > 1) channels.push_back(std::move(events));
    }
    AppendNumber(file, static_cast<std::uint32_t>(1 + channels.size()), 2);
    AppendNumber(file, kTicksPerQuarter, 2);
    AppendTrack(file, tempo, end);
    for (std::vector<Event>& events : channels) {
        const std::uint32_t last = events.back().tick;
        AppendTrack(file, std::move(events), std::max(end, last));
    }
    return file;
}

}  // namespace

std::vector<std::uint8_t> PatternAsMidi(const Machine& m, int pattern) {
    return PassesAsMidi(m, {{pattern, 0}}, "Q.Tam pattern " + std::to_string(pattern));
}

std::vector<std::uint8_t> ArrangementAsMidi(const Machine& m) {
    std::vector<MidiPass> passes;
    for (int n = 1; n <= m.arrangement.count; ++n) {
        const ArrangementEntry& e = m.arrangement.entry(n);
        for (int r = 0; r < e.repeats; ++r) passes.push_back({e.pattern, e.mutes});
    }
    return PassesAsMidi(m, passes, "Q.Tam arrangement");
}

bool ExportPatternAsMidi(Machine& m, const std::string& fileName) {
    // In song mode the whole track: every entry of the arrangement in turn.
    const std::vector<std::uint8_t> bytes = m.editor.SongMode && !m.arrangement.empty()
                                                ? ArrangementAsMidi(m)
                                                : PatternAsMidi(m, m.editor.CurrentPattern);
    return SaveFileAsked(
        *m.prompter, WithDefaultExtension(fileName, ".mid"), false,
        [&](SafeFileWriter& out) { return out.Write(bytes.data(), bytes.size()); });
}

}  // namespace qtam
