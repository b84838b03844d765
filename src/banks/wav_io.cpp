#include "banks/wav_io.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <utility>

#include "banks/sound_file.h"
#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/text_codec.h"

namespace qtam {

namespace {

constexpr std::uint32_t kSampleRate = 44100;
constexpr std::size_t kWavTransferLimit = kTransferBufferBytes;
constexpr std::uint16_t kFormatPcm = 1;
constexpr std::uint16_t kFormatFloat = 3;
constexpr std::uint16_t kFormatExtensible = 0xFFFE;
// The sub-format GUID of PCM data in an extensible format chunk.
constexpr std::uint8_t kPcmSubFormat[16] = {0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                            0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
// Where the sub-format lies in an extensible format chunk, and the chunk size that holds it.
constexpr std::size_t kSubFormatOffset = 24;
constexpr std::size_t kExtensibleFormatSize = 40;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// A regular file opened for reading, with its size; null for anything else.
FilePtr OpenRegularFile(const std::string& path, std::uint64_t* size) {
    int error = 0;
    const int fd = OpenRegularFileForReading(path, &error, size);
    if (fd < 0) {
        errno = error;
        return nullptr;
    }
    FilePtr f(::fdopen(fd, "rb"));
    if (!f) ::close(fd);
    return f;
}

// Reads at given offsets of an open file; every read is bounded by the file's size.
class FileBytes {
public:
    FileBytes(std::FILE* file, std::uint64_t size) : file_(file), size_(size) {}
    std::uint64_t size() const { return size_; }
    bool read(std::uint64_t offset, void* into, std::size_t n) const {
        if (offset > size_ || size_ - offset < n) return false;
        return ::pread(::fileno(file_), into, n, static_cast<off_t>(offset)) ==
               static_cast<ssize_t>(n);
    }

private:
    std::FILE* file_;
    std::uint64_t size_;
};

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}
// Tags are compared without regard to case.
bool TagIs(const std::uint8_t* p, const char* upper) {
    for (int i = 0; i < 4; ++i)
        if (std::toupper(p[i]) != upper[i]) return false;
    return true;
}

struct WavLayout {
    std::uint16_t channels = 0;
    std::int32_t sampleRate = 0;
    long long bits = 0;
    std::uint64_t dataOffset = 0;
    std::int32_t dataSize = 0;
};

// The format chunk as the import reads it: PCM, or the extensible form holding PCM.
const char* ParseFormat(const std::uint8_t* fmt, std::size_t fmtSize, WavLayout& out) {
    const std::uint16_t tag = U16(fmt);
    const bool pcm =
        tag == kFormatPcm || (tag == kFormatExtensible && fmtSize >= kExtensibleFormatSize &&
                              std::memcmp(fmt + kSubFormatOffset, kPcmSubFormat, 16) == 0);
    if (tag == kFormatFloat) return kMsgFloatWav;
    if (!pcm) return kMsgCompressedWav;
    out.channels = U16(fmt + 2);
    out.sampleRate = static_cast<std::int32_t>(U32(fmt + 4));
    const auto byteRate = static_cast<std::int32_t>(U32(fmt + 8));
    // No bit depth can be derived from these; the file is not a sound at all.
    if (out.channels == 0 || out.sampleRate <= 0) return kMsgNotAWav;
    // Block align and bits per sample are not trusted; the depth follows from the rates.
    out.bits = static_cast<long long>(byteRate) / out.sampleRate / out.channels * 8;
    return nullptr;
}

// The header of a WAV file as the import reads it. Returns the refusal text, or null.
const char* ParseWav(const FileBytes& in, WavLayout& out) {
    std::uint8_t head[20];
    if (!in.read(0, head, sizeof head) || !TagIs(head, "RIFF") || !TagIs(head + 8, "WAVE"))
        return kMsgNotAWav;
    // The format chunk must come first.
    if (!TagIs(head + 12, "FMT ")) return kMsgNotAWav;
    const std::uint32_t fmtSize = U32(head + 16);
    std::uint8_t fmt[kExtensibleFormatSize] = {};
    const std::size_t fmtRead = std::min<std::size_t>(fmtSize, sizeof fmt);
    // Format tag, channels, sample rate and byte rate are read; a shorter chunk holds no sound.
    if (fmtRead < 12 || !in.read(20, fmt, fmtRead)) return kMsgNotAWav;
    if (const char* refusal = ParseFormat(fmt, fmtRead, out)) return refusal;

    // The data chunk is reached through the sizes of the chunks before it (each padded to an
    // even length), so that no text inside another chunk is taken for it.
    std::uint64_t pos = 20 + static_cast<std::uint64_t>(fmtSize) + (fmtSize & 1);
    std::uint8_t chunk[8];
    while (in.read(pos, chunk, 4)) {
        if (TagIs(chunk, "DATA")) {
            if (!in.read(pos + 4, chunk + 4, 4)) return kMsgNotAWav;
            out.dataSize = static_cast<std::int32_t>(U32(chunk + 4));
            out.dataOffset = pos + 8;
            return nullptr;
        }
        if (!in.read(pos + 4, chunk + 4, 4)) break;
        const std::uint32_t size = U32(chunk + 4);
        pos += 8 + static_cast<std::uint64_t>(size) + (size & 1);
    }
    return kMsgNoWavData;
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

    // A name of its own in the target's folder: never one that something else holds, so a
    // leftover of an interrupted wrap or a second wrap at the same time is no obstacle.
    TemporaryFile temp;
    if (!temp.Create(DirectoryOf(path), kWavTempPrefix, kWavTempSuffix)) {
        m.prompter->Warn(WriteFailedText(path, std::strerror(errno)));
        return WrapOutcome::Failed;
    }
    ::close(temp.TakeDescriptor());
    if (std::rename(path.c_str(), temp.path().c_str()) != 0) {
        m.prompter->Warn(WriteFailedText(path, std::strerror(errno)));
        return WrapOutcome::Failed;
    }

    WavWriteResult result = WriteWavFromRaw(temp.path(), path, channels);
    if (!result.ok()) {
        // Nothing was written to the path, so the raw data goes back where it was.
        std::string note;
        if (std::rename(temp.path().c_str(), path.c_str()) != 0)
            note = "The raw sound data is kept in \"" + temp.path() + "\".";
        temp.Keep();  // back at the path, or kept where it is
        m.prompter->Warn(WavWriteFailureText(result, path, note));
        return WrapOutcome::Failed;
    }
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

std::string ImportRefusalText(const std::string& refusal) {
    return refusal + "\n\n" + kImportAccepts;
}

std::string ChannelCountText(int channels) {
    return "This appears to be a WAV-file of " + std::to_string(channels) + " channels...";
}

std::string BitDepthText(long long bits) {
    return "This appears to be a " + std::to_string(bits) + " bit WAV-file...";
}

std::string WavWriteFailureText(const WavWriteResult& result, const std::string& target,
                                const std::string& note) {
    std::string text = result.status == WavWriteResult::CannotCreate
                           ? FileFailureText(kMsgCannotCreate, target, result.reason)
                           : WriteFailedText(target, result.reason);
    if (!note.empty()) text += " " + note;
    return text;
}

bool IsReadOnlyFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (st.st_mode & S_IWUSR) == 0;
}

namespace {

SampleRead Samples(std::int32_t count) {
    return {count > 0 ? ImportOutcome::Imported : ImportOutcome::NoSound, count, {}};
}
SampleRead Refusal(std::string text) {
    return {ImportOutcome::Refused, 0, std::move(text)};
}
SampleRead Declined() {
    return {ImportOutcome::Declined, 0, {}};
}

// Up to `size` bytes from `offset` into the transfer buffer, asking first when they exceed it.
SampleRead ReadIntoTransfer(Machine& m, std::FILE* f, std::uint64_t offset, std::uint64_t size,
                            const char* askLarge) {
    if (size > kWavTransferLimit) {
        if (!m.prompter->AskYesNo(askLarge)) return Declined();
        size = kWavTransferLimit;
    }
    if (size == 0) return Samples(0);
    const ssize_t got = ::pread(::fileno(f), m.banks.transfer.bytes.get(),
                                static_cast<std::size_t>(size), static_cast<off_t>(offset));
    return Samples(got > 0 ? EvenSampleCount(static_cast<std::size_t>(got)) : 0);
}

bool HasWavExtension(const std::string& path) {
    const std::string name = path.substr(path.find_last_of("/\\:") + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || name.size() - dot != 4) return false;
    for (std::size_t i = 1; i < 4; ++i)
        if (std::toupper(static_cast<unsigned char>(name[dot + i])) != "WAV"[i - 1]) return false;
    return true;
}

}  // namespace

namespace {

bool LooksLikeWav(const FileBytes& in) {
    std::uint8_t head[12];
    return in.read(0, head, sizeof head) && TagIs(head, "RIFF") && TagIs(head + 8, "WAVE");
}

// The message that refuses a WAV file this reader cannot take unchanged; null when it can.
const char* WavRefusal(const char* parseRefusal, const WavLayout& wav, std::string& text) {
    if (parseRefusal != nullptr) return parseRefusal;
    if (wav.bits != 16) {
        text = BitDepthText(wav.bits);
        return text.c_str();
    }
    if (wav.channels == 2) return kMsgStereoWav;
    if (wav.channels != 1) {
        text = ChannelCountText(wav.channels);
        return text.c_str();
    }
    return nullptr;
}

// A data chunk that declares more bytes than the file holds after its start, and holds a sample
// at least (with none, there is nothing to ask about).
bool DataCut(std::uint64_t fileSize, const WavLayout& wav) {
    const std::uint64_t inFile = fileSize - std::min(fileSize, wav.dataOffset);
    return wav.dataSize > 0 && inFile >= 2 && std::uint64_t(wav.dataSize) > inFile;
}

// The data of a parsed 16-bit mono WAV file, taken over byte for byte.
SampleRead ReadWavData(Machine& m, std::FILE* f, std::uint64_t fileSize, const WavLayout& wav) {
    // A size that claims more than the file holds stands for what is there; a negative one
    // for nothing.
    const std::uint64_t inFile = fileSize - std::min(fileSize, wav.dataOffset);
    const std::uint64_t size =
        wav.dataSize <= 0 ? 0 : std::min<std::uint64_t>(std::uint32_t(wav.dataSize), inFile);
    SampleRead read = ReadIntoTransfer(m, f, wav.dataOffset, size, kAskLargeWav);
    // Not one sample to import: say so rather than do nothing.
    if (read.outcome == ImportOutcome::NoSound) return Refusal(ImportRefusalText(kMsgNoWavData));
    return read;
}

// The checks of a parsed WAV file, then its data unchanged.
SampleRead ReadParsedWav(Machine& m, std::FILE* f, std::uint64_t fileSize, const char* parseRefusal,
                         const WavLayout& wav) {
    std::string text;
    if (const char* refusal = WavRefusal(parseRefusal, wav, text))
        return Refusal(ImportRefusalText(refusal));
    if (wav.sampleRate < kMinConvertedRate || wav.sampleRate > kMaxConvertedRate)
        return Refusal(ImportRefusalText(kMsgRateOutOfRange));
    if (wav.sampleRate < 44000 && !m.prompter->AskYesNo(kAskLowSampleRate)) return Declined();
    if (DataCut(fileSize, wav) && !m.prompter->AskYesNo(kAskCutWav)) return Declined();
    return ReadWavData(m, f, fileSize, wav);
}

// A sound converted to 16-bit mono 44100 Hz into the transfer buffer, after the size question.
SampleRead ConvertIntoTransfer(Machine& m, SoundFile& sound, const char* askLarge) {
    const std::int32_t limit = static_cast<std::int32_t>(kWavTransferLimit / 2);
    if (ConvertedLength(sound.format()) > limit && !m.prompter->AskYesNo(askLarge))
        return Declined();
    BusyCursor busy(*m.prompter);
    const ConvertResult result = sound.ConvertTo(m.banks.transfer.bytes.get(), limit);
    if (result.status == ConvertResult::NotANumber) return Refusal(kMsgNotANumber);
    if (result.status == ConvertResult::Damaged) return Refusal(kMsgDamagedSound);
    const std::int32_t count = EvenSampleCount(2 * static_cast<std::size_t>(result.samples));
    if (count == 0) return Refusal(kMsgNoSound);
    return Samples(count);
}

// After No to the conversion: a 16-bit mono WAV file at 44 kHz or more (`asItIs`) is still
// taken unchanged, everything else is refused as it always was. A failure is marked as
// following the declined conversion, so that the caller can point to it.
SampleRead ReadWithoutConversion(Machine& m, std::FILE* f, std::uint64_t fileSize,
                                 const WavLayout* asItIs, const char* refusal) {
    SampleRead read = asItIs != nullptr ? ReadWavData(m, f, fileSize, *asItIs)
                                        : Refusal(ImportRefusalText(refusal));
    if (read.outcome != ImportOutcome::Imported) read.outcome = ImportOutcome::ConversionDeclined;
    return read;
}

// The refusals that need no question: nothing to convert (a WAV file says so as it always
// did), or a rate out of reach.
const char* SoundRefusal(const SoundFormat& format, bool isWav, const char* parseRefusal) {
    if (format.frames <= 0 && !isWav) return kMsgNoSound;
    if (format.frames <= 0) return parseRefusal == kMsgNotAWav ? kMsgNotAWav : kMsgNoWavData;
    if (format.sampleRate < kMinConvertedRate || format.sampleRate > kMaxConvertedRate)
        return kMsgRateOutOfRange;
    return nullptr;
}

// The file opened for an import, or null with `failure` giving `message`, the file and the
// system's reason.
FilePtr OpenForImport(const std::string& path, const char* message, std::uint64_t* size,
                      SampleRead& failure) {
    FilePtr f = OpenRegularFile(path, size);
    if (!f) failure = Refusal(FileFailureText(message, path, FileErrorReason(errno)));
    return f;
}

}  // namespace

SampleRead ReadWavSamples(Machine& m, const std::string& path) {
    std::uint64_t fileSize = 0;
    SampleRead failure;
    FilePtr f = OpenForImport(path, kMsgWavOpenError, &fileSize, failure);
    if (!f) return failure;
    WavLayout wav;
    const char* refusal = ParseWav(FileBytes(f.get(), fileSize), wav);
    return ReadParsedWav(m, f.get(), fileSize, refusal, wav);
}

SampleRead ReadRawSamples(Machine& m, const std::string& path) {
    std::uint64_t size = 0;
    SampleRead failure;
    FilePtr f = OpenForImport(path, kMsgRawOpenError, &size, failure);
    if (!f) return failure;
    return ReadIntoTransfer(m, f.get(), 0, size, kAskLargeRaw);
}

SampleRead ReadSoundSamples(Machine& m, const std::string& path, Conversion conversion) {
    std::uint64_t fileSize = 0;
    SampleRead failure;
    FilePtr f = OpenForImport(path, HasWavExtension(path) ? kMsgWavOpenError : kMsgRawOpenError,
                              &fileSize, failure);
    if (!f) return failure;
    const FileBytes in(f.get(), fileSize);
    const bool isWav = LooksLikeWav(in);
    WavLayout wav;
    const char* parseRefusal = isWav ? ParseWav(in, wav) : nullptr;
    std::string text;
    const char* wavRefusal = isWav ? WavRefusal(parseRefusal, wav, text) : nullptr;
    // 16-bit mono WAV at 44100 Hz, or below 44 kHz for stretched sounds: byte for byte.
    const bool takenAsItIs = isWav && wavRefusal == nullptr;
    if (takenAsItIs && (wav.sampleRate == kSlotRate || wav.sampleRate < 44000))
        return ReadParsedWav(m, f.get(), fileSize, parseRefusal, wav);

    SoundFile sound;
    if (!sound.Open(::fileno(f.get()), fileSize)) {
        if (isWav || HasWavExtension(path))
            return ReadParsedWav(m, f.get(), fileSize, isWav ? parseRefusal : kMsgNotAWav, wav);
        if (HasSoundFileExtension(path)) return Refusal(ImportRefusalText(kMsgUnreadableSound));
        return ReadRawSamples(m, path);
    }

    const SoundFormat& format = sound.format();
    if (const char* refusal = SoundRefusal(format, isWav, parseRefusal))
        return Refusal(ImportRefusalText(refusal));
    if (isWav && parseRefusal == nullptr && DataCut(fileSize, wav) &&
        !m.prompter->AskYesNo(kAskCutWav))
        return Declined();
    const bool convert = format.IsSlotFormat() || conversion == Conversion::Always ||
                         m.prompter->AskYesNo(ConversionQuestion(format));
    if (!convert)
        return ReadWithoutConversion(m, f.get(), fileSize, takenAsItIs ? &wav : nullptr,
                                     isWav ? wavRefusal : kMsgNotAWav);
    return ConvertIntoTransfer(m, sound, isWav ? kAskLargeWav : kAskLargeRaw);
}

ImportResult ImportSample(Machine& m, const std::string& path, int slot, Conversion conversion) {
    if (slot < 1 || slot > kBankSlots) return {};
    SampleRead read = ReadSoundSamples(m, path, conversion);
    ImportResult result;
    result.outcome = read.outcome;
    result.reason = std::move(read.reason);
    if (result.outcome != ImportOutcome::Imported) return result;

    SampleBank& bank = m.banks.userbank;
    std::int16_t* buffer = bank.ensureBuffer(slot);
    std::memcpy(buffer, m.banks.transfer.bytes.get(), 2 * static_cast<std::size_t>(read.count));
    bank.slot(slot).sampleCount = read.count;

    const std::size_t cut = path.find_last_of("/\\");
    result.ok = true;
    result.fileName = cut == std::string::npos ? path : path.substr(cut + 1);
    result.slotName = Utf8ToCp1252(result.fileName).substr(0, kSlotNameSize);
    return result;
}

bool ExportSlotAsWav(Machine& m, int slot, const std::string& path) {
    if (slot < 1 || slot > kBankSlots) return false;
    const SampleSlot& s = m.banks.userbank.slot(slot);
    if (!s.hasSound()) return false;
    if (IsReadOnlyFile(path) || (FileExists(path) && !IsRegularFile(path))) {
        m.prompter->Warn(
            FileFailureText(kMsgCannotCreate, path,
                            IsRegularFile(path) ? "the file is read-only" : std::strerror(EISDIR)));
        return false;
    }
    const auto bytes =
        2 * static_cast<std::uint32_t>(std::min(s.sampleCount, m.banks.userbank.capacity));

    SafeFileWriter out;
    if (!out.Open(path)) {
        m.prompter->Warn(FileFailureText(kMsgCannotCreate, path, out.error()));
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
