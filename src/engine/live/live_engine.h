#pragma once
// The real-time engine every live host drives: JACK's process callback today, a plugin's
// process call next. A host hands it a block at a time with what it knows of the time (its
// frame, whether its transport rolls and where, bar, beat, tick and tempo when it has a
// timebase) and the MIDI that came in, and takes back the audio of the main mix and of every
// channel and the MIDI to send. The engine mixes with its own Player, follows the transport
// (off, follow, master) or a MIDI clock coming in, plays pads, sends notes, program changes
// and MIDI clock.
//
// The owner (the thread that owns the Machine) hands it the Song and switches (Publish, a
// preallocated triple buffer), the sounds (PublishSounds, immutable snapshots) and Start and
// Stop (a ring); the engine hands back reports (starts, stops, steps begun, tempos, pads,
// program changes) through another ring that the owner drains with Poll. The engine never
// waits on the owner, allocates, locks or does I/O while it processes.
//
// Thread: owner for every member, unless it says otherwise. Process and the functions it
// calls run on the host's real-time thread: one thread at a time, never beside Configure.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "core/arrangement.h"
#include "core/config.h"
#include "core/player.h"
#include "core/song.h"
#include "engine/device_settings.h"
#include "engine/live/audition.h"
#include "engine/live/metronome.h"
#include "engine/live/sound_snapshots.h"
#include "engine/live/spsc_ring.h"
#include "engine/live/triple_buffer.h"
#include "engine/play_position.h"
#include "engine/step_grid.h"

namespace qtam {

// What the engine does with the host's transport (TransportSync, engine/device_settings.h) by
// name: "off", "follow", "master"; false for anything else.
bool ParseTransportSync(const std::string& text, TransportSync& sync);
const char* TransportSyncName(TransportSync sync);

// MIDI in and out: one note table for both ways.
struct MidiSettings {
    int channel = 10;  // 1..16: the MIDI channel of the notes out
    // The note of each channel, out and in (the pads); a note no channel has is ignored.
    std::array<std::uint8_t, kChannels> notes = kDefaultMidiNotes;
    bool notesOut = true;   // every note played leaves as note-on, and note-off at the next step
    bool clockOut = false;  // 24 ticks a beat, Start, Continue, Stop, Song Position Pointer
    // Follows a clock coming in: its Start, Continue and Stop, its tempo and Song Position Pointer.
    // It wins over the transport, which is then neither followed nor rolled (as with
    // TransportSync::Off); Start and Stop of the owner play and stop at the Song's own tempo, or
    // join a clock that runs at its next tick. With clockOut as well, the clock coming in goes
    // out as it came in (a thru), in place of Q.Tam's own.
    bool clockIn = false;
    // Program change 0..7 is pattern 1..8: one coming in is reported (Program) for the owner
    // to queue it; out, every pattern queued is sent, on `channel`. In song mode program change
    // N in is entry N+1 of the arrangement, which plays from the end of the measure playing.
    bool programIn = false;
    bool programOut = false;
};

// A MIDI message of up to three bytes at a frame of a block.
struct MidiMessage {
    std::uint32_t frame = 0;
    std::uint8_t bytes[3] = {};
    std::uint8_t size = 0;
};

// Where the host's time is at the first frame of a block.
struct HostPosition {
    std::int64_t time = 0;   // the host's running frame count (reports are stamped with it)
    bool rolling = false;    // the transport rolls
    std::int64_t frame = 0;  // the transport's frame
    // Bar (1..), beat (1..), tick and tempo, when the host has a timebase.
    bool bbt = false;
    std::int32_t bar = 0, beat = 0;
    double tick = 0, ticksPerBeat = 0, bpm = 0;
    double beatsPerBar = 0, barStartTick = 0;  // 0 when not given
    // Another client took the timebase from the engine (TransportSync::Master): its bar,
    // beat, tick and tempo are followed as with TransportSync::Follow.
    bool timebaseTaken = false;
};

// Something the engine tells the owner.
struct EngineReport {
    // MasterBars: the timebase master's beat and tick contradict its ticks per beat (its tick
    // runs over the whole bar); from now on it is followed from its bar and the frame.
    enum Kind : std::uint8_t {
        Started,
        Stopped,
        Step,
        MasterTempo,
        Pad,
        Program,
        ClockTempo,
        MasterBars
    };
    Kind kind = Started;
    std::uint8_t pattern = 0, measure = 0, step = 0;  // Program: the pattern 1..8 asked for
    // Step in song mode: the arrangement entry (0 outside song mode) and its pass. Program in
    // song mode: the entry asked for.
    std::uint16_t entry = 0;
    std::uint8_t pass = 0;
    // Pad: the channel played (0: no channel has the note, nothing sounded), how hard, and
    // the note that came in (what a learning note table takes).
    std::uint8_t channel = 0, velocity = 0, note = 0;
    std::int64_t time = 0;  // the host's frame time the step (or start, or hit) is at
    // MasterTempo: the transport's tempo before clamping. ClockTempo: the MIDI clock's tempo as
    // measured, at most once a step and only when it moved by 0.01 or more.
    double bpm = 0;
};

// Of `count` step starts in frame order (`frameOf(i)` the frame of start i), the index of the
// one nearest to `frame` (a tie goes to the later); -1 when there are none. Thread: any.
std::int64_t NearestStart(std::int64_t count,
                          const std::function<std::int64_t(std::int64_t)>& frameOf,
                          std::int64_t frame);

// Pad hits waiting for their step: the nearest step is known once the step after the hit has
// been mixed, so each hit is asked for again at every poll; one not placed within
// kPollsToPlace polls (playing stopped) is dropped.
class PadsToPlace {
public:
    static constexpr int kPollsToPlace = 50;
    // A hit of a channel while playing; others are left out.
    void Add(const EngineReport& pad);
    // Hands each hit whose step `nearest` now knows to `place`, and forgets it.
    void Place(const std::function<PlayPosition(std::int64_t time)>& nearest,
               const std::function<void(const PlayPosition& at, const EngineReport& pad)>& place);
    void Clear() { waiting_.clear(); }

private:
    std::vector<std::pair<EngineReport, int>> waiting_;  // the hit, and polls waited
};

class LiveEngine {
public:
    // Ports of a block: main L, R, then each channel's L and R.
    static constexpr int kPorts = 2 + 2 * kChannels;
    static constexpr int kMaxMidiIn = 256;
    static constexpr int kMaxMidiOut = 512;
    static constexpr double kTicksPerBeat = 1920.0;  // of the bar, beat and tick it gives

