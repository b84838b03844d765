#pragma once
// The one object that owns the whole state of a running Q.Tam: the Song and the editor state
// beside it, the two sample banks, the play clock, the voices, the staging buffer and the
// flags. It is created once (on the heap: it is large) and passed to whatever needs it.
//
// Thread: owner. The Machine belongs to one thread (the user-interface thread of the
// program, the main thread of qtam-cli); every function that takes a Machine runs there,
// the mixers included. No other thread reads or writes it: the audio callback only copies
// blocks the owner has already mixed, and the timer's ticks are handed to the owner.

#include <sys/mman.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <random>
#include <string>

#include "core/arrangement.h"
#include "core/files.h"
#include "core/player.h"
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
    bool SongMode = false;         // the Song/Pattern switch: playback walks the arrangement
    std::uint16_t StartEntry = 1;  // the entry a start in song mode begins at
    std::string SongFolder;        // where the song dialogs start

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
    bool BankChanged = false;
};

// Where RenderBlock appends what it mixed while a stream to disk is running.
class StreamSink {
public:
    virtual ~StreamSink() = default;
    virtual void Append(const void* bytes, std::size_t count) = 0;
};

constexpr int kStagingWords = 40960;  // two halves of 10240 stereo frames
constexpr int kSecondHalf = 20481;    // 1-based word index of the second half

// The staging buffer's words, zeroed: a mapping of their own, whose pages the system gives as
// zeros when they are first touched, so that a Machine that never plays (a qtam-cli command)
// never touches them.
class StagingWords {
public:
    StagingWords() {
        void* p =
            ::mmap(nullptr, kBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED) throw std::bad_alloc();
        words_ = static_cast<std::int16_t*>(p);
    }
    ~StagingWords() { ::munmap(words_, kBytes); }
    StagingWords(const StagingWords&) = delete;
    StagingWords& operator=(const StagingWords&) = delete;

    std::int16_t* data() { return words_; }
    const std::int16_t* data() const { return words_; }
    std::int16_t& operator[](std::size_t i) { return words_[i]; }
    std::int16_t operator[](std::size_t i) const { return words_[i]; }
    std::int16_t* begin() { return words_; }
    std::int16_t* end() { return words_ + kStagingWords; }
    const std::int16_t* begin() const { return words_; }
    const std::int16_t* end() const { return words_ + kStagingWords; }
    static constexpr std::size_t size() { return kStagingWords; }

private:
    static constexpr std::size_t kBytes = kStagingWords * sizeof(std::int16_t);
    std::int16_t* words_;
};

struct Machine {
    Song song{};
    // The Song as it was last saved or opened: the Song is changed exactly when its bytes
    // differ from these (SongChanged below).
    Song savedSong{};
    // The order of the patterns in a whole track, part of the document like the Song, and as
    // it was last saved or opened.
    Arrangement arrangement{};
    Arrangement savedArrangement{};
    EditorState editor;
    Banks banks;
    BankActivation activation;
    // The windows' thread's own player: renders, and the system sound's blocks.
    Player player;

    bool Playing = false;
    bool Streaming = false;
    StreamSink* stream = nullptr;
    // The open stream file (stream to disk) that `stream` points at while one is open.
    std::unique_ptr<StreamSink> streamFile;

    StagingWords StagingBuffer;
    std::int32_t BufPos = 1;

    // The one random source: humanize, random pans and chaos draw from it.
    std::mt19937 random{5489u};

    Prompter* prompter = &silent;
    // The one remembered attribute value of the read-only bracket.
    ReadOnlyBracket attributes;

private:
    SilentPrompter silent;
};

// The Machine's player, reading the Machine's Song, sounds, edited pattern and switches as they
// are now. Thread: owner.
inline Player& PlayerOf(Machine& m) {
    Player& p = m.player;
    p.song = &m.song;
    p.arrangement = &m.arrangement;
    p.sounds = &m.banks.byInstrument;
    p.random = &m.random;
    p.startPattern = m.editor.CurrentPattern;
    p.humanize = m.editor.HumanizeChecked;
    p.songMode = m.editor.SongMode && !m.arrangement.empty();
    p.startEntry = m.editor.StartEntry;
    return p;
}

// The changed mark, the one place that decides it: the Song's or the arrangement's bytes differ
// from the state last saved or opened. Windows only show it.
inline bool SongChanged(const Machine& m) {
    return std::memcmp(&m.song, &m.savedSong, sizeof(Song)) != 0 ||
           std::memcmp(&m.arrangement, &m.savedArrangement, sizeof(Arrangement)) != 0;
}

// The Song as it stands is the saved state (after a new song, an open or a save).
inline void MarkSongSaved(Machine& m) {
    m.savedSong = m.song;
    m.savedArrangement = m.arrangement;
}

}  // namespace qtam
