#include "banks/wav_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <span>

#include "core/files.h"
#include "core/machine.h"

namespace qtam {

namespace {

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::size_t kWavTransferLimit = kTransferBufferBytes;
// Where the data-tag search starts in a canonical file, and how far it looks.
constexpr std::size_t kDataSearchStart = 32;
constexpr std::size_t kDataSearchPositions = 1500;
// Enough of the file to hold every header field the import reads.
constexpr std::size_t kWavHeadBytes = kDataSearchStart + kDataSearchPositions - 1 + 4 + 4;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A regular file opened for reading, with its size; null for anything else.
FilePtr OpenRegularFile(const std::string& path, std::uint64_t* size) {
    FilePtr f(std::fopen(path.c_str(), "rb"));
    if (!f) return nullptr;
    struct stat st {};
    if (::fstat(::fileno(f.get()), &st) != 0 || !S_ISREG(st.st_mode)) return nullptr;
    *size = static_cast<std::uint64_t>(st.st_size);
    return f;
}

// Bounds-checked little-endian reads over the start of a file.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool has(std::size_t n) const { return pos_ <= bytes_.size() && bytes_.size() - pos_ >= n; }
    std::size_t pos() const { return pos_; }
    void seek(std::size_t pos) { pos_ = pos; }

    // The four bytes here in upper case, as every tag is compared.
    std::string tag() {
        std::string t(reinterpret_cast<const char*>(bytes_.data() + pos_), 4);
        for (char& c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        pos_ += 4;
        return t;
    }
    std::uint16_t u16() {
        std::uint16_t v = static_cast<std::uint16_t>(bytes_[pos_] | bytes_[pos_ + 1] << 8);
        pos_ += 2;
        return v;
    }
    std::int32_t i32() {
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = v << 8 | bytes_[pos_ + static_cast<std::size_t>(i)];
        pos_ += 4;
        return static_cast<std::int32_t>(v);
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

struct WavLayout {
    std::uint16_t channels = 0;
    std::int32_t sampleRate = 0;
    long long bits = 0;
    std::size_t dataOffset = 0;
    std::int32_t dataSize = 0;
};

// The header of a WAV file as the import reads it. Returns the refusal text, or null.
const char* ParseWavHead(std::span<const std::uint8_t> head, WavLayout& out) {
    ByteReader in(head);
    if (!in.has(12) || in.tag() != "RIFF") return kMsgNotAWav;
    in.i32();  // RIFF size: not needed
    if (in.tag() != "WAVE") return kMsgNotAWav;
    // The format chunk must come first.
    if (!in.has(4) || in.tag() != "FMT ") return kMsgNotAWav;
    if (!in.has(6)) return kMsgNotAWav;
    in.i32();  // format chunk size: not needed
    if (in.u16() != 1) return kMsgCompressedWav;
    if (!in.has(10)) return kMsgNotAWav;
    out.channels = in.u16();
    out.sampleRate = in.i32();
    const std::int32_t byteRate = in.i32();
    // No bit depth can be derived from these; the file is not a sound at all.
    if (out.channels == 0 || out.sampleRate <= 0) return kMsgNotAWav;
    // Block align and bits per sample are not trusted; the depth follows from the rates.
    out.bits = static_cast<long long>(byteRate) / out.sampleRate / out.channels * 8;

    // The data tag is searched for, not reached through chunk sizes, so unknown chunks
    // before it are skipped.
    bool found = false;
    for (std::size_t i = 0, p = in.pos(); i < kDataSearchPositions && p + 4 <= head.size();
         ++i, ++p) {
        in.seek(p);
        if (in.tag() == "DATA") {
            found = true;
            break;
        }
    }
    if (!found) return kMsgNoWavData;
    if (!in.has(4)) return kMsgNotAWav;
    out.dataSize = in.i32();
    out.dataOffset = in.pos();
    return nullptr;
}

// Whole samples only, and always an even number of them.
std::int32_t EvenSampleCount(std::size_t bytes) {
    auto count = static_cast<std::int32_t>(bytes / 2);
    return count - (count & 1);
}

WrapOutcome WrapRawAsWav(Machine& m, const std::string& path, int channels) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        m.prompter->Warn(WriteFailedText(path, std::strerror(errno)));
        return WrapOutcome::Failed;
    }
    if (st.st_size == 0) {
        std::remove(path.c_str());
        return WrapOutcome::EmptyRemoved;
    }

    // Claim the temporary name first, so that whatever holds it now is never replaced.
    const std::string temp = DirectoryOf(path) + kWavTempName;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) {
        m.prompter->Warn(errno == EEXIST ? WavTempInTheWayText(temp) +
                                               " The raw sound data is still in \"" + path + "\"."
                                         : WriteFailedText(path, std::strerror(errno)));
        return WrapOutcome::Failed;
    }
    ::close(fd);
    if (std::rename(path.c_str(), temp.c_str()) != 0) {
        const int error = errno;
        std::remove(temp.c_str());
        m.prompter->Warn(WriteFailedText(path, std::strerror(error)));
        return WrapOutcome::Failed;
    }

