#include "engine/audio/pulse_stream.h"

#include <pulse/pulseaudio.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/shared_library.h"

namespace qtam {

namespace {

// libpulse, loaded on the first use; every function the stream calls is found here.
struct PulseLibrary {
    bool ok = false;
    // clang-format off
#define QTAM_PULSE_FUNCTIONS(X) \
    X(pa_threaded_mainloop_new) \
    X(pa_threaded_mainloop_free) \
    X(pa_threaded_mainloop_start) \
    X(pa_threaded_mainloop_stop) \
    X(pa_threaded_mainloop_lock) \
    X(pa_threaded_mainloop_unlock) \
    X(pa_threaded_mainloop_wait) \
    X(pa_threaded_mainloop_signal) \
    X(pa_threaded_mainloop_get_api) \
    X(pa_context_new) \
    X(pa_context_connect) \
    X(pa_context_disconnect) \
    X(pa_context_unref) \
    X(pa_context_get_state) \
    X(pa_context_set_state_callback) \
    X(pa_context_errno) \
    X(pa_context_get_sink_info_list) \
    X(pa_stream_new) \
    X(pa_stream_connect_playback) \
    X(pa_stream_disconnect) \
    X(pa_stream_unref) \
    X(pa_stream_get_state) \
    X(pa_stream_set_state_callback) \
    X(pa_stream_set_write_callback) \
    X(pa_stream_set_underflow_callback) \
    X(pa_stream_begin_write) \
    X(pa_stream_cancel_write) \
    X(pa_stream_write) \
    X(pa_stream_get_latency) \
    X(pa_stream_update_timing_info) \
    X(pa_stream_get_timing_info) \
    X(pa_stream_get_buffer_attr) \
    X(pa_operation_get_state) \
    X(pa_operation_unref) \
    X(pa_strerror)
    // clang-format on
#define QTAM_PULSE_POINTER(name) decltype(&::name) name = nullptr;
    QTAM_PULSE_FUNCTIONS(QTAM_PULSE_POINTER)
#undef QTAM_PULSE_POINTER
};

const PulseLibrary& Pa() {
    static const PulseLibrary library = [] {
        PulseLibrary p;
        void* handle = OpenSharedLibrary("libpulse.so.0");
        if (handle == nullptr) return p;
        bool all = true;
#define QTAM_PULSE_FIND(name) all = FindFunction(handle, p.name, #name) && all;
        QTAM_PULSE_FUNCTIONS(QTAM_PULSE_FIND)
#undef QTAM_PULSE_FIND
        p.ok = all;
        return p;
    }();
    return library;
}

std::uint32_t BytesOf(double ms, int rate, int frameBytes) {
    return static_cast<std::uint32_t>(ms * rate / 1000.0) * static_cast<std::uint32_t>(frameBytes);
}

// The thread that answers the server must not wait behind busy programs: it asks for the
// priority the sound server's own threads have. Allowed to root and to users whose nice limit
// permits it; otherwise it keeps its own.
void RaiseCallingThread() {
    const auto tid = static_cast<id_t>(::syscall(SYS_gettid));
    for (int nice : {-11, -5})
        if (::setpriority(PRIO_PROCESS, tid, nice) == 0) return;
}

}  // namespace

PulseBuffer PulseBufferFor(int latencyMs, int rate, int frameBytes) {
    const double ms = std::clamp(latencyMs, 10, 1000);
    PulseBuffer b;
    b.tlength = BytesOf(ms * 7 / 12, rate, frameBytes);
    b.minreq = BytesOf(ms / 12, rate, frameBytes);
    b.prebuf = b.tlength;
    b.maxlength = b.tlength * 2;
    return b;
}

PulseStream::~PulseStream() {
    Close();
}

bool PulseStream::Wanted() {
    const char* driver = std::getenv("SDL_AUDIODRIVER");
    if (driver != nullptr && *driver != '\0' && std::strcmp(driver, "pulseaudio") != 0 &&
        std::strcmp(driver, "pulse") != 0)
        return false;
    return Pa().ok;
}

bool PulseStream::Open(const Format& format, int sinkNumber, int latencyMs, Fill fill, void* user,
                       std::string& error) {
    if (IsOpen()) return true;
    if (!Pa().ok) {
        error = "libpulse (libpulse.so.0) could not be loaded";
        return false;
    }
    fill_ = fill;
    user_ = user;
    failed_ = false;
    underruns_ = 0;
    raised_ = false;
    sinceTiming_ = 0;
    timingUpdates_ = 0;
    if (!Connect(error) || !StartStream(format, sinkNumber, latencyMs, error)) {
        Close();
        return false;
    }
    return true;
}

void PulseStream::OnContextState(pa_context*, void* self) {
    auto* s = static_cast<PulseStream*>(self);
    const pa_context_state_t state = Pa().pa_context_get_state(s->context_);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) s->failed_ = true;
    Pa().pa_threaded_mainloop_signal(s->loop_, 0);
}

