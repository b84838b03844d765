#pragma once
// Q.Tam as a plugin instrument, whatever the plugin format: the live engine's second host
// adapter (the first is the JACK client, engine/audio/jack_output.h). The format's entry
// points (lv2_plugin.cpp, clap_plugin.cpp) only translate their host's calls into these: a
// block's audio, MIDI and transport into Process, the host's parameters into SetParam, its
// state into SongBytes, UserbankBytes and Restore.
//
// The instrument owns the Machine (the Song, the banks) and the edit layer over it, and a
// thread of its own that is the engine's owner: every few milliseconds it takes the
// parameters the host changed into the Song through the edit layer, drains the engine's
// reports (a program change queues its pattern) and publishes what changed. That thread and
// the host's main thread (state, the window) share the Machine under one lock; the real-time
// thread never takes it.
//
// Thread: the host's main thread for every member, unless it says otherwise.

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "engine/live/live_engine.h"
#include "plugin/params.h"
#include "song/song_editor.h"

namespace qtam {

struct Machine;
class SongEditor;

namespace plugin {

// The host's transport at the first frame of a run of frames: none when the host has none.
struct HostTransport {
    bool known = false;
    bool rolling = false;
    std::int64_t frame = 0;
    // Bar (1..), beat (1..) and tick of `ticksPerBeat`, and the tempo, when the host gives them.
    bool bbt = false;
    std::int32_t bar = 0, beat = 0;
    double tick = 0, ticksPerBeat = 0, bpm = 0;
    int beatsPerBar = 4;
    // `frames` later, as the host's own clock moves on while it rolls.
    void Advance(std::uint32_t frames, double rate);
};

class Instrument {
public:
    // Holds the demo song and the built-in kit, ready to sound at `rate` frames per second.
    explicit Instrument(double rate);
    ~Instrument();
    Instrument(const Instrument&) = delete;
    Instrument& operator=(const Instrument&) = delete;

    // The host's rate; forgets what was played (never beside Process).
    void Activate(double rate);
    // Frames a second, as the host activated it. Thread: any.
    int SampleRate() const { return rateHz_.load(std::memory_order_relaxed); }

    // Thread: any (the real-time thread for a format that hands them over in its blocks).
    void SetParam(int index, float value);
    float Param(int index) const;

    // A run of `frames` frames (any length): `ports` holds LiveEngine::kPorts buffers (main L,
    // R, then each channel's L and R); MIDI in, in frame order. Afterwards MidiOut() holds
    // what to send, its frames counted from the run's first.
    // Thread: the host's real-time thread; never allocates, locks or does I/O.
    void Process(std::uint32_t frames, const HostTransport& host, const MidiMessage* midiIn,
                 int midiInCount, float* const* ports);
    const MidiMessage* MidiOut() const { return engine_.MidiOut(); }
    int MidiOutCount() const { return engine_.MidiOutCount(); }

    // The state: the song file's bytes as the song file writer gives them, and the userbank
    // the song plays (its file's bytes; none when it plays the kit only).
    std::vector<std::uint8_t> SongBytes();
    std::vector<std::uint8_t> UserbankBytes();
    // Takes a saved state, with the parameter values it holds (the first `params.size()`, for a
    // format that keeps them in its state); false, and everything as it was, when the song is
    // no song file or the userbank none.
    bool Restore(std::span<const std::uint8_t> song, std::span<const std::uint8_t> userbank,
                 std::span<const float> params = {});

    // Runs one round of the owner's work now (the thread does it every few milliseconds): for
    // a host that wants to see its effect at once (tests, a state saved right after a change).
    void Idle();

    // The Machine and its edit layer for the window, under Lock.
    std::unique_lock<std::mutex> Lock() { return std::unique_lock<std::mutex>(lock_); }
    Machine& machine() { return *m_; }
    SongEditor& editor() { return *editor_; }
    // After the window changed the Song or the banks (under Lock): heard from the next block.
    void Publish();

    // The window's Start, Stop and space bar: the own clock's Play on or off, unless the host's
    // transport rolls (it rules then, and nothing changes); whether it changed.
    bool SetPlay(bool on);
    // Whether the instrument plays: the host's transport rolls, or Play is on.
    bool Playing() const;
    // The arrangement from entry 1..count, in song mode: with nothing playing, the plugin's own
    // clock starts at the entry; playing, the entry follows the measure playing.
    void PlayFromEntry(int entry);

    // While a window is open, the owner's rounds run on the window's thread (it calls Idle):
    // the edit layer then tells the window its changes on its own thread, and the window reads
    // the Machine between its events without taking the lock. Its sound goes on either way.
    void SetWindowOwns(bool on);
    // Told every change the edit layer announces (none: nobody). Thread: the window's, while
    // the window owns the rounds.
    void SetEditListener(std::function<void(SongChange)> listener);

    // For a format whose host reads the parameters back (CLAP; an LV2 host owns its ports): the
    // parameters the Song holds (volumes, mutes, main volume, pattern, song mode) follow it from
    // now on, whoever changed it (the window, a program change, a state), and `moved` is called
    // from the round that moved any (any thread; under the instrument's lock).
    void FollowSong(std::function<void()> moved);

private:
    void OwnerLoop();
    void Round();  // one round of the owner's work, under the lock
    // The parameters the host changed since, into the Song through the edit layer; whether
    // any did. Thread: owner (under the lock).
    bool ApplyChangedParams();
    void ApplyParam(int index, float value);
    // Thread: owner (under the lock): the Song's values into the parameters; whether any moved.
    bool TakeSongParams();
    float SongParam(int index) const;

    std::unique_ptr<Machine> m_;
    std::unique_ptr<SongEditor> editor_;
    LiveEngine engine_;
    double rate_ = 44100;
    std::array<std::atomic<float>, kParamCount> params_;
    std::array<float, kParamCount> applied_{};  // as the owner took them last
    std::mutex lock_;
    // The owner's thread.
    std::mutex wakeLock_;
    std::condition_variable wake_;
    bool quit_ = false;
    bool windowOwns_ = false;                       // under lock_
    std::function<void(SongChange)> editListener_;  // the window's thread
    std::function<void()> songParamsMoved_;         // under lock_; set: the Song leads
    std::thread owner_;
    // The real-time thread's: the host's running frame count; the own clock's frame.
    std::int64_t time_ = 0;
    std::int64_t ownFrame_ = 0;
    bool ownPlaying_ = false;
    // Written by the real-time thread, read by the window's: whether anything plays, and
    // whether the host's transport rolls.
    std::atomic<bool> playing_{false};
    std::atomic<bool> hostRolls_{false};
    // The own clock's frame where the next start begins (a start from an arrangement entry).
    std::atomic<std::int64_t> ownStart_{0};
    std::atomic<int> rateHz_{44100};
};

}  // namespace plugin
}  // namespace qtam
