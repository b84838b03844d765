#include "song/song_editor.h"

#include <algorithm>
#include <type_traits>
#include <utility>

#include "banks/kit.h"
#include "core/files.h"
#include "core/machine.h"
#include "engine/play_clock.h"
#include "song/arrangement_edits.h"
#include "song/edit_ops.h"
#include "song/grooves.h"
#include "song/init_song.h"
#include "song/panel_edits.h"
#include "song/song_info.h"

namespace qtam {

namespace {

// The velocity of a cell of the edited measure, -1 for no note (or a place outside it).
int CellVelocity(const Machine& m, int channel, int slot) {
    if (channel < 1 || channel > kChannels || slot < 1 || slot > kSlots) return -1;
    const StepCell& c =
        m.song.cell(m.editor.CurrentPattern, m.editor.CurrentMeasure, channel, slot);
    return c.hasNote() ? c.velocity : -1;
}

std::string Numbered(std::string_view text, int number) {
    return std::string(text) + " " + std::to_string(number);
}

// 2nd, 3rd, 4th, ... for the small numbers a row menu uses.
std::string OrdinalOf(int n) {
    const char* suffix = n == 2 ? "nd" : n == 3 ? "rd" : "th";
    return std::to_string(n) + suffix;
}

struct MenuEditEntry {
    MenuEdit edit;
    void (*operation)(Machine&);
    std::string_view text;
};

constexpr MenuEditEntry kMenuEdits[] = {
    {MenuEdit::Paste, Paste, "Paste"},
    {MenuEdit::PasteMix, PasteMix, "Paste mix"},
    {MenuEdit::FadeInChannel, FadeInChannel, "Fade in channel"},
    {MenuEdit::FadeOutChannel, FadeOutChannel, "Fade out channel"},
    {MenuEdit::FadeInMeasure, FadeInMeasure, "Fade in measure"},
    {MenuEdit::FadeOutMeasure, FadeOutMeasure, "Fade out measure"},
    {MenuEdit::PanLeftToRight, PanLeftToRight, "Pan left to right"},
    {MenuEdit::PanRightToLeft, PanRightToLeft, "Pan right to left"},
    {MenuEdit::PanCenter, PanCenter, "Pan center"},
    {MenuEdit::PanRandomly, PanRandomly, "Pan randomly"},
    {MenuEdit::PanInverse, PanInverse, "Pan inverse"},
    {MenuEdit::EraseChannel, EraseChannel, "Erase channel"},
    {MenuEdit::EraseMeasure, EraseMeasure, "Erase measure"},
};

const MenuEditEntry& EntryOf(MenuEdit edit) {
    for (const MenuEditEntry& e : kMenuEdits)
        if (e.edit == edit) return e;
    return kMenuEdits[0];
}

}  // namespace

std::string MenuEditText(const Machine& m, MenuEdit edit) {
    std::string text(EntryOf(edit).text);
    if (edit != MenuEdit::Paste && edit != MenuEdit::PasteMix) return text;
    // A paste is named after what the clipboard holds.
    switch (m.editor.ClipboardKind) {
        case 1:
            return text + " channel";
        case 2:
            return text + " measure";
        case 3:
            return text + " pattern";
        default:
            return text;
    }
}

SongEditor::SongEditor(Machine& m) : m_(m) {
    history_.Restart(m_.song, m_.arrangement);
}

void SongEditor::Listen(Listener listener) {
    listeners_.push_back(std::move(listener));
}

void SongEditor::Announce(SongChange what) {
    for (const Listener& listener : listeners_) listener(what);
}

bool SongEditor::Record(std::string text) {
    return history_.Record(m_.song, m_.arrangement, std::move(text));
}

template <class Change>
auto SongEditor::Edit(std::string text, SongChange what, Change change) {
    EndDrag();
    // Only an edit that changed the Song's bytes is recorded and told.
    if constexpr (std::is_void_v<decltype(change())>) {
        change();
        if (Record(std::move(text))) Announce(what);
    } else {
        auto result = change();
        if (Record(std::move(text))) Announce(what);
        return result;
    }
}

template <class Change>
void SongEditor::Drag(std::string text, SongChange what, Change change) {
    if (dragging_ && dragText_ != text) EndDrag();
    dragging_ = true;
    dragText_ = std::move(text);
    change();
    Announce(what);
}

void SongEditor::EndDrag() {
    if (!dragging_) return;
    dragging_ = false;
    Record(std::move(dragText_));
    dragText_.clear();
    Announce(SongChange::File);  // the Undo item names the drag now
}

// ---- Steps and notes

bool SongEditor::ToggleStep(int slot) {
    return Edit(Numbered("Toggle step", slot), SongChange::Step,
                [&] { return qtam::ToggleStep(m_, slot); });
}

bool SongEditor::ToggleCell(int channel, int slot) {
    return Edit(Numbered("Toggle step", slot) + ", channel " + std::to_string(channel),
                SongChange::Pattern, [&] { return qtam::ToggleCell(m_, channel, slot); });
}

bool SongEditor::RecordHit(int pattern, int measure, int channel, int slot, int velocity) {
    if (pattern < 1 || pattern > kPatterns || measure < 1 || measure > kMeasures || channel < 1 ||
        channel > kChannels || slot < 1 || slot > StepsPerMeasureOf(m_.song) || velocity < 1)
        return false;
    Edit(Numbered("Record channel", channel) + ", step " + std::to_string(slot),
         SongChange::Pattern, [&] {
             StepCell& cell = m_.song.cell(pattern, measure, channel, slot);
             if (!cell.hasNote()) {
                 cell.pan = 64;
                 cell.reversed = 0;
             }
             cell.velocity = static_cast<std::int8_t>(std::min(velocity, 127));
         });
    return true;
}

void SongEditor::DragPaintCell(int channel, int slot, bool note) {
    Drag(Numbered(note ? "Paint channel" : "Erase channel", channel), SongChange::Pattern,
         [&] { qtam::PaintCell(m_, channel, slot, note); });
}

int SongEditor::DragVelocity(int channel, int slot, int delta) {
    const int now = CellVelocity(m_, channel, slot);
    if (now < 0) return -1;
    Drag(Numbered("Velocity channel", channel) + ", step " + std::to_string(slot),
         SongChange::Pattern, [&] { SetCellVelocity(m_, channel, slot, now + delta); });
    return CellVelocity(m_, channel, slot);
}

int SongEditor::ToggleAccent(int channel, int slot, int back) {
    const int now = CellVelocity(m_, channel, slot);
    if (now < 0) return -1;
    return Edit(Numbered("Accent channel", channel) + ", step " + std::to_string(slot),
                SongChange::Pattern,
                [&] { return SetCellVelocity(m_, channel, slot, now == 127 ? back : 127); });
}

bool SongEditor::FillRow(int channel, int from, int every) {
    if (channel < 1 || channel > kChannels) return false;
    std::string text = Numbered(every <= 0 ? "Clear channel" : "Fill channel", channel);
    if (every == 1) text += " every step";
    if (every > 1) text += " every " + OrdinalOf(every) + " step";
    if (every > 0 && from > 1) text += " from step " + std::to_string(from);
    return Edit(std::move(text), SongChange::Pattern,
                [&] { return qtam::FillRow(m_, channel, from, every); });
}

bool SongEditor::SetNoteDetails(int velocity, int pan, bool reversed) {
    return Edit("Note details", SongChange::Step,
                [&] { return qtam::SetNoteDetails(m_, velocity, pan, reversed); });
}

// ---- Channels

void SongEditor::ToggleMute(int channel) {
    Edit(Numbered("Mute channel", channel), SongChange::Channels,
         [&] { qtam::ToggleMute(m_, channel); });
}

void SongEditor::ToggleDistortion(int channel) {
    Edit(Numbered("Distortion channel", channel), SongChange::Channels,
         [&] { qtam::ToggleDistortion(m_, channel); });
}

bool SongEditor::ChooseInstrument(int instrument) {
    return Edit("Instrument choice", SongChange::Channels,
                [&] { return qtam::ChooseInstrument(m_, instrument); });
}

// ---- Sliders

void SongEditor::DragChannelVolume(int channel, int volume) {
    Drag(Numbered("Volume channel", channel), SongChange::Channels,
         [&] { SetChannelVolume(m_, channel, volume); });
}

void SongEditor::DragTempo(int tempo) {
    Drag("Tempo", SongChange::Song, [&] { SetSongTempo(m_, tempo); });
}

void SongEditor::DragShuffle(int shuffle) {
    Drag("Shuffle", SongChange::Song, [&] { SetSongShuffle(m_, shuffle); });
}

void SongEditor::DragDistortionGain(int gain) {
    Drag("Distortion gain", SongChange::Channels, [&] { SetDistortionGain(m_, gain); });
}

void SongEditor::DragDistortionThreshold(int threshold) {
    Drag("Distortion threshold", SongChange::Channels,
         [&] { SetDistortionThreshold(m_, threshold); });
}

void SongEditor::SetTempo(int tempo) {
    Edit("Tempo", SongChange::Song, [&] { SetSongTempo(m_, tempo); });
}

bool SongEditor::EnterTempo(DialogResult result, std::string_view text) {
    return Edit("Tempo", SongChange::Song, [&] { return qtam::EnterTempo(m_, result, text); });
}

bool SongEditor::EnterShuffle(DialogResult result, std::string_view text) {
    return Edit("Shuffle", SongChange::Song, [&] { return qtam::EnterShuffle(m_, result, text); });
}

// ---- Patterns and the Song

void SongEditor::SetMeasureCount(int count) {
    Edit("Measure count", SongChange::Pattern, [&] { qtam::SetMeasureCount(m_, count); });
}

void SongEditor::SetStepsPerMeasure(int steps) {
    Edit(steps == 12 ? "12 step measure" : "16 step measure", SongChange::Song,
         [&] { qtam::SetStepsPerMeasure(m_, steps); });
}

void SongEditor::ApplyMenuEdit(MenuEdit edit) {
    const MenuEditEntry& entry = EntryOf(edit);
    Edit(MenuEditText(m_, edit), SongChange::Pattern, [&] {
        entry.operation(m_);
        m_.editor.DropPreparedStart();
    });
}

void SongEditor::ApplyGrooveMenuEntry(int index) {
    const std::string_view caption = GrooveMenuCaption(index);
    Edit(index == kRandomChaosMenuIndex ? std::string(caption)
                                        : "Apply groove " + std::string(caption),
         SongChange::Song, [&] { ChooseGrooveMenuEntry(m_, index); });
}

void SongEditor::ToggleHumanize() {
    Edit("Humanize", SongChange::Song, [&] { qtam::ToggleHumanize(m_); });
}

void SongEditor::ApplySlide(SlideField field, DialogResult result, int start, int end) {
    Edit(field == SlideField::Velocity ? "Custom velocity slide" : "Custom pan slide",
         SongChange::Pattern, [&] { CustomSlide(m_, field, result, start, end); });
}

bool SongEditor::ApplySongInfo(SongInfoDialog& dialog, const SongInfoFields& edited) {
    return Edit("Song info", SongChange::Song, [&] { return dialog.Ok(m_, edited); });
}

// ---- The edit position: no edit, so an open drag goes on (the follow switch moves the edit
// measure while a slider is held).

void SongEditor::ChooseChannel(int channel) {
    // The channel already edited: a volume drag chooses its channel at every move.
    if (channel < 1 || channel > kChannels || channel == m_.editor.CurrentChannel) return;
    m_.editor.CurrentChannel = static_cast<std::uint8_t>(channel);
    Announce(SongChange::Position);
}

void SongEditor::ChooseMeasure(int measure) {
    qtam::ChooseMeasure(m_, measure);
    Announce(SongChange::Position);
}

void SongEditor::ChooseStep(int slot) {
    if (slot < 1 || slot > kSlots) return;
    m_.editor.CurrentStep = static_cast<std::uint8_t>(slot);
}

bool SongEditor::ChoosePattern(int pattern) {
    if (!qtam::ChoosePattern(m_, pattern)) return false;
    Announce(SongChange::Position);
    return true;
}

// ---- Undo and redo

void SongEditor::FollowSong() {
    m_.editor.StartPrepared = false;
    m_.editor.HumanizeChecked = m_.song.humanize != 0;
    qtam::SetTempo(PlayerOf(m_), m_.song.tempo, m_.song.shuffle);
    Announce(SongChange::Song);
}

bool SongEditor::Undo() {
    EndDrag();
    if (!history_.Undo(m_.song, m_.arrangement)) return false;
    FollowSong();
    return true;
}

bool SongEditor::Redo() {
    EndDrag();
    if (!history_.Redo(m_.song, m_.arrangement)) return false;
    FollowSong();
    return true;
}

// ---- The arrangement

bool SongEditor::AddEntry(int at, int pattern, int repeats) {
    return Edit("Add entry", SongChange::Arrangement,
                [&] { return InsertEntry(m_.arrangement, at, pattern, repeats); });
}

bool SongEditor::AddEditedPattern(int at) {
    return AddEntry(at, m_.editor.CurrentPattern, 1);
}

bool SongEditor::DuplicateEntry(int entry) {
    return Edit(Numbered("Duplicate entry", entry), SongChange::Arrangement,
                [&] { return qtam::DuplicateEntry(m_.arrangement, entry); });
}

bool SongEditor::DeleteEntry(int entry) {
    return Edit(Numbered("Delete entry", entry), SongChange::Arrangement,
                [&] { return qtam::DeleteEntry(m_.arrangement, entry); });
}

bool SongEditor::MoveEntry(int entry, int to) {
    return Edit(Numbered("Move entry", entry), SongChange::Arrangement,
                [&] { return qtam::MoveEntry(m_.arrangement, entry, to); });
}

bool SongEditor::SetEntryPattern(int entry, int pattern) {
    return Edit(Numbered("Pattern entry", entry), SongChange::Arrangement,
                [&] { return qtam::SetEntryPattern(m_.arrangement, entry, pattern); });
}

bool SongEditor::SetEntryRepeats(int entry, int repeats) {
    return Edit(Numbered("Repeats entry", entry), SongChange::Arrangement,
                [&] { return qtam::SetEntryRepeats(m_.arrangement, entry, repeats); });
}

bool SongEditor::SetEntryMutes(int entry, std::uint8_t mutes) {
    return Edit(Numbered("Mutes entry", entry), SongChange::Arrangement,
                [&] { return qtam::SetEntryMutes(m_.arrangement, entry, mutes); });
}

bool SongEditor::ToggleEntryMute(int entry, int channel) {
    if (entry < 1 || entry > m_.arrangement.count || channel < 1 || channel > kChannels)
        return false;
    const auto bit = static_cast<std::uint8_t>(1u << (channel - 1));
    return SetEntryMutes(entry, static_cast<std::uint8_t>(m_.arrangement.entry(entry).mutes ^ bit));
}

bool SongEditor::SetArrangementLoop(int loopTo) {
    return Edit("Arrangement end", SongChange::Arrangement,
                [&] { return qtam::SetArrangementLoop(m_.arrangement, loopTo); });
}

// ---- Files

bool SongEditor::Begin(const std::string& songFile) {
    dragging_ = false;
    InitSong(m_);
    const bool loaded = !songFile.empty() && LoadSong(m_, songFile, false);
    Started(loaded ? songFile : std::string());
    return loaded;
}

bool SongEditor::BeginSession(const std::string& songFile) {
    if (!FileExists(songFile)) {
        Begin("");
        m_.editor.SongFileName = songFile;
        Announce(SongChange::File);
        return true;
    }
    // Read before anything is reset: a file that cannot be read leaves the Song, its name and
    // its history as they were.
    if (!LoadSong(m_, songFile, false)) return false;
    const auto read = std::make_unique<Song>(m_.song);
    dragging_ = false;
    InitSong(m_);
    m_.song = *read;
    Started(songFile);
    return true;
}

void SongEditor::Started(const std::string& loadedFile) {
    if (!loadedFile.empty()) {
        m_.editor.SongFileName = loadedFile;
        // The menu check and the step timing follow the song just read, and its sounds are
        // the userbank it names.
        m_.editor.HumanizeChecked = m_.song.humanize != 0;
        qtam::SetTempo(PlayerOf(m_), m_.song.tempo, m_.song.shuffle);
        LoadSongUserbank(m_);
        MarkSongSaved(m_);
    }
    history_.Restart(m_.song, m_.arrangement);
    Announce(SongChange::Song);
}

bool SongEditor::SaveSongTo(const std::string& songFile) {
    EndDrag();
    const bool saved = qtam::SaveSong(m_, songFile, true);
    if (saved) {
        m_.editor.SongFileName = songFile;
    }
    Announce(SongChange::File);
    return saved;
}

void SongEditor::TakeSong() {
    dragging_ = false;
    MarkSongSaved(m_);
    history_.Restart(m_.song, m_.arrangement);
    Announce(SongChange::Song);
}

bool SongEditor::RunFlow(bool (*flow)(Machine&, const SongDialogs&), const SongDialogs& dialogs,
                         bool replaces) {
    EndDrag();
    const bool done = flow(m_, dialogs);
    // Another Song in place starts an empty history; otherwise a save may have gone through.
    if (done && replaces) history_.Restart(m_.song, m_.arrangement);
    Announce(done && replaces ? SongChange::Song : SongChange::File);
    return done;
}

bool SongEditor::AskToSaveChanges(const SongDialogs& dialogs) {
    return RunFlow(qtam::AskToSaveChanges, dialogs, false);
}

bool SongEditor::NewSong(const SongDialogs& dialogs) {
    return RunFlow(NewSongFlow, dialogs, true);
}

bool SongEditor::OpenSong(const SongDialogs& dialogs) {
    return RunFlow(OpenSongFlow, dialogs, true);
}

bool SongEditor::SaveSong(const SongDialogs& dialogs) {
    return RunFlow(SaveSongFlow, dialogs, false);
}

bool SongEditor::SaveSongAs(const SongDialogs& dialogs) {
    return RunFlow(SaveSongAsFlow, dialogs, false);
}

bool SongEditor::LoadUserbank(const std::string& file) {
    EndDrag();
    const bool loaded = LoadUserbankFromMenu(m_, file);
    Announce(SongChange::Song);  // the instrument names and the bank's caption
    return loaded;
}

}  // namespace qtam
