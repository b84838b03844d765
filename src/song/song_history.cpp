#include "song/song_history.h"

#include <cstddef>
#include <cstring>
#include <utility>

#include "core/machine.h"
#include "core/song.h"
#include "engine/play_clock.h"
#include "song/edit_ops.h"
#include "song/song_file.h"

namespace qtam {

namespace {

struct Run {
    std::size_t offset;
    std::size_t length;
};

// Two runs this close are kept as one: the byte between them, twice, costs no more than the
// two header bytes a run of its own takes (most edits change a byte here and there).
constexpr std::size_t kJoinGap = 1;
constexpr std::size_t kBlock = 64;  // equal blocks are skipped whole

// The parts of the record the history keeps: everything but the userbank fields.
constexpr std::pair<std::size_t, std::size_t> kRecordedParts[] = {
    {0, offsetof(Song, userbankFile)},
    {offsetof(Song, author), kSongSize},
};

const std::uint8_t* Bytes(const Song& song) {
    return reinterpret_cast<const std::uint8_t*>(&song);
}
std::uint8_t* Bytes(Song& song) {
    return reinterpret_cast<std::uint8_t*>(&song);
}

// Appends the runs of bytes in [begin, end) in which `a` and `b` differ.
void FindRuns(const std::uint8_t* a, const std::uint8_t* b, std::size_t begin, std::size_t end,
              std::vector<Run>& runs) {
    std::size_t i = begin;
    while (i < end) {
        if (end - i >= kBlock && std::memcmp(a + i, b + i, kBlock) == 0) {
            i += kBlock;
            continue;
        }
        if (a[i] == b[i]) {
            ++i;
            continue;
        }
        std::size_t j = i + 1;
        while (j < end && a[j] != b[j]) ++j;
        if (!runs.empty() && i - (runs.back().offset + runs.back().length) <= kJoinGap)
            runs.back().length = j - runs.back().offset;
        else
            runs.push_back({i, j - i});
        i = j;
    }
}

// A number in 7-bit groups, low group first, the top bit set on all but the last: one byte up
// to 127, three at most for an offset in the Song.
void PutNumber(std::vector<std::uint8_t>& out, std::size_t value) {
    while (value >= 0x80) {
        out.push_back(static_cast<std::uint8_t>(value | 0x80));
        value >>= 7;
    }
    out.push_back(static_cast<std::uint8_t>(value));
}

std::size_t NumberSize(std::size_t value) {
    std::size_t size = 1;
    for (; value >= 0x80; value >>= 7) ++size;
    return size;
}

std::size_t GetNumber(const std::uint8_t*& p) {
    std::size_t value = 0;
    for (int shift = 0;; shift += 7) {
        const std::uint8_t byte = *p++;
        value |= std::size_t{byte & 0x7Fu} << shift;
        if ((byte & 0x80) == 0) return value;
    }
}

// What follows the Song's bytes after an undo or a redo.
void FollowSong(Machine& m, const SongHistory& history) {
    m.editor.SongChanged = !history.AtSaved();
    m.editor.StartPrepared = false;
    m.editor.HumanizeChecked = m.song.humanize != 0;
    SetTempo(m, m.song.tempo, m.song.shuffle);
    UpdateTitle(m);
}

}  // namespace

SongHistory::SongHistory() : current_(std::make_unique<Song>()) {}

SongHistory::~SongHistory() = default;

void SongHistory::Restart(const Song& song) {
    entries_.clear();
    position_ = 0;
    saved_ = 0;
    memory_ = 0;
    *current_ = song;
    Notify();
}

bool SongHistory::Record(const Song& song, std::string text) {
    const std::uint8_t* before = Bytes(*current_);
    const std::uint8_t* after = Bytes(song);
    std::vector<Run> runs;
    for (const auto& [begin, end] : kRecordedParts) FindRuns(before, after, begin, end, runs);
    if (runs.empty()) return false;

    Entry entry;
    entry.text = std::move(text);
    std::size_t size = 0, end = 0;
    for (const Run& r : runs) {
        size += NumberSize(r.offset - end) + NumberSize(r.length) + 2 * r.length;
        end = r.offset + r.length;
    }
    entry.runs.reserve(size);
    end = 0;
    for (const Run& r : runs) {
        PutNumber(entry.runs, r.offset - end);
        PutNumber(entry.runs, r.length);
        end = r.offset + r.length;
        entry.runs.insert(entry.runs.end(), before + r.offset, before + r.offset + r.length);
        entry.runs.insert(entry.runs.end(), after + r.offset, after + r.offset + r.length);
        std::memcpy(Bytes(*current_) + r.offset, after + r.offset, r.length);
    }

    // A new edit ends the branch that could have been redone, with a saved state on it.
    while (entries_.size() > position_) {
        memory_ -= MemoryOf(entries_.back());
        entries_.pop_back();
    }
    if (saved_ != kNoSavedState && saved_ > position_) saved_ = kNoSavedState;
    entries_.push_back(std::move(entry));
    memory_ += MemoryOf(entries_.back());
    ++position_;
    DropOldestPastLimit();
    Notify();
    return true;
}

bool SongHistory::Undo(Song& song) {
    Record(song, std::string(kUnnamedEdit));
    if (position_ == 0) return false;
    --position_;
    Apply(entries_[position_], false, song);
    Notify();
    return true;
}

bool SongHistory::Redo(Song& song) {
    Record(song, std::string(kUnnamedEdit));
    if (position_ == entries_.size()) return false;
    Apply(entries_[position_], true, song);
    ++position_;
    Notify();
    return true;
}

std::string_view SongHistory::UndoText() const {
    return CanUndo() ? std::string_view(entries_[position_ - 1].text) : std::string_view();
}

std::string_view SongHistory::RedoText() const {
    return CanRedo() ? std::string_view(entries_[position_].text) : std::string_view();
}

void SongHistory::MarkSaved(const Song& song) {
    Record(song, std::string(kUnnamedEdit));
    saved_ = position_;
    Notify();
}

void SongHistory::ForgetSaved() {
    saved_ = kNoSavedState;
    Notify();
}

std::size_t SongHistory::MemoryOf(const Entry& entry) {
    const char* text = entry.text.data();
    const auto* object = reinterpret_cast<const char*>(&entry.text);
    // A short text lives inside the string object itself.
    const bool inside = text >= object && text < object + sizeof(entry.text);
    return sizeof(Entry) + entry.runs.capacity() + (inside ? 0 : entry.text.capacity() + 1);
}

void SongHistory::Apply(const Entry& entry, bool after, Song& song) {
    const std::uint8_t* p = entry.runs.data();
    const std::uint8_t* last = p + entry.runs.size();
    std::size_t offset = 0;
    while (p < last) {
        offset += GetNumber(p);
        const std::size_t length = GetNumber(p);
        const std::uint8_t* bytes = p + (after ? length : 0);
        std::memcpy(Bytes(song) + offset, bytes, length);
        std::memcpy(Bytes(*current_) + offset, bytes, length);
        p += 2 * length;
        offset += length;
    }
}

void SongHistory::DropOldestPastLimit() {
    // The newest entry always stays: it is the edit just made.
    while (memory_ > kHistoryMemoryLimit && entries_.size() > 1) {
        memory_ -= MemoryOf(entries_.front());
        entries_.pop_front();
        --position_;
        if (saved_ != kNoSavedState) saved_ = saved_ == 0 ? kNoSavedState : saved_ - 1;
    }
}

void SongHistory::Notify() {
    if (Changed) Changed();
}

bool RecordEdit(Machine& m, SongHistory& history, std::string text) {
    if (!history.Record(m.song, std::move(text))) return false;
    m.editor.SongChanged = !history.AtSaved();
    return true;
}

bool UndoEdit(Machine& m, SongHistory& history) {
    if (!history.Undo(m.song)) return false;
    FollowSong(m, history);
    return true;
}

bool RedoEdit(Machine& m, SongHistory& history) {
    if (!history.Redo(m.song)) return false;
    FollowSong(m, history);
    return true;
}

void TakeSavedState(const Machine& m, SongHistory& history) {
    if (!m.editor.SongChanged) history.MarkSaved(m.song);
}

std::string MenuEditText(const Machine& m, void (*operation)(Machine&)) {
    if (operation == Paste || operation == PasteMix) {
        std::string text = operation == Paste ? "Paste" : "Paste mix";
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
    static constexpr std::pair<void (*)(Machine&), std::string_view> kTexts[] = {
        {FadeInChannel, "Fade in channel"},
        {FadeOutChannel, "Fade out channel"},
        {FadeInMeasure, "Fade in measure"},
        {FadeOutMeasure, "Fade out measure"},
        {PanLeftToRight, "Pan left to right"},
        {PanRightToLeft, "Pan right to left"},
        {PanCenter, "Pan center"},
        {PanRandomly, "Pan randomly"},
        {PanInverse, "Pan inverse"},
        {EraseChannel, "Erase channel"},
        {EraseMeasure, "Erase measure"},
    };
    for (const auto& [known, text] : kTexts)
        if (known == operation) return std::string(text);
    return std::string(kUnnamedEdit);
}

}  // namespace qtam
