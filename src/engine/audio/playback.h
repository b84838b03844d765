#pragma once
// The real-time playback driver of the groove panel: it owns the panel's output device and
// keeps it fed while the song plays. Each block the device hands back is answered by queueing
// the block mixed last time and mixing the next one into the other staging half, so two
// blocks stay queued and one waits.
//
// Thread: owner, for every member: the thread that owns the Machine and drains the EventQueue
// given to the constructor, through which the device's events arrive. Mixing happens there,
// never on the audio callback, which only copies the queued blocks.

#include <cstdint>
#include <functional>

#include "engine/audio/event_queue.h"
#include "engine/audio/wave_out.h"
#include "engine/device_settings.h"

namespace qtam {

struct Machine;
struct StreamObserver;

class PlaybackDriver {
public:
    static constexpr int kLeadInBytes = 12288;     // 3072 frames of silence, twice
    static constexpr int kPreparedFrames = 10240;  // one whole staging half
    static constexpr int kPreparedBlockBytes = 20480;

    // Thread: owner.
    PlaybackDriver(Machine& m, EventQueue& events);
    PlaybackDriver(const PlaybackDriver&) = delete;
    PlaybackDriver& operator=(const PlaybackDriver&) = delete;

    // The panel's output device; its OnDone is BlockPlayed.
    WaveOut Playback;

    int DeviceNum = 0;                // 0 = default device, 1..10 the n-th listed device
    std::int32_t BlockFrames = 8192;  // used within 2048..10240, whatever is set here

    // Takes DeviceNum and the block size from the configuration (the block size is kept
    // within 2048..10240 frames). Thread: owner.
    void ApplySettings(const WaveDeviceSettings& settings);

    // Thread: owner.
    void OpenDevice();
    // Thread: owner.
    void CloseDevice();

    // Starts playback: a prepared start when one is waiting, otherwise a normal start.
    // Thread: owner.
    void StartPlaying();
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

    // Told about the finishing of a live recording (may stay empty).
    StreamObserver* streamObserver = nullptr;

    // Frames the device has played since the last start, counted from the blocks handed back.
    // Thread: owner.
    std::int64_t PlayedFrames() const { return playedFrames_; }
    // Where the sound of the last start begins in the frames the device has taken
    // (Playback.TakenBytes): frame 0 of the start's step starts (core/machine.h) is heard there.
    // Thread: owner.
    std::int64_t SoundStartFrame() const { return soundStartFrame_; }

private:
    void SetMenusEnabled(bool enabled);
    void ShowStopButton(bool shown);
    void WriteStaging(int firstWord, int bytes);
    int Frames() const;

    Machine& m_;
    bool menusEnabled_ = true;
    bool stopShown_ = false;
    bool busyShown_ = false;
    std::uint64_t sessionFirstSerial_ = 1;
    std::int64_t playedFrames_ = 0;
    std::int64_t soundStartFrame_ = 0;
};

}  // namespace qtam