    LiveEngine();
    ~LiveEngine();
    LiveEngine(const LiveEngine&) = delete;
    LiveEngine& operator=(const LiveEngine&) = delete;

    // Before a host starts processing (or after it stopped): its frames per second and what
    // to do with its transport; forgets everything played but its count (PlayedFrames). Thread:
    // owner, never beside Process.
    void Configure(int rate, TransportSync sync);
    int Rate() const { return rate_; }
    TransportSync Sync() const { return sync_; }

    // The MIDI settings, heard from the next Publish on.
    void SetMidi(const MidiSettings& midi) { midi_ = midi; }
    const MidiSettings& Midi() const { return midi_; }
    // Plays on its own (the transport off, or a MIDI clock followed instead), by the settings
    // handed over last.
    bool OwnClock() const { return sync_ == TransportSync::Off || midi_.clockIn; }

    // Hands over the Song, the edited pattern (where a start begins), the queued pattern, the
    // humanize switch and the main volume; heard from the next block. Call after every change.
    void Publish(const Song& song, int editedPattern, int nextPattern, bool humanize,
                 int mainVolume);
    // Song mode: the arrangement and the Song/Pattern switch; in song mode a start begins at
    // entry `startEntry` and playback walks the entries. Heard from the next Publish on.
    void SetArrangement(const Arrangement& arrangement, bool songMode, int startEntry = 1);
    // Song mode: entry 1..count plays from the end of the measure playing (a pattern key, a
    // program change). Heard from the next Publish on.
    void JumpToEntry(int entry);
    // Hands over the sounds when the banks changed; frees snapshots the engine moved past.
    void PublishSounds(const Banks& banks) { sounds_.Update(banks); }
    // Plays on its own from measure 1 of the edited pattern from the next block; with a MIDI
    // clock running, from the clock's place at its next tick. Ignored while the transport
    // steers (the host rolls its transport instead). With `countIn` (and no MIDI clock
    // followed), one measure of the metronome's clicks comes first, and playing begins on the
    // frame after it. Stop also ends a count-in.
    void Start(bool countIn = false);
    void Stop();