    WavWriteResult result = WriteWavFromRaw(temp, path, channels);
    if (!result.ok()) {
        // Nothing was written to the path, so the raw data goes back where it was.
        std::string note;
        if (std::rename(temp.c_str(), path.c_str()) != 0)
            note = "The raw sound data is kept in \"" + temp + "\".";
        m.prompter->Warn(WavWriteFailureText(result, path, note));
        return WrapOutcome::Failed;
    }
    std::remove(temp.c_str());
    return WrapOutcome::Wrapped;
}

}  // namespace

WavHeader MakeWavHeader(int channels, std::uint32_t dataSize) {
    WavHeader h{};
    std::memcpy(h.riff, "RIFF", 4);
    h.riffSize = dataSize + 36;
    std::memcpy(h.wave, "WAVE", 4);
    std::memcpy(h.fmt, "fmt ", 4);
    h.fmtSize = 16;
    h.formatTag = 1;
    h.channels = static_cast<std::uint16_t>(channels);
    h.sampleRate = kSampleRate;
    h.blockAlign = static_cast<std::uint16_t>(2 * channels);
    h.byteRate = kSampleRate * h.blockAlign;
    h.bitsPerSample = 16;
    std::memcpy(h.data, "data", 4);
    h.dataSize = dataSize;
    return h;
}

std::string BitDepthText(long long bits) {
    return "This appears to be a " + std::to_string(bits) + " bit WAV-file...";
}

std::string WavTempInTheWayText(const std::string& tempPath) {
    return "The file \"" + tempPath +
           "\" is in the way. It is left over from an earlier conversion and may hold sound data; "
           "move or delete it, then try again.";
}

std::string WavWriteFailureText(const WavWriteResult& result, const std::string& target,
                                const std::string& note) {
    std::string text = result.status == WavWriteResult::CannotCreate
                           ? std::string(kMsgCannotCreate)
                           : WriteFailedText(target, result.reason);
    if (!note.empty()) text += " " + note;
    return text;
}

bool IsReadOnlyFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

std::int32_t ReadWavSamples(Machine& m, const std::string& path) {
    ReadOnlyScope readOnly(m.attributes, path);
    std::uint64_t fileSize = 0;
    FilePtr f = OpenRegularFile(path, &fileSize);
    if (!f) {
        m.prompter->Warn(kMsgWavOpenError);
        return 0;
    }

    std::uint8_t head[kWavHeadBytes];
    const std::size_t headSize = std::fread(head, 1, sizeof head, f.get());
    WavLayout wav;
    if (const char* refusal = ParseWavHead({head, headSize}, wav)) {
        m.prompter->Warn(refusal);
        return 0;
    }
    if (wav.bits != 16) {
        m.prompter->Warn(BitDepthText(wav.bits));
        return 0;
    }
    if (wav.channels != 1) {
        m.prompter->Warn(kMsgStereoWav);
        return 0;
    }
    if (wav.sampleRate < 44000 && !m.prompter->AskYesNo(kAskLowSampleRate)) return 0;

    // A size that claims more than the file holds stands for what is there; a negative one
    // for nothing.
    if (wav.dataSize <= 0) return 0;
    std::uint64_t size =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(wav.dataSize),
                                fileSize > wav.dataOffset ? fileSize - wav.dataOffset : 0);
    if (size > kWavTransferLimit) {
        if (!m.prompter->AskYesNo(kAskLargeWav)) return 0;
        size = kWavTransferLimit;
    }
    if (size == 0 || std::fseek(f.get(), static_cast<long>(wav.dataOffset), SEEK_SET) != 0)
        return 0;
    const std::size_t got = std::fread(m.banks.transfer.bytes.get(), 1, size, f.get());
    return EvenSampleCount(got);
}

