#include "engine/audio/playback.h"

#include <SDL.h>

#include <algorithm>
#include <array>
#include <vector>

#include "core/machine.h"
#include "engine/audio/devices.h"
#include "engine/audio/jack_output.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"

namespace qtam {

namespace {
constexpr int kBytesPerFrame = 4;
constexpr int kMaxDeviceNum = 10;
// JACK reports starts and stops of its transport: looked at often enough to feel at once.
constexpr int kJackWatchIntervalMs = 40;
}  // namespace

std::string DeviceLostText(const std::string& reason) {
    return "The sound device was lost (" + reason +
           "). Playback has stopped; Start opens the device again.";
}

std::string DefaultDeviceInsteadText(int deviceNum) {
    return "Sound device " + std::to_string(deviceNum) +
           " is not present. The default device plays instead; the Sound device setup "
           "chooses another.";
}

const char* const kTimebaseTakenText =
    "another JACK client took the timebase: Q.Tam follows its bar, beat, tick and tempo";
const char* const kMasterBarsText =
    "the JACK timebase master's beat and tick do not agree with its ticks per beat (its tick "
    "runs over the whole bar): Q.Tam follows its bar and the frame at its tempo instead";

std::string JackTakeRateText(int rate) {
    return "A live recording through JACK needs the server to run at 44100 Hz; it runs at " +
           std::to_string(rate) + " Hz, so nothing is recorded.";
}

std::string JackUnreachableText(const std::string& reason) {
    return "Q.Tam cannot play through JACK: " + reason +
           ". The Sound device setup chooses the system sound instead.";
}

PlaybackDriver::PlaybackDriver(Machine& m, EventQueue& events)
    : Playback(events),
      m_(m),
      events_(events),
      watch_(events),
      engine_(std::make_unique<LiveEngine>()),
      jack_(std::make_unique<JackOutput>(*engine_)) {
    Playback.OnDone = [this](WaveOut& sender) { BlockPlayed(sender); };
    watch_.SetInterval(kWatchIntervalMs);
    watch_.OnTimer = [this](PrecisionTimer&) { WatchDevice(); };
}

PlaybackDriver::~PlaybackDriver() {
    *alive_ = false;
    if (loader_.joinable()) loader_.join();
}

void PlaybackDriver::ApplySettings(const WaveDeviceSettings& settings) {
    DeviceNum = settings.DeviceNum;
    BlockFrames = BlockFramesOf(settings.Buffer_size);
    LatencyMs = std::clamp(settings.Latency, kMinLatencyMs, kMaxLatencyMs);
    const bool jack = settings.AudioSystem == kAudioSystemJack;
    // A MIDI clock followed wins over the JACK transport, which is then treated as off.
    const TransportSync sync =
        settings.MidiClockIn != 0 ? TransportSync::Off : settings.JackTransport;
    const bool connect = settings.JackConnect != 0;
    // Another choice takes effect at the next opening (the setup is closed while playing).
    if (jack_->IsOpen() && (!jack || sync != jackSync_ || connect != jackConnect_)) CloseJack();
    if (jack && Playback.IsOpen() && !m_.Playing) Playback.Close();
    jackChosen_ = jack;
    jackSync_ = sync;
    jackConnect_ = connect;
    MidiSettings midi;
    midi.channel = std::clamp(settings.MidiChannel, 1, 16);
    for (std::size_t c = 0; c < midi.notes.size(); ++c)
        midi.notes[c] = settings.MidiNotes[c] & 0x7F;
    midi.notesOut = settings.MidiNotesOut != 0;
    midi.clockOut = settings.MidiClockOut != 0;
    midi.clockIn = settings.MidiClockIn != 0;
    midi.programIn = (settings.MidiProgramChange & 1) != 0;
    midi.programOut = (settings.MidiProgramChange & 2) != 0;
    engine_->SetMidi(midi);
    notesFromSounds_ = settings.MidiNotesFromSounds != 0;
    SongEdited();
}

void PlaybackDriver::OpenDevice() {
    if (jackChosen_) {
        if (jack_->IsOpen()) return;
        JackOutput::Options options;
        options.sync = jackSync_;
        options.connect = jackConnect_;
        options.name = JackClientName;
        lost_ = !jack_->Open(options, jackError_);
        if (lost_) return;
        timebaseTakenTold_ = false;
        PublishToEngine();
        // The transport may start from elsewhere at any time: watched while open.
        watch_.SetInterval(kJackWatchIntervalMs);
        watch_.SetEnabled(true);
        return;
    }
    if (Playback.IsOpen() && !m_.Playing && Playback.CheckDevice()) {
        Playback.Close();  // lost while nothing played: opened afresh below
        lost_ = true;
    }
    if (Playback.IsOpen()) return;
    Playback.channels = 2;
    Playback.samples = 44100;
    Playback.SampleBits = 16;
    Playback.latencyMs = LatencyMs;
    if (DeviceNum >= 0 && DeviceNum <= kMaxDeviceNum)
        Playback.device = static_cast<std::uint8_t>(DeviceNum);
    openWanted_ = false;
    Playback.Open();
    if (!Playback.IsOpen()) {
        const char* why = SDL_GetError();
        openError_ = why && *why ? why : "no reason given by SDL";
        return;
    }
    lost_ = false;
    if (Playback.OpenedDefaultInstead() && OnDefaultDeviceInstead)
        OnDefaultDeviceInstead(DeviceNum);
}

void PlaybackDriver::OpenDeviceSoon() {
    if (jackChosen_ || SoundLibraryLoadTried()) {
        OpenDevice();
        return;
    }
    openWanted_ = true;
    if (loader_.joinable()) return;  // already loading
    loader_ = std::thread([this, alive = alive_] {
        LoadSoundLibrary();
        // The queue outlives the driver, and its handlers run on the owner's thread, which
        // also clears `alive`.
        events_.Post([this, alive] {
            if (*alive && openWanted_) OpenDevice();
        });
    });
}

void PlaybackDriver::CloseDevice() {
    openWanted_ = false;
    Playback.Close();
    if (jack_->IsOpen()) CloseJack();
}

// A choice that reopens the client may come while it plays (the MIDI setup's clock in): the
// playing ends as a stop ends it.
void PlaybackDriver::CloseJack() {
    if (m_.Playing) EndJackPlaying();
    jack_->Close();
    watch_.SetEnabled(false);
    watch_.SetInterval(kWatchIntervalMs);
}

PlayPosition PlaybackDriver::JackHeard() const {
    return jack_->Heard();
}

void PlaybackDriver::SongEdited() {
    // A new sound, or another pattern edited, may change the notes.
    if (notesFromSounds_ && NotesOfSounds) {
        MidiSettings midi = engine_->Midi();
        midi.notes = NotesOfSounds();
        engine_->SetMidi(midi);
    }
    if (jack_->IsOpen()) PublishToEngine();
}

void PlaybackDriver::JumpToEntry(int entry) {
    engine_->JumpToEntry(entry);
    if (jack_->IsOpen()) PublishToEngine();
}

void PlaybackDriver::PublishToEngine() {
    const PlayClock& k = m_.player.clock;
    engine_->SetArrangement(m_.arrangement, m_.editor.SongMode, m_.editor.StartEntry);
    engine_->Publish(m_.song, m_.editor.CurrentPattern, k.NextPattern, m_.editor.HumanizeChecked,
                     k.MainVolumeTarget);
    PublishSoundsAndTake();
}

void PlaybackDriver::PublishSoundsAndTake() {
    engine_->PublishSounds(m_.banks);
    // A live take armed is recorded from the first frame played; its file says 44100 Hz.
    engine_->SetRecording(m_.Streaming && engine_->Rate() == 44100);
}

void PlaybackDriver::BeginJackPlaying() {
    m_.Playing = true;
    m_.editor.StartPrepared = false;
    playedFrames_ = 0;
    SetMenusEnabled(false);
    ShowStopButton(true);
}

void PlaybackDriver::EndJackPlaying() {
    m_.Playing = false;
    FinishTake();
    ResetTransport(m_);
    SetMenusEnabled(true);
    ShowStopButton(false);
}

void PlaybackDriver::WatchJack() {
    // A bank loaded or a sound imported meanwhile reaches the engine within a poll.
    PublishSoundsAndTake();
    WriteTake();
    const bool alive = jack_->Poll([this](const EngineReport& r) {
        if (r.kind == EngineReport::Started && !m_.Playing) BeginJackPlaying();
        if (r.kind == EngineReport::Stopped && m_.Playing) EndJackPlaying();
        if (r.kind == EngineReport::MasterTempo && OnTransportTempo) OnTransportTempo(r.bpm);
        if (r.kind == EngineReport::MasterBars && OnTransportNote) OnTransportNote(kMasterBarsText);
        if (r.kind == EngineReport::ClockTempo && OnClockTempo) OnClockTempo(r.bpm);
        // In song mode the engine has taken the entry a program change named itself.
        if (r.kind == EngineReport::Program && r.entry == 0 && OnProgramChange)
            OnProgramChange(r.pattern);
        if (r.kind == EngineReport::Pad) {
            if (OnPad) OnPad(r);
            if (OnPadPlaced && m_.Playing) padsToPlace_.Add(r);
        }
    });
    if (OnPadPlaced)
        padsToPlace_.Place([this](std::int64_t time) { return jack_->StepNearest(time); },
                           OnPadPlaced);
    else
        padsToPlace_.Clear();
    playedFrames_ = engine_->PlayedFrames();
    if (jack_->TimebaseTaken() && !timebaseTakenTold_) {
        timebaseTakenTold_ = true;
        if (OnTransportNote) OnTransportNote(kTimebaseTakenText);
    }
    if (alive) return;
    // The client is closed already; the next start connects again.
    if (m_.Playing) EndJackPlaying();
    watch_.SetEnabled(false);
    watch_.SetInterval(kWatchIntervalMs);
    lost_ = true;
    if (OnDeviceLost) OnDeviceLost("the JACK server went away: " + jack_->LostReason(), true);
}

// BlockFrames is a public field: a value set straight from an unchecked configuration must
// not make a block reach past its staging half.
int PlaybackDriver::Frames() const {
    return std::clamp<int>(BlockFrames, kMinBufferSize * kFramesPerBufferUnit, kPreparedFrames);
}

void PlaybackDriver::WriteStaging(int firstWord, int bytes) {
    Playback.Write(m_.StagingBuffer.data() + (firstWord - 1), static_cast<std::size_t>(bytes));
}

void PlaybackDriver::StartEngineHere(bool countIn) {
    // The engine plays on this thread for the system sound, on its own clock at the sounds'
    // rate, from where the Machine's player stands: where the last stop rewound it, or where
    // a start mixed in advance left it.
    if (engine_->Rate() != 44100 || engine_->Sync() != TransportSync::Off)
        engine_->Configure(44100, TransportSync::Off);
    PublishToEngine();
    engine_->StartFrom(PlayerOf(m_), countIn);
}

void PlaybackDriver::SetMetronome(bool on, int level) {
    engine_->metronome().SetOn(on);
    engine_->metronome().SetLevel(level);
}

void PlaybackDriver::Audition(int instrument, int velocity) {
    const SampleSlot* sound = SlotOf(m_.banks.byInstrument, instrument);
    if (sound == nullptr || !sound->hasSound()) return;
    OpenDevice();
    if (jackChosen_) {
        if (!jack_->IsOpen()) return;
        PublishSoundsAndTake();
        engine_->Audition(instrument, velocity);
        return;
    }
    if (!Playback.IsOpen()) return;
    if (m_.Playing || m_.editor.StartPrepared) {  // heard from the next block mixed
        engine_->Audition(instrument, velocity);
        return;
    }
    // Stopped, the device is fed here: what is queued of an earlier audition goes, and the
    // sound is mixed whole (up to the voice's limit) in one block.
    Playback.Stop();
    if (engine_->Rate() != 44100 || engine_->Sync() != TransportSync::Off)
        engine_->Configure(44100, TransportSync::Off);
    PublishToEngine();
    engine_->Audition(instrument, velocity);
    const int frames =
        std::clamp<int>(sound->sampleCount + 64, 1024, AuditionVoice::kMaxSeconds * 44100);
    std::vector<std::int16_t> block(2 * static_cast<std::size_t>(frames));
    engine_->Process(static_cast<std::uint32_t>(frames), {}, nullptr, 0, nullptr, block.data());
    engine_->Poll(nullptr);
    Playback.Write(block.data(), block.size() * sizeof(std::int16_t));
}

void PlaybackDriver::MixNextBlock(int frames) {
    // The Song, the switches and the sounds as they are now: an edit is heard from this block.
    PublishToEngine();
    const int start = std::clamp(m_.BufPos, 1, kStagingWords) - 1;
    frames = std::clamp(frames, 0, (kStagingWords - start) / 2);
    std::int16_t* out = m_.StagingBuffer.data() + start;
    engine_->Process(static_cast<std::uint32_t>(frames), {}, nullptr, 0, nullptr, out);
    engine_->MirrorTo(m_.player);
    engine_->Poll(nullptr);  // nothing to hear of: the step starts are read where they are
    WriteTake();
}

bool PlaybackDriver::FinishTake() {
    engine_->SetRecording(false);
    WriteTake();  // the take ends here: what the engine plays until it stops is left out
    return !m_.Streaming || FinishStream(m_, streamObserver);
}

void PlaybackDriver::WriteTake(bool keep) {
    std::int16_t frames[2 * 4096];
    while (const std::size_t n = engine_->TakeRecorded(frames, 4096))
        if (keep && m_.Streaming && m_.stream != nullptr)
            m_.stream->Append(frames, n * kBytesPerFrame);
}

const StepStartLog& PlaybackDriver::StepStarts() const {
    return engine_->StepStarts();
}

void PlaybackDriver::StartPlaying() {
    if (m_.Playing) return;
    bool countIn = CountInAtStart && CountInAtStart();
    if (jackChosen_) {
        OpenDevice();
        if (!jack_->IsOpen()) {
            if (OnJackUnreachable) OnJackUnreachable(jackError_);
            return;
        }
        // A live take armed is recorded by the engine from its first frame played; its file
        // says 44100 Hz, the rate of every sound and render.
        WriteTake(false);  // anything left of an earlier take
        if (m_.Streaming && jack_->Rate() != 44100) {
            m_.prompter->Warn(JackTakeRateText(jack_->Rate()));
            FinishStream(m_, streamObserver);
        }
        PublishToEngine();
        jack_->Start(countIn);
        // Without the transport it plays from the next period; with it, once it rolls.
        if (jack_->Sync() == TransportSync::Off) BeginJackPlaying();
        return;
    }
    if (!m_.editor.StartPrepared) Playback.Stop();  // an audition still queued ends here
    countIn = countIn && !m_.editor.StartPrepared;
    sessionFirstSerial_ = Playback.NextSerial();
    underrunsAtStart_ = Playback.Underruns();
    playedFrames_ = 0;
    // Nothing is queued now; a normal start plays its lead-in silence first.
    soundStartFrame_ = static_cast<std::int64_t>(Playback.TakenBytes() / kBytesPerFrame) +
                       (m_.editor.StartPrepared ? 0 : 2 * kLeadInBytes / kBytesPerFrame);
    if (m_.editor.StartPrepared) {
        m_.Playing = true;
        m_.editor.StartPrepared = false;
        WriteStaging(kSecondHalf, kPreparedBlockBytes);
        WriteStaging(kSecondHalf + kPreparedBlockBytes / 2, kPreparedBlockBytes);
        MixNextBlock(Frames());
    } else {
        m_.Playing = true;
        m_.BufPos = 1;
        StartEngineHere(countIn);
        if (countIn)
            soundStartFrame_ +=
                CountInOf(44100, m_.song.tempo, m_.song.shuffle, StepsPerMeasureOf(m_.song)).length;
        SetMenusEnabled(false);
        MixNextBlock(Frames());
        static const std::array<std::uint8_t, kLeadInBytes> silence{};
        Playback.Write(silence.data(), silence.size());
        Playback.Write(silence.data(), silence.size());
    }
    watch_.SetEnabled(true);
    ShowStopButton(true);
}

void PlaybackDriver::WatchDevice() {
    if (jackChosen_) {
        if (jack_->IsOpen()) WatchJack();
        return;
    }
    if (!m_.Playing) return;
    // An arrangement that ends stops the engine once its sounds rang out: playback stops once
    // the device has played that far.
    if (!engine_->Playing() && !m_.editor.StartPrepared &&
        playedFrames_ >= engine_->PlayedFrames()) {
        StopPlaying();
        return;
    }
    if (Playback.IsOpen()) {
        if (Playback.CheckDevice()) StopForLostDevice(Playback.LostReason());
    } else if (lost_) {
        StopForLostDevice("it could not be opened again: " + openError_);
    }
}

void PlaybackDriver::StopForLostDevice(std::string reason) {  // a copy: Close clears the original
    const bool recorded = StopPlaying();
    Playback.Close();
    lost_ = true;
    if (OnDeviceLost) OnDeviceLost(reason, recorded);
}

void PlaybackDriver::PrepareStartInAdvance() {
    if (m_.Playing) return;   // the start button is hidden while playing
    if (jackChosen_) return;  // JACK mixes as it plays: nothing to prepare
    StartEngineHere();
    m_.editor.StartPrepared = true;
    m_.BufPos = kSecondHalf;
    SetMenusEnabled(false);
    MixNextBlock(kPreparedFrames);
}

void PlaybackDriver::PressStart(bool leftButtonOnly, bool ctrlHeld) {
    if (leftButtonOnly && ctrlHeld) {
        if (!busyShown_) {
            m_.prompter->SetBusy(true);
            busyShown_ = true;
        }
        PrepareStartInAdvance();
    } else {
        StartPlaying();
    }
}

void PlaybackDriver::ReleaseStart() {
    if (busyShown_) {
        busyShown_ = false;
        m_.prompter->SetBusy(false);
    }
}

void PlaybackDriver::BlockPlayed(WaveOut& sender) {
    if (!m_.Playing) return;
    const WaveOut::BlockInfo& done = sender.DoneBlock();
    // A block of an earlier session whose notice is late must not feed this one.
    if (done.serial < sessionFirstSerial_) return;
    if (done.played) playedFrames_ += static_cast<std::int64_t>(done.size / kBytesPerFrame);
    WriteStaging(m_.BufPos, Frames() * kBytesPerFrame);
    m_.BufPos = m_.BufPos == 1 ? kSecondHalf : 1;
    MixNextBlock(Frames());
}

bool PlaybackDriver::StopPlaying() {
    if (jackChosen_) {
        if (jack_->IsOpen()) jack_->Stop();
        const bool recorded = FinishTake();
        if (m_.Playing) EndJackPlaying();
        return recorded;
    }
    watch_.SetEnabled(false);
    underrunsPlaying_ = UnderrunsWhilePlaying();
    m_.Playing = false;
    bool recorded = true;
    if (m_.Streaming) recorded = FinishStream(m_, streamObserver);
    engine_->StopHere();  // it plays on this thread for the system sound
    ResetTransport(m_);
    SetMenusEnabled(true);
    Playback.Stop();
    ShowStopButton(false);
    return recorded;
}

std::int64_t PlaybackDriver::PlayedFrames() const {
    // The engine counts as it plays; the system sound by the blocks handed back.
    return jackChosen_ ? engine_->PlayedFrames() : playedFrames_;
}

std::uint64_t PlaybackDriver::UnderrunsWhilePlaying() const {
    if (!m_.Playing || jackChosen_) return underrunsPlaying_;
    return underrunsPlaying_ + (Playback.Underruns() - underrunsAtStart_);
}

void PlaybackDriver::KeyDown(bool isSpace, bool openDeviceFirst) {
    const bool act = KeyReleased && isSpace;
    KeyReleased = false;
    if (!act) return;
    if (openDeviceFirst) OpenDevice();
    if (m_.Playing)
        StopPlaying();
    else
        StartPlaying();
}

void PlaybackDriver::KeyUp() {
    KeyReleased = true;
}

void PlaybackDriver::SetMenusEnabled(bool enabled) {
    if (menusEnabled_ == enabled) return;
    menusEnabled_ = enabled;
    if (OnStateChanged) OnStateChanged();
}

void PlaybackDriver::ShowStopButton(bool shown) {
    if (stopShown_ == shown) return;
    stopShown_ = shown;
    if (OnStateChanged) OnStateChanged();
}

}  // namespace qtam
