#pragma once
// What a mixer plays and moves: the play clock, the voices and the records of what was mixed,
// with the Song, the sounds and the switches it reads. Every mixer and the play clock take a
// Player; whoever mixes owns one. The windows' thread has the Machine's player (renders and
// the system sound); a live engine has its own, which only its host's real-time thread touches.

#include <array>
#include <cstdint>
#include <random>

#include "core/arrangement.h"
#include "core/sample_bank.h"
#include "core/song.h"

namespace qtam {

struct PlayClock {
    std::uint8_t PlayPattern = 1;
    std::uint8_t PlayMeasure = 1;
    std::uint8_t PlayStep = 1;
    std::uint8_t NextPattern = 1;
    std::int32_t StepCounter = 1;
    std::int32_t StepLength[kSlots + 1] = {};  // 1-based; [0] unused
    std::int32_t MeasureLength = 0;
    std::int16_t MainVolume = 128;  // 128 is unity
    std::int16_t MainVolumeTarget = 128;
    // Frames per second of the output: the sounds are 44100 Hz, and at another rate the
    // step lengths are counted in its frames and the voices read 44100 / Rate samples a frame.
    std::int32_t Rate = 44100;
    // Song mode: the arrangement entry playing (0: patterns loop as queued), its pass, the
    // channels it mutes (bit c-1), an entry to go to at the end of the measure playing (0:
    // none), and whether a list that stops has ended (the voices ring out, nothing triggers).
    std::uint16_t Entry = 0;
    std::uint8_t Pass = 1;
    std::uint8_t EntryMutes = 0;
    std::uint16_t JumpEntry = 0;
    bool Ended = false;
};

// Where the live mixer began a step: the frame counted from the start of live playback, and
// the pattern, measure and step begun there.
struct StepStart {
    std::int64_t frame = 0;
    std::uint8_t pattern = 1;
    std::uint8_t measure = 1;
    std::uint8_t step = 1;
    std::uint8_t pass = 1;    // song mode: the entry's pass
    std::uint16_t entry = 0;  // song mode: the arrangement entry; 0 outside it
};

// The step starts of the live mixer since the start of live playback, the newest kSize kept:
// the panel finds in them the step that the device is playing now.
struct StepStartLog {
    static constexpr int kSize = 1024;
    std::array<StepStart, kSize> starts{};
    std::int64_t count = 0;        // step starts recorded since the start
    std::int64_t mixedFrames = 0;  // frames the live mixer has made since the start
};

// The notes the play clock starts, for a MIDI output: while `on`, every trigger (and every
// step begun, with channel 0) is appended with `frame`, which the live mixer sets to the
// frame, counted within its block, that the step begins on. The reader empties it; entries
// beyond kSize are dropped.
struct TriggerLog {
    struct Hit {
        std::int32_t frame = 0;
        std::uint8_t channel = 0;  // 1..kChannels; 0: a step begins
        std::uint8_t level = 0;    // the voice's level, humanize included
    };
    static constexpr int kSize = 64;
    std::array<Hit, kSize> hits{};
    int count = 0;
    std::int32_t frame = 0;
    bool on = false;
};

struct Voice {
    std::uint8_t active = 0;
    double position = 1.0;  // 1-based fractional read position
    std::uint8_t pan = 64;
    std::uint8_t reversed = 0;
    std::uint8_t level = 0;
    std::int32_t fadeStart = 0;
    std::int32_t age = 0;
    float rate = 1.0f;
    std::uint8_t between = 0;  // read between two samples (an output rate other than 44100)
    std::int32_t length = 0;
    std::int32_t distGain = 0;
    std::int32_t distThreshold = 0;
};

struct Player {
    // What it reads: never null while it mixes.
    const Song* song = nullptr;
    const SoundTable* sounds = nullptr;
    const Arrangement* arrangement = nullptr;  // read in song mode only
    std::mt19937* random = nullptr;            // humanize draws from it
    std::uint8_t startPattern = 1;  // where a start or a rewind begins: the edited pattern
    bool humanize = false;          // the Humanize switch, read at every trigger
    bool songMode = false;          // a start or a rewind begins at an arrangement entry:
    std::uint16_t startEntry = 1;   // this one (entry 1 when it is past the end)

    // What it moves.
    PlayClock clock;
    StepStartLog stepStarts;
    TriggerLog triggers;
    std::array<Voice, kChannels + 1> voices{};  // 1-based; [0] unused

    Voice& voice(int channel) { return voices[channel]; }
    // A channel is silent when its pattern mutes it or the arrangement entry playing does.
    bool muted(const ChannelSettings& cs, int channel) const {
        return cs.mute[channel - 1] != 0 || MutesChannel(clock.EntryMutes, channel);
    }
    const Voice& voice(int channel) const { return voices[channel]; }
};

}  // namespace qtam
