#pragma once
// A playback stream on a PulseAudio server (or PipeWire's PulseAudio server), through libpulse,
// which is loaded the first time a stream opens (as SDL is: sdl_runtime.cpp).
//
// WaveOut plays through it whenever a PulseAudio server answers: the stream's buffer is ours to
// choose (PulseBufferFor), the server's underruns are counted, and the fill callback runs
// straight on libpulse's own thread when the server asks for sound, with no thread of SDL's in
// between.
//
// Thread rules are on each member ("owner": the thread that opens the stream); the fill callback
// runs on the stream's thread with the stream locked.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace qtam {

// What Q.Tam asks the server for, in bytes of the stream. `latencyMs` is the whole latency the
// user chose: the stream's buffer holds 7/12 of it and the server asks for more whenever 1/12
// has been played; without adjust-latency the server runs its sink at the buffer less two
// requests, the remaining 5/12. So the sink wakes every 50 ms at the default 120 ms, not every
// 20 ms as adjust-latency's quarter would have it, and a refill may come that late before the
// sound breaks up. The buffer is what a pause of the whole machine eats into: 60 to 70 ms of
// sound at the default, where pauses of 30 to 42 ms were measured a few times an hour.
struct PulseBuffer {
    std::uint32_t maxlength = 0;
    std::uint32_t tlength = 0;
    std::uint32_t prebuf = 0;
    std::uint32_t minreq = 0;
};
PulseBuffer PulseBufferFor(int latencyMs, int rate, int frameBytes);

class PulseStream {
public:
    // Runs on the stream's thread: writes exactly `len` bytes to `out`; never blocks.
    using Fill = void (*)(void* user, std::uint8_t* out, int len);

    struct Format {
        int rate = 44100;
        int channels = 2;
        int sampleBits = 16;  // 8 or 16
    };

    PulseStream() = default;
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    // Whether a PulseAudio stream is to be tried at all: not when SDL_AUDIODRIVER names
    // another of SDL's drivers (dummy, disk, alsa, pipewire ...), nor when libpulse is
    // missing. Thread: any.
    static bool Wanted();

    // Connects to the server and starts a stream on the default sink (`sinkNumber` 0) or the
    // sinkNumber-th sink the server lists; a sink no longer listed gives way to the default
    // (OpenedDefaultInstead). False, with the reason, when no server answers. Thread: owner.
    bool Open(const Format& format, int sinkNumber, int latencyMs, Fill fill, void* user,
              std::string& error);
    // Thread: owner.
    void Close();
    // Thread: owner.
    bool IsOpen() const { return loop_ != nullptr; }

    // Keep the fill callback from running (for taking blocks back). Thread: owner.
    void Lock();
    void Unlock();

    // The server closed the stream or the connection. Thread: any.
    bool Failed() const { return failed_.load(std::memory_order_relaxed); }
    // Times the server found the stream empty since Open. Thread: any.
    std::uint64_t Underruns() const { return underruns_.load(std::memory_order_relaxed); }
    // Frames between the newest frame the fill took and the moment it is heard, as the server
    // last estimated it (stream buffer and sink); until it has, the buffer asked for.
    // Thread: any.
    std::int64_t LatencyFrames() const { return latencyFrames_.load(std::memory_order_relaxed); }
    // The server's estimate as of now, interpolated since its last timing update; -1 while it
    // has none. Thread: owner, with the stream locked.
    std::int64_t LatencyFramesNow() const;
    // Whether the server has estimated the latency with the stream playing (before, LatencyFrames
    // may be the buffer asked for, and LatencyFramesNow is -1). Thread: any.
    bool LatencyKnown() const { return latencyKnown_.load(std::memory_order_relaxed); }
    // Frames the server asked for at its last request but the first (it asks once its sink
    // has played what it took at its last wake-up); until then, the least request asked for.
    // Thread: any.
    int RequestFrames() const { return requestFrames_.load(std::memory_order_relaxed); }
    // The buffer the server granted, in bytes. Thread: owner.
    const PulseBuffer& Granted() const { return granted_; }
    bool OpenedDefaultInstead() const { return openedDefaultInstead_; }

private:
    static void OnWrite(pa_stream* s, std::size_t nbytes, void* self);
    static void OnUnderflow(pa_stream* s, void* self);
    static void OnTimingUpdate(pa_stream* s, int success, void* self);
    // The server's latency estimate as it stands, interpolated; -1 while it has none.
    std::int64_t ServerLatencyFrames() const;
    // Takes the server's latency estimate as it stands; false while it has none.
    // Thread: the stream's.
    bool UpdateLatency();
    static void OnStreamState(pa_stream* s, void* self);
    static void OnContextState(pa_context* c, void* self);
    bool Connect(std::string& error);
    bool StartStream(const Format& format, int sinkNumber, int latencyMs, std::string& error);
    std::string SinkName(int sinkNumber);
    // Waits until `readiness` gives 1 (ready) or -1 (never: `error` has the server's reason);
    // 0 is waiting.
    bool WaitUntilReady(const std::function<int()>& readiness, std::string& error);

    pa_threaded_mainloop* loop_ = nullptr;
    pa_context* context_ = nullptr;
    pa_stream* stream_ = nullptr;
    Fill fill_ = nullptr;
    void* user_ = nullptr;
    int frameBytes_ = 4;
    int rate_ = 44100;
    PulseBuffer granted_;
    bool openedDefaultInstead_ = false;
    bool raised_ = false;          // the stream's thread asked for a higher priority (its own)
    std::size_t sinceTiming_ = 0;  // bytes written since the last timing update was asked for
    int timingUpdates_ = 0;        // timing updates asked for since Open
    static constexpr int kQuickTimingUpdates = 10;
    std::atomic<bool> failed_{false};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::int64_t> latencyFrames_{0};
    std::atomic<bool> latencyKnown_{false};
    std::atomic<int> requestFrames_{0};
};

}  // namespace qtam
