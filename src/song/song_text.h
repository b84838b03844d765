#pragma once
// A readable text form of songs: one line per channel, one character per step. The command-line
// tool builds song files from it and prints songs in it.

#include <functional>
#include <string>

namespace qtam {

struct Song;

// Applies the text to `song` (normally a new Song). On an error the song is left as it was and
// `error` says which line and why.
bool ApplySongText(Song& song, const std::string& text, std::string& error);

// The song in the same form: its settings and every pattern in use, measure by measure.
// `soundName`, when given, names sound codes in comments on the channel lines.
std::string FormatSongText(const Song& song,
                           const std::function<std::string(int code)>& soundName = {});

// Step characters: '.' or '-' no note, 'x' 100, 'X' 127, 'o' 60, '0'..'9' a velocity in ninths
// of 127, '<' a note of 100 played backwards. -1 means no character of the format.
int VelocityOfStepChar(char c);
char StepCharOf(int velocity, bool reversed);

}  // namespace qtam
