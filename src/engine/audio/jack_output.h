#pragma once
// Q.Tam as a JACK client (jackd, or PipeWire through pipewire-jack): the ports main_L and
// main_R and a stereo pair per channel, mixed in JACK's process callback, and the JACK
// transport followed, mastered or ignored. MIDI through midi_in and midi_out, all within the
// process callback: the notes played leave on the frames their sounds start (the play clock's
// TriggerLog says which and where), the MIDI clock on the frames of the step grid, and a pad's
// note-on plays its channel's sound from the frame it came in on, one period later.
//
// The process callback runs a mixer of its own: a second Machine (clock and voices) that
// plays a copy of the Song. The owner hands every change over with Publish, through a
// preallocated triple buffer, and steers it with commands through a ring; the callback sends
// what happened (starts, stops, step starts, a transport master's tempo, a MIDI clock's tempo)
// back through another ring that the owner drains with Poll. The callback never waits on the owner,
// allocates, locks or does I/O. The sounds themselves are read where the owner keeps them: the
// banks must not change while a session plays (the windows disable the bank editor meanwhile).
//
// Thread: owner for every public member, unless it says otherwise.

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/song.h"
#include "engine/audio/spsc_ring.h"
#include "engine/audio/triple_buffer.h"
#include "engine/play_position.h"
#include "engine/step_grid.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace qtam {

struct Machine;

// What Q.Tam does with the JACK transport.
enum class JackSync {
    Off,     // plays on its own when started, ignores the transport
    Follow,  // plays while the transport rolls, from the position it gives
    Master,  // as Follow, and publishes bar, beat, tick and tempo as the timebase master
};
// "off", "follow", "master"; false for anything else.
bool ParseJackSync(const std::string& text, JackSync& sync);
const char* JackSyncName(JackSync sync);

// MIDI through the ports midi_in and midi_out: one note table for both ways.
struct MidiSettings {
    int channel = 10;  // 1..16: the MIDI channel of the notes out
    // The note of each channel, out and in (the pads); a note no channel has is ignored.
    std::array<std::uint8_t, kChannels> notes{36, 38, 42, 46, 39, 45, 49, 51};
    bool notesOut = true;   // every note played leaves as note-on, and note-off at the next step
    bool clockOut = false;  // 24 ticks a beat, Start, Continue, Stop, Song Position Pointer
    // Follows a clock coming in: its Start, Continue and Stop, its tempo and Song Position Pointer.
    // It wins over the JACK transport, which is then neither followed nor rolled (as with
    // JackSync::Off); Start and Stop of the owner play and stop at the Song's own tempo, or join
    // a clock that runs at its next tick. With clockOut as well, the clock coming in goes out as
    // it came in (a thru), in place of Q.Tam's own.
    bool clockIn = false;
    // Program change 0..7 is pattern 1..8: one coming in is reported (Program) for the owner
    // to queue it; out, every pattern queued is sent, on `channel`.
    bool programIn = false;
    bool programOut = false;
};

// Of `count` step starts in frame order (`frameOf(i)` the frame of start i), the index of the
// one nearest to `frame` (a tie goes to the later); -1 when there are none. Thread: any.
std::int64_t NearestStart(std::int64_t count,
                          const std::function<std::int64_t(std::int64_t)>& frameOf,
                          std::int64_t frame);

// Something the process callback tells the owner.
struct JackReport {
    enum Kind : std::uint8_t { Started, Stopped, Step, MasterTempo, Pad, Program, ClockTempo };
    Kind kind = Started;
    std::uint8_t pattern = 0, measure = 0, step = 0;  // Program: the pattern 1..8 asked for
    // Pad: the channel played (0: no channel has the note, nothing sounded), how hard, and
    // the note that came in (what a learning note table takes).
    std::uint8_t channel = 0, velocity = 0, note = 0;
    std::int64_t frameTime = 0;  // JACK frame time the step (or start) is heard from
    // MasterTempo: the master's tempo before clamping. ClockTempo: the MIDI clock's tempo as
    // measured, at most once a step and only when it moved by 0.01 or more.
    double bpm = 0;
};

class JackOutput;

// Pad hits waiting for their step: the nearest step is known once the step after the hit has
// been mixed, so each hit is asked for again at every poll; one not placed within
// kPollsToPlace polls (playing stopped) is dropped. Thread: owner.
class PadsToPlace {
public:
    static constexpr int kPollsToPlace = 50;
    // A hit of a channel while playing; others are left out.
    void Add(const JackReport& pad);
    // Hands each hit whose step is now known to `place`, and forgets it.
    void Place(const JackOutput& jack,
               const std::function<void(const PlayPosition& at, const JackReport& pad)>& place);
    void Clear() { waiting_.clear(); }

private:
    std::vector<std::pair<JackReport, int>> waiting_;  // the hit, and polls waited
};

class JackOutput {
public:
    struct Options {
        JackSync sync = JackSync::Follow;
        bool connect = true;        // main_L/main_R to the first two playback ports
        std::string name = "qtam";  // the client name; JACK may add a suffix
    };

    static constexpr int kTempoMin = 50;
    static constexpr int kTempoMax = 250;