std::int32_t ReadRawSamples(Machine& m, const std::string& path) {
    ReadOnlyScope readOnly(m.attributes, path);
    std::uint64_t size = 0;
    FilePtr f = OpenRegularFile(path, &size);
    if (!f) {
        m.prompter->Warn(kMsgRawOpenError);
        return 0;
    }
    if (size > kWavTransferLimit) {
        if (!m.prompter->AskYesNo(kAskLargeRaw)) return 0;
        size = kWavTransferLimit;
    }
    const std::size_t got = std::fread(m.banks.transfer.bytes.get(), 1, size, f.get());
    return EvenSampleCount(got);
}

ImportResult ImportSample(Machine& m, const std::string& path, int slot) {
    if (slot < 1 || slot > kBankSlots) return {};
    std::string upper = path;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    const std::int32_t count =
        upper.find(".WAV") != std::string::npos ? ReadWavSamples(m, path) : ReadRawSamples(m, path);
    if (count < 1) return {};

    SampleBank& bank = m.banks.userbank;
    std::int16_t* buffer = bank.ensureBuffer(slot);
    std::memcpy(buffer, m.banks.transfer.bytes.get(), 2 * static_cast<std::size_t>(count));
    bank.slot(slot).sampleCount = count;

    const std::size_t cut = path.find_last_of("/\\");
    return {true, cut == std::string::npos ? path : path.substr(cut + 1)};
}

bool ExportSlotAsWav(Machine& m, int slot, const std::string& path) {
    if (slot < 1 || slot > kBankSlots) return false;
    const SampleSlot& s = m.banks.userbank.slot(slot);
    if (!s.hasSound()) return false;
    if (IsReadOnlyFile(path) || (FileExists(path) && !IsRegularFile(path))) {
        m.prompter->Warn(kMsgCannotCreate);
        return false;
    }
    const auto bytes =
        2 * static_cast<std::uint32_t>(std::min(s.sampleCount, m.banks.userbank.capacity));

    SafeFileWriter out;
    if (!out.Open(path)) {
        m.prompter->Warn(kMsgCannotCreate);
        return false;
    }
    const WavHeader header = MakeWavHeader(1, bytes);
    out.Write(&header, sizeof header);
    out.Write(s.samples.get(), bytes);
    if (!out.Commit()) {
        m.prompter->Warn(WriteFailedText(path, out.error()));
        return false;
    }
    return true;
}

WrapOutcome WrapRawAsWavMono(Machine& m, const std::string& path) {
    return WrapRawAsWav(m, path, 1);
}

WrapOutcome WrapRawAsWavStereo(Machine& m, const std::string& path) {
    BusyCursor busy(*m.prompter);
    return WrapRawAsWav(m, path, 2);
}

WavWriteResult WriteWavFromRaw(const std::string& rawPath, const std::string& target,
                               int channels) {
    WavWriteResult result;
    std::uint64_t rawSize = 0;
    FilePtr in = OpenRegularFile(rawPath, &rawSize);
    if (!in) {
        result.reason = "cannot read \"" + rawPath + "\": " + std::strerror(errno);
        return result;
    }
    const std::uint64_t dataSize = std::min(rawSize, kMaxWavDataBytes);

    SafeFileWriter out;
    if (!out.Open(target)) {
        result.status = WavWriteResult::CannotCreate;
        result.reason = out.error();
        return result;
    }
    const WavHeader header = MakeWavHeader(channels, static_cast<std::uint32_t>(dataSize));
    out.Write(&header, sizeof header);

    std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[65536]);
    std::uint64_t left = dataSize;
    while (left > 0) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(left, 65536));
        const std::size_t got = std::fread(block.get(), 1, want, in.get());
        if (got < want) {
            result.reason = "the raw data in \"" + rawPath + "\" could not be read";
            return result;
        }
        if (!out.Write(block.get(), got)) break;
        left -= got;
    }
    if (!out.Commit()) {
        result.reason = out.error();
        return result;
    }
    result.status = WavWriteResult::Ok;
    return result;
}

}  // namespace qtam