void PulseStream::OnStreamState(pa_stream* stream, void* self) {
    auto* s = static_cast<PulseStream*>(self);
    const pa_stream_state_t state = Pa().pa_stream_get_state(stream);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) s->failed_ = true;
    Pa().pa_threaded_mainloop_signal(s->loop_, 0);
}

bool PulseStream::Connect(std::string& error) {
    const PulseLibrary& pa = Pa();
    loop_ = pa.pa_threaded_mainloop_new();
    if (loop_ == nullptr) {
        error = "libpulse could not start its thread";
        return false;
    }
    context_ = pa.pa_context_new(pa.pa_threaded_mainloop_get_api(loop_), "Q.Tam");
    if (context_ == nullptr) {
        error = "libpulse could not make a connection";
        return false;
    }
    pa.pa_context_set_state_callback(context_, &PulseStream::OnContextState, this);
    // No server started on our behalf: without one, SDL's other drivers are tried.
    if (pa.pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = pa.pa_strerror(pa.pa_context_errno(context_));
        return false;
    }
    pa.pa_threaded_mainloop_lock(loop_);
    if (pa.pa_threaded_mainloop_start(loop_) < 0) {
        pa.pa_threaded_mainloop_unlock(loop_);
        error = "libpulse could not start its thread";
        return false;
    }
    const bool ready = WaitUntilReady(
        [this, &pa] {
            const pa_context_state_t state = pa.pa_context_get_state(context_);
            return state == PA_CONTEXT_READY ? 1 : PA_CONTEXT_IS_GOOD(state) ? 0 : -1;
        },
        error);
    pa.pa_threaded_mainloop_unlock(loop_);
    return ready;
}

// Called with the loop locked.
bool PulseStream::WaitUntilReady(const std::function<int()>& readiness, std::string& error) {
    const PulseLibrary& pa = Pa();
    for (;;) {
        const int state = readiness();
        if (state > 0) return true;
        if (state < 0) {
            error = pa.pa_strerror(pa.pa_context_errno(context_));
            return false;
        }
        pa.pa_threaded_mainloop_wait(loop_);
    }
}

// Called with the loop locked.
std::string PulseStream::SinkName(int sinkNumber) {
    struct Listing {
        PulseStream* self;
        std::vector<std::string> names;
    } listing{this, {}};
    const PulseLibrary& pa = Pa();
    pa_operation* op = pa.pa_context_get_sink_info_list(
        context_,
        [](pa_context*, const pa_sink_info* info, int, void* data) {
            auto* l = static_cast<Listing*>(data);
            if (info != nullptr) l->names.emplace_back(info->name);
            Pa().pa_threaded_mainloop_signal(l->self->loop_, 0);
        },
        &listing);
    if (op == nullptr) return {};
    while (pa.pa_operation_get_state(op) == PA_OPERATION_RUNNING)
        pa.pa_threaded_mainloop_wait(loop_);
    pa.pa_operation_unref(op);
    if (sinkNumber < 1 || sinkNumber > static_cast<int>(listing.names.size())) return {};
    return listing.names[static_cast<std::size_t>(sinkNumber - 1)];
}

