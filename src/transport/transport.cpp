#include "transport/transport.h"

#include <algorithm>
#include <cmath>

#include "core/machine.h"
#include "engine/audio/playback.h"
#include "engine/play_clock.h"
#include "engine/play_position.h"
#include "song/midi_export.h"
#include "song/song_editor.h"

namespace qtam {

Transport::Transport(Machine& m, PlaybackDriver& playback, SongEditor& editor)
    : m_(m), playback_(playback), editor_(editor) {
    playback_.OnStateChanged = [this] { Tell(); };
    // A JACK client mixes a copy of the Song: every change is handed over at once.
    editor_.Listen([alive = alive_, &playback](SongChange) {
        if (*alive) playback.SongEdited();
    });
    playback_.OnTransportTempo = [this](double bpm) { FollowTransportTempo(bpm); };
    playback_.OnClockTempo = [this](double bpm) { FollowClockTempo(bpm); };
    // A MIDI program change queues its pattern as the pattern keys do.
    playback_.OnProgramChange = [this](int pattern) { QueuePattern(pattern); };
    playback_.NotesOfSounds = [this] { return DrumNotesOf(m_, m_.editor.CurrentPattern); };
    playback_.CountInAtStart = [this] { return CountsIn(); };
}

void Transport::SetClicks(const Clicks& clicks) {
    clicks_ = clicks;
    clicks_.level = std::clamp(clicks.level, 0, 100);
    playback_.SetMetronome(clicks_.metronome, clicks_.level);
    Tell();
}

bool Transport::CountsIn() const {
    return clicks_.countInStart || (recordingPads_ && clicks_.countInRecord);
}

Transport::~Transport() {
    *alive_ = false;
    playback_.OnStateChanged = nullptr;
    playback_.OnTransportTempo = nullptr;
    playback_.OnClockTempo = nullptr;
    playback_.OnProgramChange = nullptr;
    playback_.OnPadPlaced = nullptr;
    playback_.NotesOfSounds = nullptr;
    playback_.CountInAtStart = nullptr;
}

void Transport::SetRecordingPads(bool on) {
    if (on == recordingPads_) return;
    recordingPads_ = on;
    if (on) {
        playback_.OnPadPlaced = [this](const PlayPosition& at, const EngineReport& pad) {
            editor_.RecordHit(at.pattern, at.measure, pad.channel, at.step, pad.velocity);
        };
    } else {
        playback_.OnPadPlaced = nullptr;
    }
    Tell();
}

void Transport::FollowTransportTempo(double bpm) {
    const int tempo =
        static_cast<int>(std::lround(std::clamp(bpm, double(kTempoMin), double(kTempoMax))));
    if (tempo != m_.song.tempo) SetTempo(tempo);
}

void Transport::FollowClockTempo(double bpm) {
    if (!std::isfinite(bpm) || bpm <= 0) return;
    clockBpm_ = bpm;
    const double held = std::clamp(bpm, double(kTempoMin), double(kTempoMax));
    if (std::fabs(held - m_.song.tempo) > 0.6) SetTempo(static_cast<int>(std::lround(held)));
}

void Transport::Listen(Listener listener) {
    listeners_.push_back(std::move(listener));
}

void Transport::Tell() {
    for (const Listener& listener : listeners_) listener();
}

void Transport::Start() {
    if (otherClock_.play) {
        otherClock_.play(true);
        Tell();
        return;
    }
    playback_.OpenDevice();
    playback_.StartPlaying();
}

bool Transport::Stop() {
    if (otherClock_.play) {
        otherClock_.play(false);
        Tell();
        return true;
    }
    const bool stopped = playback_.StopPlaying();
    // The next start in song mode begins at entry 1 again.
    if (m_.editor.StartEntry != 1 && !m_.Playing) {
        m_.editor.StartEntry = 1;
        RewindClock(PlayerOf(m_));
    }
    return stopped;
}

void Transport::PressStart(bool leftButtonOnly, bool ctrlHeld) {
    if (otherClock_.play) {
        Start();  // no prepared start: the other clock starts at once
        return;
    }
    if (!(leftButtonOnly && ctrlHeld)) playback_.OpenDevice();
    playback_.PressStart(leftButtonOnly, ctrlHeld);
}

void Transport::ReleaseStart() {
    if (!otherClock_.play) playback_.ReleaseStart();
}

bool Transport::StopShown() const {
    return otherClock_.playing ? otherClock_.playing() : playback_.StopButtonVisible();
}

void Transport::SpaceDown(bool isSpace, bool openDeviceFirst) {
    if (otherClock_.play) {
        // The driver's guard still holds: a held key toggles once.
        const bool act = playback_.KeyReleased && isSpace;
        playback_.KeyReleased = false;
        if (act) {
            otherClock_.play(!otherClock_.playing());
            Tell();
        }
        return;
    }
    playback_.KeyDown(isSpace, openDeviceFirst);
}

void Transport::SpaceUp() {
    playback_.KeyUp();
}

bool Transport::QueuePattern(int pattern) {
    if (SongMode() && m_.Playing)
        if (const int entry = FirstEntryOf(m_.arrangement, pattern)) PlayEntry(entry);
    return editor_.ChoosePattern(pattern);
}

void Transport::SetSongMode(bool on) {
    if (m_.editor.SongMode == on) return;
    m_.editor.SongMode = on;
    // Stopped, the clock waits where the next start begins.
    if (!m_.Playing && !m_.editor.StartPrepared) RewindClock(PlayerOf(m_));
    playback_.SongEdited();
    Tell();
}

bool Transport::SongMode() const {
    return m_.editor.SongMode;
}

void Transport::PlayEntry(int entry) {
    if (entry < 1 || entry > m_.arrangement.count) return;
    if (m_.Playing) {
        playback_.JumpToEntry(entry);
        return;
    }
    m_.editor.StartEntry = static_cast<std::uint16_t>(entry);
    m_.editor.SongMode = true;
    m_.editor.StartPrepared = false;  // a start mixed in advance began elsewhere
    RewindClock(PlayerOf(m_));
    Start();
    Tell();
}

std::string Transport::SongPlaceText(const PlayPosition& heard) const {
    const Arrangement& a = m_.arrangement;
    if (heard.entry < 1 || heard.entry > a.count) return {};
    const ArrangementEntry& e = a.entry(heard.entry);
    return "Entry " + std::to_string(heard.entry) + "/" + std::to_string(a.count) + ", pass " +
           std::to_string(heard.pass) + "/" + std::to_string(e.repeats) + ", measure " +
           std::to_string(heard.measure) + "/" + std::to_string(MeasureCountOf(m_.song, e.pattern));
}

void Transport::LocateMeasure(int measure) {
    editor_.ChooseMeasure(measure);
}

void Transport::SetFollow(bool on) {
    if (follow_ == on) return;
    follow_ = on;
    Tell();
}

void Transport::Heard(int pattern, int measure) {
    const EditorState& e = m_.editor;
    if (!follow_ || pattern != e.CurrentPattern || measure == e.CurrentMeasure) return;
    if (measure > MeasureCountOf(m_.song, pattern)) return;
    LocateMeasure(measure);
}

void Transport::Tap(TapTempo::Clock::time_point when) {
    EndTapping(when);
    const int tempo = taps_.Tap(when, kTempoMin, kTempoMax);
    if (tempo > 0) editor_.DragTempo(tempo);
    if (taps_.Taps() == 1) Tell();  // a tapping begins
}

bool Transport::EndTapping(TapTempo::Clock::time_point now) {
    if (taps_.Taps() == 0 || !taps_.Ended(now)) return false;
    taps_.Reset();
    editor_.EndDrag();
    Tell();
    return true;
}

void Transport::SetTempo(int tempo) {
    editor_.SetTempo(tempo);
}

}  // namespace qtam
