#pragma once
// WaveOut: one output device of the host's audio service (SDL). Every written block is
// copied, queued on the device and handed back to the owner once it has been played, as an
// OnDone event that runs on the owner's thread when the owner drains its EventQueue.
//
// The audio callback only copies queued bytes out: blocks are allocated by Write on the
// owner's thread and travel to the callback and back through two lock-free rings. Every
// written block comes back exactly once (Stop returns all queued blocks at once) unless
// Close frees it first; Close frees the rest without events.
//
// With a PulseAudio server answering (PulseAudio itself, or PipeWire's), the device is a stream
// of our own on it (pulse_stream.h), whose buffer follows `latencyMs` and whose underruns are
// counted; otherwise SDL plays, through whichever driver it finds.
//
// Thread rules are on each public member ("owner": the thread that drains `events`); only the
// private AudioCallback runs on the audio callback thread.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "engine/audio/event_queue.h"
#include "engine/device_settings.h"
#include "engine/live/spsc_ring.h"

namespace qtam {

class SdlAudioScope;
class PulseStream;

class WaveOut {
public:
    using NotifyEvent = std::function<void(WaveOut& sender)>;

    // Frames of SDL's own device buffer: small, so SDL adds little to the block queue.
    static constexpr int kDeviceFrames = 512;

    // `events` must outlive the component; its events are delivered through it. Thread: owner.
    explicit WaveOut(EventQueue& events);
    ~WaveOut();
    WaveOut(const WaveOut&) = delete;
    WaveOut& operator=(const WaveOut&) = delete;

    // The format and device of the next Open.
    int channels = 1;
    int samples = 8000;  // frames per second
    int SampleBits = 8;  // 8 or 16
    // 0 = the default device; 1..10 = device number device - 1 of the host's list; anything
    // else = the default device. A listed device that is no longer present opens the default
    // device instead (OpenedDefaultInstead tells).
    std::uint8_t device = 0;
    // The latency asked of a PulseAudio server, in milliseconds (kMinLatencyMs..kMaxLatencyMs).
    int latencyMs = kDefaultLatencyMs;

    // A device that takes nothing for this long while blocks are queued counts as lost.
    static constexpr std::chrono::milliseconds kStallLimit{1000};
    // Sound servers start a new stream lazily: a device may take nothing for a second or more
    // after Open, so in this time after Open it is never called stalled.
    static constexpr std::chrono::milliseconds kStartLimit{3000};

    NotifyEvent OnOpen;
    NotifyEvent OnDone;
    NotifyEvent OnClose;

    // Opens the device; IsOpen tells whether it worked. Does nothing while already open.
    // Thread: owner.
    void Open();
    // Copies `size` bytes and queues them; the caller may reuse its memory at once. While the
    // device is not open the block is kept, unplayed, until Close. Thread: owner.
    void Write(const void* data, std::size_t size);
    // Returns every queued block at once (each through OnDone) and ends IsPlaying. Thread: owner.
    void Stop();
    // Closes the device and frees every block still held, without OnDone. Thread: owner.
    void Close();

    // Looks at the open device: true once it is lost, that is, SDL reported it removed or
    // stopped, or it took nothing for longer than kStallLimit while blocks were queued. A lost
    // device stays lost until Close; LostReason says why. Call it a few times a second.
    // Thread: owner.
    bool CheckDevice();
    // Thread: owner.
    bool IsLost() const { return !lostReason_.empty(); }
    // Thread: owner.
    const std::string& LostReason() const { return lostReason_; }
    // The last Open found the chosen listed device gone and opened the default one. Thread: owner.
    bool OpenedDefaultInstead() const { return openedDefaultInstead_; }

    // Thread: owner.
    bool IsOpen() const { return open_; }
    // Thread: owner.
    bool IsPlaying() const { return outstanding_ > 0; }

