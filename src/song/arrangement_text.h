#pragma once
// The arrangement in the song's text form (song_text.h), after the patterns:
//
//   arrangement loop 2     # or "arrangement" alone: the list stops at its end
//     1 x2                 # pattern 1, played twice
//     2 mute 3,4           # pattern 2 once, channels 3 and 4 muted
//     1
//
// One entry per line: the pattern, xN for its repeats (1 when left out), and mute with a list
// of channels. "loop" alone goes on at entry 1. The lines after the heading are entries until
// the next "pattern" line or the end of the text.
//
// Thread: any.

#include <cstddef>
#include <string>

namespace qtam {

struct Arrangement;

// The section, ending in a newline; empty for a song without an arrangement.
std::string FormatArrangementText(const Arrangement& a);

// Reads the section line by line into an arrangement that starts empty. Each call returns
// false with the byte offset in the line (`at`) and the reason when the line is refused.
class ArrangementTextReader {
public:
    explicit ArrangementTextReader(Arrangement& into) : a_(into) {}
    // The heading line "arrangement [loop [ENTRY]]".
    bool Heading(const std::string& line, std::size_t& at, std::string& why);
    // One entry line.
    bool Entry(const std::string& line, std::size_t& at, std::string& why);
    // After the last line: the loop must name an entry.
    bool Finish(std::string& why) const;
    bool Seen() const { return seen_; }

private:
    Arrangement& a_;
    bool seen_ = false;
};

}  // namespace qtam
