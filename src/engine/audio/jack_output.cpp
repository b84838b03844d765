#include "engine/audio/jack_output.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <future>
#include <memory>
#include <thread>

#include "engine/audio/jack_library.h"

namespace qtam {

namespace {

// libjack prints its own diagnostics; what the user can act on is said by Open's error.
void Quiet(const char*) {}

int OnProcess(jack_nframes_t frames, void* self) {
    return static_cast<JackOutput*>(self)->Process(frames);
}

void OnShutdown(jack_status_t, const char* reason, void* self) {
    static_cast<JackOutput*>(self)->ServerGone(reason);
}

int OnXrun(void* self) {
    static_cast<JackOutput*>(self)->Xrun();
    return 0;
}

void OnTimebase(jack_transport_state_t, jack_nframes_t, jack_position_t* pos, int, void* self) {
    static_cast<JackOutput*>(self)->Timebase(pos);
}

void OnLatency(jack_latency_callback_mode_t mode, void* self) {
    static_cast<JackOutput*>(self)->SetCaptureLatency(mode);
}

std::string ServerName() {
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name && *name ? name : "default";
}

std::string OpenFailure(jack_status_t status) {
    if (status & JackServerFailed)
        return "cannot reach the JACK server \"" + ServerName() +
               "\": none is running. Start one (for example 'jackd -d alsa', or "
               "'jackd -d dummy' without a sound card, or 'qjackctl'), or play through "
               "PipeWire by running Q.Tam under 'pw-jack'";
    if (status & JackVersionError) return "the JACK server speaks another protocol version";
    if (status & JackNameNotUnique) return "the client name is taken";
    if (status & JackShmFailure) return "JACK's shared memory could not be reached";
    return "the JACK server refused the client";
}

}  // namespace

JackOutput::~JackOutput() {
    Close();
}

bool JackOutput::Open(const Options& options, std::string& error) {
    if (client_ != nullptr) return true;
    if (abandoned_) {
        error = "an earlier JACK client did not close; start Q.Tam again";
        return false;
    }
    jack::jack_set_error_function(Quiet);
    jack::jack_set_info_function(Quiet);
    jack_status_t status{};
    client_ = jack::jack_client_open(options.name.c_str(), JackNoStartServer, &status, nullptr);
    if (client_ == nullptr) {
        error = OpenFailure(status);
        return false;
    }
    clientName_ = jack::jack_get_client_name(client_);
    closing_ = false;
    timebaseTaken_ = false;
    timebaseCallsSeen_ = timebaseCalls_.load();
    periodsWithoutTimebase_ = 0;
    wasRolling_ = false;
    lost_ = false;
    lostText_[0] = '\0';
    lostReason_.clear();
    xruns_ = 0;
    engine_.Configure(static_cast<int>(jack::jack_get_sample_rate(client_)), options.sync);

    auto reg = [this](const std::string& name) {
        return jack::jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE,
                                        JackPortIsOutput, 0);
    };
    ports_[0] = reg("main_L");
    ports_[1] = reg("main_R");
    for (int c = 0; c < kChannels; ++c) {
        const std::string base = "channel" + std::to_string(c + 1);
        ports_[2 + 2 * c] = reg(base + "_L");
        ports_[3 + 2 * c] = reg(base + "_R");
    }
    midiIn_ =
        jack::jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    midiOut_ =
        jack::jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    const bool ok =
        midiIn_ && midiOut_ &&
        std::all_of(std::begin(ports_), std::end(ports_), [](jack_port_t* p) { return p; });
    if (!ok) {
        Close();
        error = "the JACK server refused Q.Tam's ports";
        return false;
    }
    jack::jack_set_process_callback(client_, OnProcess, this);
    jack::jack_on_info_shutdown(client_, OnShutdown, this);
    jack::jack_set_xrun_callback(client_, OnXrun, this);
    jack::jack_set_latency_callback(client_, OnLatency, this);
    // Following a MIDI clock, the transport is left alone.
    timebase_ = options.sync == TransportSync::Master && !engine_.Midi().clockIn;
    if (timebase_ && jack::jack_set_timebase_callback(client_, 0, OnTimebase, this) != 0) {
        timebase_ = false;
        Close();
        error = "Q.Tam could not become the JACK timebase master";
        return false;
    }
    if (jack::jack_activate(client_) != 0) {
        Close();
        error = "the JACK server did not start Q.Tam's process callback";
        return false;
    }
    if (options.connect) {
        const char** ports = jack::jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                                  JackPortIsPhysical | JackPortIsInput);
        for (int i = 0; ports && ports[i] && i < 2; ++i)
            jack::jack_connect(client_, jack::jack_port_name(ports_[i]), ports[i]);
        if (ports) jack::jack_free(ports);
    }
    return true;
}

