// The engine following a MIDI clock that comes in (MidiSettings::clockIn):
// Start, Continue and Stop start and stop playback on the frames they come in on, Song
// Position Pointer places it, and the steps begin on the very frames of their ticks (six to a
// step), so that playback runs at the clock's tempo, fractions of a beat a minute included,
// and follows its every change at once. A step that shuffle puts between two ticks begins that
// far into the tick interval the clock's measured tempo (ClockTempo) says, or on the next tick
// when that comes first. The measured tempo is reported to the owner (EngineReport::ClockTempo).
//
// Thread: the host's real-time thread, every function here.

#include <algorithm>
#include <cmath>

#include "engine/live/live_engine.h"
#include "engine/play_clock.h"

namespace qtam {

void LiveEngine::ProcessClockIn(std::uint32_t frames) {
    RealTime& r = rt_;
    std::uint32_t at = 0;
    for (int i = 0; i < r.clockByteCount; ++i) {
        const RealTime::ClockByte& c = r.clockBytes[i];
        MixClockIn(at, c.frame);
        at = std::max(at, c.frame);
        TakeClockByte(c.bytes, at);
    }
    MixClockIn(at, frames);
}

void LiveEngine::TakeClockByte(const std::uint8_t* bytes, std::uint32_t at) {
    RealTime& r = rt_;
    if (r.midi.clockOut) {
        // A thru: the clock followed goes on to the next device in place of Q.Tam's own.
        Send(at, bytes[0], bytes[0] == 0xF2 ? 3 : 1, bytes[1], bytes[2]);
        r.clockRunning = false;
    }
    switch (bytes[0]) {
        case 0xF8: {
            TimeClockTick(at);
            if (!r.inRunning) return;
            const std::int64_t tick = r.inTick++;
            if (r.inPlace) {
                r.inPlace = false;
                FollowClockFrom(tick, at);
            } else if (r.playing && r.clocked) {
                // The steps due by this tick begin on it, then perhaps one between it and
                // the next.
                while (StepStartCentiticks(r.k + 1, player_.song->shuffle) <= 100 * tick)
                    BeginClockedStep();
                ExpectStepBetweenTicks(tick, at);
            }
            return;
        }
        case 0xFA:  // Start: from the song's start at the next tick
            r.inRunning = r.inPlace = true;
            r.inTick = 0;
            return;
        case 0xFB:  // Continue: from where it stopped, or where a song position put it
            r.inRunning = r.inPlace = true;
            return;
        case 0xFC:
            r.inRunning = r.inPlace = false;
            if (r.playing) StopPlaying(at);
            return;
        case 0xF2: {
            // Song Position Pointer counts sixteenths from the song's start: Q.Tam's steps,
            // whether its measures have 16 or 12. While the clock runs, the next tick goes
            // there at once.
            const int sixteenths = (bytes[1] & 0x7F) | ((bytes[2] & 0x7F) << 7);
            r.inTick = 6 * static_cast<std::int64_t>(sixteenths);
            r.inPlace = r.inRunning;
            return;
        }
        default:
            return;
    }
}

void LiveEngine::TimeClockTick(std::uint32_t at) {
    RealTime& r = rt_;
    r.inTempo.Tick(r.inFrame + at);
    r.inUnreported += 1;
    const double bpm = r.inTempo.Bpm();
    // At most once a step, and only a change: the owner rounds it into the Song.
    if (r.inTempo.Ticks() < 3 || r.inUnreported < 6 || std::fabs(bpm - r.inReported) < 0.01) return;
    r.inReported = bpm;
    r.inUnreported = 0;
    EngineReport t;
    t.kind = EngineReport::ClockTempo;
    t.bpm = bpm;
    t.time = r.cycleTime + at;
    Report(t);
}

void LiveEngine::FollowClockFrom(std::int64_t tick, std::uint32_t at) {
    RealTime& r = rt_;
    Player& m = player_;
    const bool starting = !r.playing;
    // Playing on its own until now: its clock out gives way to the clock coming in.
    if (r.clockRunning) Send(at, 0xFC, 1);
    r.clockRunning = false;
    NotesOff(at);
    SilenceVoices(m);
    m.clock.PlayPattern = m.clock.NextPattern = m.startPattern;
    m.clock.MainVolume = m.clock.MainVolumeTarget;
    r.k = StepAtTick(tick, m.song->shuffle);
    PlaceAtStep(r.k, 1);  // Song Position Pointer counts the arrangement's sixteenths
    // A step that begins on this tick sounds; one already under way waits for the next.
    m.triggers.frame = 0;
    if (StepStartCentiticks(r.k, m.song->shuffle) == 100 * tick && !m.clock.Ended) TriggerStep(m);
    UpdateVoiceRates(m);
    BeginStepStarts(m);
    r.logStartTime = r.cycleTime + at;
    r.reportedSteps = 0;
    r.clocked = true;
    ExpectStepBetweenTicks(tick, at);
    if (starting) BeginPlaying(at);
}

void LiveEngine::ExpectStepBetweenTicks(std::int64_t tick, std::uint32_t at) {
    RealTime& r = rt_;
    r.inPending = -1;
    const std::int64_t ahead = StepStartCentiticks(r.k + 1, player_.song->shuffle) - 100 * tick;
    const double perTick = r.inTempo.FramesPerTick();
    if (ahead > 0 && ahead < 100 && perTick > 0)
        r.inPending = r.inFrame + at + std::llround(static_cast<double>(ahead) / 100.0 * perTick);
}

void LiveEngine::BeginClockedStep() {
    RealTime& r = rt_;
    Player& m = player_;
    // The clock's own tick ends the step right here; the notes it triggers are sent from the
    // frame mixed next.
    m.clock.StepCounter = std::max<std::int32_t>(m.clock.StepLength[m.clock.PlayStep] - 1, 0);
    m.triggers.frame = 0;
    Tick(m);
    RecordStepStart(m, m.stepStarts.mixedFrames);
    r.k += 1;
    r.inPending = -1;
}

void LiveEngine::MixClockIn(std::uint32_t from, std::uint32_t to) {
    RealTime& r = rt_;
    if (from >= to) return;
    if (!r.playing) {
        MixIdle(from, to - from);
        return;
    }
    if (!r.clocked) {  // started by the owner with no clock running: on its own
        MixFree(from, to - from);
        return;
    }
    PlayClock& k = player_.clock;
    while (from < to) {
        std::int64_t n = std::min<std::int64_t>(to - from, kChunk);
        if (r.inPending >= 0) {
            const std::int64_t due = r.inPending - r.inFrame;
            if (due <= from) {
                BeginClockedStep();
                continue;
            }
            n = std::min<std::int64_t>(n, due - from);
        }
        // The step lasts until the clock says: the play clock never ends it by itself.
        const std::int32_t length = k.StepLength[k.PlayStep];
        n = std::clamp<std::int64_t>(n, 1, std::max(length - 3, 1));
        if (k.StepCounter + n + 1 >= length) k.StepCounter = 1;
        MixChunk(from, static_cast<int>(n));
        from += static_cast<std::uint32_t>(n);
    }
}

}  // namespace qtam
