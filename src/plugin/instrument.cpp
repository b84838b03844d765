#include "plugin/instrument.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#include "banks/userbank_file.h"
#include "core/arrangement.h"
#include "core/machine.h"
#include "engine/step_grid.h"
#include "plugin/embedded.h"
#include "song/panel_edits.h"
#include "song/song_editor.h"
#include "song/song_file.h"

namespace qtam::plugin {

namespace {

constexpr auto kOwnerRound = std::chrono::milliseconds(5);

}  // namespace

void HostTransport::Advance(std::uint32_t frames, double rate) {
    if (!known || !rolling) return;
    frame += frames;
    if (!bbt || ticksPerBeat <= 0 || bpm <= 0 || rate <= 0) return;
    tick += frames * bpm / 60.0 / rate * ticksPerBeat;
    const double beats = std::floor(tick / ticksPerBeat);
    tick -= beats * ticksPerBeat;
    const std::int64_t beatIndex = static_cast<std::int64_t>(beat - 1) + std::int64_t(beats);
    const int per = std::max(beatsPerBar, 1);
    bar += static_cast<std::int32_t>(beatIndex / per);
    beat = static_cast<std::int32_t>(beatIndex % per) + 1;
}

Instrument::Instrument(double rate) : m_(std::make_unique<Machine>()) {
    editor_ = std::make_unique<SongEditor>(*m_);
    for (int i = 0; i < kParamCount; ++i) {
        params_[i].store(ParamInfoOf(i).def, std::memory_order_relaxed);
        applied_[i] = ParamInfoOf(i).def;
    }
    // The built-in kit and the demo song travel inside the plugin: a new instance sounds at
    // once, wherever its bundle lies.
    if (auto kit = ParseBank(EmbeddedKit(), m_->banks.internalBank.capacity))
        InstallBank(m_->banks.internalBank, *kit);
    m_->activation.InternalBankLoaded = true;
    LoadSongBytes(*m_, EmbeddedDemoSong());
    editor_->TakeSong();
    editor_->Listen([this](SongChange what) {
        if (editListener_) editListener_(what);
    });
    MidiSettings midi;
    midi.programIn = true;
    engine_.SetMidi(midi);
    Activate(rate);
    owner_ = std::thread([this] { OwnerLoop(); });
}

Instrument::~Instrument() {
    {
        std::lock_guard<std::mutex> g(wakeLock_);
        quit_ = true;
    }
    wake_.notify_all();
    owner_.join();
}

void Instrument::Activate(double rate) {
    std::lock_guard<std::mutex> g(lock_);
    rate_ = rate;
    rateHz_.store(static_cast<int>(std::lround(rate)), std::memory_order_relaxed);
    engine_.Configure(static_cast<int>(std::lround(rate)), TransportSync::Follow);
    Publish();
}

void Instrument::SetParam(int index, float value) {
    if (index < 0 || index >= kParamCount) return;
    const ParamInfo info = ParamInfoOf(index);
    value = std::clamp(value, info.min, info.max);
    if (info.integer) value = std::round(value);
    params_[index].store(value, std::memory_order_relaxed);
}

float Instrument::Param(int index) const {
    if (index < 0 || index >= kParamCount) return 0;
    return params_[index].load(std::memory_order_relaxed);
}

void Instrument::Process(std::uint32_t frames, const HostTransport& host, const MidiMessage* midiIn,
                         int midiInCount, float* const* ports) {
    HostPosition at;
    at.time = time_;
    const bool hostRolls = host.known && host.rolling;
    const bool own = !hostRolls && params_[kPlay].load(std::memory_order_acquire) >= 0.5f;
    if (own) {
        // No transport rolls: the instrument's own, from the pattern's start at Play (or the
        // arrangement entry asked for).
        if (!ownPlaying_) ownFrame_ = ownStart_.exchange(0, std::memory_order_relaxed);
        at.rolling = true;
        at.frame = ownFrame_;
        ownFrame_ += frames;
    } else {
        at.rolling = hostRolls;
        at.frame = host.frame;
        at.bbt = host.bbt;
        at.bar = host.bar;
        at.beat = host.beat;
        at.tick = host.tick;
        at.ticksPerBeat = host.ticksPerBeat;
        at.bpm = host.bpm;
    }
    ownPlaying_ = own;
    hostRolls_.store(hostRolls, std::memory_order_relaxed);
    playing_.store(at.rolling, std::memory_order_relaxed);
    engine_.Process(frames, at, midiIn, midiInCount, ports);
    time_ += frames;
}

std::vector<std::uint8_t> Instrument::SongBytes() {
    std::lock_guard<std::mutex> g(lock_);
    return SongFileBytes(*m_);
}

std::vector<std::uint8_t> Instrument::UserbankBytes() {
    std::lock_guard<std::mutex> g(lock_);
    if (m_->activation.UserbankPath.empty() && !m_->activation.UserbankLoaded) return {};
    return BankFileBytes(m_->banks.userbank);
}

bool Instrument::Restore(std::span<const std::uint8_t> song, std::span<const std::uint8_t> userbank,
                         std::span<const float> params) {
    // Under the lock from here: a round between the state's values and its song would apply
    // them to the song before, and then take the new song's values over them.
    std::lock_guard<std::mutex> g(lock_);
    std::optional<BankImage> bank;
    if (!userbank.empty()) {
        bank = ParseBank(userbank, m_->banks.userbank.capacity);
        if (!bank) return false;
    }
    if (!LoadSongBytes(*m_, song)) return false;
    for (std::size_t i = 0; i < params.size() && i < kParamCount; ++i)
        SetParam(static_cast<int>(i), params[i]);
    if (bank) {
        InstallBank(m_->banks.userbank, *bank);
        m_->activation.UserbankLoaded = true;
    } else {
        ClearUserbank(*m_);
        m_->activation.UserbankLoaded = false;
    }
    editor_->TakeSong();
    // The pattern the host holds is the one to edit and play, and the parameters the state
    // brought are in force from its first block.
    ChoosePattern(*m_, static_cast<int>(applied_[kPattern]));
    ApplyChangedParams();
    Publish();
    if (songParamsMoved_ && TakeSongParams()) songParamsMoved_();
    return true;
}

void Instrument::Publish() {
    const PlayClock& k = m_->player.clock;
    MidiSettings midi = engine_.Midi();
    midi.clockOut = applied_[kClockOut] >= 0.5f;
    engine_.SetMidi(midi);
    engine_.SetArrangement(m_->arrangement, m_->editor.SongMode);
    engine_.Publish(m_->song, m_->editor.CurrentPattern, k.NextPattern, m_->editor.HumanizeChecked,
                    k.MainVolumeTarget);
    engine_.PublishSounds(m_->banks);
}

bool Instrument::ApplyChangedParams() {
    bool changed = false;
    for (int i = 0; i < kParamCount; ++i) {
        const float value = params_[i].load(std::memory_order_relaxed);
        if (value == applied_[i]) continue;
        applied_[i] = value;
        ApplyParam(i, value);
        changed = true;
    }
    return changed;
}

void Instrument::Idle() {
    std::lock_guard<std::mutex> g(lock_);
    Round();
}

bool Instrument::SetPlay(bool on) {
    if (hostRolls_.load(std::memory_order_relaxed)) return false;
    SetParam(kPlay, on ? 1.0f : 0.0f);
    return true;
}

bool Instrument::Playing() const {
    return hostRolls_.load(std::memory_order_relaxed) || Param(kPlay) >= 0.5f;
}

void Instrument::PlayFromEntry(int entry) {
    std::lock_guard<std::mutex> g(lock_);
    if (entry < 1 || entry > m_->arrangement.count) return;
    m_->editor.SongMode = true;
    applied_[kSongMode] = 1;
    params_[kSongMode].store(1, std::memory_order_relaxed);
    const bool playing = playing_.load(std::memory_order_relaxed);
    if (playing) engine_.JumpToEntry(entry);
    Publish();
    if (playing) return;
    // The own clock counts from the start of entry 1 at the song's tempo and shuffle.
    const Song& s = m_->song;
    const std::int64_t measure = EntryStartMeasure(s, m_->arrangement, entry);
    ownStart_.store(StepGrid(static_cast<int>(std::lround(rate_)), s.tempo, s.shuffle)
                        .Begin(measure * StepsPerMeasureOf(s)),
                    std::memory_order_relaxed);
    params_[kPlay].store(1, std::memory_order_release);
}

void Instrument::SetWindowOwns(bool on) {
    std::lock_guard<std::mutex> g(lock_);
    windowOwns_ = on;
}

void Instrument::SetEditListener(std::function<void(SongChange)> listener) {
    std::lock_guard<std::mutex> g(lock_);
    editListener_ = std::move(listener);
}

void Instrument::FollowSong(std::function<void()> moved) {
    std::lock_guard<std::mutex> g(lock_);
    songParamsMoved_ = std::move(moved);
    if (songParamsMoved_) TakeSongParams();
}

float Instrument::SongParam(int index) const {
    const ChannelSettings& s = m_->song.settings(m_->editor.CurrentPattern);
    if (index >= kChannelMute && index < kChannelMute + kChannels)
        return s.mute[index - kChannelMute] != 0 ? 1.0f : 0.0f;
    if (index >= kChannelVolume && index < kChannelVolume + kChannels)
        return s.volume[index - kChannelVolume];
    if (index == kMainVolume) return m_->player.clock.MainVolumeTarget;
    if (index == kPattern) return static_cast<float>(m_->editor.CurrentPattern);
    if (index == kSongMode) return m_->editor.SongMode ? 1.0f : 0.0f;
    return applied_[index];  // Play and the clock switch are the host's alone
}

bool Instrument::TakeSongParams() {
    bool moved = false;
    for (int i = 0; i < kParamCount; ++i) {
        const float value = SongParam(i);
        if (value == applied_[i]) continue;
        // A value the host sent since the last round stays, to be applied in the next.
        float expected = applied_[i];
        applied_[i] = value;
        params_[i].compare_exchange_strong(expected, value, std::memory_order_relaxed);
        moved = true;
    }
    return moved;
}

void Instrument::Round() {
    bool changed = ApplyChangedParams();
    engine_.Poll([&](const EngineReport& r) {
        if (r.kind == EngineReport::Started) m_->Playing = true;
        if (r.kind == EngineReport::Stopped) m_->Playing = false;
        if (r.kind == EngineReport::Program && ChoosePattern(*m_, r.pattern)) {
            applied_[kPattern] = r.pattern;
            params_[kPattern].store(r.pattern, std::memory_order_relaxed);
            changed = true;
        }
    });
    if (changed)
        Publish();
    else
        engine_.PublishSounds(m_->banks);
    if (songParamsMoved_ && TakeSongParams()) songParamsMoved_();
}

void Instrument::ApplyParam(int index, float value) {
    const int v = static_cast<int>(value);
    if (index >= kChannelMute && index < kChannelMute + kChannels) {
        const int channel = index - kChannelMute + 1;
        const Song& s = m_->song;
        if ((s.settings(m_->editor.CurrentPattern).mute[channel - 1] != 0) != (v != 0))
            editor_->ToggleMute(channel);
    } else if (index >= kChannelVolume && index < kChannelVolume + kChannels) {
        editor_->DragChannelVolume(index - kChannelVolume + 1, v);
        editor_->EndDrag();
    } else if (index == kMainVolume) {
        SetMainVolume(*m_, v);
    } else if (index == kPattern) {
        editor_->ChoosePattern(v);
    } else if (index == kSongMode) {
        // The song's arrangement plays when it has one; Publish hands the switch over.
        m_->editor.SongMode = v != 0;
    }
    // Play is read by the real-time thread itself; the clock switch by Publish.
}

void Instrument::OwnerLoop() {
    std::unique_lock<std::mutex> wait(wakeLock_);
    while (!quit_) {
        wait.unlock();
        {
            std::lock_guard<std::mutex> g(lock_);
            if (!windowOwns_) Round();
        }
        wait.lock();
        wake_.wait_for(wait, kOwnerRound, [this] { return quit_; });
    }
}

}  // namespace qtam::plugin
