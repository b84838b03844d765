#pragma once
// The real-time playback driver of the groove panel: it owns the panel's output device and
// keeps it fed while the song plays. Each block the device hands back is answered by queueing
// the block mixed last time and mixing the next one into the other staging half, so two
// blocks stay queued and one waits.
//
// Thread: owner, for every member: the thread that owns the Machine and drains the EventQueue
// given to the constructor, through which the device's events arrive. Mixing happens there,
// never on the audio callback, which only copies the queued blocks.
//
// With JACK chosen as the audio system (WaveDeviceSettings::AudioSystem), the device is a JACK
// client instead (jack_output.h) that drives the live engine (engine/live/live_engine.h) in its
// process callback: Start and Stop go to the engine (or to the JACK transport), the Song and
// the sounds are handed to it after every edit, and the watch timer drains what it reports
// (starts and stops of the transport, pads, tempos, a lost server).

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "engine/audio/event_queue.h"
#include "engine/audio/jack_output.h"
#include "engine/audio/precision_timer.h"
#include "engine/audio/wave_out.h"
#include "engine/device_settings.h"
#include "engine/play_position.h"

namespace qtam {

struct Machine;
struct StreamObserver;

// What the windows say when the device was lost (`reason` as OnDeviceLost gives it), and when
// the configured device is not present.
std::string DeviceLostText(const std::string& reason);
std::string DefaultDeviceInsteadText(int deviceNum);
std::string JackUnreachableText(const std::string& reason);
std::string JackTakeRateText(int rate);
// What following the JACK transport found, as OnTransportNote tells it.
extern const char* const kTimebaseTakenText;
extern const char* const kMasterBarsText;

class PlaybackDriver {
public:
    static constexpr int kLeadInBytes = 8192;      // 2048 frames of silence, twice
    static constexpr int kPreparedFrames = 10240;  // one whole staging half
    static constexpr int kPreparedBlockBytes = 20480;

    // Thread: owner.
    PlaybackDriver(Machine& m, EventQueue& events);
    // Waits for a load of the sound library under way. Thread: owner.
    ~PlaybackDriver();
    PlaybackDriver(const PlaybackDriver&) = delete;
    PlaybackDriver& operator=(const PlaybackDriver&) = delete;

    // The panel's output device; its OnDone is BlockPlayed.
    WaveOut Playback;

    int DeviceNum = 0;                  // 0 = default device, 1..10 the n-th listed device
    std::int32_t BlockFrames = 8192;    // used within 2048..10240, whatever is set here
    int LatencyMs = kDefaultLatencyMs;  // asked of a PulseAudio server at the next opening

    // Takes DeviceNum, the block size and the latency from the configuration (the block size
    // is kept within 2048..10240 frames, the latency within kMinLatencyMs..kMaxLatencyMs).
    // Thread: owner.
    void ApplySettings(const WaveDeviceSettings& settings);

    // Opens Playback unless it is open; a device lost while nothing played is closed first,
    // so that it opens afresh. Thread: owner.
    void OpenDevice();
    // OpenDevice once the sound library is loaded: the first time it is loaded on a thread of
    // its own, so that a slow first load never holds up the owner's thread. A CloseDevice in
    // the meantime cancels the opening. Thread: owner.
    void OpenDeviceSoon();
    // Thread: owner.
    void CloseDevice();

    // Starts playback: a prepared start when one is waiting, otherwise a normal start, after a
    // count-in of one measure when CountInAtStart says so (not through a JACK transport that
    // steers, nor for a prepared start, which sounds at once). Thread: owner.
    void StartPlaying();
    std::function<bool()> CountInAtStart;

