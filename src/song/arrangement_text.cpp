#include "song/arrangement_text.h"

#include <cstdlib>
#include <memory>
#include <vector>

#include "core/arrangement.h"
#include "core/song.h"
#include "song/song_text.h"

namespace qtam {

namespace {

struct Word {
    std::string text;
    std::size_t begin = 0;
};

// The words of a line up to its comment.
std::vector<Word> Words(const std::string& line) {
    std::vector<Word> out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size() || line[i] == '#') break;
        const std::size_t begin = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '#') ++i;
        out.push_back({line.substr(begin, i - begin), begin});
    }
    return out;
}

// A whole number lo..hi written in at most three digits; -1 otherwise.
int SmallNumber(const std::string& text, int lo, int hi) {
    if (text.empty() || text.size() > 3) return -1;
    for (char c : text)
        if (c < '0' || c > '9') return -1;
    const int n = std::atoi(text.c_str());
    return n >= lo && n <= hi ? n : -1;
}

bool Refuse(std::size_t offset, std::string text, std::size_t& at, std::string& why) {
    at = offset;
    why = std::move(text);
    return false;
}

}  // namespace

std::string FormatArrangementText(const Arrangement& a) {
    if (a.empty()) return {};
    std::string out = "arrangement";
    if (a.loopTo == 1)
        out += " loop";
    else if (a.loopTo > 1)
        out += " loop " + std::to_string(a.loopTo);
    out += "  # entries: pattern, xREPEATS, mute CHANNELS\n";
    for (int n = 1; n <= a.count; ++n) {
        const ArrangementEntry& e = a.entry(n);
        out += "  " + std::to_string(e.pattern);
        if (e.repeats != 1) out += " x" + std::to_string(e.repeats);
        if (e.mutes != 0) {
            out += " mute ";
            const char* comma = "";
            for (int c = 1; c <= kChannels; ++c)
                if (MutesChannel(e.mutes, c)) out += comma + std::to_string(c), comma = ",";
        }
        out += "\n";
    }
    return out;
}

bool ArrangementTextReader::Heading(const std::string& line, std::size_t& at, std::string& why) {
    const std::vector<Word> w = Words(line);
    if (seen_) return Refuse(w[0].begin, "the arrangement is given twice", at, why);
    seen_ = true;
    if (w.size() == 1) return true;
    if (w[1].text != "loop")
        return Refuse(w[1].begin, "expected loop or the end of the line after arrangement", at,
                      why);
    a_.loopTo = 1;
    if (w.size() == 2) return true;
    const int entry = SmallNumber(w[2].text, 1, kMaxEntries);
    if (entry < 0) return Refuse(w[2].begin, "expected the entry to loop to (1..256)", at, why);
    a_.loopTo = static_cast<std::uint16_t>(entry);
    if (w.size() > 3) return Refuse(w[3].begin, "unexpected words after the loop entry", at, why);
    return true;
}

bool ArrangementTextReader::Entry(const std::string& line, std::size_t& at, std::string& why) {
    const std::vector<Word> w = Words(line);
    if (w.empty()) return true;
    if (a_.count >= kMaxEntries)
        return Refuse(w[0].begin, "an arrangement holds at most 256 entries", at, why);
    ArrangementEntry e{0, 1, 0, 0};
    const int pattern = SmallNumber(w[0].text, 1, kPatterns);
    if (pattern < 0) return Refuse(w[0].begin, "expected an entry's pattern (1..8)", at, why);
    e.pattern = static_cast<std::uint8_t>(pattern);
    std::size_t i = 1;
    if (i < w.size() && w[i].text.size() > 1 && w[i].text[0] == 'x') {
        const int repeats = SmallNumber(w[i].text.substr(1), 1, kMaxRepeats);
        if (repeats < 0) return Refuse(w[i].begin, "expected xN with N repeats (1..99)", at, why);
        e.repeats = static_cast<std::uint8_t>(repeats);
        ++i;
    }
    if (i < w.size() && w[i].text == "mute") {
        if (++i >= w.size())
            return Refuse(line.size(), "expected the channels to mute (such as 3,4)", at, why);
        for (; i < w.size(); ++i) {
            std::size_t from = 0;
            const std::string& list = w[i].text;
            while (from <= list.size()) {
                std::size_t comma = list.find(',', from);
                if (comma == std::string::npos) comma = list.size();
                const int channel = SmallNumber(list.substr(from, comma - from), 1, kChannels);
                if (channel < 0)
                    return Refuse(w[i].begin + from, "expected a channel to mute (1..8)", at, why);
                e.mutes = static_cast<std::uint8_t>(e.mutes | (1u << (channel - 1)));
                from = comma + 1;
            }
        }
    }
    if (i < w.size())
        return Refuse(w[i].begin, "expected xN or mute CHANNELS after the pattern", at, why);
    a_.entries[a_.count] = e;
    a_.count += 1;
    return true;
}

bool ArrangementTextReader::Finish(std::string& why) const {
    if (a_.loopTo <= a_.count) return true;
    why = "the arrangement loops to entry " + std::to_string(a_.loopTo) + " but has " +
          std::to_string(a_.count) + " entries";
    return false;
}

// ---- The song text with its arrangement (song_text.h)

std::string FormatSongText(const Song& song, const Arrangement& arrangement,
                           const std::function<std::string(int code)>& soundName) {
    std::string out = FormatSongText(song, soundName);
    if (!arrangement.empty()) out += "\n" + FormatArrangementText(arrangement);
    return out;
}

bool ApplySongText(Song& song, Arrangement& arrangement, const std::string& text,
                   std::string& error) {
    SongTextError e;
    if (ApplySongText(song, arrangement, text, e)) return true;
    error = e.str();
    return false;
}

bool ApplySongText(Song& song, const std::string& text, SongTextError& error) {
    auto ignored = std::make_unique<Arrangement>();
    return ApplySongText(song, *ignored, text, error);
}

}  // namespace qtam
