#include "banks/kit.h"

#include <filesystem>
#include <system_error>

#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/messages.h"
#include "core/text_codec.h"

namespace qtam {

namespace {

// The song's own userbank is not there: no other bank's sounds stand in for it, so the
// channels that use it are silent and show that their sound is missing. The Song keeps naming
// its bank; nothing reloads another bank over the empty one.
void DropUserbankForSong(Machine& m) {
    BankActivation& a = m.activation;
    ClearUserbank(m);
    a.UserbankPath.clear();
    a.UserbankLoaded = true;
}

void TakeUserbankIntoSong(Machine& m) {
    m.song.userbankFile.set(m.activation.UserbankPath);
    m.song.userbankDescription.set(m.banks.userbank.description);
}

// The activation takes the active userbank into the Song by itself: no edit, so the saved
// state names it too.
void TakeActiveUserbankIntoSong(Machine& m) {
    TakeUserbankIntoSong(m);
    m.savedSong.userbankFile = m.song.userbankFile;
    m.savedSong.userbankDescription = m.song.userbankDescription;
}

}  // namespace

namespace {

bool LoadKitFile(Machine& m, const std::string& fileName, SlotSet sounds) {
    BusyCursor busy(*m.prompter);

    SampleBank& bank = m.banks.internalBank;
    const BankFileRead read = ReadBankFile(fileName, bank.capacity, sounds);
    if (!read.image) {
        const std::string reason =
            read.error == 0 ? "not a drum kit (a userbank-format file whose sounds hold at most "
                              "40000 samples)"
                            : FileErrorReason(read.error);
        m.prompter->Warn(FileFailureText(kMsgKitFailed, fileName, reason));
        return false;
    }
    InstallBank(bank, *read.image);
    return true;
}

}  // namespace

bool LoadInternalBank(Machine& m, const std::string& fileName) {
    return LoadKitFile(m, fileName, kEverySlot);
}

bool LoadInternalBankNames(Machine& m, const std::string& fileName) {
    return LoadKitFile(m, fileName, SlotSet());
}

bool LoadInternalBankSounds(Machine& m, const std::string& fileName, SlotSet sounds) {
    return LoadKitFile(m, fileName, sounds);
}

std::string DataFolderFor(const std::string& programPath) {
    const std::string beside = DirectoryOf(programPath);
    std::error_code error;
    if (std::filesystem::exists(beside + kKitFileName, error)) return beside;
    std::string installed =
        (std::filesystem::path(beside) / QTAM_DATA_FROM_PROGRAM).lexically_normal().string();
    if (installed.empty() || installed.back() != '/') installed += '/';
    return installed;
}

std::string KitPathFor(const std::string& programPath) {
    return DataFolderFor(programPath) + kKitFileName;
}

std::string ExampleSongsFolderFor(const std::string& programPath) {
    return DataFolderFor(programPath) + kExampleSongsFolder;
}

void StartSongFolderAtExamples(Machine& m, const std::string& programPath) {
    if (!m.editor.SongFolder.empty()) return;
    const std::string folder = ExampleSongsFolderFor(programPath);
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) m.editor.SongFolder = folder;
}

bool ActivateBanks(Machine& m, const std::string& programPath) {
    BusyCursor busy(*m.prompter);
    BankActivation& a = m.activation;
    bool kitLoaded = true;
    if (!a.InternalBankLoaded) {
        kitLoaded = LoadInternalBank(m, KitPathFor(programPath));
        a.InternalBankLoaded = true;
        a.EditorActive = false;
    }
    if (!a.UserbankPath.empty() && !a.UserbankLoaded && !a.EditorActive) {
        if (LoadUserbank(m, a.UserbankPath, true)) {
            a.UserbankLoaded = true;
            TakeActiveUserbankIntoSong(m);
        } else {
            if (!FileExists(NameToOpen(a.UserbankPath, kUserbankExtension))) {
                m.prompter->Warn(UserbankMissingText(a.UserbankPath));
                a.MissingUserbankPath = a.UserbankPath;
            }
            a.UserbankPath.clear();
        }
    }
    return kitLoaded;
}

std::string UserbankMissingText(const std::string& path) {
    return std::string(kMsgUserbankMissing) + "\n\nFile: " + path;
}

void LoadActiveUserbankIfNone(Machine& m) {
    BankActivation& a = m.activation;
    if (a.UserbankLoaded) return;
    // No path means no bank: never go looking for a file called ".UBF" in the current folder.
    if (!a.UserbankPath.empty() && LoadUserbank(m, a.UserbankPath, true)) {
        a.UserbankLoaded = true;
    } else {
        a.UserbankPath.clear();
    }
    TakeActiveUserbankIntoSong(m);
}

bool LoadUserbankFromMenu(Machine& m, const std::optional<std::string>& chosen) {
    if (!chosen) return false;
    BankActivation& a = m.activation;
    a.UserbankPath = *chosen;
    BusyCursor busy(*m.prompter);
    bool loaded = LoadUserbank(m, a.UserbankPath, false);
    if (loaded) {
        TakeUserbankIntoSong(m);
        a.UserbankLoaded = true;
        a.BankFolder = FolderOfChosenFile(*chosen);
    } else {
        a.UserbankPath.clear();
        m.song.userbankFile.set("");
        m.song.userbankDescription.set("");
    }
    // Not undoable: the Song stays changed until it is saved (its bytes name another bank).
    return loaded;
}

bool LoadSongUserbank(Machine& m) {
    BankActivation& a = m.activation;
    const std::string stored = m.song.userbankFile.str();
    if (stored.empty() || a.EditorActive) return false;
    // A stored name without a dot that exists as it is (a folder, a device) is judged as it
    // is, so that the reason fits the file named.
    const std::string file = ExistingAsGiven(FindSongUserbank(stored, m.editor.SongFileName));
    const std::string problem = ReadProblemOf(WithDefaultExtension(file, kUserbankExtension));
    if (!problem.empty()) m.prompter->Warn(SongUserbankMissingText(stored, file, problem));
    if (!problem.empty() || !LoadUserbank(m, file, true)) {
        DropUserbankForSong(m);
        return false;
    }
    a.UserbankPath = file;
    a.UserbankLoaded = true;
    return true;
}

std::string SongUserbankMissingText(const std::string& stored, const std::string& looked,
                                    const std::string& reason) {
    std::string text = kMsgSongUserbankMissing;
    text += "\n\nFile: " + looked;
    if (looked != stored) text += " (the song names " + stored + ")";
    text += "\nReason: " + reason;
    return text;
}

std::string FindSongUserbank(const std::string& stored, const std::string& songFile) {
    if (stored.empty() || IsRegularFile(WithDefaultExtension(stored, kUserbankExtension)))
        return stored;
    const std::string name = FileNameOf(stored).empty() ? stored : FileNameOf(stored);
    const std::string beside = DirectoryOf(songFile) + name;
    if (IsRegularFile(WithDefaultExtension(beside, kUserbankExtension))) return beside;
    return stored;
}

}  // namespace qtam
