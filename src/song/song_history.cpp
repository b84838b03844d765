#include "song/song_history.h"

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/arrangement.h"
#include "core/song.h"

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

// The history's offsets count the Song record's bytes, then the arrangement's.
constexpr std::size_t kDocumentSize = kSongSize + sizeof(Arrangement);

// The parts of the document the history keeps: everything but the userbank fields.
constexpr std::pair<std::size_t, std::size_t> kRecordedParts[] = {
    {0, offsetof(Song, userbankFile)},
    {offsetof(Song, author), kSongSize},
    {kSongSize, kDocumentSize},
};

// The bytes at a document offset; a run never spans the two records.
template <class S, class A>
auto* At(S& song, A& arrangement, std::size_t offset) {
    using Byte = std::conditional_t<std::is_const_v<S>, const std::uint8_t, std::uint8_t>;
    return offset < kSongSize ? reinterpret_cast<Byte*>(&song) + offset
                              : reinterpret_cast<Byte*>(&arrangement) + (offset - kSongSize);
}

// Appends the runs of bytes in [begin, end) in which `a` and `b` differ; `a` and `b` point at
// offset `begin`.
void FindRuns(const std::uint8_t* a, const std::uint8_t* b, std::size_t begin, std::size_t end,
              std::vector<Run>& runs) {
    a -= begin;
    b -= begin;
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
        if (!runs.empty() && runs.back().offset >= begin &&
            i - (runs.back().offset + runs.back().length) <= kJoinGap)
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

}  // namespace

SongHistory::SongHistory()
    : current_(std::make_unique<Song>()), currentArrangement_(std::make_unique<Arrangement>()) {}

SongHistory::~SongHistory() = default;

void SongHistory::Restart(const Song& song, const Arrangement& arrangement) {
    entries_.clear();
    position_ = 0;
    memory_ = 0;
    *current_ = song;
    *currentArrangement_ = arrangement;
}

bool SongHistory::Record(const Song& song, const Arrangement& arrangement, std::string text) {
    const Song& was = *current_;
    const Arrangement& wasArrangement = *currentArrangement_;
    std::vector<Run> runs;
    for (const auto& [begin, end] : kRecordedParts)
        FindRuns(At(was, wasArrangement, begin), At(song, arrangement, begin), begin, end, runs);
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
        const std::uint8_t* before = At(was, wasArrangement, r.offset);
        const std::uint8_t* after = At(song, arrangement, r.offset);
        entry.runs.insert(entry.runs.end(), before, before + r.length);
        entry.runs.insert(entry.runs.end(), after, after + r.length);
        std::memcpy(At(*current_, *currentArrangement_, r.offset), after, r.length);
    }

    // A new edit ends the branch that could have been redone.
    while (entries_.size() > position_) {
        memory_ -= MemoryOf(entries_.back());
        entries_.pop_back();
    }
    entries_.push_back(std::move(entry));
    memory_ += MemoryOf(entries_.back());
    ++position_;
    DropOldestPastLimit();
    return true;
}

bool SongHistory::Undo(Song& song, Arrangement& arrangement) {
    Record(song, arrangement, std::string(kUnnamedEdit));
    if (position_ == 0) return false;
    --position_;
    Apply(entries_[position_], false, song, arrangement);
    return true;
}

bool SongHistory::Redo(Song& song, Arrangement& arrangement) {
    Record(song, arrangement, std::string(kUnnamedEdit));
    if (position_ == entries_.size()) return false;
    Apply(entries_[position_], true, song, arrangement);
    ++position_;
    return true;
}

std::string_view SongHistory::UndoText() const {
    return CanUndo() ? std::string_view(entries_[position_ - 1].text) : std::string_view();
}

std::string_view SongHistory::RedoText() const {
    return CanRedo() ? std::string_view(entries_[position_].text) : std::string_view();
}

std::size_t SongHistory::MemoryOf(const Entry& entry) {
    const char* text = entry.text.data();
    const auto* object = reinterpret_cast<const char*>(&entry.text);
    // A short text lives inside the string object itself.
    const bool inside = text >= object && text < object + sizeof(entry.text);
    return sizeof(Entry) + entry.runs.capacity() + (inside ? 0 : entry.text.capacity() + 1);
}

void SongHistory::Apply(const Entry& entry, bool after, Song& song, Arrangement& arrangement) {
    const std::uint8_t* p = entry.runs.data();
    const std::uint8_t* last = p + entry.runs.size();
    std::size_t offset = 0;
    while (p < last) {
        offset += GetNumber(p);
        const std::size_t length = GetNumber(p);
        const std::uint8_t* bytes = p + (after ? length : 0);
        std::memcpy(At(song, arrangement, offset), bytes, length);
        std::memcpy(At(*current_, *currentArrangement_, offset), bytes, length);
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
    }
}

}  // namespace qtam
