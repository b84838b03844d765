#include "engine/audio/jack_output.h"

#include <jack/jack.h>
#include <jack/midiport.h>
#include <jack/transport.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/machine.h"
#include "engine/mixer.h"
#include "engine/play_clock.h"

namespace qtam {

namespace {

constexpr double kTicksPerBeat = 1920.0;
constexpr float kFullScale = 32768.0f;

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

void OnTimebase(jack_transport_state_t, jack_nframes_t frames, jack_position_t* pos,
                int newPosition, void* self) {
    static_cast<JackOutput*>(self)->Timebase(frames, pos, newPosition != 0);
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

bool ParseJackSync(const std::string& text, JackSync& sync) {
    if (text == "off")
        sync = JackSync::Off;
    else if (text == "follow")
        sync = JackSync::Follow;
    else if (text == "master")
        sync = JackSync::Master;
    else
        return false;
    return true;
}

const char* JackSyncName(JackSync sync) {
    switch (sync) {
        case JackSync::Off:
            return "off";
        case JackSync::Master:
            return "master";
        case JackSync::Follow:
            break;
    }
    return "follow";
}

JackOutput::JackOutput(Machine& owner)
    : owner_(owner), rt_(std::make_unique<Machine>()), rt2_(std::make_unique<RealTime>()) {
    // The sounds are read where the owner keeps them.
    rt_->banks.byInstrument = owner.banks.byInstrument;
}

JackOutput::~JackOutput() {
    Close();
}

bool JackOutput::Open(const Options& options, std::string& error) {
    if (client_ != nullptr) return true;
    options_ = options;
    jack_set_error_function(Quiet);
    jack_set_info_function(Quiet);
    jack_status_t status{};
    client_ = jack_client_open(options.name.c_str(), JackNoStartServer, &status);
    if (client_ == nullptr) {
        error = OpenFailure(status);
        return false;
    }
    clientName_ = jack_get_client_name(client_);
    rate_ = static_cast<int>(jack_get_sample_rate(client_));
    lost_ = false;
    lostText_[0] = '\0';
    lostReason_.clear();
    xruns_ = 0;
    *rt2_ = RealTime{};
    rt2_->inTempo = ClockTempo(rate_);
    rt_->clock.Rate = rate_;
    ResetTransport(*rt_);
    Publish();

    auto reg = [this](const std::string& name) {
        return jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput,
                                  0);
    };
    mainPorts_[0] = reg("main_L");
    mainPorts_[1] = reg("main_R");
    midiIn_ = jack_port_register(client_, "midi_in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    midiOut_ = jack_port_register(client_, "midi_out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
    bool ok = mainPorts_[0] && mainPorts_[1] && midiIn_ && midiOut_;
    for (int c = 0; c < kChannels; ++c) {
        const std::string base = "channel" + std::to_string(c + 1);
        channelPorts_[c][0] = reg(base + "_L");
        channelPorts_[c][1] = reg(base + "_R");
        ok = ok && channelPorts_[c][0] && channelPorts_[c][1];
    }
    if (!ok) {
        Close();
        error = "the JACK server refused Q.Tam's ports";
        return false;
    }
    jack_set_process_callback(client_, OnProcess, this);
    jack_on_info_shutdown(client_, OnShutdown, this);
    jack_set_xrun_callback(client_, OnXrun, this);
    // Q.Tam makes its sound within the period: nothing to add to the capture latency of its
    // outputs; their playback latency is what JACK finds downstream.
    jack_set_latency_callback(
        client_,
        [](jack_latency_callback_mode_t mode, void* self) {
            if (mode != JackCaptureLatency) return;
            auto* out = static_cast<JackOutput*>(self);
            jack_latency_range_t none{0, 0};
            for (jack_port_t* p : out->mainPorts_) jack_port_set_latency_range(p, mode, &none);
            for (auto& pair : out->channelPorts_)
                for (jack_port_t* p : pair) jack_port_set_latency_range(p, mode, &none);
        },
        this);
    // Following a MIDI clock, the transport is left alone.
    timebase_ = options.sync == JackSync::Master && !midi_.clockIn;
    if (timebase_ && jack_set_timebase_callback(client_, 0, OnTimebase, this) != 0) {
        timebase_ = false;
        Close();
        error = "Q.Tam could not become the JACK timebase master";
        return false;
    }
    if (jack_activate(client_) != 0) {
        Close();
        error = "the JACK server did not start Q.Tam's process callback";
        return false;
    }
    if (options.connect) {
        const char** ports = jack_get_ports(client_, nullptr, JACK_DEFAULT_AUDIO_TYPE,
                                            JackPortIsPhysical | JackPortIsInput);
        for (int i = 0; ports && ports[i] && i < 2; ++i)
            jack_connect(client_, jack_port_name(mainPorts_[i]), ports[i]);
        if (ports) jack_free(ports);
    }
    return true;
}

void JackOutput::Close() {
    if (client_ == nullptr) return;
    if (timebase_ && !lost_) jack_release_timebase(client_);
    timebase_ = false;
    jack_client_close(client_);  // the process callback has ended when this returns
    client_ = nullptr;
    mainPorts_[0] = mainPorts_[1] = nullptr;
    for (auto& pair : channelPorts_) pair[0] = pair[1] = nullptr;
    midiIn_ = midiOut_ = nullptr;
    playing_ = false;
    heardPlaying_ = false;
    commands_.Clear();
    reports_.Clear();
}

void JackOutput::Publish() {
    Snapshot& s = snapshots_.Back();
    s.song = owner_.song;
    s.pattern = owner_.editor.CurrentPattern;
    s.nextPattern = owner_.clock.NextPattern;
    s.humanize = owner_.editor.HumanizeChecked;
    s.mainVolume = owner_.clock.MainVolumeTarget;
    s.midi = midi_;
    snapshots_.Publish();
}

void JackOutput::Start() {
    if (client_ == nullptr) return;
    if (options_.sync == JackSync::Off || midi_.clockIn)
        commands_.Push(Command::Start);
    else
        jack_transport_start(client_);
}

void JackOutput::Stop() {
    if (client_ == nullptr) return;
    if (options_.sync == JackSync::Off || midi_.clockIn)
        commands_.Push(Command::Stop);
    else
        jack_transport_stop(client_);
}

bool JackOutput::Poll(const std::function<void(const JackReport&)>& handle) {
    JackReport r;
    while (reports_.Pop(r)) {
        if (r.kind == JackReport::Started || r.kind == JackReport::Stopped) {
            heardPlaying_ = r.kind == JackReport::Started;
            heardCount_ = 0;
        } else if (r.kind == JackReport::Step) {
            heardSteps_[heardCount_++ % kHeardSteps] = r;
        }
        if (handle) handle(r);
    }
    if (!lost_.load(std::memory_order_acquire)) return true;
    lostReason_ = lostText_[0] ? lostText_ : "the JACK server shut down";
    Close();
    return false;
}

std::int64_t JackOutput::Latency() const {
    if (client_ == nullptr) return 0;
    jack_latency_range_t range{0, 0};
    jack_port_get_latency_range(mainPorts_[0], JackPlaybackLatency, &range);
    return range.max;
}

PlayPosition JackOutput::Heard() const {
    if (client_ == nullptr || !heardPlaying_ || heardCount_ == 0) return {};
    const std::int64_t now = static_cast<std::int64_t>(jack_frame_time(client_)) - Latency();
    const std::int64_t oldest = std::max<std::int64_t>(0, heardCount_ - kHeardSteps);
    for (std::int64_t i = heardCount_ - 1; i >= oldest; --i) {
        const JackReport& s = heardSteps_[i % kHeardSteps];
        // Frame times wrap at 2^32: compared as a difference.
        if (static_cast<std::int32_t>(static_cast<std::uint32_t>(now - s.frameTime)) < 0) continue;
        const std::int64_t next =
            i + 1 < heardCount_ ? heardSteps_[(i + 1) % kHeardSteps].frameTime : -1;
        return {s.pattern, s.measure, s.step, s.frameTime, next};
    }
    return {};
}

std::int64_t NearestStart(std::int64_t count,
                          const std::function<std::int64_t(std::int64_t)>& frameOf,
                          std::int64_t frame) {
    if (count <= 0) return -1;
    std::int64_t lo = 0, hi = count - 1;  // the last start at or before `frame`, or 0
    while (lo < hi) {
        const std::int64_t mid = lo + (hi - lo + 1) / 2;
        if (frameOf(mid) <= frame)
            lo = mid;
        else
            hi = mid - 1;
    }
    if (lo + 1 < count && frameOf(lo + 1) - frame <= frame - frameOf(lo)) return lo + 1;
    return lo;
}

void PadsToPlace::Add(const JackReport& pad) {
    if (pad.kind == JackReport::Pad && pad.channel >= 1 && pad.channel <= kChannels)
        waiting_.push_back({pad, 0});
}

void PadsToPlace::Place(
    const JackOutput& jack,
    const std::function<void(const PlayPosition& at, const JackReport& pad)>& place) {
    std::erase_if(waiting_, [&](std::pair<JackReport, int>& hit) {
        const PlayPosition at = jack.StepNearest(hit.first.frameTime);
        if (!at.known()) return ++hit.second > kPollsToPlace;
        place(at, hit.first);
        return true;
    });
}

PlayPosition JackOutput::StepNearest(std::int64_t frameTime) const {
    if (client_ == nullptr || !heardPlaying_ || heardCount_ == 0) return {};
    const std::int64_t oldest = std::max<std::int64_t>(0, heardCount_ - kHeardSteps);
    // Frame times wrap at 2^32: each step counted from the hit.
    const std::int64_t hit = frameTime - jack_get_buffer_size(client_) - Latency();
    auto frameOf = [&](std::int64_t i) -> std::int64_t {
        const JackReport& s = heardSteps_[(oldest + i) % kHeardSteps];
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(s.frameTime - hit));
    };
    const std::int64_t count = heardCount_ - oldest;
    // Until the step after the hit has been mixed, the nearest one is not known yet.
    if (frameOf(count - 1) <= 0) return {};
    const std::int64_t i = NearestStart(count, frameOf, 0);
    if (i < 0) return {};
    const JackReport& s = heardSteps_[(oldest + i) % kHeardSteps];
    return {s.pattern, s.measure, s.step, s.frameTime, -1};
}

void JackOutput::ServerGone(const char* reason) {
    if (reason) {
        std::strncpy(lostText_, reason, sizeof lostText_ - 1);
        lostText_[sizeof lostText_ - 1] = '\0';
    }
    lost_.store(true, std::memory_order_release);
}

// ---- The process thread ----

int JackOutput::Process(std::uint32_t frames) {
    RealTime& r = *rt2_;
    r.cycleTime = jack_last_frame_time(client_);
    for (int side = 0; side < 2; ++side) {
        r.buffers[side] = static_cast<float*>(jack_port_get_buffer(mainPorts_[side], frames));
        for (int c = 0; c < kChannels; ++c)
            r.buffers[2 + 2 * c + side] =
                static_cast<float*>(jack_port_get_buffer(channelPorts_[c][side], frames));
    }
    r.frames = frames;
    r.midiBuffer = jack_port_get_buffer(midiOut_, frames);
    jack_midi_clear_buffer(r.midiBuffer);
    r.midiCount = 0;
    for (int i = 0; i < r.carriedCount; ++i) r.midiOut[r.midiCount++] = r.carried[i];
    r.carriedCount = 0;
    TakeSnapshot();
    ReadMidi(frames);
    TriggerLog& hits = rt_->triggers;
    hits.count = 0;
    hits.frame = 0;
    hits.on = r.midi.notesOut;
    TakeCommands();
    // Playing on its own (the transport off, or a MIDI clock followed instead).
    const bool own = options_.sync == JackSync::Off || r.midi.clockIn;
    if (r.midi.clockIn)
        ProcessClockIn(frames);
    else if (!own)
        ProcessSynced(frames);
    else if (r.playing)
        MixFree(0, frames);
    else
        MixIdle(0, frames);
    if (r.playing && r.clockRunning) {
        if (own)
            SendStepClock(frames);
        else
            SendClock(frames);
    }
    if (own) r.clockFrame += frames;
    r.inFrame += frames;
    ReportStepStarts();
    WriteMidi(frames);
    return 0;
}

// ---- MIDI on the process thread ----

void JackOutput::ReadMidi(std::uint32_t frames) {
    RealTime& r = *rt2_;
    r.padCount = r.padNext = 0;
    void* in = jack_port_get_buffer(midiIn_, frames);
    const std::uint32_t n = jack_midi_get_event_count(in);
    r.clockByteCount = 0;
    for (std::uint32_t i = 0; i < n; ++i) {
        jack_midi_event_t e;
        if (jack_midi_event_get(&e, in, i) != 0 || e.size == 0) continue;
        const std::uint8_t status = e.buffer[0];
        const bool clock = status == 0xF8 || status == 0xFA || status == 0xFB || status == 0xFC ||
                           (status == 0xF2 && e.size >= 3);
        if (clock && r.midi.clockIn && r.clockByteCount < RealTime::kClockBytes) {
            RealTime::ClockByte& c = r.clockBytes[r.clockByteCount++];
            c.frame = std::min(e.time, frames - 1);
            std::copy_n(e.buffer, status == 0xF2 ? 3 : 1, c.bytes);
            continue;
        }
        if (e.size >= 2 && (e.buffer[0] & 0xF0) == 0xC0 && e.buffer[1] < kPatterns &&
            r.midi.programIn) {
            JackReport program;
            program.kind = JackReport::Program;
            program.pattern = static_cast<std::uint8_t>(e.buffer[1] + 1);
            program.frameTime = r.cycleTime + e.time;
            Report(program);
            continue;
        }
        if (e.size < 3 || r.padCount >= 64) continue;
        if ((e.buffer[0] & 0xF0) != 0x90 || e.buffer[2] == 0) continue;  // note-ons only
        JackReport pad;
        pad.kind = JackReport::Pad;
        pad.note = e.buffer[1] & 0x7F;
        pad.velocity = e.buffer[2];
        pad.frameTime = r.cycleTime + e.time;
        for (int c = 0; c < kChannels; ++c) {
            if (r.midi.notes[static_cast<std::size_t>(c)] != pad.note) continue;
            // Played at the frame it came in on, one period later: no jitter.
            r.pads[r.padCount++] = {std::min(e.time, frames - 1), static_cast<std::uint8_t>(c + 1),
                                    e.buffer[2]};
            pad.channel = static_cast<std::uint8_t>(c + 1);
            break;
        }
        Report(pad);  // a note no channel has too: a learning note table takes it
    }
}

int JackOutput::PlayPads(std::uint32_t at, int limit) {
    RealTime& r = *rt2_;
    while (r.padNext < r.padCount && r.pads[r.padNext].frame <= at) {
        const PadHit& p = r.pads[r.padNext++];
        if (!r.playing) rt_->clock.PlayPattern = rt_->editor.CurrentPattern;
        TriggerPad(*rt_, p.channel, p.velocity);
    }
    if (r.padNext < r.padCount)
        return std::min<int>(limit, static_cast<int>(r.pads[r.padNext].frame - at));
    return limit;
}

void JackOutput::Send(std::uint32_t frame, std::uint8_t a, int size, std::uint8_t b,
                      std::uint8_t c) {
    RealTime& r = *rt2_;
    MidiOut m;
    m.bytes[0] = a;
    m.bytes[1] = b;
    m.bytes[2] = c;
    m.size = static_cast<std::uint8_t>(size);
    if (frame >= r.frames) {
        m.frame = frame - r.frames;
        if (r.carriedCount < 64) r.carried[r.carriedCount++] = m;
        return;
    }
    m.frame = frame;
    if (r.midiCount < RealTime::kMidiOut) r.midiOut[r.midiCount++] = m;
}

void JackOutput::NotesOff(std::uint32_t frame) {
    RealTime& r = *rt2_;
    for (std::uint8_t& note : r.held) {
        if (note == 0) continue;
        Send(frame, static_cast<std::uint8_t>(0x80 | r.heldChannel), 3, note - 1, 64);
        note = 0;
    }
}

void JackOutput::TakeHits(std::uint32_t at) {
    RealTime& r = *rt2_;
    TriggerLog& log = rt_->triggers;
    const auto status = static_cast<std::uint8_t>(0x90 | ((r.midi.channel - 1) & 0x0F));
    for (int i = 0; i < log.count; ++i) {
        const TriggerLog::Hit& h = log.hits[static_cast<std::size_t>(i)];
        const std::uint32_t frame = at + static_cast<std::uint32_t>(h.frame);
        if (h.channel == 0) {
            NotesOff(frame);
            continue;
        }
        const std::uint8_t note = r.midi.notes[h.channel - 1u] & 0x7F;
        Send(frame, status, 3, note, static_cast<std::uint8_t>(std::clamp<int>(h.level, 1, 127)));
        r.held[h.channel - 1u] = static_cast<std::uint8_t>(note + 1);  // 0 is none
        r.heldChannel = status & 0x0F;
    }
    log.count = 0;
}

void JackOutput::StartClock(std::int64_t from, bool fromStart) {
    RealTime& r = *rt2_;
    // Resumed on a sixteenth, which Song Position Pointer names.
    std::int64_t j = r.clockGrid.ClockTickFrom(from);
    j += (6 - j % 6) % 6;
    r.clockNext = j;
    r.clockCue = fromStart ? 0xFA : 0xFB;
    r.clockRunning = true;
}

void JackOutput::SendClock(std::uint32_t frames) {
    RealTime& r = *rt2_;
    for (;;) {
        const std::int64_t f = r.clockGrid.ClockTick(r.clockNext);
        if (f >= r.clockFrame + frames) break;
        if (f < r.clockFrame) {  // already past (after an xrun): not sent late
            r.clockNext += 1;
            continue;
        }
        SendTick(static_cast<std::uint32_t>(f - r.clockFrame));
    }
}

void JackOutput::SendTick(std::uint32_t at) {
    RealTime& r = *rt2_;
    if (r.clockCue == 0xFB) {
        const auto sixteenths = static_cast<std::uint32_t>(r.clockNext / 6) & 0x3FFF;
        Send(at, 0xF2, 3, sixteenths & 0x7F, static_cast<std::uint8_t>(sixteenths >> 7));
    }
    if (r.clockCue != 0) Send(at, static_cast<std::uint8_t>(r.clockCue), 1);
    r.clockCue = 0;
    Send(at, 0xF8, 1);
    r.clockNext += 1;
}

void JackOutput::SendStepClock(std::uint32_t frames) {
    RealTime& r = *rt2_;
    const StepStartLog& log = rt_->stepStarts;
    const PlayClock& k = rt_->clock;
    // The steps begun this period (step i since the start, each pair's first one even): a new
    // pair takes over the ticks from its first frame on.
    for (std::int64_t i = std::max(r.reportedSteps, log.count - StepStartLog::kSize); i < log.count;
         ++i) {
        if (i % 2 != 0) continue;
        const std::int64_t start =
            log.starts[static_cast<std::size_t>(i % StepStartLog::kSize)].frame;
        SendPairTicks(6 * i, start, true);
        r.pairStep = i;
        r.pairStart = start;
        // The play clock ends a step after StepLength - 1 frames (mixer.cpp).
        r.pairLength = std::max(k.StepLength[1] + k.StepLength[2] - 2, 12);
    }
    SendPairTicks(6 * r.pairStep + 12, r.clockFrame + frames, false);
}

void JackOutput::SendPairTicks(std::int64_t before, std::int64_t until, bool flush) {
    RealTime& r = *rt2_;
    while (r.clockNext < before) {
        std::int64_t f =
            r.pairStart + std::llround(static_cast<double>(r.clockNext - 6 * r.pairStep) *
                                       static_cast<double>(r.pairLength) / 12.0);
        if (f >= until) {
            // A new pair came sooner than the last one's ticks (a faster tempo): those left go
            // out on its first frame, so that none is lost.
            if (!flush) return;
            f = until;
        }
        SendTick(static_cast<std::uint32_t>(std::max<std::int64_t>(f - r.clockFrame, 0)));
    }
}

void JackOutput::WriteMidi(std::uint32_t) {
    RealTime& r = *rt2_;
    // In frame order, as JACK wants them; a stable insertion sort keeps offs before ons.
    for (int i = 1; i < r.midiCount; ++i) {
        const MidiOut m = r.midiOut[i];
        int j = i;
        for (; j > 0 && r.midiOut[j - 1].frame > m.frame; --j) r.midiOut[j] = r.midiOut[j - 1];
        r.midiOut[j] = m;
    }
    for (int i = 0; i < r.midiCount; ++i)
        jack_midi_event_write(r.midiBuffer, r.midiOut[i].frame, r.midiOut[i].bytes,
                              r.midiOut[i].size);
}

void JackOutput::MixIdle(std::uint32_t at, std::uint32_t frames) {
    RealTime& r = *rt2_;
    bool sounding = r.padNext < r.padCount;
    for (int c = 1; c <= kChannels; ++c) sounding = sounding || rt_->voice(c).active;
    if (!sounding) {
        Silence(at, frames);
        return;
    }
    for (const std::uint32_t end = at + frames; at < end; at += kChunk) {
        rt_->clock.StepCounter = 1;  // the clock stands still: only the voices move
        MixChunk(at, static_cast<int>(std::min<std::uint32_t>(kChunk, end - at)), false);
    }
}

int JackOutput::StepsPerMeasure() const {
    return StepsPerMeasureOf(rt_->song);
}

void JackOutput::TakeSnapshot() {
    if (!snapshots_.Fetch()) return;
    const Snapshot& s = snapshots_.Front();
    Machine& m = *rt_;
    m.song = s.song;
    m.editor.CurrentPattern = s.pattern;
    m.editor.HumanizeChecked = s.humanize;
    m.clock.NextPattern = rt2_->playing ? s.pattern : s.nextPattern;
    m.clock.MainVolumeTarget = s.mainVolume;
    if (!rt2_->playing) m.clock.MainVolume = s.mainVolume;
    rt2_->midi = s.midi;
    rt2_->midi.channel = std::clamp(s.midi.channel, 1, 16);
    const int queued = m.clock.NextPattern;
    if (rt2_->midi.programOut && queued != rt2_->queued && rt2_->queued != 0)
        Send(0, static_cast<std::uint8_t>(0xC0 | (rt2_->midi.channel - 1)), 2,
             static_cast<std::uint8_t>(queued - 1));
    rt2_->queued = queued;
    SetTempo(m, m.song.tempo, m.song.shuffle);
    masterBpm_.store(m.song.tempo, std::memory_order_relaxed);
    beatsPerBar_.store(std::max(1, StepsPerMeasure() / 4), std::memory_order_relaxed);
}

void JackOutput::TakeCommands() {
    RealTime& r = *rt2_;
    Command c;
    while (commands_.Pop(c)) {
        // The transport steers instead.
        if (options_.sync != JackSync::Off && !r.midi.clockIn) continue;
        if (c == Command::Start && !r.playing) {
            // A MIDI clock that runs is joined at its next tick.
            if (r.midi.clockIn && r.inRunning)
                r.inPlace = true;
            else
                StartFree();
        }
        if (c == Command::Stop) {
            r.inPlace = false;
            if (r.playing) StopPlaying();
        }
    }
}

void JackOutput::Report(const JackReport& r) {
    reports_.Push(r);  // a full ring drops the report: the owner is far behind anyway
}

void JackOutput::StartFree() {
    RealTime& r = *rt2_;
    RewindClock(*rt_);
    PrepareStart(*rt_);
    r.playing = true;
    r.clocked = false;
    r.logStartTime = r.cycleTime;
    r.reportedSteps = 0;
    r.clockFrame = 0;
    if (r.midi.clockOut) {
        // The ticks follow the steps as they are mixed (SendStepClock).
        r.clockNext = 0;
        r.clockCue = 0xFA;
        r.clockRunning = true;
        r.pairStep = r.pairStart = r.pairLength = 0;
    }
    played_.store(0, std::memory_order_release);
    playing_.store(true, std::memory_order_release);
    JackReport s;
    s.kind = JackReport::Started;
    s.frameTime = r.cycleTime;
    Report(s);
}

void JackOutput::StopPlaying(std::uint32_t at) {
    SilenceVoices(*rt_);
    NotesOff(at);
    if (rt2_->clockRunning) Send(at, 0xFC, 1);
    rt2_->clockRunning = false;
    rt2_->playing = false;
    rt2_->clocked = false;
    rt2_->inPending = -1;
    rt2_->expectedFrame = -1;
    playing_.store(false, std::memory_order_release);
    JackReport s;
    s.kind = JackReport::Stopped;
    s.frameTime = rt2_->cycleTime + at;
    Report(s);
}

void JackOutput::Silence(std::uint32_t at, std::uint32_t frames) {
    for (float* buf : rt2_->buffers) std::fill(buf + at, buf + at + frames, 0.0f);
}

void JackOutput::MixChunk(std::uint32_t at, int frames, bool playing) {
    // Split where a pad hit comes in, which sounds from its frame on.
    while (frames > 0) {
        const int n = PlayPads(at, frames);
        if (n == frames) break;
        MixChunk(at, n, playing);
        at += static_cast<std::uint32_t>(n);
        frames -= n;
    }
    RealTime& r = *rt2_;
    ChannelTaps taps{};
    for (int c = 0; c < kChannels; ++c) {
        taps.left[c] = r.taps[c][0];
        taps.right[c] = r.taps[c][1];
    }
    MixBlockTapped(*rt_, r.out, taps, frames);
    TakeHits(at);
    for (int side = 0; side < 2; ++side) {
        float* main = r.buffers[side] + at;
        for (int f = 0; f < frames; ++f) main[f] = r.out[2 * f + side] / kFullScale;
        for (int c = 0; c < kChannels; ++c) {
            float* ch = r.buffers[2 + 2 * c + side] + at;
            const std::int32_t* tap = r.taps[c][side];
            for (int f = 0; f < frames; ++f) ch[f] = static_cast<float>(tap[f]) / kFullScale;
        }
    }
    if (playing) played_.fetch_add(frames, std::memory_order_acq_rel);
}

void JackOutput::MixFree(std::uint32_t at, std::uint32_t frames) {
    for (const std::uint32_t end = at + frames; at < end; at += kChunk)
        MixChunk(at, static_cast<int>(std::min<std::uint32_t>(kChunk, end - at)));
}

void JackOutput::ProcessSynced(std::uint32_t frames) {
    RealTime& r = *rt2_;
    jack_position_t pos{};
    const jack_transport_state_t state = jack_transport_query(client_, &pos);
    if (state != JackTransportRolling) {
        if (r.playing) StopPlaying();
        MixIdle(0, frames);
        return;
    }
    const Song& song = rt_->song;
    const std::int64_t frame = pos.frame;
    // Another client's bar, beat and tick place the steps; without one, the frame and
    // Q.Tam's own tempo do (and always as the master, whose position that is).
    const bool bbt = options_.sync == JackSync::Follow && (pos.valid & JackPositionBBT) != 0 &&
                     pos.ticks_per_beat > 0 && pos.beats_per_minute > 0 && pos.bar > 0;
    double bpm = song.tempo;
    if (bbt) {
        bpm = std::clamp(pos.beats_per_minute, double(kTempoMin), double(kTempoMax));
        if (pos.beats_per_minute != r.bpm || !r.fromMaster) {
            JackReport t;
            t.kind = JackReport::MasterTempo;
            t.bpm = pos.beats_per_minute;
            t.frameTime = r.cycleTime;
            Report(t);
        }
    }
    const bool retimed =
        (bbt ? pos.beats_per_minute != r.bpm : song.tempo != r.tempo) || song.shuffle != r.shuffle;
    // A few periods missed (an xrun) are played into nothing, so that the song goes on as
    // if they had been heard, rather than starting afresh as after a relocation.
    const std::int64_t missed = frame - r.expectedFrame;
    if (r.playing && bbt == r.fromMaster && !retimed && missed > 0 && missed <= kCatchUpFrames)
        CatchUp(r.expectedFrame, frame);
    const bool relocated = !r.playing || frame != r.expectedFrame || bbt != r.fromMaster;
    if (relocated || retimed) {
        r.grid = bbt ? GridThrough(rate_, bpm, song.shuffle, frame,
                                   StepsOfBbt(pos.bar, pos.beat, pos.tick, pos.ticks_per_beat,
                                              StepsPerMeasure()))
                     : StepGrid(rate_, bpm, song.shuffle);
        r.bpm = bbt ? pos.beats_per_minute : song.tempo;
        r.tempo = song.tempo;
        r.shuffle = song.shuffle;
        r.fromMaster = bbt;
        const bool starting = !r.playing;
        const bool wasClocking = r.clockRunning;
        Locate(frame, !relocated);
        r.clockGrid = r.grid;
        if (r.midi.clockOut && relocated) {
            const SongStep at = SongStepOf(r.k, StepsPerMeasure(),
                                           MeasureCountOf(rt_->song, rt_->clock.PlayPattern));
            if (wasClocking) Send(0, 0xFC, 1);
            StartClock(frame, r.grid.Begin(r.k) == frame && at.measure == 1 && at.step == 1);
        } else if (r.clockRunning && r.clockCue == 0) {
            r.clockNext = r.clockGrid.ClockTickFrom(frame);  // a new tempo: on from here
        }
        if (starting) {
            r.playing = true;
            played_.store(0, std::memory_order_release);
            playing_.store(true, std::memory_order_release);
            JackReport s;
            s.kind = JackReport::Started;
            s.frameTime = r.cycleTime;
            Report(s);
        }
    }
    r.expectedFrame = frame + frames;
    r.clockFrame = frame;
    MixSynced(frames, frame);
}

void JackOutput::CatchUp(std::int64_t from, std::int64_t to) {
    RealTime& r = *rt2_;
    constexpr int kPorts = 2 + 2 * kChannels;
    float* heard[kPorts];
    for (int p = 0; p < kPorts; ++p) {
        heard[p] = r.buffers[p];
        r.buffers[p] = r.discard;
    }
    // What was missed sends no notes and plays no pads.
    const int pads = r.padNext;
    r.padNext = r.padCount;
    rt_->triggers.on = false;
    for (std::int64_t t = from; t < to; t += kChunk)
        MixSynced(static_cast<std::uint32_t>(std::min<std::int64_t>(kChunk, to - t)), t);
    rt_->triggers.on = r.midi.notesOut;
    rt_->triggers.count = 0;
    r.padNext = pads;
    for (int p = 0; p < kPorts; ++p) r.buffers[p] = heard[p];
    r.expectedFrame = to;
}

void JackOutput::Locate(std::int64_t transportFrame, bool keepVoices) {
    RealTime& r = *rt2_;
    Machine& m = *rt_;
    if (!keepVoices) {
        SilenceVoices(m);
        m.clock.PlayPattern = m.clock.NextPattern = m.editor.CurrentPattern;
        m.clock.MainVolume = m.clock.MainVolumeTarget;
    }
    r.k = r.grid.StepAt(transportFrame);
    const std::int64_t begin = r.grid.Begin(r.k);
    const SongStep at =
        SongStepOf(r.k, StepsPerMeasure(), MeasureCountOf(m.song, m.clock.PlayPattern));
    PlaceClock(m, at.measure, at.step, static_cast<std::int32_t>(transportFrame - begin + 1));
    // A step that begins right here sounds; one already under way waits for the next.
    if (!keepVoices && begin == transportFrame) TriggerStep(m);
    UpdateVoiceRates(m);
    BeginStepStarts(m);
    r.logStartTime = r.cycleTime;
    r.reportedSteps = 0;
}

void JackOutput::MixSynced(std::uint32_t frames, std::int64_t transportFrame) {
    RealTime& r = *rt2_;
    PlayClock& k = rt_->clock;
    std::uint32_t at = 0;
    while (at < frames) {
        const std::int64_t t = transportFrame + at;
        const std::int64_t next = r.grid.Begin(r.k + 1);
        // The clock ends a step after StepLength - 1 frames: this one ends on the grid.
        k.StepLength[k.PlayStep] = static_cast<std::int32_t>(next - r.grid.Begin(r.k) + 1);
        const int n = static_cast<int>(
            std::min<std::int64_t>({frames - at, kChunk, std::max<std::int64_t>(next - t, 1)}));
        MixChunk(at, n);
        if (t + n >= next) r.k += 1;
        at += static_cast<std::uint32_t>(n);
    }
}

void JackOutput::ReportStepStarts() {
    RealTime& r = *rt2_;
    const StepStartLog& log = rt_->stepStarts;
    if (!r.playing) return;
    for (std::int64_t i = std::max(r.reportedSteps, log.count - StepStartLog::kSize); i < log.count;
         ++i) {
        const StepStart& s = log.starts[static_cast<std::size_t>(i % StepStartLog::kSize)];
        JackReport step;
        step.kind = JackReport::Step;
        step.pattern = s.pattern;
        step.measure = s.measure;
        step.step = s.step;
        step.frameTime = r.logStartTime + s.frame;
        Report(step);
    }
    r.reportedSteps = log.count;
}

void JackOutput::Timebase(std::uint32_t, void* position, bool) {
    auto* pos = static_cast<jack_position_t*>(position);
    const double bpm = masterBpm_.load(std::memory_order_relaxed);
    const int beatsPerBar = beatsPerBar_.load(std::memory_order_relaxed);
    const BarBeatTick b = BbtAtFrame(pos->frame, rate_, bpm, beatsPerBar, kTicksPerBeat);
    pos->valid = static_cast<jack_position_bits_t>(pos->valid | JackPositionBBT);
    pos->bar = b.bar;
    pos->beat = b.beat;
    pos->tick = b.tick;
    pos->bar_start_tick = b.barStartTick;
    pos->beats_per_bar = static_cast<float>(beatsPerBar);
    pos->beat_type = 4;
    pos->ticks_per_beat = kTicksPerBeat;
    pos->beats_per_minute = bpm;
}

}  // namespace qtam
