#pragma once
// File helpers shared by every reader and writer: path splitting, default extensions,
// the read-only bracket and writes that never destroy the file they replace.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qtam {

// Split at the last '/' or '\' (songs made elsewhere carry backslash paths).
// DirectoryOf keeps the separator; both give "" for a path without one.
std::string DirectoryOf(const std::string& path);
std::string FileNameOf(const std::string& path);
// The folder the file dialogs are left in after choosing `path` (absolute, no separator).
std::string FolderOfChosenFile(const std::string& path);

// A name without any '.' (a dot in a folder name counts) gets the extension appended.
std::string WithDefaultExtension(const std::string& path, const std::string& extension);
// The name a load opens: as WithDefaultExtension, except that a folder named without a dot keeps
// its name, so that the failure names what was given ("qtam SOMEFOLDER").
std::string NameToOpen(const std::string& path, const std::string& extension);

// The path made safe from the default extension the loaders and savers append to names
// without any dot: the file opened or written is exactly the one named.
std::string ExactName(const std::string& path);

// ExactName for a path that exists as given; otherwise the path, to get the default extension.
std::string ExistingAsGiven(const std::string& path);

bool FileExists(const std::string& path);
// The system's reason for an errno value, in words; EINVAL from OpenRegularFileForReading reads
// as "not a regular file".
std::string FileErrorReason(int error);
// Why `path` cannot be read as a file: the system's reason, or "" when it can.
std::string ReadProblemOf(const std::string& path);
// False for folders and devices as well as for names that do not exist.
bool IsRegularFile(const std::string& path);

// Opens an existing regular file for reading only. A FIFO or device is never waited on and
// no permission is changed (a read-only file reads as it is). Returns the descriptor, or -1
// with an errno value in *error: EISDIR for a folder, EINVAL for any other file that is not
// a regular one. *size, when given, receives the file's length.
int OpenRegularFileForReading(const std::string& path, int* error, std::uint64_t* size = nullptr);

// The read-only bracket around every write of a song or bank file: remember the file's
// permission bits and give the owner write access; put the bits back afterwards.
class ReadOnlyBracket {
public:
    void ClearReadOnly(const std::string& path);
    void RestoreAttributes(const std::string& path);

private:
    std::optional<unsigned> remembered_;
};

// Scope form of the bracket: restores on every way out.
class ReadOnlyScope {
public:
    ReadOnlyScope(ReadOnlyBracket& bracket, std::string path)
        : bracket_(bracket), path_(std::move(path)) {
        bracket_.ClearReadOnly(path_);
    }
    ~ReadOnlyScope() { bracket_.RestoreAttributes(path_); }
    ReadOnlyScope(const ReadOnlyScope&) = delete;
    ReadOnlyScope& operator=(const ReadOnlyScope&) = delete;

private:
    ReadOnlyBracket& bracket_;
    std::string path_;
};

// Reads a whole file (a pipe too); nullopt, and the system's reason in *error, when it cannot
// be opened or read (a folder cannot be read).
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::string* error = nullptr);

// A file made under a fresh name in a folder, for work in progress: created exclusively (so it
// never replaces anything), removed when the object goes unless kept, and removed as well when
// the program is interrupted (see RemoveTemporaryFilesOnInterrupt).
// A file about to replace `target` takes the permissions of the file it replaces; when there is
// none, the usual ones of a new file (a temporary file is created readable by its owner only).
void GivePermissionsOfTarget(const std::string& file, const std::string& target);

class TemporaryFile {
public:
    TemporaryFile() = default;
    ~TemporaryFile();
    TemporaryFile(const TemporaryFile&) = delete;
    TemporaryFile& operator=(const TemporaryFile&) = delete;

    // "<folder><prefix>XXXXXX<suffix>"; `folder` is "" or ends with a separator. False, with
    // errno set, when no file can be created there.
    bool Create(const std::string& folder, const std::string& prefix, const std::string& suffix);
    // The open descriptor, handed over to the caller (who closes it); -1 after the first call.
    int TakeDescriptor();
    // The file stays where it is (renamed away, or kept on purpose) and is no longer removed.
    void Keep();
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
    int registration_ = -1;
    bool kept_ = false;
};

// A folder made under a fresh name for TemporaryFiles: removed with whatever is in it when the
// object goes, and removed as well when the program is interrupted (after the TemporaryFiles,
// which empty it).
class TemporaryFolder {
public:
    TemporaryFolder() = default;
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    // "<parent>/<prefix>XXXXXX". False, with errno set, when it cannot be made.
    bool Create(const std::string& parent, const std::string& prefix);
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int registration_ = -1;
};

// From now on SIGINT and SIGTERM first remove every TemporaryFile still in place, then end the
// program by the signal as before.
void RemoveTemporaryFilesOnInterrupt();

// Writes into a temporary file beside the target and renames it over the target only when
// everything was written, so a failure leaves the old file byte-identical.
class SafeFileWriter {
public:
    SafeFileWriter() = default;
    ~SafeFileWriter();  // an uncommitted temporary file is removed
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Creates the temporary file ".qtam-XXXXXX" beside the target. False when it cannot be
    // created (see error()).
    bool Open(const std::string& target);
    bool Write(const void* data, std::size_t size);
    // Flushes, closes and renames over the target; keeps the target's permission bits.
    bool Commit();
    bool IsOpen() const { return file_ != nullptr; }
    // The system's reason for the first failure.
    const std::string& error() const { return error_; }
    const std::string& target() const { return target_; }

private:
    void Fail(const char* what);

    std::FILE* file_ = nullptr;
    std::string target_;
    TemporaryFile temp_;
    std::string error_;
    bool failed_ = false;
};

class Prompter;

// How songs and banks are saved: ask before replacing an existing file (unless told not to),
// report a file that cannot be created or written, and never destroy the file being replaced.
// `write` puts the contents into the writer; the busy cursor shows meanwhile.
bool SaveFileAsked(Prompter& prompter, const std::string& name, bool overwriteSilently,
                   const std::function<bool(SafeFileWriter&)>& write);

}  // namespace qtam