    // The click on every beat while playing, its level, and the count-in's clicks: the switch
    // and level may be set from any thread.
    Metronome& metronome() { return metronome_; }
    // Plays an instrument's sound from the next block, playing or not, without the Song; false
    // when too many wait already.
    bool Audition(int instrument, int velocity);

    // A live take: while on, every frame played (the main pair, 16-bit interleaved) is kept
    // for the owner to write; a run that finds no room (the owner far behind) is lost and
    // counted. Thread: owner.
    void SetRecording(bool on) { recording_.store(on, std::memory_order_release); }
    // Up to `maxFrames` frames of the take, oldest first; how many. Thread: owner.
    std::size_t TakeRecorded(std::int16_t* out, std::size_t maxFrames) {
        return take_.Read(out, 2 * maxFrames) / 2;
    }
    // Frames of takes lost since Configure. Thread: any.
    std::int64_t RecordingLost() const { return takeLost_.load(std::memory_order_relaxed); }

    // Drains what the engine reported, keeps the step starts for Heard and StepNearest, and
    // hands each report to `handle`; frees snapshots of sounds the engine moved past.
    void Poll(const std::function<void(const EngineReport&)>& handle);
    // Whether it plays; frames it played since it was made, every start, stop, relocation and
    // host counted in (a host's --seconds is a length of playing, however it was cut up).
    // Thread: any.
    bool Playing() const { return playing_.load(std::memory_order_acquire); }
    std::int64_t PlayedFrames() const { return played_.load(std::memory_order_acquire); }
    // The step being heard at host time `heardTime` (the host's frame time now, less its
    // output latency); none when stopped or not yet known.
    PlayPosition Heard(std::int64_t heardTime) const;
    // The step nearest to host time `time` as heard, once the step after it has been mixed;
    // none before that (ask again a little later) or when stopped.
    PlayPosition StepNearest(std::int64_t time) const;
    // Forgets what was reported (a host that closed).
    void ForgetReports();

    // The bar, beat and tick of transport frame `frame` at the Song's tempo, for a host whose
    // timebase master the engine is. Thread: the host's (any).
    BarBeatTick TimebaseAt(std::int64_t frame, int& beatsPerBar, double& bpm) const;

    // One block of `frames` frames (any length: mixed in chunks). `ports` holds kPorts buffers
    // of `frames` floats, or is null; `main16`, when not null, takes the main mix as
    // interleaved 16-bit stereo. MIDI in is in frame order. Afterwards MidiOut() holds what to
    // send in this block, in frame order.
    // Thread: the host's real-time thread; never allocates, locks or does I/O.
    void Process(std::uint32_t frames, const HostPosition& position, const MidiMessage* midiIn,
                 int midiInCount, float* const* ports, std::int16_t* main16 = nullptr);
    // For a host that processes on the owner's thread (the system sound's block driver): plays
    // on its own from `from`'s clock and voices as they stand (where the last stop, or a start
    // mixed in advance, left them), with the Song and sounds published last; StopHere stops at
    // once; MirrorTo hands the clock and voices back after each block, so that the owner's
    // player stays where playing left it. Thread: owner, which is then the one that processes.
    void StartFrom(const Player& from, bool countIn = false);
    void StopHere();
    void MirrorTo(Player& to) const;
    // Where the steps began since the last start. Thread: the one that processes.
    const StepStartLog& StepStarts() const { return player_.stepStarts; }
    const MidiMessage* MidiOut() const { return rt_.midiOut; }
    int MidiOutCount() const { return rt_.midiCount; }

private:
    struct Snapshot {
        Song song{};
        Arrangement arrangement{};
        bool songMode = false;
        std::uint16_t startEntry = 1;
        std::uint32_t jumpSerial = 0;  // a new serial asks for a jump to `jumpEntry`
        std::uint16_t jumpEntry = 0;
        std::uint8_t pattern = 1;      // the edited pattern: where a start begins
        std::uint8_t nextPattern = 1;  // the queued pattern
        bool humanize = false;
        std::int16_t mainVolume = 128;
        MidiSettings midi;
    };
    struct PadHit {
        std::uint32_t frame = 0;
        std::uint8_t channel = 0, velocity = 0;
    };
    enum class Command : std::uint8_t { Start, StartCounted, Stop };
    static constexpr int kChunk = 256;                    // frames mixed at a time
    static constexpr std::int64_t kCatchUpFrames = 8192;  // missed frames mixed into nothing

