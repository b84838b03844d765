#pragma once
// The edit layer: every change a person makes to the Song, from any input (the panel's mouse
// and keys, a dialog, a menu, a pad), is one call here that takes values, not pixels. Each call
// records exactly one entry of the undo history, named by the call ("Toggle step 5"), and tells
// the listeners what changed. Inputs only translate what they received into these calls;
// nothing else records history entries or writes the Song.
//
// A drag (a slider moved by the mouse or by a held arrow key) writes the Song at every step so
// that it is heard at once, but is one entry: the Drag... calls write and announce, EndDrag
// records. Every other edit, Undo, Redo and the File flows end an open drag first, so a drag's
// entry never takes in another edit; a change of the edit position does not.
//
// The changed mark is not kept here: SongChanged (core/machine.h) derives it from the bytes.
//
// Thread: user interface (the Machine's owner), every function here.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "song/slides.h"
#include "song/song_file.h"
#include "song/song_history.h"

namespace qtam {

struct Machine;
class SongInfoDialog;
struct SongInfoFields;

// What an announcement says changed, so that a window repaints only that.
enum class SongChange : std::uint8_t {
    Step,         // one cell of the edited channel in the edited measure
    Channels,     // the edited pattern's channel settings: mute, distortion, volume, instrument
    Pattern,      // the edited pattern: its cells, its measure count
    Song,         // anything of the Song: tempo, shuffle, steps, info, undo, redo, new, open
    Position,     // the edit position: pattern, measure, channel or step (no edit)
    File,         // the song's file, its saved state or the active userbank (captions, menus)
    Arrangement,  // the arrangement: its entries or its end
};

// The items of the Edit menu that change the Song.
enum class MenuEdit : std::uint8_t {
    Paste,
    PasteMix,
    FadeInChannel,
    FadeOutChannel,
    FadeInMeasure,
    FadeOutMeasure,
    PanLeftToRight,
    PanRightToLeft,
    PanCenter,
    PanRandomly,
    PanInverse,
    EraseChannel,
    EraseMeasure,
};

class SongEditor {
public:
    explicit SongEditor(Machine& m);
    SongEditor(const SongEditor&) = delete;
    SongEditor& operator=(const SongEditor&) = delete;

    using Listener = std::function<void(SongChange)>;
    // Called after every change, in the order added; listeners live as long as the editor.
    void Listen(Listener listener);
    // Tells the listeners of a change: the edits here, and what changed outside them (the
    // banks read at activation, the song info window's mode).
    void Announce(SongChange what);

    const SongHistory& history() const { return history_; }

    // ---- The step buttons and note details (the edited channel and measure)
    // Sets or clears the note of slot 1..16; "Toggle step N". Returns whether it holds a note.
    bool ToggleStep(int slot);
    // ToggleStep on any channel of the edited measure (the pattern grid); "Toggle step N,
    // channel C".
    bool ToggleCell(int channel, int slot);
    // A pad hit recorded while playing: channel 1..8 of step `slot` of a measure of a pattern
    // gets a note of `velocity` (1..127), in the middle, forwards (a note there keeps its pan
    // and direction); "Record channel C, step S". False for a place outside the song.
    bool RecordHit(int pattern, int measure, int channel, int slot, int velocity);
    // A drag along a row of the pattern grid: each cell it reaches gets a note (or loses it);
    // one entry, "Paint channel C" or "Erase channel C", at EndDrag.
    void DragPaintCell(int channel, int slot, bool note);
    // One gesture on a note of the edited measure (the wheel turned, a key held, a drag):
    // its velocity moves by `delta`, kept in 1..127, heard at once; one entry, "Velocity
    // channel C, step S", at EndDrag. The velocity it has now, or -1 when the cell has no note.
    int DragVelocity(int channel, int slot, int delta);
    // The accent: a note goes to velocity 127, or from 127 back to `back`; "Accent channel C,
    // step S". The velocity it has now, or -1 when the cell has no note.
    int ToggleAccent(int channel, int slot, int back);
    // The grid's row menu: notes on slot `from` and every `every`-th slot after it in channel
    // C of the edited measure, the notes there kept ("Fill channel C every 2nd step"), or, for
    // `every` 0, the row emptied ("Clear channel C"). Whether a cell changed.
    bool FillRow(int channel, int from, int every);
    // The note details of the cell at the edited step; "Note details".
    bool SetNoteDetails(int velocity, int pan, bool reversed);

    // ---- The channel strip of the edited pattern
    void ToggleMute(int channel);        // "Mute channel N"
    void ToggleDistortion(int channel);  // "Distortion channel N"
    // 1..20 the kit, 101..120 the userbank, for the edited channel; "Instrument choice".
    bool ChooseInstrument(int instrument);

    // ---- Sliders: each call writes and announces; EndDrag records the drag as one entry.
    void DragChannelVolume(int channel, int volume);  // "Volume channel N"
    void DragTempo(int tempo);                        // "Tempo"
    void DragShuffle(int shuffle);                    // "Shuffle" (the stored 100..150)
    void DragDistortionGain(int gain);                // "Distortion gain"
    void DragDistortionThreshold(int threshold);      // "Distortion threshold"
    void EndDrag();

