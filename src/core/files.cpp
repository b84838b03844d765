#include "core/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

std::string WithDefaultExtension(const std::string& path, const std::string& extension) {
    return path.find('.') == std::string::npos ? path + extension : path;
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool IsRegularFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
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
    std::vector<std::uint8_t> bytes;
    std::uint8_t chunk[65536];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + n);
    bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) {
        if (error) *error = "read error";
        return std::nullopt;
    }
    return bytes;
}

SafeFileWriter::~SafeFileWriter() {
    if (file_ != nullptr) std::fclose(file_);
    if (!temp_.empty()) std::remove(temp_.c_str());
}

void SafeFileWriter::Fail(const char* what) {
    if (!failed_) error_ = std::string(what) + ": " + std::strerror(errno);
    failed_ = true;
}

bool SafeFileWriter::Open(const std::string& target) {
    target_ = target;
    std::string pattern = DirectoryOf(target) + ".qtam-XXXXXX";
    if (DirectoryOf(target).empty()) pattern = ".qtam-XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        Fail("cannot create a file in that folder");
        return false;
    }
    temp_ = name.data();
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

    // Keep the permissions of the file being replaced; a new file gets the usual ones.
    struct stat st {};
    mode_t mode;
    if (::stat(target_.c_str(), &st) == 0) {
        mode = st.st_mode & 07777;
    } else {
        mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    ::chmod(temp_.c_str(), mode);
    if (std::rename(temp_.c_str(), target_.c_str()) != 0) {
        Fail("cannot replace the file");
        return false;
    }
    temp_.clear();
    return true;
}

bool SaveFileAsked(Prompter& prompter, const std::string& name, bool overwriteSilently,
                   const std::function<bool(SafeFileWriter&)>& write) {
    if (FileExists(name) && !overwriteSilently && !prompter.AskYesNo(kMsgFileExists)) return false;
    SafeFileWriter out;
    // A folder in the target's place cannot be created as a file.
    if ((FileExists(name) && !IsRegularFile(name)) || !out.Open(name)) {
        prompter.Warn(kMsgCannotCreate);
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
