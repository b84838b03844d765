#pragma once
// The one object that owns the whole state of a running Q.Tam: the Song and the editor state
// beside it, the two sample banks, the play clock, the voices, the staging buffer and the
// flags. It is created once (on the heap: it is large) and passed to whatever needs it.
//
// Thread: owner. The Machine belongs to one thread (the user-interface thread of the
// program, the main thread of qtam-cli); every function that takes a Machine runs there,
// the mixers included. No other thread reads or writes it: the audio callback only copies
// blocks the owner has already mixed, and the timer's ticks are handed to the owner.

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>

#include "core/files.h"
#include "core/prompter.h"
#include "core/sample_bank.h"
#include "core/song.h"

namespace qtam {

struct EditorState {
    std::uint8_t CurrentPattern = 1;
    std::uint8_t CurrentMeasure = 1;
    std::uint8_t CurrentChannel = 1;
    std::uint8_t CurrentStep = 1;
    std::string SongFileName;
    bool StartPrepared = false;
    bool HumanizeChecked = false;  // the Humanize menu item; the mixer reads it at every trigger
    std::string SongFolder;        // where the song dialogs start
    std::string PanelCaption;      // the groove panel's caption, rebuilt by UpdateTitle

    // The edit clipboard: sized for a whole pattern; a channel or measure copy fills only its
    // leading bytes. It is not part of the Song, so it survives "New song" and "Open song".
    Pattern Clipboard{};
    std::uint8_t ClipboardKind = 0;  // 0 nothing, 1 channel, 2 measure, 3 pattern
    std::uint8_t ClipboardMeasureCount = 0;
    bool PasteEnabled = false;  // "Paste" and "Paste mix" in the menu

    // A start mixed in advance no longer matches the Song.
    void DropPreparedStart() { StartPrepared = false; }
};

// Which userbank is active for playback, and whether the kit has been read.
struct BankActivation {
    bool InternalBankLoaded = false;
    std::string UserbankPath;
    // The configured userbank that was missing at start-up (a drive not mounted, say): the
    // configuration keeps naming it while no other bank is chosen.
    std::string MissingUserbankPath;
    bool UserbankLoaded = false;
    bool EditorActive = false;
    std::string BankFolder;    // where the userbank dialogs start
    std::string SampleFolder;  // where sample import and export and stream to disk start
    std::string UserbankCaption = "none loaded";  // the menu-bar item that shows the active bank
    bool BankChanged = false;
};

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
};

// Where the live mixer began a step: the frame counted from the start of live playback, and
// the pattern, measure and step begun there.
struct StepStart {
    std::int64_t frame = 0;
    std::uint8_t pattern = 1;
    std::uint8_t measure = 1;
    std::uint8_t step = 1;
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

// Where RenderBlock appends what it mixed while a stream to disk is running.
class StreamSink {
public:
    virtual ~StreamSink() = default;
    virtual void Append(const void* bytes, std::size_t count) = 0;
};

constexpr int kStagingWords = 40960;  // two halves of 10240 stereo frames
constexpr int kSecondHalf = 20481;    // 1-based word index of the second half

struct Machine {
    Song song{};
    // The Song as it was last saved or opened: the Song is changed exactly when its bytes
    // differ from these (SongChanged below).
    Song savedSong{};
    EditorState editor;
    Banks banks;
    BankActivation activation;
    PlayClock clock;
    StepStartLog stepStarts;
    TriggerLog triggers;
    std::array<Voice, kChannels + 1> voices{};  // 1-based; [0] unused

    bool Playing = false;
    bool Streaming = false;
    StreamSink* stream = nullptr;
    // The open stream file (stream to disk) that `stream` points at while one is open.
    std::unique_ptr<StreamSink> streamFile;

    std::array<std::int16_t, kStagingWords> StagingBuffer{};
    std::int32_t BufPos = 1;

    // The one random source: humanize, random pans and chaos draw from it.
    std::mt19937 random{5489u};

    Prompter* prompter = &silent;
    // The one remembered attribute value of the read-only bracket.
    ReadOnlyBracket attributes;

    Voice& voice(int channel) { return voices[channel]; }

private:
    SilentPrompter silent;
};

// The changed mark, the one place that decides it: the Song's bytes differ from the state last
// saved or opened. Windows only show it.
inline bool SongChanged(const Machine& m) {
    return std::memcmp(&m.song, &m.savedSong, sizeof(Song)) != 0;
}

// The Song as it stands is the saved state (after a new song, an open or a save).
inline void MarkSongSaved(Machine& m) {
    m.savedSong = m.song;
}

}  // namespace qtam
