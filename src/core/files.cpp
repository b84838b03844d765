#include "core/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "core/messages.h"
#include "core/prompter.h"

namespace qtam {

static std::size_t LastSeparator(const std::string& path) {
    return path.find_last_of("/\\");
}

std::string DirectoryOf(const std::string& path) {
    std::size_t i = LastSeparator(path);
    return i == std::string::npos ? std::string() : path.substr(0, i + 1);
}

std::string FileNameOf(const std::string& path) {
    std::size_t i = LastSeparator(path);
    return i == std::string::npos ? std::string() : path.substr(i + 1);
}

std::string FolderOfChosenFile(const std::string& path) {
    std::error_code ec;
    std::filesystem::path full = std::filesystem::absolute(path, ec);
    if (ec) return DirectoryOf(path);
    return full.parent_path().string();
}

std::string WithDefaultExtension(const std::string& path, const std::string& extension) {
    return path.find('.') == std::string::npos ? path + extension : path;
}

std::string NameToOpen(const std::string& path, const std::string& extension) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return path;
    return WithDefaultExtension(path, extension);
}

std::string ExactName(const std::string& path) {
    if (path.find('.') != std::string::npos) return path;
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "./" + path;
    return path.substr(0, slash + 1) + "./" + path.substr(slash + 1);
}

