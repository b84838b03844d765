#pragma once
// Song files (one 103450-byte record) and the song flows of the File menu.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qtam {

struct Machine;
struct Arrangement;

inline constexpr const char* kSongExtension = ".SNG";
inline constexpr const char* kMsgSongOpenFailed = "An error occurred while opening the song...";
inline constexpr const char* kMsgNotASong = "This file appears not to be a valid songfile...";
inline constexpr const char* kMsgSaveChanges = "Do you want to save your changes first?";

inline constexpr const char* kMsgArrangementLeftOut =
    "The arrangement stored after the song could not be read and was left out; the patterns "
    "are loaded.";

// The arrangement block, stored after the record (all numbers little-endian):
//   0  4  identifier "QTAR"
//   4  4  length: the bytes after this field (6 + 4 x count)
//   8  2  version (1)
//  10  2  count of entries, 1..256
//  12  2  loop: 0 the list ends playback, 1..count the entry it goes on at
//  14  4 x count  entries: pattern 1..8, repeats 1..99, muted channels (bit c-1), 0
inline constexpr char kArrangementTag[4] = {'Q', 'T', 'A', 'R'};
inline constexpr std::uint16_t kArrangementVersion = 1;
inline constexpr std::size_t kArrangementHeaderSize = 14;

// What follows the record: nothing or other bytes (no block, as before arrangements), a block
// read, or a block left out (damaged, or of a version this program does not know).
enum class BlockRead { None, Read, Damaged, Unknown };
// Reads the block at the start of `bytes` (what follows the record) into `out`; `out` is left
// alone unless a block is read. `why` says what was wrong with a block left out.
BlockRead ReadArrangementBlock(const std::uint8_t* bytes, std::size_t size, Arrangement& out,
                               std::string* why = nullptr);
// The block of `a`; empty for a song without an arrangement, which is stored as the record
// alone.
std::vector<std::uint8_t> ArrangementBlock(const Arrangement& a);

// True when the Song was read; a failed load leaves Song, file name and changed flag alone.
// Values outside the model's ranges are brought into range. An arrangement block after the
// record is read with it; one that cannot be read is left out with a note.
bool LoadSong(Machine& m, const std::string& fileName, bool quiet);
// True when the file was written; a failed save leaves an existing file as it was.
bool SaveSong(Machine& m, const std::string& fileName, bool overwriteSilently);

// The bytes of a song file of the Song, exactly as SaveSong writes them (a plugin keeps them as
// its state in the host's session).
std::vector<std::uint8_t> SongFileBytes(const Machine& m);
// Reads the Song from the bytes of a song file as LoadSong reads a file: false, and nothing
// changed, when they are not one song record.
bool LoadSongBytes(Machine& m, std::span<const std::uint8_t> bytes);

// The file dialogs the flows need; each gives the chosen file, or nullopt when cancelled.
// A missing function counts as a cancelled dialog.
using ChooseFile = std::function<std::optional<std::string>()>;
struct SongDialogs {
    ChooseFile openSong;  // "Open a song", starting in m.editor.SongFolder
    ChooseFile saveSong;  // "Save a song", starting in m.editor.SongFolder
};
// A dialog that always gives the same answer.
ChooseFile Chosen(std::optional<std::string> file);

// The question before the Song is replaced (Yes/No/Cancel): Yes saves ("Save song"). True
// when the caller may go on: after No, or after Yes once the save went through. Cancel, or a
// save that failed or was cancelled, keeps the Song marked changed, and the caller stops, so
// nothing is lost.
bool AskToSaveChanges(Machine& m, const SongDialogs& dialogs);
// The same question before the program closes; Cancel keeps it open, and the next close asks
// again.
bool AskToSaveBeforeExit(Machine& m, const SongDialogs& dialogs);

// True when the new Song is in place (false: the changed-song question stopped it).
bool NewSongFlow(Machine& m, const SongDialogs& dialogs);
// True when a song was loaded. The step timing is refreshed in every case in which the
// changed-song question let the flow go on.
bool OpenSongFlow(Machine& m, const SongDialogs& dialogs);
bool SaveSongAsFlow(Machine& m, const SongDialogs& dialogs);
bool SaveSongFlow(Machine& m, const SongDialogs& dialogs);

// The main window became active: the banks (the kit the first time, then the configured
// userbank while none is loaded and the editor is closed).
void ActivateMainWindow(Machine& m, const std::string& programPath);

}  // namespace qtam
