#pragma once
// Q.Tam as a JACK client (jackd, or PipeWire through pipewire-jack): the ports main_L and
// main_R, a stereo pair per channel, midi_in and midi_out, driven by the live engine
// (engine/live/live_engine.h). This adapter only speaks JACK: it opens the client and its
// ports, turns each period's transport query and MIDI into the engine's host position and
// MIDI, writes back what the engine mixed and sends, publishes bar, beat and tick as the
// timebase master, and rolls the transport. Everything that plays is the engine's.
//
// Thread: owner for every public member, unless it says otherwise.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/live/live_engine.h"
#include "engine/play_position.h"

typedef struct _jack_client jack_client_t;
typedef struct _jack_port jack_port_t;

namespace qtam {

class JackOutput {
public:
    struct Options {
        TransportSync sync = TransportSync::Follow;
        bool connect = true;        // main_L/main_R to the first two playback ports
        std::string name = "qtam";  // the client name; JACK may add a suffix
    };

    // The engine it drives; it outlives the adapter.
    explicit JackOutput(LiveEngine& engine) : engine_(engine) {}
    ~JackOutput();
    JackOutput(const JackOutput&) = delete;
    JackOutput& operator=(const JackOutput&) = delete;

    // Connects to the server (never starts one), configures the engine for its rate and
    // `options.sync` and starts the process callback. False, and `error` says why and how to
    // start a server, when it cannot.
    bool Open(const Options& options, std::string& error);
    // Leaves the server; a lost client is cleaned up as well.
    void Close();
    bool IsOpen() const { return client_ != nullptr; }

    // The server's frames per second; the client name JACK gave.
    int Rate() const { return engine_.Rate(); }
    const std::string& ClientName() const { return clientName_; }
    TransportSync Sync() const { return engine_.Sync(); }
    const MidiSettings& Midi() const { return engine_.Midi(); }
    // Whether the engine plays. Thread: any.
    bool Playing() const { return engine_.Playing(); }

    // Playing on its own (the transport off, or a MIDI clock followed): the engine starts at
    // the next period. Following or mastering the transport: rolls it.
    void Start(bool countIn = false);
    // As Start: stops the engine, or the transport.
    void Stop();

    // Drains the engine's reports (Poll) into `handle`. Returns false when the server went
    // away (`LostReason` says why); the client is then closed.
    bool Poll(const std::function<void(const EngineReport&)>& handle);
    const std::string& LostReason() const { return lostReason_; }
    // Whether another client took the timebase while Q.Tam was its master (TransportSync::Master):
    // the engine then follows that client's bar, beat, tick and tempo. Thread: any.
    bool TimebaseTaken() const { return timebaseTaken_.load(std::memory_order_acquire); }
    // Whether Close gave up on a client whose server went away (libjack did not let go of it
    // within kLostCloseLimit); no client opens after that.
    bool Abandoned() const { return abandoned_; }
    static constexpr std::chrono::milliseconds kLostCloseLimit{3000};
    // xruns the server reported since Open. Thread: any.
    std::uint64_t Xruns() const { return xruns_.load(std::memory_order_relaxed); }

    // The step being heard now by JACK's frame time, allowing for the playback latency of the
    // main ports; none when stopped or not yet known.
    PlayPosition Heard() const;
    // The step nearest to a pad hit that came in at JACK frame time `time`, as the player
    // heard the steps (the main ports' latency and the period the hit waited in allowed for).
    PlayPosition StepNearest(std::int64_t time) const;
    // The playback latency of main_L in frames, as JACK computed it from the connections.
    std::int64_t Latency() const;

    // Real-time entry points, public for the C callbacks only.
    // Thread: JACK's process thread.
    int Process(std::uint32_t frames);
    // Thread: JACK's process thread (the timebase master's callback).
    void Timebase(void* position);
    // Thread: any (JACK's notification thread).
    void ServerGone(const char* reason);
    void Xrun() { xruns_.fetch_add(1, std::memory_order_relaxed); }
    // Thread: JACK's (the latency callback).
    void SetCaptureLatency(int mode);

private:
    // This period's MIDI in, as the engine takes it. Thread: JACK's process thread.
    int ReadMidi(std::uint32_t frames);
    // Whether another client is the timebase master now that Q.Tam was. Thread: JACK's
    // process thread.
    bool WatchTimebase(bool rolling);
    // jack_client_close on a thread of its own; false when it has not returned within `limit`.
    static bool CloseWithin(jack_client_t* client, std::chrono::milliseconds limit);

    LiveEngine& engine_;
    jack_client_t* client_ = nullptr;
    jack_port_t* ports_[LiveEngine::kPorts] = {};  // main L, R, then the channels' pairs
    jack_port_t* midiIn_ = nullptr;
    jack_port_t* midiOut_ = nullptr;
    std::string clientName_;
    bool timebase_ = false;  // Q.Tam is the timebase master
    std::atomic<std::uint32_t> timebaseCalls_{0};
    std::atomic<bool> timebaseTaken_{false};
    std::atomic<bool> closing_{false};
    bool abandoned_ = false;
    // The process thread's watch of the timebase callback.
    std::uint32_t timebaseCallsSeen_ = 0;
    int periodsWithoutTimebase_ = 0;
    bool wasRolling_ = false;
    std::atomic<std::uint64_t> xruns_{0};
    std::atomic<bool> lost_{false};
    char lostText_[256] = {};
    std::string lostReason_;
    // The process thread's.
    float* buffers_[LiveEngine::kPorts] = {};
    MidiMessage midiEvents_[LiveEngine::kMaxMidiIn] = {};
};

}  // namespace qtam