std::string ExistingAsGiven(const std::string& path) {
    return FileExists(path) ? ExactName(path) : path;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

std::string FileErrorReason(int error) {
    if (error == EINVAL) return "not a regular file";
    return std::strerror(error);
}

std::string ReadProblemOf(const std::string& path) {
    int error = 0;
    const int fd = OpenRegularFileForReading(path, &error);
    if (fd < 0) return FileErrorReason(error);
    ::close(fd);
    return "";
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

int OpenRegularFileForReading(const std::string& path, int* error, std::uint64_t* size) {
    // Non-blocking, so that opening a FIFO returns at once instead of waiting for a writer.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        *error = errno;
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error = S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    if (size != nullptr) *size = static_cast<std::uint64_t>(st.st_size);
    return fd;
}

void ReadOnlyBracket::ClearReadOnly(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        remembered_.reset();
        return;
    }
    remembered_ = static_cast<unsigned>(st.st_mode & 07777);
    if ((st.st_mode & S_IWUSR) == 0) ::chmod(path.c_str(), (st.st_mode & 07777) | S_IWUSR);
}

void ReadOnlyBracket::RestoreAttributes(const std::string& path) {
    if (!remembered_) return;
    ::chmod(path.c_str(), static_cast<mode_t>(*remembered_));
    remembered_.reset();
}

std::optional<std::vector<std::uint8_t>> ReadWholeFile(const std::string& path,
                                                       std::string* error) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) {
        if (error) *error = std::strerror(errno);
        return std::nullopt;
    }
    // Sized from the file first, so that its bytes are read straight into place; a file that
    // grows meanwhile is read on to its end.
    std::vector<std::uint8_t> bytes;
    struct stat st {};
    if (::fstat(::fileno(f), &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        bytes.resize(static_cast<std::size_t>(st.st_size));
    std::size_t got = 0;
    errno = 0;
    for (;;) {
        if (got == bytes.size()) {
            std::uint8_t more[4096];
            const std::size_t n = std::fread(more, 1, sizeof more, f);
            if (n == 0) break;
            bytes.insert(bytes.end(), more, more + n);
            got += n;
        } else {
            const std::size_t n = std::fread(bytes.data() + got, 1, bytes.size() - got, f);
            if (n == 0) break;
            got += n;
        }
    }
    bytes.resize(got);
    const int readError = std::ferror(f) ? (errno != 0 ? errno : EIO) : 0;
    std::fclose(f);
    if (readError != 0) {
        if (error) *error = std::strerror(readError);
        return std::nullopt;
    }
    return bytes;
}

// --- Temporary files removed on interruption ---

namespace {

// A fixed table, so that the signal handler needs neither allocation nor locks. A slot is
// free (0), being filled (1), or names a file (2) or an emptied folder (3) to remove. Initialised
// at compile time: the 192 KiB stay untouched zero pages until a temporary file is registered,
// rather than written at every start. A folder (3) is removed after the files, which may lie in it.
struct TemporaryEntry {
    std::atomic<int> state{0};
    char path[4096]{};
};
constexpr int kTemporaryEntries = 48;  // an unpacked kit alone takes 21
constinit TemporaryEntry temporaryEntries[kTemporaryEntries];

int RegisterTemporary(const std::string& path, int kind = 2) {
    if (path.size() >= sizeof temporaryEntries[0].path) return -1;
    for (int i = 0; i < kTemporaryEntries; ++i) {
        int expected = 0;
        if (!temporaryEntries[i].state.compare_exchange_strong(expected, 1)) continue;
        std::memcpy(temporaryEntries[i].path, path.c_str(), path.size() + 1);
        temporaryEntries[i].state.store(kind);
        return i;
    }
    return -1;  // a full table: the file is still removed on every ordinary way out
}

void ForgetTemporary(int& entry) {
    if (entry >= 0) temporaryEntries[entry].state.store(0);
    entry = -1;
}

extern "C" void RemoveTemporariesAndEnd(int signal) {
    for (TemporaryEntry& e : temporaryEntries)
        if (e.state.load() == 2) ::unlink(e.path);
    for (TemporaryEntry& e : temporaryEntries)
        if (e.state.load() == 3) ::rmdir(e.path);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

}  // namespace

TemporaryFile::~TemporaryFile() {
    if (fd_ >= 0) ::close(fd_);
    if (!path_.empty() && !kept_) ::unlink(path_.c_str());
    ForgetTemporary(registration_);
}

void GivePermissionsOfTarget(const std::string& file, const std::string& target) {
    struct stat st {};
    mode_t mode;
    if (::stat(target.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::chmod(file.c_str(), mode);
}

bool TemporaryFile::Create(const std::string& folder, const std::string& prefix,
                           const std::string& suffix) {
    std::string pattern = folder + prefix + "XXXXXX" + suffix;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int fd = ::mkstemps(name.data(), static_cast<int>(suffix.size()));
    if (fd < 0) return false;
    fd_ = fd;
    path_ = name.data();
    registration_ = RegisterTemporary(path_);
    return true;
}

int TemporaryFile::TakeDescriptor() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
}

void TemporaryFile::Keep() {
    ForgetTemporary(registration_);
    kept_ = true;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    ForgetTemporary(registration_);
}

bool TemporaryFolder::Create(const std::string& parent, const std::string& prefix) {
    std::string pattern = parent + "/" + prefix + "XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return false;
    path_ = pattern;
    registration_ = RegisterTemporary(path_, 3);
    return true;
}

void RemoveTemporaryFilesOnInterrupt() {
    std::signal(SIGINT, RemoveTemporariesAndEnd);
    std::signal(SIGTERM, RemoveTemporariesAndEnd);
}

SafeFileWriter::~SafeFileWriter() {
    if (file_ != nullptr) std::fclose(file_);
}

void SafeFileWriter::Fail(const char* what) {
    if (!failed_) error_ = std::string(what) + ": " + std::strerror(errno);
    failed_ = true;
}

bool SafeFileWriter::Open(const std::string& target) {
    target_ = target;
    if (!temp_.Create(DirectoryOf(target), ".qtam-", "")) {
        Fail("cannot create a file in that folder");
        return false;
    }
    const int fd = temp_.TakeDescriptor();
    file_ = ::fdopen(fd, "wb");
    if (file_ == nullptr) {
        ::close(fd);
        Fail("cannot open the temporary file");
        return false;
    }
    return true;
}

bool SafeFileWriter::Write(const void* data, std::size_t size) {
    if (file_ == nullptr || failed_) return false;
    if (size > 0 && std::fwrite(data, 1, size, file_) != size) {
        Fail("write failed");
        return false;
    }
    return true;
}

bool SafeFileWriter::Commit() {
    if (file_ == nullptr) return false;
    bool ok = !failed_;
    if (std::fflush(file_) != 0 && ok) {
        Fail("write failed");
        ok = false;
    }
    if (ok && ::fsync(::fileno(file_)) != 0) {
        Fail("write failed");
        ok = false;
    }
    if (std::fclose(file_) != 0 && ok) {
        Fail("write failed");
        ok = false;
    }
    file_ = nullptr;
    if (!ok) return false;

    GivePermissionsOfTarget(temp_.path(), target_);
    if (std::rename(temp_.path().c_str(), target_.c_str()) != 0) {
        Fail("cannot replace the file");
        return false;
    }
    temp_.Keep();
    return true;
}

bool SaveFileAsked(Prompter& prompter, const std::string& name, bool overwriteSilently,
                   const std::function<bool(SafeFileWriter&)>& write) {
    if (FileExists(name) && !overwriteSilently && !prompter.AskYesNo(kMsgFileExists)) return false;
    SafeFileWriter out;
    // A folder in the target's place cannot be created as a file.
    if (FileExists(name) && !IsRegularFile(name)) {
        prompter.Warn(FileFailureText(kMsgCannotCreate, name, std::strerror(EISDIR)));
        return false;
    }
    if (!out.Open(name)) {
        prompter.Warn(FileFailureText(kMsgCannotCreate, name, out.error()));
        return false;
    }
    BusyCursor busy(prompter);
    if (!write(out) || !out.Commit()) {
        prompter.Warn(WriteFailedText(name, out.error()));
        return false;
    }
    return true;
}

}  // namespace qtam