    explicit JackOutput(Machine& owner);
    ~JackOutput();
    JackOutput(const JackOutput&) = delete;
    JackOutput& operator=(const JackOutput&) = delete;

    // Connects to the server (never starts one) and starts the process callback. False, and
    // `error` says why and how to start a server, when it cannot.
    bool Open(const Options& options, std::string& error);
    // Leaves the server; a lost client is cleaned up as well.
    void Close();
    bool IsOpen() const { return client_ != nullptr; }

    // The server's frames per second; the client name JACK gave.
    int Rate() const { return rate_; }
    const std::string& ClientName() const { return clientName_; }
    JackSync Sync() const { return options_.sync; }

    // The MIDI settings, heard from the next Publish on.
    void SetMidi(const MidiSettings& midi) { midi_ = midi; }
    const MidiSettings& Midi() const { return midi_; }

    // Hands the owner's Song, edited pattern, queued pattern, humanize switch and main volume
    // to the process callback; heard within two periods. Call after every change.
    void Publish();
    // Off (or clock in): plays from measure 1 of the edited pattern at the next period; with a
    // MIDI clock running, from the clock's place at its next tick. Follow and Master: rolls the
    // transport (the process callback starts with it).
    void Start();
    // Off (or clock in): stops at the next period. Follow and Master: stops the transport.
    void Stop();

    // Drains what the process callback reported, keeps the step starts for HeardAt, and hands
    // each report to `handle`. Returns false when the server went away (`lostReason` says
    // why); the client is then closed.
    bool Poll(const std::function<void(const JackReport&)>& handle);
    const std::string& LostReason() const { return lostReason_; }

    // Whether the process callback plays; frames it played since it last started.
    // Thread: any.
    bool Playing() const { return playing_.load(std::memory_order_acquire); }
    std::int64_t PlayedFrames() const { return played_.load(std::memory_order_acquire); }
    // xruns the server reported since Open. Thread: any.
    std::uint64_t Xruns() const { return xruns_.load(std::memory_order_relaxed); }

    // The step being heard now by JACK's frame time, allowing for the playback latency of the
    // main ports; none when stopped or not yet known.
    PlayPosition Heard() const;
    // The step nearest to a pad hit that came in at JACK frame time `frameTime`, as the
    // player heard the steps (the main ports' latency and the period the hit waited in
    // allowed for): where a recorded hit goes. None when stopped, or until the step after the
    // hit has been mixed (ask again a little later).
    PlayPosition StepNearest(std::int64_t frameTime) const;
    // The playback latency of main_L in frames, as JACK computed it from the connections.
    std::int64_t Latency() const;

    // Real-time entry points, public for the C callbacks only.
    // Thread: JACK's process thread.
    int Process(std::uint32_t frames);
    // Thread: JACK's process thread (the timebase master's callback).
    void Timebase(std::uint32_t frames, void* position, bool newPosition);
    // Thread: any (JACK's notification thread).
    void ServerGone(const char* reason);
    void Xrun() { xruns_.fetch_add(1, std::memory_order_relaxed); }

private:
    struct Snapshot {
        Song song{};
        std::uint8_t pattern = 1;      // the edited pattern: where a start begins
        std::uint8_t nextPattern = 1;  // the queued pattern
        bool humanize = false;
        std::int16_t mainVolume = 128;
        MidiSettings midi;
    };
    // A MIDI message due at a frame of this period.
    struct MidiOut {
        std::uint32_t frame = 0;
        std::uint8_t bytes[3] = {};
        std::uint8_t size = 0;
    };
    struct PadHit {
        std::uint32_t frame = 0;
        std::uint8_t channel = 0, velocity = 0;
    };
    enum class Command : std::uint8_t { Start, Stop };
    static constexpr int kChunk = 256;                    // frames mixed at a time
    static constexpr std::int64_t kCatchUpFrames = 8192;  // missed frames mixed into nothing

    // All Thread: JACK's process thread.
    void TakeSnapshot();
    void TakeCommands();
    void Silence(std::uint32_t at, std::uint32_t frames);
    void MixFree(std::uint32_t at, std::uint32_t frames);
    void MixSynced(std::uint32_t frames, std::int64_t transportFrame);
    void MixChunk(std::uint32_t at, int frames, bool playing = true);
    void MixIdle(std::uint32_t at, std::uint32_t frames);
    // Plays the pad hits due by frame `at`; the frames until the next one (at most `limit`).
    int PlayPads(std::uint32_t at, int limit);
    void ReadMidi(std::uint32_t frames);
    void TakeHits(std::uint32_t at);
    void Send(std::uint32_t frame, std::uint8_t a, int size, std::uint8_t b = 0,
              std::uint8_t c = 0);
    void NotesOff(std::uint32_t frame);
    void StartClock(std::int64_t from, bool fromStart);
    void SendClock(std::uint32_t frames);
    void SendTick(std::uint32_t frame);
    void SendStepClock(std::uint32_t frames);
    void SendPairTicks(std::int64_t before, std::int64_t until, bool flush);
    // Clock in.
    void ProcessClockIn(std::uint32_t frames);
    void TakeClockByte(const std::uint8_t* bytes, std::uint32_t at);
    void TimeClockTick(std::uint32_t at);
    void FollowClockFrom(std::int64_t tick, std::uint32_t at);
    void ExpectStepBetweenTicks(std::int64_t tick, std::uint32_t at);
    void BeginClockedStep();
    void MixClockIn(std::uint32_t from, std::uint32_t to);
    void WriteMidi(std::uint32_t frames);
    void ProcessSynced(std::uint32_t frames);
    void StartFree();
    void StopPlaying(std::uint32_t at = 0);
    void Locate(std::int64_t transportFrame, bool keepVoices);
    void CatchUp(std::int64_t from, std::int64_t to);
    void SetGridTempo(double bpm);
    void ReportStepStarts();
    void Report(const JackReport& r);
    int StepsPerMeasure() const;