    // All Thread: the host's real-time thread.
    void TakeSnapshot();
    void ApplySnapshot(const Snapshot& s);
    void TakeSounds();
    void TakeCommands();
    void Silence(std::uint32_t at, std::uint32_t frames);
    void MixFree(std::uint32_t at, std::uint32_t frames);
    void MixSynced(std::uint32_t frames, std::int64_t transportFrame);
    void MixChunk(std::uint32_t at, int frames, bool playing = true);
    void MixIdle(std::uint32_t at, std::uint32_t frames);
    // Plays the pad hits due by frame `at`; the frames until the next one (at most `limit`).
    int PlayPads(std::uint32_t at, int limit);
    void ReadMidi(const MidiMessage* in, int count, std::uint32_t frames);
    void TakeHits(std::uint32_t at);
    void Send(std::uint32_t frame, std::uint8_t a, int size, std::uint8_t b = 0,
              std::uint8_t c = 0);
    void NotesOff(std::uint32_t frame);
    void StartClock(std::int64_t from, bool fromStart);
    void SendClock(std::uint32_t frames);
    void SendTick(std::uint32_t frame);
    void SendStepClock(std::uint32_t frames);
    void SendPairTicks(std::int64_t before, std::int64_t until, bool flush);
    void SortMidiOut();
    // Clock in (live_clock_in.cpp).
    void ProcessClockIn(std::uint32_t frames);
    void TakeClockByte(const std::uint8_t* bytes, std::uint32_t at);
    void TimeClockTick(std::uint32_t at);
    void FollowClockFrom(std::int64_t tick, std::uint32_t at);
    void ExpectStepBetweenTicks(std::int64_t tick, std::uint32_t at);
    void BeginClockedStep();
    void MixClockIn(std::uint32_t from, std::uint32_t to);
    void ProcessSynced(std::uint32_t frames, const HostPosition& pos);
    // A timebase master whose tick runs over the whole bar (live_master_bars.cpp).
    bool FindMasterBars(const HostPosition& pos);
    StepGrid GridOfMasterBars(const HostPosition& pos, double bpm, int shuffle,
                              bool relocated) const;
    void StartFree(std::uint32_t at = 0);
    // The count-in (metronome.h): one measure of clicks, then the start on its next frame.
    void BeginCountIn(bool fromPlayer);
    void ProcessCountIn(std::uint32_t frames);
    void StopPlaying(std::uint32_t at = 0);
    // Song mode: the clock at arrangement step k (counted from the start of entry 1),
    // `counter` frames into it; otherwise at step k of the pattern looping.
    void PlaceAtStep(std::int64_t k, std::int32_t counter);
    // Whether step k is the very start of the song (of the arrangement, or of the pattern).
    bool AtSongStart(std::int64_t k) const;
    // A list that stopped has rung out: playing on its own, it stops.
    bool RungOut() const;
    void BeginPlaying(std::uint32_t at);
    void Locate(std::int64_t transportFrame, bool keepVoices);
    void CatchUp(std::int64_t from, std::int64_t to);
    void ReportStepStarts();
    void Report(const EngineReport& r);
    int StepsPerMeasure() const;

    int rate_ = 44100;
    TransportSync sync_ = TransportSync::Follow;
    MidiSettings midi_;        // the owner's, handed over with Publish
    Arrangement arrangement_;  // the owner's, handed over with Publish
    bool songMode_ = false;
    std::uint16_t startEntry_ = 1;
    std::uint32_t jumpSerial_ = 0;
    std::uint16_t jumpEntry_ = 0;

    TripleBuffer<Snapshot> snapshots_;
    SoundSnapshots sounds_;
    SpscRing<Command, 16> commands_;
    SpscRing<EngineReport, 1024> reports_;
    RunRing<std::int16_t, 1 << 19> take_;  // about six seconds at 44100 Hz
    std::atomic<bool> recording_{false};
    std::atomic<std::int64_t> takeLost_{0};
    std::atomic<bool> playing_{false};
    std::atomic<std::int64_t> played_{0};
    std::atomic<double> masterBpm_{120};  // what a timebase master gives
    std::atomic<int> beatsPerBar_{4};

