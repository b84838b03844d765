#pragma once
// The captions the windows show for the document: the groove panel's title line and the
// menu-bar item that names the active userbank. Each is made from the state it names, when a
// window shows it, so that no caption can lag behind what it describes.
//
// Thread: any (plain functions of their arguments).

#include <string>

namespace qtam {

struct Song;
struct BankActivation;
struct SampleBank;

inline constexpr const char* kUntitledSong = "Untitled song";
inline constexpr const char* kNoUserbankCaption = "none loaded";

// The song's file and " - " (when it has one), then its title in quotation marks with " by "
// and the author when there is one, or "Untitled song" in quotation marks.
std::string SongTitleLine(const std::string& songFileName, const Song& song);

// The active userbank as "[description]" without trailing blanks, or "none loaded" while no
// bank is active (none chosen, the editor holding it, or the song's own bank missing).
std::string UserbankCaption(const BankActivation& activation, const SampleBank& userbank);

}  // namespace qtam