bool PulseStream::StartStream(const Format& format, int sinkNumber, int latencyMs,
                              std::string& error) {
    const PulseLibrary& pa = Pa();
    pa_sample_spec sampleFormat{};
    sampleFormat.format = format.sampleBits == 8 ? PA_SAMPLE_U8 : PA_SAMPLE_S16LE;
    sampleFormat.rate = static_cast<std::uint32_t>(format.rate);
    sampleFormat.channels = static_cast<std::uint8_t>(format.channels);
    frameBytes_ = format.channels * format.sampleBits / 8;
    rate_ = format.rate;
    const PulseBuffer want = PulseBufferFor(latencyMs, rate_, frameBytes_);
    latencyFrames_ = (want.tlength + want.tlength / 2) / static_cast<std::uint32_t>(frameBytes_);
    latencyKnown_ = false;
    requestFrames_ = static_cast<int>(want.minreq) / frameBytes_;

    pa.pa_threaded_mainloop_lock(loop_);
    std::string sink;
    openedDefaultInstead_ = false;
    if (sinkNumber >= 1) {
        sink = SinkName(sinkNumber);
        openedDefaultInstead_ = sink.empty();
    }
    stream_ = pa.pa_stream_new(context_, "Q.Tam playback", &sampleFormat, nullptr);
    if (stream_ == nullptr) {
        error = pa.pa_strerror(pa.pa_context_errno(context_));
        pa.pa_threaded_mainloop_unlock(loop_);
        return false;
    }
    pa.pa_stream_set_state_callback(stream_, &PulseStream::OnStreamState, this);
    pa.pa_stream_set_write_callback(stream_, &PulseStream::OnWrite, this);
    pa.pa_stream_set_underflow_callback(stream_, &PulseStream::OnUnderflow, this);
    pa_buffer_attr attr{};
    attr.maxlength = want.maxlength;
    attr.tlength = want.tlength;
    attr.prebuf = want.prebuf;
    attr.minreq = want.minreq;
    attr.fragsize = static_cast<std::uint32_t>(-1);
    // Not PA_STREAM_ADJUST_LATENCY: that would give the sink a quarter of the latency and wake
    // it that often. The latency estimate is interpolated between timing updates, asked for
    // once a second (libpulse's automatic ones come ten times a second: a wake-up each).
    const auto flags = static_cast<pa_stream_flags_t>(PA_STREAM_INTERPOLATE_TIMING |
                                                      (sink.empty() ? 0 : PA_STREAM_DONT_MOVE));
    if (pa.pa_stream_connect_playback(stream_, sink.empty() ? nullptr : sink.c_str(), &attr, flags,
                                      nullptr, nullptr) < 0) {
        error = pa.pa_strerror(pa.pa_context_errno(context_));
        pa.pa_threaded_mainloop_unlock(loop_);
        return false;
    }
    const bool ready = WaitUntilReady(
        [this, &pa] {
            const pa_stream_state_t state = pa.pa_stream_get_state(stream_);
            return state == PA_STREAM_READY ? 1 : PA_STREAM_IS_GOOD(state) ? 0 : -1;
        },
        error);
    if (!ready) {
        pa.pa_threaded_mainloop_unlock(loop_);
        return false;
    }
    if (const pa_buffer_attr* got = pa.pa_stream_get_buffer_attr(stream_))
        granted_ = {got->maxlength, got->tlength, got->prebuf, got->minreq};
    failed_ = false;
    pa.pa_threaded_mainloop_unlock(loop_);
    return true;
}

void PulseStream::Close() {
    if (loop_ == nullptr) return;
    const PulseLibrary& pa = Pa();
    pa.pa_threaded_mainloop_lock(loop_);
    if (stream_ != nullptr) {
        pa.pa_stream_set_write_callback(stream_, nullptr, nullptr);
        pa.pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa.pa_stream_set_underflow_callback(stream_, nullptr, nullptr);
        pa.pa_stream_disconnect(stream_);
        pa.pa_stream_unref(stream_);
        stream_ = nullptr;
    }
    if (context_ != nullptr) {
        pa.pa_context_set_state_callback(context_, nullptr, nullptr);
        pa.pa_context_disconnect(context_);
        pa.pa_context_unref(context_);
        context_ = nullptr;
    }
    pa.pa_threaded_mainloop_unlock(loop_);
    pa.pa_threaded_mainloop_stop(loop_);
    pa.pa_threaded_mainloop_free(loop_);
    loop_ = nullptr;
}

