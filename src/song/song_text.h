#pragma once
// A readable text form of songs: one line per channel, one character per step, and exact
// notations for every byte the compact form cannot say. Formatting a song and building a new
// Song from that text gives the same record byte for byte.

#include <functional>
#include <string>

namespace qtam {

struct Song;
struct Arrangement;

// Where and why a text was refused. `column` is 0 when the whole line is meant.
struct SongTextError {
    int line = 0;
    int column = 0;
    std::string message;

    // "line 3, column 7: message" (or "line 3: message").
    std::string str() const;
    // "file:3:7: message", the form compilers use.
    std::string at(const std::string& file) const;
};

// Applies the text to `song` (normally a new Song). On an error the song is left as it was.
bool ApplySongText(Song& song, const std::string& text, SongTextError& error);
bool ApplySongText(Song& song, const std::string& text, std::string& error);
// The same with the arrangement section (arrangement_text.h) read into `arrangement`, which a
// text without one leaves empty.
bool ApplySongText(Song& song, Arrangement& arrangement, const std::string& text,
                   SongTextError& error);
bool ApplySongText(Song& song, Arrangement& arrangement, const std::string& text,
                   std::string& error);

// The song in the same form: its settings, every pattern and every stored measure that differs
// from a new Song's. `soundName`, when given, names sound codes in comments on channel lines.
std::string FormatSongText(const Song& song,
                           const std::function<std::string(int code)>& soundName = {});
// The same followed by the arrangement section, when the song has an arrangement.
std::string FormatSongText(const Song& song, const Arrangement& arrangement,
                           const std::function<std::string(int code)>& soundName = {});

// Step characters: '.' or '-' no note, 'x' 100, 'X' 127, 'o' 60, '+' 80 (the panel's note),
// '0'..'9' a velocity in ninths of 127, '<' a note of 100 played backwards. -1 means no
// character of the form; -2 no note.
int VelocityOfStepChar(char c);
// The character that says exactly this velocity (and reverse flag); 0 when none does.
char StepCharOf(int velocity, bool reversed);

}  // namespace qtam
