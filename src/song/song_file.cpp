#include "song/song_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/messages.h"
#include "core/song.h"
#include "engine/play_clock.h"
#include "song/init_song.h"

namespace qtam {

namespace {

enum class SongRead { Ok, CannotOpen, NotOneRecord };

// Reads the first record of a file that holds exactly one (trailing bytes short of a second
// record are allowed). Only a regular file is read: a FIFO or device would never end.
// `reason` receives why the file was refused.
SongRead ReadSongRecord(const std::string& path, Song& into, std::string& reason) {
    int error = 0;
    std::uint64_t size = 0;
    const int fd = OpenRegularFileForReading(path, &error, &size);
    reason = FileErrorReason(error);
    // A folder is no file to read: it cannot be opened as a song.
    if (fd < 0) return error == EINVAL ? SongRead::NotOneRecord : SongRead::CannotOpen;
    SongRead result = SongRead::Ok;
    if (size / kSongSize != 1) {
        reason = "a song file holds one record of " + std::to_string(kSongSize) +
                 " bytes; this file has " + std::to_string(size);
        result = SongRead::NotOneRecord;
    } else if (::pread(fd, &into, kSongSize, 0) != static_cast<ssize_t>(kSongSize)) {
        reason = std::strerror(errno);
        result = SongRead::CannotOpen;
    }
    ::close(fd);
    return result;
}

// The Song read, in range, in place of the Song: opened as it is saved, at pattern 1.
void TakeSong(Machine& m, Song& song) {
    NormalizeSong(song);
    std::memcpy(&m.song, &song, kSongSize);
    MarkSongSaved(m);
    m.editor.CurrentPattern = 1;
    m.editor.CurrentMeasure = 1;
    m.editor.CurrentStep = 1;
}

}  // namespace

bool LoadSong(Machine& m, const std::string& fileName, bool quiet) {
    // Reading needs no write permission, so the file's permissions are never touched.
    const std::string name = NameToOpen(fileName, kSongExtension);
    BusyCursor busy(*m.prompter);

    auto song = std::make_unique<Song>();
    std::string reason;
    switch (ReadSongRecord(name, *song, reason)) {
        case SongRead::CannotOpen:
            if (!quiet) m.prompter->Warn(FileFailureText(kMsgSongOpenFailed, name, reason));
            return false;
        case SongRead::NotOneRecord:
            m.prompter->Warn(FileFailureText(kMsgNotASong, name, reason));
            return false;
        case SongRead::Ok:
            break;
    }
    TakeSong(m, *song);
    return true;
}

std::vector<std::uint8_t> SongFileBytes(const Machine& m) {
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(&m.song);
    return {bytes, bytes + kSongSize};
}

bool LoadSongBytes(Machine& m, std::span<const std::uint8_t> bytes) {
    if (bytes.size() / kSongSize != 1) return false;
    auto song = std::make_unique<Song>();
    std::memcpy(song.get(), bytes.data(), kSongSize);
    TakeSong(m, *song);
    return true;
}

bool SaveSong(Machine& m, const std::string& fileName, bool overwriteSilently) {
    const std::string name = WithDefaultExtension(fileName, kSongExtension);
    ReadOnlyScope readOnly(m.attributes, name);

    const bool saved =
        SaveFileAsked(*m.prompter, name, overwriteSilently, [&](SafeFileWriter& out) {
            const std::vector<std::uint8_t> bytes = SongFileBytes(m);
            return out.Write(bytes.data(), bytes.size());
        });
    if (!saved) return false;
    MarkSongSaved(m);
    return true;
}

ChooseFile Chosen(std::optional<std::string> file) {
    return [file = std::move(file)] { return file; };
}

static std::optional<std::string> Ask(const ChooseFile& dialog) {
    return dialog ? dialog() : std::nullopt;
}

bool AskToSaveChanges(Machine& m, const SongDialogs& dialogs) {
    if (!SongChanged(m)) return true;
    // Cancel (also Escape and the close box) keeps the Song as it is, changed mark included.
    switch (m.prompter->AskYesNoCancel(kMsgSaveChanges)) {
        case Answer::Yes:
            return SaveSongFlow(m, dialogs);
        case Answer::No:
            return true;
        case Answer::Cancel:
            break;
    }
    return false;
}

bool AskToSaveBeforeExit(Machine& m, const SongDialogs& dialogs) {
    return AskToSaveChanges(m, dialogs);
}

bool NewSongFlow(Machine& m, const SongDialogs& dialogs) {
    if (!AskToSaveChanges(m, dialogs)) return false;
    m.editor.SongFileName.clear();
    InitSong(m);
    m.song.userbankFile.set(m.activation.UserbankPath);
    m.song.userbankDescription.set(m.banks.userbank.description);
    MarkSongSaved(m);
    UpdateTitle(m);
    return true;
}

bool OpenSongFlow(Machine& m, const SongDialogs& dialogs) {
    if (!AskToSaveChanges(m, dialogs)) return false;
    std::optional<std::string> chosen = Ask(dialogs.openSong);
    bool loaded = chosen && LoadSong(m, *chosen, false);
    if (loaded) {
        m.editor.SongFileName = *chosen;
        m.editor.SongFolder = FolderOfChosenFile(*chosen);
        m.editor.CurrentPattern = 1;
        m.player.clock.PlayPattern = 1;
        m.player.clock.NextPattern = 1;
        m.editor.HumanizeChecked = m.song.humanize != 0;
        LoadSongUserbank(m);
        MarkSongSaved(m);  // a userbank the song names but that is missing is dropped unasked
    }
    UpdateTitle(m);
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
    return loaded;
}

bool SaveSongAsFlow(Machine& m, const SongDialogs& dialogs) {
    std::optional<std::string> chosen = Ask(dialogs.saveSong);
    bool saved = chosen && SaveSong(m, *chosen, false);
    if (saved) {
        m.editor.SongFileName = WithDefaultExtension(*chosen, kSongExtension);
        m.editor.SongFolder = FolderOfChosenFile(*chosen);
    }
    UpdateTitle(m);
    return saved;
}

bool SaveSongFlow(Machine& m, const SongDialogs& dialogs) {
    if (m.editor.SongFileName.empty()) return SaveSongAsFlow(m, dialogs);
    return SaveSong(m, m.editor.SongFileName, true);
}

void ActivateMainWindow(Machine& m, const std::string& programPath) {
    ActivateBanks(m, programPath);
    UpdateTitle(m);
}

const std::string& UpdateTitle(Machine& m) {
    std::string caption;
    if (!m.editor.SongFileName.empty()) caption = m.editor.SongFileName + " - ";
    const std::string title = m.song.title.str();
    if (title.empty()) {
        caption += std::string("\"") + kUntitledSong + "\"";
    } else {
        caption += "\"" + title + "\"";
        const std::string author = m.song.author.str();
        if (!author.empty()) caption += " by " + author;
    }
    m.editor.PanelCaption = std::move(caption);
    return m.editor.PanelCaption;
}

}  // namespace qtam