    // The metronome of whichever host plays (engine/live/metronome.h): on every beat while
    // playing, at `level` percent. Thread: owner.
    void SetMetronome(bool on, int level);
    // Plays an instrument's sound (1..20, 101..120) at once through whichever host is chosen,
    // playing or not, leaving the Song as it is; opens the device when it is closed.
    // Thread: owner.
    void Audition(int instrument, int velocity = 110);
    // Stops playback; a live recording is finished before the play clock is reset. False
    // when that recording could not be written (the user has been told). Thread: owner.
    bool StopPlaying();

    // A press on the start button: Ctrl with exactly the left button prepares a start (the
    // busy cursor shows until the release), any other press starts playback. Thread: owner.
    void PressStart(bool leftButtonOnly, bool ctrlHeld);
    // Thread: owner.
    void ReleaseStart();
    // Mixes the start in advance, so that the next start sounds at once. Thread: owner.
    void PrepareStartInAdvance();

    // OnDone of Playback: one call per block handed back. Thread: owner.
    void BlockPlayed(WaveOut& sender);

    // The space bar, for the panel (openDeviceFirst false) and the main window (true):
    // holding the key toggles playback once, not at the keyboard's repeat rate. Thread: owner.
    void KeyDown(bool isSpace, bool openDeviceFirst);
    // Thread: owner.
    void KeyUp();
    bool KeyReleased = true;

    // What the windows show: the "&Editor" and "&Sound device setup" menu items are disabled
    // from a start (or a prepared start) until the stop; Start and Stop swap while playing.
    // Thread: owner.
    bool EditorOptionEnabled() const { return menusEnabled_; }
    // Thread: owner.
    bool SetupDeviceEnabled() const { return menusEnabled_; }
    // Thread: owner.
    bool StartButtonVisible() const { return !stopShown_; }
    // Thread: owner.
    bool StopButtonVisible() const { return stopShown_; }
    // Called whenever one of the four above changes.
    std::function<void()> OnStateChanged;

    // Told after playback stopped because the device was lost (SDL reported it removed or
    // stopped, it took no sound for more than a second, or after a loss it could not be opened
    // again), with the reason. Playback has stopped as Stop stops it, a live recording is
    // finished and the device is closed; the next OpenDevice opens it anew. `recorded` is what
    // StopPlaying returned. Thread: owner.
    std::function<void(const std::string& reason, bool recorded)> OnDeviceLost;
    // Told when OpenDevice found the configured device DeviceNum gone and opened the default
    // device instead. Thread: owner.
    std::function<void(int deviceNum)> OnDefaultDeviceInstead;
    // How often the device is looked at while playing.
    static constexpr int kWatchIntervalMs = 250;
    // Looks at the device while playing; the driver's own timer calls it. Thread: owner.
    void WatchDevice();

    // JACK: whether it is the chosen audio system, the client, and the step heard now by
    // JACK's frame time. Thread: owner.
    bool UsesJack() const { return jackChosen_; }
    const JackOutput& Jack() const { return *jack_; }
    PlayPosition JackHeard() const;
    // Why the last opening of the JACK client failed.
    const std::string& JackError() const { return jackError_; }
    // The JACK client's name, as asked of the server at the next opening (default "qtam").
    std::string JackClientName = "qtam";
    // Hands the Song and the sounds to the live engine after a change (nothing without JACK).
    void SongEdited();
    // Song mode: entry 1..count plays from the end of the measure playing. Thread: owner.
    void JumpToEntry(int entry);
    // Told when a start found no JACK server to play through, with why and how to start one.
    std::function<void(const std::string& reason)> OnJackUnreachable;
    // Told the tempo a JACK timebase master gives, in beats per minute as it gives it.
    std::function<void(double bpm)> OnTransportTempo;
    // Told, once each per opening, what following the JACK transport found: another client took
    // the timebase from Q.Tam (kTimebaseTakenText), or the timebase master's beat and tick
    // contradict its ticks per beat (kMasterBarsText).
    std::function<void(const std::string& text)> OnTransportNote;
    // Told the tempo of the MIDI clock followed (MidiClockIn) as measured, in beats per minute
    // with their fraction, at most once a step and only when it moved by 0.01 or more.
    std::function<void(double bpm)> OnClockTempo;
    // Told a pattern 1..8 that a MIDI program change asked for (with program change in on).
    std::function<void(int pattern)> OnProgramChange;
    // The notes the MIDI file export gives the sounds of the edited pattern's channels: the
    // note table while the settings take the notes from the sounds (MidiNotesFromSounds).
    std::function<std::array<std::uint8_t, 8>()> NotesOfSounds;
    // Told every MIDI note-on that came in on midi_in, whether a channel has its note or not.
    std::function<void(const EngineReport& pad)> OnPad;
    // Told, while set, where each pad hit played while playing goes: the step nearest to it,
    // once that is known (a little after the hit).
    std::function<void(const PlayPosition& at, const EngineReport& pad)> OnPadPlaced;