void JackOutput::Close() {
    if (client_ == nullptr) return;
    if (timebase_ && !lost_ && !timebaseTaken_) jack::jack_release_timebase(client_);
    closing_.store(true, std::memory_order_release);
    // The process callback has ended when jack_client_close returns. With the server gone it
    // may never return: libjack asks the server to deactivate the client and waits for the
    // answer with no time limit (as long as the server's end of the socket stays open), and
    // joins the process thread, which waits for the server's next period.
    const bool closed =
        lost_ ? CloseWithin(client_, kLostCloseLimit) : (jack::jack_client_close(client_), true);
    client_ = nullptr;
    if (!closed) {
        abandoned_ = true;  // left to libjack; the engine stays as the thread may still see it
        return;
    }
    timebase_ = false;
    std::fill(std::begin(ports_), std::end(ports_), nullptr);
    midiIn_ = midiOut_ = nullptr;
    // Nothing processes now: the engine starts afresh at the next opening.
    engine_.Configure(engine_.Rate(), engine_.Sync());
}

bool JackOutput::CloseWithin(jack_client_t* client, std::chrono::milliseconds limit) {
    auto done = std::make_shared<std::promise<void>>();
    std::future<void> closed = done->get_future();
    std::thread([client, done] {
        jack::jack_client_close(client);
        done->set_value();
    }).detach();
    return closed.wait_for(limit) == std::future_status::ready;
}

void JackOutput::Start(bool countIn) {
    if (client_ == nullptr) return;
    // The transport steers itself: a count-in is the engine's own clock's only.
    if (engine_.OwnClock())
        engine_.Start(countIn);
    else
        jack::jack_transport_start(client_);
}

void JackOutput::Stop() {
    if (client_ == nullptr) return;
    if (engine_.OwnClock())
        engine_.Stop();
    else
        jack::jack_transport_stop(client_);
}

bool JackOutput::Poll(const std::function<void(const EngineReport&)>& handle) {
    engine_.Poll(handle);
    if (!lost_.load(std::memory_order_acquire)) return true;
    lostReason_ = lostText_[0] ? lostText_ : "the JACK server shut down";
    Close();
    return false;
}

std::int64_t JackOutput::Latency() const {
    if (client_ == nullptr) return 0;
    jack_latency_range_t range{0, 0};
    jack::jack_port_get_latency_range(ports_[0], JackPlaybackLatency, &range);
    return range.max;
}

PlayPosition JackOutput::Heard() const {
    if (client_ == nullptr) return {};
    return engine_.Heard(static_cast<std::int64_t>(jack::jack_frame_time(client_)) - Latency());
}

PlayPosition JackOutput::StepNearest(std::int64_t time) const {
    if (client_ == nullptr) return {};
    // The hit was heard one period later than it came in, and the steps the latency later.
    return engine_.StepNearest(time - jack::jack_get_buffer_size(client_) - Latency());
}

void JackOutput::ServerGone(const char* reason) {
    if (reason) {
        std::strncpy(lostText_, reason, sizeof lostText_ - 1);
        lostText_[sizeof lostText_ - 1] = '\0';
    }
    lost_.store(true, std::memory_order_release);
}

void JackOutput::SetCaptureLatency(int mode) {
    // Q.Tam makes its sound within the period: nothing to add to the capture latency of its
    // outputs; their playback latency is what JACK finds downstream.
    if (mode != JackCaptureLatency) return;
    jack_latency_range_t none{0, 0};
    for (jack_port_t* p : ports_)
        jack::jack_port_set_latency_range(p, static_cast<jack_latency_callback_mode_t>(mode),
                                          &none);
}

