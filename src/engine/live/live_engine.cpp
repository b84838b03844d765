#include "engine/live/live_engine.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "engine/mixer.h"
#include "engine/play_clock.h"

namespace qtam {

namespace {

constexpr float kFullScale = 32768.0f;
const SoundTable kNoSounds{};  // before the first snapshot

// Whether a byte after the status byte of a channel message or Song Position Pointer has its
// high bit set.
bool HasStatusByteAsData(const MidiMessage& e) {
    const std::uint8_t status = e.bytes[0];
    if (status < 0xF0 || status == 0xF2)
        for (int i = 1; i < e.size && i < 3; ++i)
            if ((e.bytes[i] & 0x80) != 0) return true;
    return false;
}

}  // namespace

bool ParseTransportSync(const std::string& text, TransportSync& sync) {
    if (text == "off")
        sync = TransportSync::Off;
    else if (text == "follow")
        sync = TransportSync::Follow;
    else if (text == "master")
        sync = TransportSync::Master;
    else
        return false;
    return true;
}

const char* TransportSyncName(TransportSync sync) {
    switch (sync) {
        case TransportSync::Off:
            return "off";
        case TransportSync::Master:
            return "master";
        case TransportSync::Follow:
            break;
    }
    return "follow";
}

LiveEngine::LiveEngine() {
    Configure(44100, TransportSync::Follow);
}

LiveEngine::~LiveEngine() {
    sounds_.Release();
}

void LiveEngine::Configure(int rate, TransportSync sync) {
    rate_ = rate > 0 ? rate : 44100;
    sync_ = sync;
    rt_ = RealTime{};
    rt_.inTempo = ClockTempo(rate_);
    const bool published = player_.song != nullptr;
    player_ = Player{};
    player_.random = &random_;
    player_.clock.Rate = rate_;
    playingSounds_ = nullptr;
    playing_ = false;
    takeLost_ = 0;
    commands_.Clear();
    reports_.Clear();
    auditions_.Clear();
    audition_.Silence();
    metronome_.Prepare(rate_);
    countIn_ = {};
    ForgetReports();
    // Sounds and Song at once, so that the first block has both.
    TakeSounds();
    if (published) ApplySnapshot(snapshots_.Front());
    TakeSnapshot();
}

void LiveEngine::Publish(const Song& song, int editedPattern, int nextPattern, bool humanize,
                         int mainVolume) {
    Snapshot& s = snapshots_.Back();
    s.song = song;
    s.pattern = static_cast<std::uint8_t>(std::clamp(editedPattern, 1, kPatterns));
    s.nextPattern = static_cast<std::uint8_t>(std::clamp(nextPattern, 1, kPatterns));
    s.humanize = humanize;
    s.mainVolume = static_cast<std::int16_t>(mainVolume);
    s.midi = midi_;
    s.arrangement = arrangement_;
    s.songMode = songMode_ && !arrangement_.empty();
    s.startEntry = startEntry_;
    s.jumpSerial = jumpSerial_;
    s.jumpEntry = jumpEntry_;
    snapshots_.Publish();
}

void LiveEngine::SetArrangement(const Arrangement& arrangement, bool songMode, int startEntry) {
    arrangement_ = arrangement;
    songMode_ = songMode;
    startEntry_ = static_cast<std::uint16_t>(std::clamp(startEntry, 1, kMaxEntries));
}

void LiveEngine::JumpToEntry(int entry) {
    jumpEntry_ = static_cast<std::uint16_t>(std::clamp(entry, 0, kMaxEntries));
    jumpSerial_ += 1;
}

void LiveEngine::Start(bool countIn) {
    commands_.Push(countIn ? Command::StartCounted : Command::Start);
}

bool LiveEngine::Audition(int instrument, int velocity) {
    AuditionRequest a;
    a.instrument = static_cast<std::int16_t>(std::clamp(instrument, 0, 255));
    a.velocity = static_cast<std::uint8_t>(std::clamp(velocity, 1, 127));
    return auditions_.Push(a);
}

void LiveEngine::Stop() {
    commands_.Push(Command::Stop);
}

void LiveEngine::ForgetReports() {
    heardPlaying_ = false;
    heardCount_ = 0;
}

void LiveEngine::Poll(const std::function<void(const EngineReport&)>& handle) {
    EngineReport r;
    while (reports_.Pop(r)) {
        if (r.kind == EngineReport::Started || r.kind == EngineReport::Stopped) {
            heardPlaying_ = r.kind == EngineReport::Started;
            heardCount_ = 0;
        } else if (r.kind == EngineReport::Step) {
            heardSteps_[heardCount_++ % kHeardSteps] = r;
        }
        if (handle) handle(r);
    }
    sounds_.Collect();
}

PlayPosition LiveEngine::Heard(std::int64_t now) const {
    if (!heardPlaying_ || heardCount_ == 0) return {};
    const std::int64_t oldest = std::max<std::int64_t>(0, heardCount_ - kHeardSteps);
    for (std::int64_t i = heardCount_ - 1; i >= oldest; --i) {
        const EngineReport& s = heardSteps_[i % kHeardSteps];
        // Host frame times may wrap at 2^32: compared as a difference.
        if (static_cast<std::int32_t>(static_cast<std::uint32_t>(now - s.time)) < 0) continue;
        const std::int64_t next =
            i + 1 < heardCount_ ? heardSteps_[(i + 1) % kHeardSteps].time : -1;
        return {s.pattern, s.measure, s.step, s.time, next, s.entry, s.pass};
    }
    return {};
}

PlayPosition LiveEngine::StepNearest(std::int64_t hit) const {
    if (!heardPlaying_ || heardCount_ == 0) return {};
    const std::int64_t oldest = std::max<std::int64_t>(0, heardCount_ - kHeardSteps);
    // Host frame times may wrap at 2^32: each step counted from the hit.
    auto frameOf = [&](std::int64_t i) -> std::int64_t {
        const EngineReport& s = heardSteps_[(oldest + i) % kHeardSteps];
        return static_cast<std::int32_t>(static_cast<std::uint32_t>(s.time - hit));
    };
    const std::int64_t count = heardCount_ - oldest;
    // Until the step after the hit has been mixed, the nearest one is not known yet.
    if (frameOf(count - 1) <= 0) return {};
    const std::int64_t i = NearestStart(count, frameOf, 0);
    if (i < 0) return {};
    const EngineReport& s = heardSteps_[(oldest + i) % kHeardSteps];
    return {s.pattern, s.measure, s.step, s.time, -1, s.entry, s.pass};
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

void PadsToPlace::Add(const EngineReport& pad) {
    if (pad.kind == EngineReport::Pad && pad.channel >= 1 && pad.channel <= kChannels)
        waiting_.push_back({pad, 0});
}

void PadsToPlace::Place(
    const std::function<PlayPosition(std::int64_t time)>& nearest,
    const std::function<void(const PlayPosition& at, const EngineReport& pad)>& place) {
    std::erase_if(waiting_, [&](std::pair<EngineReport, int>& hit) {
        const PlayPosition at = nearest(hit.first.time);
        if (!at.known()) return ++hit.second > kPollsToPlace;
        place(at, hit.first);
        return true;
    });
}

BarBeatTick LiveEngine::TimebaseAt(std::int64_t frame, int& beatsPerBar, double& bpm) const {
    bpm = masterBpm_.load(std::memory_order_relaxed);
    beatsPerBar = beatsPerBar_.load(std::memory_order_relaxed);
    return BbtAtFrame(frame, rate_, bpm, beatsPerBar, kTicksPerBeat);
}

// ---- The real-time thread ----

void LiveEngine::Process(std::uint32_t frames, const HostPosition& position,
                         const MidiMessage* midiIn, int midiInCount, float* const* ports,
                         std::int16_t* main16) {
    RealTime& r = rt_;
    r.cycleTime = position.time;
    for (int p = 0; p < kPorts; ++p) r.buffers[p] = ports ? ports[p] : nullptr;
    r.main16 = main16;
    r.midiCount = 0;
    TakeSounds();
    TakeSnapshot();
    for (AuditionRequest a; auditions_.Pop(a);) audition_.Play(a, rate_);
    if (player_.song == nullptr || player_.sounds == nullptr) {  // nothing published yet
        Silence(0, frames);
        return;
    }
    r.frames = frames;
    for (int i = 0; i < r.carriedCount; ++i) r.midiOut[r.midiCount++] = r.carried[i];
    r.carriedCount = 0;
    ReadMidi(midiIn, midiInCount, frames);
    TriggerLog& hits = player_.triggers;
    hits.count = 0;
    hits.frame = 0;
    hits.on = r.midi.notesOut;
    TakeCommands();
    const bool own = sync_ == TransportSync::Off || r.midi.clockIn;
    if (r.midi.clockIn)
        ProcessClockIn(frames);
    else if (!own)
        ProcessSynced(frames, position);
    else if (r.playing)
        MixFree(0, frames);
    else if (countIn_.active)
        ProcessCountIn(frames);
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
    SortMidiOut();
}

void LiveEngine::TakeSounds() {
    const SoundSnapshot* s = sounds_.Acquire();
    if (s == playingSounds_) return;
    playingSounds_ = s;
    player_.sounds = s ? &s->byInstrument : &kNoSounds;
    if (player_.song != nullptr) UpdateVoiceRates(player_);
}

// ---- MIDI on the real-time thread ----

void LiveEngine::ReadMidi(const MidiMessage* in, int count, std::uint32_t frames) {
    RealTime& r = rt_;
    r.padCount = r.padNext = 0;
    r.clockByteCount = 0;
    for (int i = 0; in != nullptr && i < count; ++i) {
        const MidiMessage& e = in[i];
        if (e.size == 0) continue;
        const std::uint32_t at = std::min(e.frame, frames - 1);
        const std::uint8_t status = e.bytes[0];
        // A data byte with its high bit set is no data byte: the message is broken, and
        // nothing of it is guessed at.
        if (HasStatusByteAsData(e)) continue;
        const bool clock = status == 0xF8 || status == 0xFA || status == 0xFB || status == 0xFC ||
                           (status == 0xF2 && e.size >= 3);
        if (clock && r.midi.clockIn && r.clockByteCount < RealTime::kClockBytes) {
            RealTime::ClockByte& c = r.clockBytes[r.clockByteCount++];
            c.frame = at;
            std::copy_n(e.bytes, status == 0xF2 ? 3 : 1, c.bytes);
            continue;
        }
        if (e.size >= 2 && (status & 0xF0) == 0xC0 && r.midi.programIn && player_.songMode) {
            // Song mode: the program names an entry, heard from the end of the measure.
            const int entry = (e.bytes[1] & 0x7F) + 1;
            if (entry > player_.arrangement->count) continue;
            if (r.playing && player_.clock.Entry != 0)
                player_.clock.JumpEntry = static_cast<std::uint16_t>(entry);
            EngineReport program;
            program.kind = EngineReport::Program;
            program.pattern = player_.arrangement->entry(entry).pattern;
            program.entry = static_cast<std::uint16_t>(entry);
            program.time = r.cycleTime + e.frame;
            Report(program);
            continue;
        }
        if (e.size >= 2 && (status & 0xF0) == 0xC0 && e.bytes[1] < kPatterns && r.midi.programIn) {
            EngineReport program;
            program.kind = EngineReport::Program;
            program.pattern = static_cast<std::uint8_t>(e.bytes[1] + 1);
            program.time = r.cycleTime + e.frame;
            Report(program);
            continue;
        }
        if (e.size < 3 || r.padCount >= 64) continue;
        if ((status & 0xF0) != 0x90 || e.bytes[2] == 0) continue;  // note-ons only
        EngineReport pad;
        pad.kind = EngineReport::Pad;
        pad.note = e.bytes[1] & 0x7F;
        pad.velocity = e.bytes[2];
        pad.time = r.cycleTime + e.frame;
        for (int c = 0; c < kChannels; ++c) {
            if (r.midi.notes[static_cast<std::size_t>(c)] != pad.note) continue;
            // Played at the frame it came in on, one block later: no jitter.
            r.pads[r.padCount++] = {at, static_cast<std::uint8_t>(c + 1), e.bytes[2]};
            pad.channel = static_cast<std::uint8_t>(c + 1);
            break;
        }
        Report(pad);  // a note no channel has too: a learning note table takes it
    }
}

void LiveEngine::SortMidiOut() {
    RealTime& r = rt_;
    // In frame order, as hosts want them; a stable insertion sort keeps offs before ons.
    for (int i = 1; i < r.midiCount; ++i) {
        const MidiMessage m = r.midiOut[i];
        int j = i;
        for (; j > 0 && r.midiOut[j - 1].frame > m.frame; --j) r.midiOut[j] = r.midiOut[j - 1];
        r.midiOut[j] = m;
    }
}

int LiveEngine::PlayPads(std::uint32_t at, int limit) {
    RealTime& r = rt_;
    while (r.padNext < r.padCount && r.pads[r.padNext].frame <= at) {
        const PadHit& p = r.pads[r.padNext++];
        if (!r.playing) player_.clock.PlayPattern = player_.startPattern;
        TriggerPad(player_, p.channel, p.velocity);
    }
    if (r.padNext < r.padCount)
        return std::min<int>(limit, static_cast<int>(r.pads[r.padNext].frame - at));
    return limit;
}

void LiveEngine::Send(std::uint32_t frame, std::uint8_t a, int size, std::uint8_t b,
                      std::uint8_t c) {
    RealTime& r = rt_;
    MidiMessage m;
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
    if (r.midiCount < kMaxMidiOut) r.midiOut[r.midiCount++] = m;
}

void LiveEngine::NotesOff(std::uint32_t frame) {
    RealTime& r = rt_;
    for (std::uint8_t& note : r.held) {
        if (note == 0) continue;
        Send(frame, static_cast<std::uint8_t>(0x80 | r.heldChannel), 3, note - 1, 64);
        note = 0;
    }
}

void LiveEngine::TakeHits(std::uint32_t at) {
    RealTime& r = rt_;
    TriggerLog& log = player_.triggers;
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

void LiveEngine::StartClock(std::int64_t from, bool fromStart) {
    RealTime& r = rt_;
    // Resumed on a sixteenth, which Song Position Pointer names.
    std::int64_t j = r.clockGrid.ClockTickFrom(from);
    j += (6 - j % 6) % 6;
    r.clockNext = j;
    r.clockCue = fromStart ? 0xFA : 0xFB;
    r.clockRunning = true;
}

void LiveEngine::SendClock(std::uint32_t frames) {
    RealTime& r = rt_;
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

void LiveEngine::SendTick(std::uint32_t at) {
    RealTime& r = rt_;
    if (r.clockCue == 0xFB) {
        const auto sixteenths = static_cast<std::uint32_t>(r.clockNext / 6) & 0x3FFF;
        Send(at, 0xF2, 3, sixteenths & 0x7F, static_cast<std::uint8_t>(sixteenths >> 7));
    }
    if (r.clockCue != 0) Send(at, static_cast<std::uint8_t>(r.clockCue), 1);
    r.clockCue = 0;
    Send(at, 0xF8, 1);
    r.clockNext += 1;
}

void LiveEngine::SendStepClock(std::uint32_t frames) {
    RealTime& r = rt_;
    const StepStartLog& log = player_.stepStarts;
    const PlayClock& k = player_.clock;
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

void LiveEngine::SendPairTicks(std::int64_t before, std::int64_t until, bool flush) {
    RealTime& r = rt_;
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

void LiveEngine::MixIdle(std::uint32_t at, std::uint32_t frames) {
    RealTime& r = rt_;
    bool sounding = r.padNext < r.padCount || audition_.Sounding() || metronome_.Sounding();
    for (int c = 1; c <= kChannels; ++c) sounding = sounding || player_.voice(c).active;
    if (!sounding) {
        Silence(at, frames);
        return;
    }
    for (const std::uint32_t end = at + frames; at < end; at += kChunk) {
        player_.clock.StepCounter = 1;  // the clock stands still: only the voices move
        MixChunk(at, static_cast<int>(std::min<std::uint32_t>(kChunk, end - at)), false);
    }
}

int LiveEngine::StepsPerMeasure() const {
    return StepsPerMeasureOf(*player_.song);
}

void LiveEngine::TakeSnapshot() {
    if (snapshots_.Fetch()) ApplySnapshot(snapshots_.Front());
}

void LiveEngine::ApplySnapshot(const Snapshot& s) {
    Player& m = player_;
    m.song = &s.song;  // the front slot stays until the next Fetch
    m.arrangement = &s.arrangement;
    m.songMode = s.songMode;
    m.startEntry = s.startEntry;
    // Song mode switched off while playing: the patterns loop on from here.
    if (!m.songMode && m.clock.Entry != 0) LeaveSongMode(m);
    if (s.jumpSerial != rt_.jumpSerial) {
        rt_.jumpSerial = s.jumpSerial;
        if (rt_.playing && m.clock.Entry != 0 && s.jumpEntry >= 1 &&
            s.jumpEntry <= s.arrangement.count)
            m.clock.JumpEntry = s.jumpEntry;
    }
    m.startPattern = s.pattern;
    m.humanize = s.humanize;
    m.clock.NextPattern = rt_.playing ? s.pattern : s.nextPattern;
    m.clock.MainVolumeTarget = s.mainVolume;
    if (!rt_.playing) m.clock.MainVolume = s.mainVolume;
    rt_.midi = s.midi;
    rt_.midi.channel = std::clamp(s.midi.channel, 1, 16);
    const int queued = m.clock.NextPattern;
    if (rt_.midi.programOut && queued != rt_.queued && rt_.queued != 0)
        Send(0, static_cast<std::uint8_t>(0xC0 | (rt_.midi.channel - 1)), 2,
             static_cast<std::uint8_t>(queued - 1));
    rt_.queued = queued;
    SetTempo(m, m.song->tempo, m.song->shuffle);
    masterBpm_.store(m.song->tempo, std::memory_order_relaxed);
    beatsPerBar_.store(std::max(1, StepsPerMeasure() / 4), std::memory_order_relaxed);
}

void LiveEngine::TakeCommands() {
    RealTime& r = rt_;
    Command c;
    while (commands_.Pop(c)) {
        // The transport steers instead.
        if (sync_ != TransportSync::Off && !r.midi.clockIn) continue;
        if (c != Command::Stop && !r.playing && !countIn_.active) {
            // A MIDI clock that runs is joined at its next tick.
            if (r.midi.clockIn && r.inRunning)
                r.inPlace = true;
            else if (c == Command::StartCounted && !r.midi.clockIn)
                BeginCountIn(false);
            else
                StartFree();
        }
        if (c == Command::Stop) {
            r.inPlace = false;
            countIn_.active = false;
            if (r.playing) StopPlaying();
        }
    }
}

void LiveEngine::Report(const EngineReport& r) {
    reports_.Push(r);  // a full ring drops the report: the owner is far behind anyway
}

void LiveEngine::StartFree(std::uint32_t at) {
    RealTime& r = rt_;
    RewindClock(player_);
    PrepareStart(player_);
    r.playing = true;
    r.clocked = false;
    r.logStartTime = r.cycleTime + at;
    r.reportedSteps = 0;
    r.clockFrame = -static_cast<std::int64_t>(at);
    if (r.midi.clockOut) {
        // The ticks follow the steps as they are mixed (SendStepClock).
        r.clockNext = 0;
        r.clockCue = 0xFA;
        r.clockRunning = true;
        r.pairStep = r.pairStart = r.pairLength = 0;
    }
    BeginPlaying(at);
}

void LiveEngine::BeginCountIn(bool fromPlayer) {
    const Song& song = *player_.song;
    countIn_.active = true;
    countIn_.fromPlayer = fromPlayer;
    countIn_.measure = CountInOf(rate_, song.tempo, song.shuffle, StepsPerMeasure());
    countIn_.done = 0;
}

void LiveEngine::ProcessCountIn(std::uint32_t frames) {
    CountingIn& c = countIn_;
    std::uint32_t at = 0;
    // In runs that end on a beat, so that every click lands on its own frame.
    while (at < frames && c.active) {
        std::int64_t until = c.measure.length;
        for (int b = 0; b < c.measure.beats; ++b) {
            const std::int64_t beat = c.measure.beat[static_cast<std::size_t>(b)];
            if (beat == c.done) metronome_.Click(0, b == 0);
            if (beat > c.done) until = std::min(until, beat);
        }
        const auto n =
            static_cast<std::uint32_t>(std::min<std::int64_t>(frames - at, until - c.done));
        MixIdle(at, n);
        at += n;
        c.done += n;
        if (c.done < c.measure.length) continue;
        c.active = false;
        if (!c.fromPlayer) {
            StartFree(at);
        } else {
            PrepareStart(player_);
            rt_.clocked = false;
            rt_.logStartTime = rt_.cycleTime + at;
            rt_.reportedSteps = 0;
            rt_.clockFrame = -static_cast<std::int64_t>(at);
            BeginPlaying(at);
        }
    }
    if (at < frames) MixFree(at, frames - at);
}

void LiveEngine::StartFrom(const Player& from, bool countIn) {
    TakeSounds();
    TakeSnapshot();
    StopHere();
    countIn_.active = false;
    player_.clock = from.clock;
    player_.voices = from.voices;
    if (countIn) {
        BeginCountIn(true);
        return;
    }
    PrepareStart(player_);
    rt_.clocked = false;
    rt_.logStartTime = rt_.cycleTime;
    rt_.reportedSteps = 0;
    rt_.clockFrame = 0;
    BeginPlaying(0);
}

void LiveEngine::StopHere() {
    countIn_.active = false;
    if (rt_.playing) StopPlaying();
}

void LiveEngine::MirrorTo(Player& to) const {
    to.clock = player_.clock;
    to.voices = player_.voices;
}

void LiveEngine::BeginPlaying(std::uint32_t at) {
    rt_.playing = true;
    playing_.store(true, std::memory_order_release);
    EngineReport s;
    s.kind = EngineReport::Started;
    s.time = rt_.cycleTime + at;
    Report(s);
}

void LiveEngine::StopPlaying(std::uint32_t at) {
    SilenceVoices(player_);
    NotesOff(at);
    if (rt_.clockRunning) Send(at, 0xFC, 1);
    rt_.clockRunning = false;
    rt_.playing = false;
    rt_.clocked = false;
    rt_.inPending = -1;
    rt_.expectedFrame = -1;
    playing_.store(false, std::memory_order_release);
    EngineReport s;
    s.kind = EngineReport::Stopped;
    s.time = rt_.cycleTime + at;
    Report(s);
}

void LiveEngine::Silence(std::uint32_t at, std::uint32_t frames) {
    for (float* buf : rt_.buffers)
        if (buf) std::fill(buf + at, buf + at + frames, 0.0f);
    if (rt_.main16) std::fill_n(rt_.main16 + 2 * at, 2 * frames, std::int16_t{0});
}

void LiveEngine::MixChunk(std::uint32_t at, int frames, bool playing) {
    // Split where a pad hit comes in, which sounds from its frame on.
    while (frames > 0) {
        const int n = PlayPads(at, frames);
        if (n == frames) break;
        MixChunk(at, n, playing);
        at += static_cast<std::uint32_t>(n);
        frames -= n;
    }
    RealTime& r = rt_;
    const std::int64_t chunkFirst = player_.stepStarts.mixedFrames;
    if (r.buffers[2] != nullptr) {
        ChannelTaps taps{};
        for (int c = 0; c < kChannels; ++c) {
            taps.left[c] = r.taps[c][0];
            taps.right[c] = r.taps[c][1];
        }
        MixBlockTapped(player_, r.out, taps, frames);
    } else {
        MixBlock(player_, r.out, frames);  // no channel ports: the same main mix, cheaper
    }
    TakeHits(at);
    if (playing && recording_.load(std::memory_order_acquire) &&
        !take_.Write(r.out, 2 * static_cast<std::size_t>(frames)))
        takeLost_.fetch_add(frames, std::memory_order_relaxed);
    // Only the host hears the clicks and auditions: the take above is the song alone.
    if (playing) metronome_.FollowSteps(player_.stepStarts, chunkFirst);
    metronome_.AddTo(r.out, frames);
    audition_.AddTo(*player_.sounds, r.out, frames);
    if (r.main16) std::copy_n(r.out, 2 * frames, r.main16 + 2 * at);
    for (int side = 0; side < 2; ++side) {
        if (float* main = r.buffers[side])
            for (int f = 0; f < frames; ++f) main[at + f] = r.out[2 * f + side] / kFullScale;
        for (int c = 0; c < kChannels; ++c) {
            float* ch = r.buffers[2 + 2 * c + side];
            if (ch == nullptr) continue;
            const std::int32_t* tap = r.taps[c][side];
            for (int f = 0; f < frames; ++f) ch[at + f] = static_cast<float>(tap[f]) / kFullScale;
        }
    }
    if (playing) played_.fetch_add(frames, std::memory_order_acq_rel);
}

void LiveEngine::MixFree(std::uint32_t at, std::uint32_t frames) {
    for (const std::uint32_t end = at + frames; at < end; at += kChunk) {
        const auto n = std::min<std::uint32_t>(kChunk, end - at);
        MixChunk(at, static_cast<int>(n));
        if (RungOut()) {  // the arrangement has ended and its sounds with it
            StopPlaying(at + n);
            MixIdle(at + n, end - at - n);
            return;
        }
    }
}

bool LiveEngine::RungOut() const {
    if (!player_.clock.Ended) return false;
    for (int c = 1; c <= kChannels; ++c)
        if (player_.voice(c).active) return false;
    return true;
}

void LiveEngine::PlaceAtStep(std::int64_t k, std::int32_t counter) {
    Player& m = player_;
    const int steps = StepsPerMeasure();
    const SongStep at = SongStepOf(k, steps, MeasureCountOf(*m.song, m.clock.PlayPattern));
    if (m.songMode) {
        const std::int64_t measure = (k - (at.step - 1)) / steps;
        if (!PlaceInArrangement(m, measure)) return;  // past the end of a list that stops
        PlaceClock(m, m.clock.PlayMeasure, at.step, counter);
        return;
    }
    LeaveSongMode(m);
    PlaceClock(m, at.measure, at.step, counter);
}

bool LiveEngine::AtSongStart(std::int64_t k) const {
    if (player_.songMode) return k == 0;
    const SongStep at =
        SongStepOf(k, StepsPerMeasure(), MeasureCountOf(*player_.song, player_.clock.PlayPattern));
    return at.measure == 1 && at.step == 1;
}

void LiveEngine::ProcessSynced(std::uint32_t frames, const HostPosition& pos) {
    RealTime& r = rt_;
    if (!pos.rolling) {
        if (r.playing) r.masterBars.stoppedAt = pos.frame;
        if (r.playing) StopPlaying();
        MixIdle(0, frames);
        return;
    }
    const Song& song = *player_.song;
    const std::int64_t frame = pos.frame;
    // Another client's bar, beat and tick place the steps; without one, the frame and
    // Q.Tam's own tempo do (and always as the master, whose position that is).
    const bool bbt = (sync_ == TransportSync::Follow || pos.timebaseTaken) && pos.bbt &&
                     pos.ticksPerBeat > 0 && pos.bpm > 0 && pos.bar > 0;
    double bpm = song.tempo;
    if (bbt) {
        bpm = std::clamp(pos.bpm, double(kTempoMin), double(kTempoMax));
        if (pos.bpm != r.bpm || !r.fromMaster) {
            EngineReport t;
            t.kind = EngineReport::MasterTempo;
            t.bpm = pos.bpm;
            t.time = r.cycleTime;
            Report(t);
        }
    }
    // Found to spread its tick over the bar: placed afresh from its bar and the frame.
    const bool barsFound = bbt && FindMasterBars(pos);
    const bool retimed =
        barsFound || (bbt ? pos.bpm != r.bpm : song.tempo != r.tempo) || song.shuffle != r.shuffle;
    // A few periods missed (an xrun) are played into nothing, so that the song goes on as
    // if they had been heard, rather than starting afresh as after a relocation.
    const std::int64_t missed = frame - r.expectedFrame;
    if (r.playing && bbt == r.fromMaster && !retimed && missed > 0 && missed <= kCatchUpFrames)
        CatchUp(r.expectedFrame, frame);
    const bool relocated = !r.playing || frame != r.expectedFrame || bbt != r.fromMaster;
    if (relocated || retimed) {
        r.grid = !bbt ? StepGrid(rate_, bpm, song.shuffle)
                 : r.masterBars.found
                     ? GridOfMasterBars(pos, bpm, song.shuffle, relocated)
                     : GridThrough(rate_, bpm, song.shuffle, frame,
                                   StepsOfBbt(pos.bar, pos.beat, pos.tick, pos.ticksPerBeat,
                                              StepsPerMeasure()));
        r.bpm = bbt ? pos.bpm : song.tempo;
        r.tempo = song.tempo;
        r.shuffle = song.shuffle;
        r.fromMaster = bbt;
        const bool starting = !r.playing;
        const bool wasClocking = r.clockRunning;
        Locate(frame, !relocated);
        r.clockGrid = r.grid;
        if (r.midi.clockOut && relocated) {
            if (wasClocking) Send(0, 0xFC, 1);
            StartClock(frame, r.grid.Begin(r.k) == frame && AtSongStart(r.k));
        } else if (r.clockRunning && r.clockCue == 0) {
            r.clockNext = r.clockGrid.ClockTickFrom(frame);  // a new tempo: on from here
        }
        if (starting) BeginPlaying(0);
    }
    r.expectedFrame = frame + frames;
    r.clockFrame = frame;
    MixSynced(frames, frame);
}

void LiveEngine::CatchUp(std::int64_t from, std::int64_t to) {
    RealTime& r = rt_;
    float* heard[kPorts];
    for (int p = 0; p < kPorts; ++p) {
        heard[p] = r.buffers[p];
        r.buffers[p] = r.discard;
    }
    std::int16_t* heard16 = r.main16;
    r.main16 = nullptr;
    // What was missed sends no notes and plays no pads.
    const int pads = r.padNext;
    r.padNext = r.padCount;
    player_.triggers.on = false;
    for (std::int64_t t = from; t < to; t += kChunk)
        MixSynced(static_cast<std::uint32_t>(std::min<std::int64_t>(kChunk, to - t)), t);
    player_.triggers.on = r.midi.notesOut;
    player_.triggers.count = 0;
    r.padNext = pads;
    for (int p = 0; p < kPorts; ++p) r.buffers[p] = heard[p];
    r.main16 = heard16;
    r.expectedFrame = to;
}

void LiveEngine::Locate(std::int64_t transportFrame, bool keepVoices) {
    RealTime& r = rt_;
    Player& m = player_;
    if (!keepVoices) {
        SilenceVoices(m);
        m.clock.PlayPattern = m.clock.NextPattern = m.startPattern;
        m.clock.MainVolume = m.clock.MainVolumeTarget;
    }
    r.k = r.grid.StepAt(transportFrame);
    const std::int64_t begin = r.grid.Begin(r.k);
    PlaceAtStep(r.k, static_cast<std::int32_t>(transportFrame - begin + 1));
    // A step that begins right here sounds; one already under way waits for the next.
    if (!keepVoices && begin == transportFrame && !m.clock.Ended) TriggerStep(m);
    UpdateVoiceRates(m);
    BeginStepStarts(m);
    r.logStartTime = r.cycleTime;
    r.reportedSteps = 0;
}

void LiveEngine::MixSynced(std::uint32_t frames, std::int64_t transportFrame) {
    RealTime& r = rt_;
    PlayClock& k = player_.clock;
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

void LiveEngine::ReportStepStarts() {
    RealTime& r = rt_;
    const StepStartLog& log = player_.stepStarts;
    if (!r.playing) return;
    for (std::int64_t i = std::max(r.reportedSteps, log.count - StepStartLog::kSize); i < log.count;
         ++i) {
        const StepStart& s = log.starts[static_cast<std::size_t>(i % StepStartLog::kSize)];
        EngineReport step;
        step.kind = EngineReport::Step;
        step.pattern = s.pattern;
        step.measure = s.measure;
        step.step = s.step;
        step.entry = s.entry;
        step.pass = s.pass;
        step.time = r.logStartTime + s.frame;
        Report(step);
    }
    r.reportedSteps = log.count;
}

}  // namespace qtam
