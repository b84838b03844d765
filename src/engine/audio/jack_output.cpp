#include "engine/audio/jack_output.h"

#include <jack/jack.h>
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
    rt_->clock.Rate = rate_;
    ResetTransport(*rt_);
    Publish();

    auto reg = [this](const std::string& name) {
        return jack_port_register(client_, name.c_str(), JACK_DEFAULT_AUDIO_TYPE, JackPortIsOutput,
                                  0);
    };
    mainPorts_[0] = reg("main_L");
    mainPorts_[1] = reg("main_R");
    bool ok = mainPorts_[0] && mainPorts_[1];
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
    if (options.sync == JackSync::Master &&
        jack_set_timebase_callback(client_, 0, OnTimebase, this) != 0) {
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
    if (options_.sync == JackSync::Master && !lost_) jack_release_timebase(client_);
    jack_client_close(client_);  // the process callback has ended when this returns
    client_ = nullptr;
    mainPorts_[0] = mainPorts_[1] = nullptr;
    for (auto& pair : channelPorts_) pair[0] = pair[1] = nullptr;
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
    snapshots_.Publish();
}

void JackOutput::Start() {
    if (client_ == nullptr) return;
    if (options_.sync == JackSync::Off)
        commands_.Push(Command::Start);
    else
        jack_transport_start(client_);
}

void JackOutput::Stop() {
    if (client_ == nullptr) return;
    if (options_.sync == JackSync::Off)
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
    TakeSnapshot();
    TakeCommands();
    if (options_.sync == JackSync::Off) {
        if (r.playing)
            MixFree(frames);
        else
            Silence(frames);
    } else {
        ProcessSynced(frames);
    }
    ReportStepStarts();
    return 0;
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
    SetTempo(m, m.song.tempo, m.song.shuffle);
    masterBpm_.store(m.song.tempo, std::memory_order_relaxed);
    beatsPerBar_.store(std::max(1, StepsPerMeasure() / 4), std::memory_order_relaxed);
}

void JackOutput::TakeCommands() {
    Command c;
    while (commands_.Pop(c)) {
        if (options_.sync != JackSync::Off) continue;  // the transport steers instead
        if (c == Command::Start && !rt2_->playing) StartFree();
        if (c == Command::Stop && rt2_->playing) StopPlaying();
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
    r.logStartTime = r.cycleTime;
    r.reportedSteps = 0;
    played_.store(0, std::memory_order_release);
    playing_.store(true, std::memory_order_release);
    JackReport s;
    s.kind = JackReport::Started;
    s.frameTime = r.cycleTime;
    Report(s);
}

void JackOutput::StopPlaying() {
    SilenceVoices(*rt_);
    rt2_->playing = false;
    rt2_->expectedFrame = -1;
    playing_.store(false, std::memory_order_release);
    JackReport s;
    s.kind = JackReport::Stopped;
    s.frameTime = rt2_->cycleTime;
    Report(s);
}

void JackOutput::Silence(std::uint32_t frames) {
    for (float* buf : rt2_->buffers) std::fill(buf, buf + frames, 0.0f);
}

void JackOutput::MixChunk(std::uint32_t at, int frames) {
    RealTime& r = *rt2_;
    ChannelTaps taps{};
    for (int c = 0; c < kChannels; ++c) {
        taps.left[c] = r.taps[c][0];
        taps.right[c] = r.taps[c][1];
    }
    MixBlockTapped(*rt_, r.out, taps, frames);
    for (int side = 0; side < 2; ++side) {
        float* main = r.buffers[side] + at;
        for (int f = 0; f < frames; ++f) main[f] = r.out[2 * f + side] / kFullScale;
        for (int c = 0; c < kChannels; ++c) {
            float* ch = r.buffers[2 + 2 * c + side] + at;
            const std::int32_t* tap = r.taps[c][side];
            for (int f = 0; f < frames; ++f) ch[f] = static_cast<float>(tap[f]) / kFullScale;
        }
    }
    played_.fetch_add(frames, std::memory_order_acq_rel);
}

void JackOutput::MixFree(std::uint32_t frames) {
    for (std::uint32_t at = 0; at < frames; at += kChunk)
        MixChunk(at, static_cast<int>(std::min<std::uint32_t>(kChunk, frames - at)));
}

void JackOutput::ProcessSynced(std::uint32_t frames) {
    RealTime& r = *rt2_;
    jack_position_t pos{};
    const jack_transport_state_t state = jack_transport_query(client_, &pos);
    if (state != JackTransportRolling) {
        if (r.playing) StopPlaying();
        Silence(frames);
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
        Locate(frame, !relocated);
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
    for (std::int64_t t = from; t < to; t += kChunk)
        MixSynced(static_cast<std::uint32_t>(std::min<std::int64_t>(kChunk, to - t)), t);
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
