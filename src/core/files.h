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

// A name without any '.' (a dot in a folder name counts) gets the extension appended.
std::string WithDefaultExtension(const std::string& path, const std::string& extension);

bool FileExists(const std::string& path);
// False for folders and devices as well as for names that do not exist.
bool IsRegularFile(const std::string& path);

// The read-only bracket around every access to a song, bank, kit or sound file: remember the
// file's permission bits and give the owner write access; put the bits back afterwards.
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

// Reads a whole file; nullopt (and the system's reason in *error) when it cannot be opened.
std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::string* error = nullptr);

// Writes into a temporary file beside the target and renames it over the target only when
// everything was written, so a failure leaves the old file byte-identical.
class SafeFileWriter {
public:
    SafeFileWriter() = default;
    ~SafeFileWriter();  // an uncommitted temporary file is removed
    SafeFileWriter(const SafeFileWriter&) = delete;
    SafeFileWriter& operator=(const SafeFileWriter&) = delete;

    // Creates the temporary file. False when it cannot be created (see error()).
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
    std::string temp_;
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
