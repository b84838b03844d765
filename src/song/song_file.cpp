#include "song/song_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/arrangement.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/messages.h"
#include "core/song.h"
#include "engine/play_clock.h"
#include "song/init_song.h"

namespace qtam {

namespace {

enum class SongRead { Ok, CannotOpen, NotOneRecord };

std::uint16_t Get16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
std::uint32_t Get32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(Get16(p)) | (static_cast<std::uint32_t>(Get16(p + 2)) << 16);
}
void Put16(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFF);
    p[1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
}

// Reads the first record of a file that holds exactly one (trailing bytes short of a second
// record are allowed) and what follows it into `rest`. Only a regular file is read: a FIFO or
// device would never end. `reason` receives why the file was refused.
SongRead ReadSongRecord(const std::string& path, Song& into, std::vector<std::uint8_t>& rest,
                        std::string& reason) {
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
    } else {
        rest.resize(size - kSongSize);  // less than one record
        const ssize_t got = rest.empty() ? 0 : ::pread(fd, rest.data(), rest.size(), kSongSize);
        rest.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    }
    ::close(fd);
    return result;
}

// The Song read, in range, in place of the Song: opened as it is saved, at pattern 1.
void TakeSong(Machine& m, Song& song, const Arrangement& arrangement) {
    NormalizeSong(song);
    std::memcpy(&m.song, &song, kSongSize);
    m.arrangement = arrangement;
    MarkSongSaved(m);
    m.editor.CurrentPattern = 1;
    m.editor.CurrentMeasure = 1;
    m.editor.CurrentStep = 1;
}

}  // namespace

BlockRead ReadArrangementBlock(const std::uint8_t* bytes, std::size_t size, Arrangement& out,
                               std::string* why) {
    auto fail = [&](BlockRead kind, const char* text) {
        if (why) *why = text;
        return kind;
    };
    if (size < sizeof kArrangementTag || std::memcmp(bytes, kArrangementTag, 4) != 0)
        return BlockRead::None;  // other bytes: ignored as before arrangements
    if (size < kArrangementHeaderSize) return fail(BlockRead::Damaged, "the block is cut short");
    const std::uint32_t length = Get32(bytes + 4);
    if (length > size - 8) return fail(BlockRead::Damaged, "the block is cut short");
    if (Get16(bytes + 8) != kArrangementVersion)
        return fail(BlockRead::Unknown, "the block is of a version this program does not know");
    Arrangement a;
    a.count = Get16(bytes + 10);
    a.loopTo = Get16(bytes + 12);
    if (a.count < 1 || a.count > kMaxEntries || length != 6 + 4u * a.count)
        return fail(BlockRead::Damaged, "the block's entry count does not match its length");
    std::memcpy(a.entries, bytes + kArrangementHeaderSize, 4u * a.count);
    if (!ArrangementValid(a)) return fail(BlockRead::Damaged, "an entry is out of range");
    out = a;
    return BlockRead::Read;
}

std::vector<std::uint8_t> ArrangementBlock(const Arrangement& a) {
    if (a.empty()) return {};
    const std::size_t entries = 4u * a.count;
    std::vector<std::uint8_t> out(kArrangementHeaderSize + entries);
    std::memcpy(out.data(), kArrangementTag, 4);
    Put16(out.data() + 4, static_cast<std::uint32_t>(6 + entries) & 0xFFFF);
    Put16(out.data() + 6, static_cast<std::uint32_t>(6 + entries) >> 16);
    Put16(out.data() + 8, kArrangementVersion);
    Put16(out.data() + 10, a.count);
    Put16(out.data() + 12, a.loopTo);
    std::memcpy(out.data() + kArrangementHeaderSize, a.entries, entries);
    return out;
}

bool LoadSong(Machine& m, const std::string& fileName, bool quiet) {
    // Reading needs no write permission, so the file's permissions are never touched.
    const std::string name = NameToOpen(fileName, kSongExtension);
    BusyCursor busy(*m.prompter);

    auto song = std::make_unique<Song>();
    std::vector<std::uint8_t> rest;
    std::string reason;
    switch (ReadSongRecord(name, *song, rest, reason)) {
        case SongRead::CannotOpen:
            if (!quiet) m.prompter->Warn(FileFailureText(kMsgSongOpenFailed, name, reason));
            return false;
        case SongRead::NotOneRecord:
            m.prompter->Warn(FileFailureText(kMsgNotASong, name, reason));
            return false;
        case SongRead::Ok:
            break;
    }
    auto arrangement = std::make_unique<Arrangement>();
    std::string why;
    const BlockRead block = ReadArrangementBlock(rest.data(), rest.size(), *arrangement, &why);
    if (block == BlockRead::Damaged || block == BlockRead::Unknown)
        m.prompter->Warn(FileFailureText(kMsgArrangementLeftOut, name, why));
    TakeSong(m, *song, *arrangement);
    return true;
}

std::vector<std::uint8_t> SongFileBytes(const Machine& m) {
    const auto* record = reinterpret_cast<const std::uint8_t*>(&m.song);
    std::vector<std::uint8_t> bytes(record, record + kSongSize);
    const std::vector<std::uint8_t> block = ArrangementBlock(m.arrangement);
    bytes.insert(bytes.end(), block.begin(), block.end());
    return bytes;
}

bool LoadSongBytes(Machine& m, std::span<const std::uint8_t> bytes) {
    if (bytes.size() / kSongSize != 1) return false;
    auto song = std::make_unique<Song>();
    std::memcpy(song.get(), bytes.data(), kSongSize);
    // What follows the record is its arrangement, or nothing: an unreadable block is left out.
    auto arrangement = std::make_unique<Arrangement>();
    const std::span<const std::uint8_t> rest = bytes.subspan(kSongSize);
    if (ReadArrangementBlock(rest.data(), rest.size(), *arrangement, nullptr) != BlockRead::Read)
        *arrangement = Arrangement{};
    TakeSong(m, *song, *arrangement);
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
    return saved;
}

bool SaveSongFlow(Machine& m, const SongDialogs& dialogs) {
    if (m.editor.SongFileName.empty()) return SaveSongAsFlow(m, dialogs);
    return SaveSong(m, m.editor.SongFileName, true);
}

void ActivateMainWindow(Machine& m, const std::string& programPath) {
    ActivateBanks(m, programPath);
}

}  // namespace qtam