// ---- The process thread ----

int JackOutput::Process(std::uint32_t frames) {
    // A client left behind by Close (its server gone) does nothing should it wake.
    if (closing_.load(std::memory_order_acquire)) return 0;
    for (int p = 0; p < LiveEngine::kPorts; ++p)
        buffers_[p] = static_cast<float*>(jack::jack_port_get_buffer(ports_[p], frames));
    // The transport as it stands; the engine decides whether it follows it.
    HostPosition at;
    at.time = jack::jack_last_frame_time(client_);
    jack_position_t pos{};
    at.rolling = jack::jack_transport_query(client_, &pos) == JackTransportRolling;
    at.frame = pos.frame;
    at.bbt = (pos.valid & JackPositionBBT) != 0;
    at.bar = pos.bar;
    at.beat = pos.beat;
    at.tick = pos.tick;
    at.ticksPerBeat = pos.ticks_per_beat;
    at.bpm = pos.beats_per_minute;
    at.beatsPerBar = pos.beats_per_bar;
    at.barStartTick = pos.bar_start_tick;
    at.timebaseTaken = WatchTimebase(at.rolling);
    const int in = ReadMidi(frames);
    engine_.Process(frames, at, midiEvents_, in, buffers_);
    void* out = jack::jack_port_get_buffer(midiOut_, frames);
    jack::jack_midi_clear_buffer(out);
    const MidiMessage* send = engine_.MidiOut();
    for (int i = 0; i < engine_.MidiOutCount(); ++i)
        jack::jack_midi_event_write(out, send[i].frame, send[i].bytes, send[i].size);
    return 0;
}

int JackOutput::ReadMidi(std::uint32_t frames) {
    void* in = jack::jack_port_get_buffer(midiIn_, frames);
    const std::uint32_t n = jack::jack_midi_get_event_count(in);
    int count = 0;
    for (std::uint32_t i = 0; i < n && count < LiveEngine::kMaxMidiIn; ++i) {
        jack_midi_event_t e;
        if (jack::jack_midi_event_get(&e, in, i) != 0 || e.size == 0) continue;
        MidiMessage& m = midiEvents_[count++];
        m.frame = e.time;
        m.size = static_cast<std::uint8_t>(std::min<std::size_t>(e.size, 3));
        std::copy_n(e.buffer, m.size, m.bytes);
    }
    return count;
}

bool JackOutput::WatchTimebase(bool rolling) {
    if (!timebase_) return false;
    if (timebaseTaken_.load(std::memory_order_relaxed)) return true;
    // JACK calls the master's timebase callback in every period that rolls; another client
    // that took the timebase is called instead, and nothing tells the one before. Two rolling
    // periods without a call, as a period may end before the callback was reached.
    const std::uint32_t calls = timebaseCalls_.load(std::memory_order_relaxed);
    periodsWithoutTimebase_ =
        wasRolling_ && calls == timebaseCallsSeen_ ? periodsWithoutTimebase_ + 1 : 0;
    timebaseCallsSeen_ = calls;
    wasRolling_ = rolling;
    if (periodsWithoutTimebase_ < 2) return false;
    timebaseTaken_.store(true, std::memory_order_release);
    return true;
}

void JackOutput::Timebase(void* position) {
    timebaseCalls_.fetch_add(1, std::memory_order_relaxed);
    auto* pos = static_cast<jack_position_t*>(position);
    int beatsPerBar = 4;
    double bpm = 120;
    const BarBeatTick b = engine_.TimebaseAt(pos->frame, beatsPerBar, bpm);
    pos->valid = static_cast<jack_position_bits_t>(pos->valid | JackPositionBBT);
    pos->bar = b.bar;
    pos->beat = b.beat;
    pos->tick = b.tick;
    pos->bar_start_tick = b.barStartTick;
    pos->beats_per_bar = static_cast<float>(beatsPerBar);
    pos->beat_type = 4;
    pos->ticks_per_beat = LiveEngine::kTicksPerBeat;
    pos->beats_per_minute = bpm;
}

}  // namespace qtam