    // The block an OnDone handler is told about.
    struct BlockInfo {
        std::uint64_t serial = 0;  // 1 for the first block ever written, then counting up
        std::size_t size = 0;
        bool played = false;          // played to its end (false: returned by Stop)
        std::int64_t startedAt = -1;  // device position of its first byte; -1 if never started
    };
    // Thread: owner.
    const BlockInfo& DoneBlock() const { return done_; }
    // Serial number the next Write will give its block. Thread: owner.
    std::uint64_t NextSerial() const { return lastSerial_ + 1; }
    // Bytes the device has taken since Open, silence included. Thread: any.
    std::uint64_t DevicePosition() const { return devicePosition_.load(std::memory_order_relaxed); }
    // Bytes of written blocks the device has taken since construction; never reset, and the
    // silence it plays while no block waits is not counted. Thread: any.
    std::uint64_t TakenBytes() const { return takenBytes_.load(std::memory_order_relaxed); }
    // Blocks written and not yet freed. Thread: owner.
    std::size_t HeldBlocks() const { return held_; }
    // Frames the device takes at a time (SDL's device buffer, or what a PulseAudio server asked
    // for last); 0 while closed. Thread: owner.
    int DeviceBufferFrames() const;
    // Frames between the newest frame the device has taken and the moment it is heard: the
    // server's own estimate on PulseAudio, SDL's buffer twice otherwise. Thread: owner.
    std::int64_t LatencyFrames() const;
    // TakenBytes and LatencyFrames read together (the stream held still meanwhile), with the
    // server's estimate brought up to this moment on PulseAudio once it has one (else -1).
    // The latency is known except on PulseAudio until the server has estimated it with the
    // stream playing (the light looks often until then). Thread: owner.
    struct TakenAndLatency {
        std::uint64_t takenBytes = 0;
        std::int64_t latencyFrames = 0;
        std::int64_t latencyFramesNow = -1;
        bool latencyKnown = true;
    };
    TakenAndLatency TakenAndLatencyNow();
    // Whether the open device is a PulseAudio stream of our own (else SDL's). Thread: owner.
    bool OnPulse() const { return pulse_ != nullptr; }
    // What plays: "PulseAudio" or "SDL (DRIVER)"; empty while closed. Thread: owner.
    const std::string& SystemName() const { return systemName_; }
    // The latency the server granted, in milliseconds: the stream's buffer and the sink's;
    // 0 unless on PulseAudio. Thread: owner.
    int GrantedLatencyMs() const;
    // Times the sound server found the device empty (the sound broke up) since construction;
    // counted on PulseAudio only (UnderrunsCounted). Thread: owner.
    std::uint64_t Underruns() const;
    bool UnderrunsCounted() const { return OnPulse(); }

private:
    struct Block;
    enum class NoticeKind { Open, Done, Close };
    struct Notice {
        NoticeKind kind;
        Block* block;
    };
    static constexpr std::size_t kRingSize = 64;

    static void AudioCallback(void* self, std::uint8_t* stream, int len);
    bool OpenPulse(int frameBytes);
    bool OpenSdl(std::uint16_t format);
    void LockCallback();
    void UnlockCallback();
    void FillDeviceBuffer(std::uint8_t* out, int len) noexcept;

    int Drain();
    void CollectPlayed();
    void Submit(Block* b);
    void RefillFromBacklog();
    void ReturnUnplayed(Block* b);
    void Link(Block* b);
    void Unlink(Block* b);
    void FreeAll();
    bool Fire(const NotifyEvent& handler);
    bool TookNothingTooLong();
    void CloseStalledDevice();

    EventQueue& events_;
    EventQueue::SourceId source_ = 0;
    std::unique_ptr<SdlAudioScope> audio_;
    std::unique_ptr<PulseStream> pulse_;
    std::string systemName_;
    std::uint64_t underrunsBefore_ = 0;  // counted by streams closed since
    std::uint32_t deviceId_ = 0;
    bool open_ = false;
    int deviceFrames_ = 0;
    bool openedDefaultInstead_ = false;
    std::string lostReason_;
    bool stalled_ = false;  // lost because it took nothing: its audio thread may be stuck
    // The stall watch: the device position last seen moving, and when.
    std::uint64_t watchedPosition_ = 0;
    std::chrono::steady_clock::time_point watchedSince_;
    std::chrono::steady_clock::time_point openedAt_;

    // Owner's side.
    Block* first_ = nullptr;  // every block not yet freed, in writing order
    Block* last_ = nullptr;
    std::size_t held_ = 0;
    std::size_t outstanding_ = 0;  // written blocks the device has not yet returned
    std::size_t inFlight_ = 0;     // blocks between the two rings
    std::deque<Block*> backlog_;   // waiting for room in the rings
    std::deque<Notice> notices_;
    std::uint64_t lastSerial_ = 0;
    BlockInfo done_;
    bool* destroyed_ = nullptr;  // set while a handler runs, to notice being destroyed by it

    // Shared with the audio callback.
    SpscRing<Block*, kRingSize> submitted_;
    SpscRing<Block*, kRingSize> played_;
    std::atomic<std::uint64_t> devicePosition_{0};
    std::atomic<std::uint64_t> takenBytes_{0};  // written only by the callback

    // The callback's own (touched by the owner only with the device locked or closed).
    Block* current_ = nullptr;
    std::size_t offset_ = 0;
    std::uint64_t position_ = 0;
    std::uint8_t silence_ = 0;
};

}  // namespace qtam
