#pragma once
// The Song record: the one document, stored byte for byte as a song file.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

static_assert(std::endian::native == std::endian::little,
              "the Song record is stored in the host's byte order, which must be little-endian");

namespace qtam {

constexpr int kPatterns = 8;
constexpr int kMeasures = 16;
constexpr int kChannels = 8;
constexpr int kSlots = 16;
// The tempo range played, in beats per minute: a stored tempo outside it plays at the nearer end.
inline constexpr int kTempoMin = 50;
inline constexpr int kTempoMax = 250;

#pragma pack(push, 1)

// A length byte followed by a fixed capacity of Windows-1252 characters.
template <std::size_t Capacity>
struct ShortString {
    std::uint8_t length;
    char chars[Capacity];

    static constexpr std::size_t capacity = Capacity;

    std::string str() const {
        std::size_t n = length < Capacity ? length : Capacity;
        return std::string(chars, n);
    }
    // Longer input is cut to the capacity; bytes past the length stay as they are.
    void set(std::string_view text) {
        std::size_t n = text.size() < Capacity ? text.size() : Capacity;
        std::memcpy(chars, text.data(), n);
        length = static_cast<std::uint8_t>(n);
    }
    bool empty() const { return length == 0; }
};

struct StepCell {
    std::int8_t velocity;   // negative: no note; 255 (-1) is written for an empty cell
    std::uint8_t pan;       // 0 left, 64 centre, 127 right
    std::uint8_t reversed;  // 0/1
    std::uint8_t reserved1;
    std::uint16_t reserved2;

    bool hasNote() const { return velocity >= 0; }     // panel, mixer, fades, slides
    bool hasLoudNote() const { return velocity > 0; }  // grooves, chaos, choke
    bool isFree() const { return static_cast<std::uint8_t>(velocity) == 255; }  // Paste mix
};

struct ChannelSettings {
    std::uint8_t instrument[kChannels];
    std::uint8_t distortionOn[kChannels];
    std::uint8_t volume[kChannels];
    std::uint8_t mute[kChannels];
    std::uint16_t distortionGain;
    std::uint16_t distortionThreshold;
};

struct Measure {
    StepCell steps[kChannels][kSlots];  // channel-major
    ChannelSettings settings;
};

struct Pattern {
    Measure measures[kMeasures];
};

struct Song {
    ShortString<30> header;
    std::uint8_t padding1;
    Pattern patterns[kPatterns];
    std::uint8_t measureCount[kPatterns];
    std::uint16_t tempo;
    std::uint8_t shuffle;
    std::uint8_t humanize;
    std::uint8_t stepsPerMeasure;
    ShortString<255> userbankFile;
    ShortString<30> userbankDescription;
    ShortString<50> author;
    ShortString<50> title;
    ShortString<50> subtitle;
    ShortString<50> copyright;
    std::uint8_t showInfoOnOpen;
    std::uint8_t padding2;

    // 1-based access, as everywhere in the model.
    StepCell& cell(int pattern, int measure, int channel, int slot) {
        return patterns[pattern - 1].measures[measure - 1].steps[channel - 1][slot - 1];
    }
    const StepCell& cell(int pattern, int measure, int channel, int slot) const {
        return patterns[pattern - 1].measures[measure - 1].steps[channel - 1][slot - 1];
    }
    // Only measure 1's settings are in force for a pattern.
    ChannelSettings& settings(int pattern) { return patterns[pattern - 1].measures[0].settings; }
    const ChannelSettings& settings(int pattern) const {
        return patterns[pattern - 1].measures[0].settings;
    }
    Measure& measure(int pattern, int measure) {
        return patterns[pattern - 1].measures[measure - 1];
    }
    const Measure& measure(int pattern, int measure) const {
        return patterns[pattern - 1].measures[measure - 1];
    }
};

#pragma pack(pop)

constexpr std::size_t kSongSize = 103450;

static_assert(sizeof(StepCell) == 6);
static_assert(sizeof(ChannelSettings) == 36);
static_assert(offsetof(ChannelSettings, distortionGain) == 32);
static_assert(sizeof(Measure) == 804);
static_assert(offsetof(Measure, settings) == 768);
static_assert(sizeof(Pattern) == 12864);
static_assert(sizeof(Song) == kSongSize);
static_assert(offsetof(Song, patterns) == 32);
static_assert(offsetof(Song, measureCount) == 102944);
static_assert(offsetof(Song, tempo) == 102952);
static_assert(offsetof(Song, shuffle) == 102954);
static_assert(offsetof(Song, humanize) == 102955);
static_assert(offsetof(Song, stepsPerMeasure) == 102956);
static_assert(offsetof(Song, userbankFile) == 102957);
static_assert(offsetof(Song, userbankDescription) == 103213);
static_assert(offsetof(Song, author) == 103244);
static_assert(offsetof(Song, title) == 103295);
static_assert(offsetof(Song, subtitle) == 103346);
static_assert(offsetof(Song, copyright) == 103397);
static_assert(offsetof(Song, showInfoOnOpen) == 103448);

// The header text of songs this system creates: 29 characters and the byte 0x1A.
inline constexpr std::string_view kSongHeader = "Q.Tam format 1.0 Pattern-file\x1A";
// "© by ..." in Windows-1252.
inline constexpr std::string_view kNewCopyright = "\xA9 by ...";

// Values the rest of the system can rely on, whatever a loaded file held.
inline int StepsPerMeasureOf(const Song& song) {
    return song.stepsPerMeasure == 12 ? 12 : 16;
}
inline int MeasureCountOf(const Song& song, int pattern) {
    int n = song.measureCount[pattern - 1];
    return n < 1 ? 1 : (n > kMeasures ? kMeasures : n);
}

// The record of a new Song (as InitSong leaves it), written over `song` field by field; bytes
// that no field of a new Song sets (text past its length, padding) are left alone.
void InitSongRecord(Song& song, std::string_view userbankPath, std::string_view description);

// Brings a loaded record's values into the ranges the model relies on.
void NormalizeSong(Song& song);

}  // namespace qtam
