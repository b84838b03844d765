#pragma once
// The default drum kit and which userbank is active for playback.

#include <optional>
#include <string>

#include "banks/userbank_file.h"

namespace qtam {

struct Machine;

// The kit's file in the program's data folder. It is a userbank-format file, not a library: the
// name is the one the first releases shipped it under, kept so that existing installations, scripts
// and the configuration's paths still find it.
inline constexpr const char* kKitFileName = "engines.dll";
inline constexpr const char* kExampleSongsFolder = "songs";
inline constexpr const char* kMsgKitFailed =
    "An error occurred while loading the default-drumkit...";

// Fills the internal bank from a kit file (userbank format, 40000 samples per slot at most).
// A refused kit leaves the internal bank as it was.
bool LoadInternalBank(Machine& m, const std::string& fileName);
// The same file checked in full, but only the names and attributes of its sounds taken, not
// the sounds: for what only shows them. The internal bank's slots are left without sound.
bool LoadInternalBankNames(Machine& m, const std::string& fileName);
// The same, with the sounds of the slots in `sounds` (those a song's channels name, say): the
// other slots are left without sound.
bool LoadInternalBankSounds(Machine& m, const std::string& fileName, SlotSet sounds);

// The folder of the program's data (the kit, the example songs), ending in a separator: the
// program's own folder when the kit lies beside it (a build folder), otherwise the installed
// data folder relative to the program (bin/../share/qtam), so neither needs configuring.
std::string DataFolderFor(const std::string& programPath);

// The kit file in the program's data folder.
std::string KitPathFor(const std::string& programPath);

// The folder of the example songs (the demo among them) in the program's data folder.
std::string ExampleSongsFolderFor(const std::string& programPath);

// The first run: with no song folder configured yet, the song dialogs start where the example
// songs are (when that folder exists).
void StartSongFolderAtExamples(Machine& m, const std::string& programPath);

// The banks' part of the main window's activation: the kit the first time, then the
// configured userbank while none is loaded and the editor is closed.
// False when the kit was to be loaded and could not be (the user has been told).
bool ActivateBanks(Machine& m, const std::string& programPath);
inline constexpr const char* kMsgUserbankMissing =
    "The userbank of the last session is missing (on a drive that is not mounted?). Q.Tam "
    "starts without it and keeps it chosen for the next start.";
// kMsgUserbankMissing and the file.
std::string UserbankMissingText(const std::string& path);

// When the groove panel becomes active: loads the active userbank while none is loaded.
void LoadActiveUserbankIfNone(Machine& m);

// Userbank "&Load" (and the menu-bar bank item). `chosen` is the dialog's file, nullopt when
// cancelled. True when the bank was loaded.
bool LoadUserbankFromMenu(Machine& m, const std::optional<std::string>& chosen);

inline constexpr const char* kMsgSongUserbankMissing =
    "The userbank of this song could not be loaded. The channels that use its sounds stay "
    "silent until the userbank is found and the song is opened again.";

// After a song was opened: its userbank, unless the editor is open. The bank is looked up with
// FindSongUserbank beside m.editor.SongFileName; UserbankPath becomes the file used. A bank
// that is missing or unreadable is reported (the file looked for and why); then the userbank in
// memory is emptied, so no other bank's sounds play in its place.
bool LoadSongUserbank(Machine& m);
// The message for a song's userbank that cannot be read at `looked` (found from `stored`).
std::string SongUserbankMissingText(const std::string& stored, const std::string& looked,
                                    const std::string& reason);

// The userbank file a song names: the stored path when that file exists, otherwise a file of
// the same name in the song file's folder when there is one (songs travel with their banks, and
// songs made elsewhere store paths of other machines), otherwise the stored path as it is.
std::string FindSongUserbank(const std::string& stored, const std::string& songFile);

}  // namespace qtam