    // The real-time thread's own state.
    struct RealTime {
        bool playing = false;
        std::int64_t cycleTime = 0;      // host time of this block's first frame
        std::int64_t logStartTime = 0;   // host time of the step log's frame 0
        std::int64_t reportedSteps = 0;  // step log entries already reported
        // Synced playback: the grid, the step k playing, and the transport frame expected
        // at the next block (another one means a relocation).
        StepGrid grid;
        std::int64_t k = 0;
        std::int64_t expectedFrame = -1;
        double bpm = 0;  // the tempo the grid was made for
        int tempo = 0;   // the Song's tempo and shuffle the grid was made for
        int shuffle = 0;
        bool fromMaster = false;  // the grid follows another client's bar, beat and tick
        // A master whose beat and tick contradict its ticks per beat: whether one was found,
        // and what finding it looks at (the bar it is in, where the engine first saw it, and
        // the transport frame of the last stop).
        struct MasterBars {
            bool found = false;
            std::int32_t bar = 0;
            std::int64_t firstFrame = -1;
            double firstBeats = 0, bpm = 0;
            std::int64_t stoppedAt = -1;
        } masterBars;
        float* buffers[kPorts] = {};     // this block's: main L, R, then the channels
        std::int16_t* main16 = nullptr;  // this block's 16-bit main mix, or null
        float discard[kChunk] = {};      // where frames missed in an xrun are mixed
        std::int16_t out[2 * kChunk] = {};
        std::int32_t taps[kChannels][2][kChunk] = {};
        // MIDI: this block's messages out, pad hits in, notes sounding, the clock.
        MidiMessage midiOut[kMaxMidiOut] = {};
        int midiCount = 0;
        MidiMessage carried[64] = {};  // due in the next block (frame counted from its start)
        int carriedCount = 0;
        PadHit pads[64] = {};
        int padCount = 0, padNext = 0;
        std::uint8_t held[kChannels] = {};  // the note sounding on each channel, 0 for none
        std::uint8_t heldChannel = 9;       // the MIDI channel they sound on
        bool clockRunning = false;
        std::int64_t clockFrame = 0;  // the grid's frame of this block's first frame
        std::int64_t clockNext = 0;   // the next tick to send
        int clockCue = 0;             // 0, or 0xFA (Start) or 0xFB (Continue) before it
        StepGrid clockGrid;           // where the ticks fall (transport followed or mastered)
        // Playing on its own, the ticks follow the play clock's steps: twelve to a pair of
        // steps from the pair's first step (`pairStep`, begun on `pairStart`, lasting
        // `pairLength` frames), so that they fall on the very frames the steps sound.
        std::int64_t pairStep = 0, pairStart = 0, pairLength = 0;
        MidiSettings midi;             // as last published
        std::uint32_t frames = 0;      // this block's length
        int queued = 0;                // the pattern last sent as a program change
        std::uint32_t jumpSerial = 0;  // the jump last taken
        // Clock in: this block's clock messages; whether the clock runs (after Start or
        // Continue, until Stop); the tick the next one is (six a step from the song's start);
        // whether that tick places playback anew (Start, Continue, Song Position Pointer, the
        // owner's Start); whether playback follows the ticks; the frame (on the time line
        // `inFrame`, the frames since Configure) on which a step between two ticks begins, or -1.
        struct ClockByte {
            std::uint32_t frame = 0;
            std::uint8_t bytes[3] = {};
        };
        static constexpr int kClockBytes = 128;
        ClockByte clockBytes[kClockBytes] = {};
        int clockByteCount = 0;
        bool inRunning = false, inPlace = false, clocked = false;
        std::int64_t inTick = 0;
        std::int64_t inFrame = 0;
        std::int64_t inPending = -1;
        ClockTempo inTempo;
        double inReported = 0;  // the tempo last reported
        int inUnreported = 0;   // ticks since
    };
    RealTime rt_;
    // What only the clicks and auditions need, beside the player.
    Metronome metronome_;
    AuditionVoice audition_;
    SpscRing<AuditionRequest, 16> auditions_;
    struct CountingIn {
        bool active = false;
        bool fromPlayer = false;  // StartFrom's clock and voices, else a start of its own
        CountIn measure;
        std::int64_t done = 0;  // frames of it played
    } countIn_;
    Player player_;  // the real-time thread's
    std::mt19937 random_{5489u};
    const SoundSnapshot* playingSounds_ = nullptr;

    // The owner's record of recent step starts, for Heard and StepNearest.
    static constexpr int kHeardSteps = 256;
    EngineReport heardSteps_[kHeardSteps] = {};
    std::int64_t heardCount_ = 0;
    bool heardPlaying_ = false;
};

}  // namespace qtam