void PulseStream::Lock() {
    if (loop_ != nullptr) Pa().pa_threaded_mainloop_lock(loop_);
}

void PulseStream::Unlock() {
    if (loop_ != nullptr) Pa().pa_threaded_mainloop_unlock(loop_);
}

// Runs on the stream's thread: fills what the server asks for, straight into its memory.
void PulseStream::OnWrite(pa_stream* stream, std::size_t nbytes, void* self) {
    auto* s = static_cast<PulseStream*>(self);
    const PulseLibrary& pa = Pa();
    if (!s->raised_) {
        RaiseCallingThread();
        s->raised_ = true;
    }
    const auto frame = static_cast<std::size_t>(s->frameBytes_);
    nbytes -= nbytes % frame;
    const std::size_t nbytes0 = nbytes;
    // The first request is for the whole buffer, not for what the sink played since the last.
    if (s->timingUpdates_ > 0)
        s->requestFrames_.store(static_cast<int>(nbytes / frame), std::memory_order_relaxed);
    while (nbytes > 0) {
        void* data = nullptr;
        std::size_t n = nbytes;
        if (pa.pa_stream_begin_write(stream, &data, &n) < 0 || data == nullptr) return;
        n = std::min(n, nbytes);
        n -= n % frame;
        if (n == 0) {  // less than a frame of the server's memory: asked again later
            pa.pa_stream_cancel_write(stream);
            return;
        }
        s->fill_(s->user_, static_cast<std::uint8_t*>(data), static_cast<int>(n));
        if (pa.pa_stream_write(stream, data, n, nullptr, 0, PA_SEEK_RELATIVE) < 0) return;
        nbytes -= std::min(n, nbytes);
    }
    // The server's latency is known only after its first timing update, and the light times
    // itself by it: so the first second asks every tenth of a second, from the first write on,
    // and then once a second keeps the interpolation close.
    const std::size_t second = static_cast<std::size_t>(s->rate_) * frame;
    const std::size_t every = s->timingUpdates_ < kQuickTimingUpdates ? second / 10 : second;
    if (s->timingUpdates_ == 0 || s->sinceTiming_ >= every) {
        s->sinceTiming_ = 0;
        ++s->timingUpdates_;
        if (pa_operation* op =
                pa.pa_stream_update_timing_info(stream, &PulseStream::OnTimingUpdate, s))
            pa.pa_operation_unref(op);
    }
    s->sinceTiming_ += nbytes0;
    s->UpdateLatency();
}

// Runs on the stream's thread: a timing update came, and the server may not ask for sound
// again for a while (it waits for its sink).
void PulseStream::OnTimingUpdate(pa_stream* stream, int success, void* self) {
    auto* s = static_cast<PulseStream*>(self);
    if (!success || !s->UpdateLatency()) return;
    // The server's estimate runs on with its clock only once it has seen the stream playing;
    // before, it stands still while the first sound is heard.
    const pa_timing_info* timing = Pa().pa_stream_get_timing_info(stream);
    if (timing != nullptr && timing->playing)
        s->latencyKnown_.store(true, std::memory_order_relaxed);
}

std::int64_t PulseStream::ServerLatencyFrames() const {
    pa_usec_t usec = 0;
    int negative = 0;
    if (stream_ == nullptr || Pa().pa_stream_get_latency(stream_, &usec, &negative) != 0 ||
        negative)
        return -1;
    return static_cast<std::int64_t>(usec * static_cast<pa_usec_t>(rate_) / 1000000);
}

std::int64_t PulseStream::LatencyFramesNow() const {
    return LatencyKnown() ? ServerLatencyFrames() : -1;
}

bool PulseStream::UpdateLatency() {
    const std::int64_t frames = ServerLatencyFrames();
    if (frames < 0) return false;
    latencyFrames_.store(frames, std::memory_order_relaxed);
    return true;
}

void PulseStream::OnUnderflow(pa_stream*, void* self) {
    auto* s = static_cast<PulseStream*>(self);
    s->underruns_.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace qtam