    Machine& owner_;
    std::unique_ptr<Machine> rt_;  // the process callback's Machine
    Options options_;
    jack_client_t* client_ = nullptr;
    jack_port_t* mainPorts_[2] = {};
    jack_port_t* channelPorts_[kChannels][2] = {};
    jack_port_t* midiIn_ = nullptr;
    jack_port_t* midiOut_ = nullptr;
    MidiSettings midi_;
    std::string clientName_;
    int rate_ = 44100;

    TripleBuffer<Snapshot> snapshots_;
    SpscRing<Command, 16> commands_;
    SpscRing<JackReport, 1024> reports_;
    std::atomic<bool> playing_{false};
    std::atomic<std::int64_t> played_{0};
    std::atomic<std::uint64_t> xruns_{0};
    std::atomic<bool> lost_{false};
    char lostText_[256] = {};
    std::string lostReason_;
    std::atomic<double> masterBpm_{120};  // what the timebase callback publishes
    std::atomic<int> beatsPerBar_{4};
    bool timebase_ = false;  // Q.Tam is the timebase master

    // The process thread's own state.
    struct RealTime {
        bool playing = false;
        std::int64_t cycleTime = 0;      // JACK frame time of this period's first frame
        std::int64_t logStartTime = 0;   // frame time of the step log's frame 0
        std::int64_t reportedSteps = 0;  // step log entries already reported
        // Synced playback: the grid, the step k playing, and the transport frame expected
        // at the next period (another one means a relocation).
        StepGrid grid;
        std::int64_t k = 0;
        std::int64_t expectedFrame = -1;
        double bpm = 0;  // the tempo the grid was made for
        int tempo = 0;   // the Song's tempo and shuffle the grid was made for
        int shuffle = 0;
        bool fromMaster = false;  // the grid follows another client's bar, beat and tick
        float* buffers[2 + 2 * kChannels] = {};  // this period's: main L, R, then the channels
        float discard[kChunk] = {};              // where frames missed in an xrun are mixed
        std::int16_t out[2 * kChunk] = {};
        std::int32_t taps[kChannels][2][kChunk] = {};
        // MIDI: this period's messages out, pad hits in, notes sounding, the clock.
        static constexpr int kMidiOut = 512;
        MidiOut midiOut[kMidiOut] = {};
        int midiCount = 0;
        MidiOut carried[64] = {};  // due in the next period (frame counted from its start)
        int carriedCount = 0;
        PadHit pads[64] = {};
        int padCount = 0, padNext = 0;
        std::uint8_t held[kChannels] = {};  // the note sounding on each channel, 0 for none
        std::uint8_t heldChannel = 9;       // the MIDI channel they sound on
        bool clockRunning = false;
        std::int64_t clockFrame = 0;  // the grid's frame of this period's first frame
        std::int64_t clockNext = 0;   // the next tick to send
        int clockCue = 0;             // 0, or 0xFA (Start) or 0xFB (Continue) before it
        StepGrid clockGrid;           // where the ticks fall (transport followed or mastered)
        // Playing on its own, the ticks follow the play clock's steps: twelve to a pair of
        // steps from the pair's first step (`pairStep`, begun on `pairStart`, lasting
        // `pairLength` frames), so that they fall on the very frames the steps sound.
        std::int64_t pairStep = 0, pairStart = 0, pairLength = 0;
        MidiSettings midi;           // as last published
        void* midiBuffer = nullptr;  // this period's midi_out buffer
        std::uint32_t frames = 0;    // this period's length
        int queued = 0;              // the pattern last sent as a program change
        // Clock in: this period's clock messages; whether the clock runs (after Start or
        // Continue, until Stop); the tick the next one is (six a step from the song's start);
        // whether that tick places playback anew (Start, Continue, Song Position Pointer, the
        // owner's Start); whether playback follows the ticks; the frame (on the time line
        // `inFrame`, the frames since Open) on which a step between two ticks begins, or -1.
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
    std::unique_ptr<RealTime> rt2_;

    // The owner's record of recent step starts, for Heard.
    static constexpr int kHeardSteps = 256;
    JackReport heardSteps_[kHeardSteps] = {};
    std::int64_t heardCount_ = 0;
    bool heardPlaying_ = false;
};

}  // namespace qtam