    // ---- Values set at once (the transport's tempo) and typed (the value dialog's Ok)
    void SetTempo(int tempo);                                       // "Tempo"
    bool EnterTempo(DialogResult result, std::string_view text);    // "Tempo"
    bool EnterShuffle(DialogResult result, std::string_view text);  // "Shuffle"

    // ---- The edited pattern and the whole Song
    void SetMeasureCount(int count);       // "Measure count"
    void SetStepsPerMeasure(int steps);    // "16 step measure", "12 step measure"
    void ApplyMenuEdit(MenuEdit edit);     // "Paste pattern", "Fade in channel", ...
    void ApplyGrooveMenuEntry(int index);  // "Apply groove Swing 1", "Random Chaos"
    void ToggleHumanize();                 // "Humanize"
    void ApplySlide(SlideField field, DialogResult result, int start, int end);  // "Custom ..."
    bool ApplySongInfo(SongInfoDialog& dialog, const SongInfoFields& edited);    // "Song info"

    // ---- The arrangement (song mode). Each is one entry: "Add entry", "Duplicate entry N",
    // "Delete entry N", "Move entry N", "Pattern entry N", "Repeats entry N", "Mutes entry N",
    // "Arrangement end". False, recording nothing, for a request out of range (see
    // arrangement_edits.h).
    bool AddEntry(int at, int pattern, int repeats = 1);  // before entry `at`; count+1 appends
    bool AddEditedPattern(int at);                        // the edited pattern, once
    bool DuplicateEntry(int entry);
    bool DeleteEntry(int entry);
    bool MoveEntry(int entry, int to);
    bool SetEntryPattern(int entry, int pattern);
    bool SetEntryRepeats(int entry, int repeats);
    bool SetEntryMutes(int entry, std::uint8_t mutes);  // bit c-1: channel c
    bool ToggleEntryMute(int entry, int channel);       // "Mutes entry N"
    bool SetArrangementLoop(int loopTo);  // 0: the list stops; 1..count: it goes on there

    // ---- The edit position (no edit: nothing recorded)
    void ChooseChannel(int channel);  // 1..8
    void ChooseMeasure(int measure);  // 1..count of the edited pattern
    void ChooseStep(int slot);        // the cell the note details show
    bool ChoosePattern(int pattern);  // 1..8; queues it for playback too

    // ---- Undo and redo; afterwards the step timing and Humanize follow.
    bool Undo();
    bool Redo();
    // The text of the entry Undo or Redo would take ("" when none).
    std::string_view UndoText() const { return history_.UndoText(); }
    std::string_view RedoText() const { return history_.RedoText(); }

    // ---- The File menu: a new or opened Song starts an empty history; a save keeps it.
    // The question before a changed Song goes away (see song_file.h); true when the caller may
    // go on.
    bool AskToSaveChanges(const SongDialogs& dialogs);
    bool NewSong(const SongDialogs& dialogs);
    bool OpenSong(const SongDialogs& dialogs);
    bool SaveSong(const SongDialogs& dialogs);
    bool SaveSongAs(const SongDialogs& dialogs);
    // The start-up: a new Song, or the song file named on the command line read quietly (one
    // that cannot be read is reported as "Open song" reports it), with an empty history.
    // Returns whether the file was read.
    bool Begin(const std::string& songFile);
    // A session's song: the file read as Begin reads it when it exists, otherwise a new Song
    // that a save writes there. False when an existing file could not be read; the Song, its
    // name and its history are then as they were.
    bool BeginSession(const std::string& songFile);
    // A session's save: the Song written to `songFile` without questions, which becomes its
    // file (whatever file the Song was opened from).
    bool SaveSongTo(const std::string& songFile);
    // The Song was read as a whole outside the flows above (a benchmark's or a test's song):
    // it is the saved state, with an empty history.
    void TakeSong();
    // A userbank loaded from the menu: no edit, it cannot be undone.
    bool LoadUserbank(const std::string& file);

private:
    // Ends an open drag, makes the change and, when it changed the Song, records it as `text`
    // and announces `what`.
    template <class Change>
    auto Edit(std::string text, SongChange what, Change change);
    template <class Change>
    void Drag(std::string text, SongChange what, Change change);
    bool Record(std::string text);
    // A flow of the File menu; `replaces`: when it goes through, another Song is in place.
    bool RunFlow(bool (*flow)(Machine&, const SongDialogs&), const SongDialogs& dialogs,
                 bool replaces);
    void FollowSong();
    // After Begin's reset: the history and announcement of a new or read Song.
    void Started(const std::string& loadedFile);

    Machine& m_;
    SongHistory history_;
    std::vector<Listener> listeners_;
    bool dragging_ = false;
    std::string dragText_;
};

// The text of an item of the Edit menu for the history ("Paste pattern" after a pattern copy).
std::string MenuEditText(const Machine& m, MenuEdit edit);

}  // namespace qtam