    // Told about the finishing of a live recording (may stay empty).
    StreamObserver* streamObserver = nullptr;

    // Frames the system sound has played since the last start, counted from the blocks handed
    // back; through JACK, every frame the engine played, across stops, starts and relocations of
    // the transport and reconnections. Thread: owner.
    std::int64_t PlayedFrames() const;
    // Where the sound of the last start begins in the frames the device has taken
    // (Playback.TakenBytes): frame 0 of the start's step starts (core/machine.h) is heard there.
    // Thread: owner.
    std::int64_t SoundStartFrame() const { return soundStartFrame_; }
    // Where the system sound's steps began, counted from the last start (the engine plays on
    // this thread for it): the panel finds the step heard in it. Thread: owner.
    const StepStartLog& StepStarts() const;
    // Ends a live take through JACK where it is, playing or not (a transport followed goes
    // on); false when the file could not be written (the user has been told). Thread: owner.
    bool FinishTake();
    // Underruns the sound server reported while playing, since the driver was made (on
    // PulseAudio only: Playback.UnderrunsCounted). Thread: owner.
    std::uint64_t UnderrunsWhilePlaying() const;

private:
    void StopForLostDevice(std::string reason);
    void WatchJack();
    void CloseJack();
    void BeginJackPlaying();
    void EndJackPlaying();
    void PublishToEngine();
    void PublishSoundsAndTake();
    void StartEngineHere(bool countIn = false);
    void MixNextBlock(int frames);
    // Writes what the engine recorded of a live take to the stream file (or drops it).
    void WriteTake(bool keep = true);
    void SetMenusEnabled(bool enabled);
    void ShowStopButton(bool shown);
    void WriteStaging(int firstWord, int bytes);
    int Frames() const;

    Machine& m_;
    EventQueue& events_;
    std::thread loader_;  // loads the sound library for OpenDeviceSoon
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
    bool openWanted_ = false;  // OpenDeviceSoon waits for the library
    bool menusEnabled_ = true;
    bool stopShown_ = false;
    bool busyShown_ = false;
    std::uint64_t sessionFirstSerial_ = 1;
    std::int64_t playedFrames_ = 0;
    PrecisionTimer watch_;
    bool lost_ = false;      // lost, and not opened again since
    std::string openError_;  // why the last opening failed
    std::int64_t soundStartFrame_ = 0;
    std::uint64_t underrunsAtStart_ = 0;  // Playback.Underruns() at the start
    std::uint64_t underrunsPlaying_ = 0;  // those of the earlier plays
    std::unique_ptr<LiveEngine> engine_;  // driven by jack_
    std::unique_ptr<JackOutput> jack_;
    bool jackChosen_ = false;
    TransportSync jackSync_ = TransportSync::Follow;  // off while a MIDI clock is followed
    bool jackConnect_ = true;
    bool timebaseTakenTold_ = false;
    std::string jackError_;  // why the last JACK opening failed
    PadsToPlace padsToPlace_;
    bool notesFromSounds_ = true;
};

}  // namespace qtam
