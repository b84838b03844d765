#pragma once
// The transport controller: Start, Stop, the pattern queued next, the measure located, the
// follow switch and the tempo, for every input that steers playback (the panel's buttons and
// keys, the space bar, the command line). Inputs translate what they received into these
// calls; a change of the Song (the tempo) goes through the edit layer, so it is one undoable
// entry like any other.
//
// Thread: owner (the thread that owns the Machine and drains the playback driver's events),
// every function here.

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "transport/tap_tempo.h"

namespace qtam {

struct Machine;
struct PlayPosition;
class PlaybackDriver;
class SongEditor;

class Transport {
public:
    // Takes over the driver's state notices (OnStateChanged) and tells its own listeners.
    Transport(Machine& m, PlaybackDriver& playback, SongEditor& editor);
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    using Listener = std::function<void()>;
    // Called whenever playing, the menus the driver disables, the follow switch, the clicks or
    // whether a tapping goes on change.
    void Listen(Listener listener);

    // Starts playback from measure 1 of the edited pattern, opening the device when it is
    // closed (a prepared start sounds at once).
    void Start();
    // Stops; false when a live recording could not be finished (the user has been told).
    bool Stop();
    // The Start button pressed: Ctrl with exactly the left button prepares a start (the busy
    // cursor shows until ReleaseStart); any other press starts.
    void PressStart(bool leftButtonOnly, bool ctrlHeld);
    void ReleaseStart();
    // The space bar: held, it toggles playback once. openDeviceFirst: the device is opened
    // before a start (the main window); the panel opens it itself.
    void SpaceDown(bool isSpace, bool openDeviceFirst);
    void SpaceUp();
    // Another clock that plays the sound (a plugin's window: the host's transport or the
    // plugin's own): `play` asks it to play or to stop, `playing` tells whether it plays.
    struct OtherClock {
        std::function<void(bool play)> play;
        std::function<bool()> playing;
    };
    // With one, Start, Stop and the space bar go to it and never reach the playback driver,
    // which would open a device; without (the default) the driver plays.
    void PlayElsewhere(OtherClock clock) { otherClock_ = std::move(clock); }
    // The other clock started or stopped by itself (its host): the listeners are told.
    void OtherClockMoved() { Tell(); }
    // Whether the Stop key shows rather than the Start key.
    bool StopShown() const;

    // Pattern 1..8: edited from measure 1; while playing it is heard from the end of the
    // measure playing, stopped it plays from the next start. False for the pattern already
    // edited or a number outside 1..8. In song mode, while playing, the first entry of the
    // pattern plays from the end of the measure playing.
    bool QueuePattern(int pattern);

    // The Song/Pattern switch. In Song mode a start plays the arrangement from its first
    // entry, entry after entry, and stops at its end (or goes on at its loop entry); without
    // an arrangement it plays as Pattern mode does. Taken at the next start.
    void SetSongMode(bool on);
    bool SongMode() const;
    // Song mode (switched on): entry 1..count plays from the end of the measure playing, or,
    // stopped, playback starts at it; starts begin there until the next stop.
    void PlayEntry(int entry);
    // Where the arrangement is, for "PLAYING" and the running light: "Entry 3/8, pass 2/4,
    // measure 1/2"; empty for a place outside song mode.
    std::string SongPlaceText(const PlayPosition& heard) const;
    // The edit measure of the edited pattern (1..count).
    void LocateMeasure(int measure);

    // With the follow switch on, the edit measure goes to the measure heard.
    void SetFollow(bool on);
    bool Following() const { return follow_; }
    // Where the sound is now (from what the device played): the follow switch acts on it.
    void Heard(int pattern, int measure);

    // Beats per minute: one "Tempo" entry of the undo history.
    void SetTempo(int tempo);

    // A tap of the Tap control or key at `when`: from the second tap of a tapping on, the
    // Song's tempo is the taps' (heard at once); the tapping is one "Tempo" entry, recorded
    // by EndTapping once kTimeout passed without a tap (or by the next other edit).
    void Tap(TapTempo::Clock::time_point when = TapTempo::Clock::now());
    // Ends a tapping that is over at `now` (call it kTimeout after the last tap); true when it
    // ended one.
    bool EndTapping(TapTempo::Clock::time_point now = TapTempo::Clock::now());
    bool Tapping() const { return taps_.Taps() > 0; }

    // The tempo a JACK timebase master gives becomes the Song's, kept within kTempoMin..kTempoMax.
    void FollowTransportTempo(double bpm);
    // The tempo of a MIDI clock followed, as measured: playback runs at it exactly, and the
    // Song's whole tempo follows it rounded (within kTempoMin..kTempoMax) once it is more than 0.6
    // away, so that a clock's jitter around a half does not add an undo entry at every beat.
    void FollowClockTempo(double bpm);
    // The MIDI clock's tempo last measured, with its fraction; 0 when none was.
    double ClockTempo() const { return clockBpm_; }

    // The metronome and the count-in, as the settings keep them: the click on every beat
    // while playing at `level` percent; a measure counted in before a start with the record
    // switch on (`countInRecord`), or before every start (`countInStart`).
    struct Clicks {
        bool metronome = false;
        int level = 70;
        bool countInRecord = true;
        bool countInStart = false;
    };
    void SetClicks(const Clicks& clicks);
    const Clicks& clicks() const { return clicks_; }
    // Whether the next start counts in.
    bool CountsIn() const;

    // The record switch: while on and playing, each pad hit that comes in by MIDI is written
    // into the step nearest to it, an undoable "Record channel C, step S" each.
    void SetRecordingPads(bool on);
    bool RecordingPads() const { return recordingPads_; }

private:
    void Tell();

    Machine& m_;
    PlaybackDriver& playback_;
    SongEditor& editor_;
    std::vector<Listener> listeners_;
    OtherClock otherClock_;
    bool follow_ = false;
    bool recordingPads_ = false;
    Clicks clicks_;
    TapTempo taps_;
    double clockBpm_ = 0;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // for the editor's listener
};

}  // namespace qtam
