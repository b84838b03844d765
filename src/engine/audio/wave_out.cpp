#include "engine/audio/wave_out.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "engine/audio/devices.h"
#include "engine/audio/pulse_stream.h"

namespace qtam {

struct WaveOut::Block {
    Block* prev = nullptr;
    Block* next = nullptr;
    std::unique_ptr<std::uint8_t[]> data;
    std::size_t size = 0;
    std::uint64_t serial = 0;
    bool counted = true;  // still counts towards IsPlaying
    // Written by the audio callback before the block goes back through the played ring.
    std::int64_t startedAt = -1;
    bool finished = false;
};

WaveOut::WaveOut(EventQueue& events) : events_(events) {
    source_ = events_.AddSource([this] { return Drain(); });
}

WaveOut::~WaveOut() {
    Close();
    events_.RemoveSource(source_);
    if (destroyed_) *destroyed_ = true;
}

void WaveOut::Open() {
    if (open_) return;
    SDL_AudioFormat format;
    if (SampleBits == 8)
        format = AUDIO_U8;
    else if (SampleBits == 16)
        format = AUDIO_S16LSB;
    else
        return;
    if (channels < 1 || channels > 255 || samples <= 0) return;

    submitted_.Clear();
    played_.Clear();
    current_ = nullptr;
    offset_ = 0;
    position_ = 0;
    devicePosition_.store(0, std::memory_order_relaxed);
    silence_ = SampleBits == 8 ? 0x80 : 0;
    if (!OpenPulse(channels * SampleBits / 8) && !OpenSdl(format)) return;
    open_ = true;
    lostReason_.clear();
    watchedPosition_ = 0;
    openedAt_ = watchedSince_ = std::chrono::steady_clock::now();
    notices_.push_back({NoticeKind::Open, nullptr});
    events_.Wake();
}

// A PulseAudio server that answers gets a stream of our own; false leaves the choice to SDL.
bool WaveOut::OpenPulse(int frameBytes) {
    if (!PulseStream::Wanted()) return false;
    auto pulse = std::make_unique<PulseStream>();
    PulseStream::Format format;
    format.rate = samples;
    format.channels = channels;
    format.sampleBits = SampleBits;
    std::string error;
    const int latency = std::clamp(latencyMs, kMinLatencyMs, kMaxLatencyMs);
    if (!pulse->Open(format, device <= 10 ? device : 0, latency, &WaveOut::AudioCallback, this,
                     error))
        return false;
    openedDefaultInstead_ = pulse->OpenedDefaultInstead();
    deviceFrames_ = static_cast<int>(pulse->Granted().minreq) / frameBytes;
    pulse_ = std::move(pulse);
    systemName_ = "PulseAudio";
    return true;
}

bool WaveOut::OpenSdl(std::uint16_t format) {
    auto audio = std::make_unique<SdlAudioScope>();
    if (!audio->ok()) return false;

    // A listed device that has gone (unplugged, or its server restarted with fewer devices)
    // gives way to the default device rather than to silence.
    const char* name = nullptr;  // SDL's default device
    openedDefaultInstead_ = false;
    if (device >= 1 && device <= 10) {
        if (device <= SDL_GetNumAudioDevices(0)) name = SDL_GetAudioDeviceName(device - 1, 0);
        openedDefaultInstead_ = name == nullptr;
    }

    SDL_AudioSpec want{};
    want.freq = samples;
    want.format = format;
    want.channels = static_cast<Uint8>(channels);
    want.samples = kDeviceFrames;
    want.callback = &WaveOut::AudioCallback;
    want.userdata = this;
    SDL_AudioSpec have{};

    // The callback starts paused, so its state can be set up after the open.
    SDL_AudioDeviceID id = SDL_OpenAudioDevice(name, 0, &want, &have, 0);
    if (id == 0 && name != nullptr) {  // gone between the listing and the open
        openedDefaultInstead_ = true;
        id = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    }
    if (id == 0) return false;
    silence_ = have.silence;
    deviceFrames_ = have.samples;
    const char* driver = SDL_GetCurrentAudioDriver();
    systemName_ = std::string("SDL (") + (driver ? driver : "?") + ")";
    audio_ = std::move(audio);
    deviceId_ = id;
    SDL_PauseAudioDevice(id, 0);
    return true;
}

void WaveOut::LockCallback() {
    if (pulse_)
        pulse_->Lock();
    else
        SDL_LockAudioDevice(deviceId_);
}

void WaveOut::UnlockCallback() {
    if (pulse_)
        pulse_->Unlock();
    else
        SDL_UnlockAudioDevice(deviceId_);
}

int WaveOut::DeviceBufferFrames() const {
    return pulse_ ? pulse_->RequestFrames() : deviceFrames_;
}

std::int64_t WaveOut::LatencyFrames() const {
    return pulse_ ? pulse_->LatencyFrames() : 2 * static_cast<std::int64_t>(deviceFrames_);
}

WaveOut::TakenAndLatency WaveOut::TakenAndLatencyNow() {
    if (!pulse_) return {TakenBytes(), LatencyFrames(), -1, true};
    pulse_->Lock();
    const TakenAndLatency now{TakenBytes(), pulse_->LatencyFrames(), pulse_->LatencyFramesNow(),
                              pulse_->LatencyKnown()};
    pulse_->Unlock();
    return now;
}

int WaveOut::GrantedLatencyMs() const {
    if (!pulse_) return 0;
    const int frameBytes = channels * SampleBits / 8;
    const auto frames = static_cast<double>(pulse_->Granted().tlength) / frameBytes;
    return static_cast<int>(frames * 1000.0 / samples + 0.5);
}

std::uint64_t WaveOut::Underruns() const {
    return underrunsBefore_ + (pulse_ ? pulse_->Underruns() : 0);
}

void WaveOut::Write(const void* data, std::size_t size) {
    if (data == nullptr && size > 0) return;
    auto* b = new Block;
    b->data.reset(new std::uint8_t[size]);
    if (size > 0) std::memcpy(b->data.get(), data, size);
    b->size = size;
    b->serial = ++lastSerial_;
    Link(b);
    if (outstanding_ == 0) {  // playing begins: the stall watch starts from here
        watchedPosition_ = DevicePosition();
        watchedSince_ = std::chrono::steady_clock::now();
    }
    ++outstanding_;
    if (open_) Submit(b);
}

void WaveOut::Submit(Block* b) {
    if (backlog_.empty() && inFlight_ < kRingSize && submitted_.Push(b)) {
        ++inFlight_;
        return;
    }
    backlog_.push_back(b);
}

void WaveOut::RefillFromBacklog() {
    while (!backlog_.empty() && inFlight_ < kRingSize && submitted_.Push(backlog_.front())) {
        ++inFlight_;
        backlog_.pop_front();
    }
}

void WaveOut::CollectPlayed() {
    Block* b;
    while (played_.Pop(b)) {
        --inFlight_;
        notices_.push_back({NoticeKind::Done, b});
    }
}

void WaveOut::ReturnUnplayed(Block* b) {
    notices_.push_back({NoticeKind::Done, b});
}

void WaveOut::Stop() {
    if (!IsPlaying()) return;
    if (open_) {
        // Take every block back while the callback cannot run; the notices, which may
        // allocate, are queued only after the lock is released.
        std::array<Block*, 2 * kRingSize + 1> taken;
        std::size_t count = 0;
        LockCallback();
        Block* b;
        while (played_.Pop(b)) taken[count++] = b;
        if (current_ != nullptr) {
            taken[count++] = current_;
            current_ = nullptr;
        }
        while (submitted_.Pop(b)) taken[count++] = b;
        UnlockCallback();
        inFlight_ -= count;
        for (std::size_t i = 0; i < count; ++i) ReturnUnplayed(taken[i]);
        for (Block* q : backlog_) ReturnUnplayed(q);
        backlog_.clear();
        events_.Wake();
    }
    for (Block* b = first_; b != nullptr; b = b->next) b->counted = false;
    outstanding_ = 0;
}

void WaveOut::Close() {
    if (open_) {
        if (pulse_) {
            underrunsBefore_ += pulse_->Underruns();
            pulse_->Close();  // joins the stream's thread, which never waits on the server
            pulse_.reset();
        } else if (stalled_) {
            CloseStalledDevice();
        } else {
            SDL_CloseAudioDevice(deviceId_);  // joins the audio thread
        }
        deviceId_ = 0;
        open_ = false;
        deviceFrames_ = 0;
        systemName_.clear();
        lostReason_.clear();
        stalled_ = false;
        audio_.reset();
        notices_.push_back({NoticeKind::Close, nullptr});
        events_.Wake();
    }
    submitted_.Clear();
    played_.Clear();
    current_ = nullptr;
    inFlight_ = 0;
    backlog_.clear();
    std::erase_if(notices_, [](const Notice& n) { return n.kind == NoticeKind::Done; });
    FreeAll();
}

bool WaveOut::CheckDevice() {
    if (!open_ || IsLost()) return IsLost();
    if (pulse_) {
        if (pulse_->Failed()) lostReason_ = "the sound server closed the stream";
        if (!IsLost() && TookNothingTooLong())
            lostReason_ = "the device took no sound for more than a second";
        return IsLost();
    }
    // SDL posts the removal to its event queue and marks the device stopped; the program uses
    // no other SDL events, so the device events are drained here.
    SDL_Event e;
    while (SDL_PeepEvents(&e, 1, SDL_GETEVENT, SDL_AUDIODEVICEADDED, SDL_AUDIODEVICEREMOVED) > 0)
        if (e.type == SDL_AUDIODEVICEREMOVED && e.adevice.iscapture == 0 &&
            e.adevice.which == deviceId_)
            lostReason_ = "SDL reported the device removed";
    if (!IsLost() && SDL_GetAudioDeviceStatus(deviceId_) == SDL_AUDIO_STOPPED)
        lostReason_ = "SDL reports the device stopped";
    if (!IsLost() && TookNothingTooLong()) {
        stalled_ = true;
        lostReason_ = "the device took no sound for more than a second";
    }
    return IsLost();
}

// SDL's close waits for the device's audio thread, which may wait for ever on a sound server
// that no longer answers. Paused, the device never calls back into this component again (SDL
// pauses under the lock it holds while calling back), so it may be closed elsewhere.
void WaveOut::CloseStalledDevice() {
    SDL_PauseAudioDevice(deviceId_, 1);
    CloseDeviceInBackground(deviceId_, std::move(audio_));
}

bool WaveOut::TookNothingTooLong() {
    if (!IsPlaying()) return false;
    const auto now = std::chrono::steady_clock::now();
    const std::uint64_t position = DevicePosition();
    if (position != watchedPosition_) {
        watchedPosition_ = position;
        watchedSince_ = now;
        return false;
    }
    return now - watchedSince_ > kStallLimit && now - openedAt_ > kStartLimit;
}

void WaveOut::Link(Block* b) {
    b->prev = last_;
    if (last_)
        last_->next = b;
    else
        first_ = b;
    last_ = b;
    ++held_;
}

void WaveOut::Unlink(Block* b) {
    (b->prev ? b->prev->next : first_) = b->next;
    (b->next ? b->next->prev : last_) = b->prev;
    --held_;
}

void WaveOut::FreeAll() {
    while (first_ != nullptr) {
        Block* b = first_;
        Unlink(b);
        delete b;
    }
    outstanding_ = 0;
}

bool WaveOut::Fire(const NotifyEvent& handler) {
    if (!handler) return true;
    bool destroyed = false;
    bool* outer = destroyed_;
    destroyed_ = &destroyed;
    handler(*this);
    if (destroyed) {
        if (outer) *outer = true;  // let an outer Drain (nested event loop) know as well
        return false;
    }
    destroyed_ = outer;
    return true;
}

int WaveOut::Drain() {
    CollectPlayed();
    RefillFromBacklog();
    int delivered = 0;
    while (!notices_.empty()) {
        const Notice n = notices_.front();
        notices_.pop_front();
        ++delivered;
        bool alive = true;
        switch (n.kind) {
            case NoticeKind::Open:
                alive = Fire(OnOpen);
                break;
            case NoticeKind::Close:
                alive = Fire(OnClose);
                break;
            case NoticeKind::Done: {
                Block* b = n.block;
                done_ = {b->serial, b->size, b->finished, b->startedAt};
                if (b->counted) --outstanding_;
                Unlink(b);
                delete b;
                alive = Fire(OnDone);
                break;
            }
        }
        if (!alive) break;
    }
    return delivered;
}

void WaveOut::AudioCallback(void* self, std::uint8_t* stream, int len) {
    static_cast<WaveOut*>(self)->FillDeviceBuffer(stream, len);
}

// Runs on SDL's audio thread: copies only; no allocation, no locks, no waiting.
void WaveOut::FillDeviceBuffer(std::uint8_t* out, int len) noexcept {
    std::size_t room = len > 0 ? static_cast<std::size_t>(len) : 0;
    const std::size_t asked = room;
    bool returned = false;
    while (room > 0) {
        if (current_ == nullptr) {
            if (!submitted_.Pop(current_)) break;
            current_->startedAt = static_cast<std::int64_t>(position_);
            offset_ = 0;
        }
        const std::size_t n = std::min(room, current_->size - offset_);
        std::memcpy(out, current_->data.get() + offset_, n);
        out += n;
        room -= n;
        offset_ += n;
        position_ += n;
        if (offset_ == current_->size) {
            current_->finished = true;
            // Cannot fail: no more blocks are in flight than the ring holds.
            played_.Push(current_);
            current_ = nullptr;
            returned = true;
        }
    }
    // One writer: a plain load and store suffice.
    takenBytes_.store(takenBytes_.load(std::memory_order_relaxed) + (asked - room),
                      std::memory_order_relaxed);
    if (room > 0) {
        std::memset(out, silence_, room);
        position_ += room;
    }
    devicePosition_.store(position_, std::memory_order_relaxed);
    if (returned) events_.Wake();
}

}  // namespace qtam
