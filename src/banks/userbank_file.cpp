#include "banks/userbank_file.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/machine.h"

namespace qtam {

namespace {

// The fields of a bank record, little-endian, over a reader's take(n).
template <typename Reader>
class FieldReads {
public:
    std::uint8_t u8() { return *self().take(1); }
    std::int32_t i32() {
        const std::uint8_t* p = self().take(4);
        return static_cast<std::int32_t>(
            static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
    }
    std::string text(std::size_t n) {
        return std::string(reinterpret_cast<const char*>(self().take(n)), n);
    }

private:
    Reader& self() { return static_cast<Reader&>(*this); }
};

// Reads little-endian fields and refuses to step past the end.
class ByteReader : public FieldReads<ByteReader> {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool has(std::size_t n) const { return n <= bytes_.size() - pos_; }
    const std::uint8_t* take(std::size_t n) {
        const std::uint8_t* p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }

    // A sound's samples: where they lie among the bytes.
    const std::uint8_t* sound(std::size_t n) { return take(n); }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

// Reads the records of a bank file one field at a time, and skips the sounds (noting where each
// lies), so that a bank's layout is checked without reading its sounds. Fields are at most a
// description long. A read that fails ends the file there: error() keeps the errno value, or
// kFileShrank.
class FileRecordReader : public FieldReads<FileRecordReader> {
public:
    FileRecordReader(int fd, std::uint64_t size) : fd_(fd), size_(size) {}

    static constexpr int kFileShrank = -1;

    bool has(std::size_t n) const { return error_ == 0 && n <= size_ - pos_; }
    const std::uint8_t* take(std::size_t n) {
        std::size_t got = 0;
        while (got < n && error_ == 0) {
            const ssize_t r =
                ::pread(fd_, field_.data() + got, n - got, static_cast<off_t>(pos_ + got));
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) error_ = r < 0 ? errno : kFileShrank;
            if (r > 0) got += static_cast<std::size_t>(r);
        }
        pos_ += n;
        return field_.data();
    }
    // Not read: its place is noted in the slot (fileOffset) instead.
    const std::uint8_t* sound(std::size_t n) {
        pos_ += n;
        return nullptr;
    }
    std::uint64_t position() const { return pos_; }
    int error() const { return error_; }

private:
    int fd_;
    std::uint64_t size_;
    std::uint64_t pos_ = 0;
    int error_ = 0;
    std::array<std::uint8_t, kBankDescriptionSize> field_{};
};

// Reads `bytes` bytes at `offset` into `to`; 0, the errno value, or kFileShrank.
int ReadAt(int fd, void* to, std::size_t bytes, std::uint64_t offset) {
    auto* p = static_cast<std::uint8_t*>(to);
    std::size_t got = 0;
    while (got < bytes) {
        const ssize_t r = ::pread(fd, p + got, bytes - got, static_cast<off_t>(offset + got));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return r < 0 ? errno : FileRecordReader::kFileShrank;
        got += static_cast<std::size_t>(r);
    }
    return 0;
}

void PutI32(std::vector<std::uint8_t>& out, std::int32_t v) {
    auto u = static_cast<std::uint32_t>(v);
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(u >> (8 * i)));
}

void PutText(std::vector<std::uint8_t>& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

std::string Padded(const std::string& text, std::size_t width) {
    std::string s = text.substr(0, width);
    s.resize(width, ' ');
    return s;
}

}  // namespace

std::string UserbankOpenErrorText(int code) {
    return "An error occurred (" + std::to_string(code) + ") while opening the Userbank file...";
}

std::size_t MaxBankFileSize(std::int32_t slotCapacity) {
    return kBankHeaderSize +
           kBankSlots * (kSlotRecordFixedSize + 2 * static_cast<std::size_t>(slotCapacity));
}

std::optional<FileStart> ReadFileStart(const std::string& path, std::size_t maxBytes,
                                       int* errorCode) {
    std::uint64_t size = 0;
    const int fd = OpenRegularFileForReading(path, errorCode, &size);
    if (fd < 0) return std::nullopt;
    FileStart bytes(static_cast<std::size_t>(std::min<std::uint64_t>(size, maxBytes)));
    std::size_t got = 0;
    while (got < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + got, bytes.size() - got);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            *errorCode = errno;
            ::close(fd);
            return std::nullopt;
        }
        if (n == 0) break;  // the file shrank meanwhile
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    bytes.Shorten(got);
    return bytes;
}

bool IsUserbankFile(const std::string& path) {
    int code = 0;
    const auto start = ReadFileStart(path, kBankSignatureSize, &code);
    return start && start->size() == kBankSignatureSize &&
           std::memcmp(start->data(), kBankSignature, kBankSignatureSize) == 0;
}

namespace {

// The bank's records from either reader: the same checks whether the bytes are in memory or
// read from the file record by record.
template <class Reader>
std::optional<BankImage> ParseBankRecords(Reader& in, std::int32_t slotCapacity) {
    if (!in.has(kBankHeaderSize)) return std::nullopt;
    if (std::memcmp(in.take(kBankSignatureSize), kBankSignature, kBankSignatureSize) != 0)
        return std::nullopt;

    BankImage image;
    image.description = in.text(kBankDescriptionSize);
    in.u8();  // format byte: not used

    for (SlotImage& slot : image.slots) {
        if (!in.has(4)) return std::nullopt;
        slot.sampleCount = in.i32();
        if (slot.sampleCount > slotCapacity) return std::nullopt;
        if (slot.sampleCount >= 1) {
            std::size_t size = 2 * static_cast<std::size_t>(slot.sampleCount);
            if (!in.has(size)) return std::nullopt;
            if constexpr (requires { in.position(); }) slot.fileOffset = in.position();
            slot.samples = in.sound(size);
        }
        if (!in.has(kSlotRecordFixedSize - 4)) return std::nullopt;
        slot.stretchMeasures = in.u8();
        slot.name = in.text(kSlotNameSize);
        in.take(2);  // "HH" filler
        slot.hihat1 = in.u8();
        slot.hihat2 = in.u8();
    }
    return image;
}

}  // namespace

std::optional<BankImage> ParseBank(std::span<const std::uint8_t> bytes, std::int32_t slotCapacity) {
    ByteReader in(bytes);
    return ParseBankRecords(in, slotCapacity);
}

BankFileRead ReadBankFile(const std::string& path, std::int32_t slotCapacity, SlotSet sounds) {
    BankFileRead result;
    std::uint64_t size = 0;
    const int fd = OpenRegularFileForReading(path, &result.error, &size);
    if (fd < 0) return result;
    FileRecordReader in(fd, std::min<std::uint64_t>(size, MaxBankFileSize(slotCapacity)));
    result.image = ParseBankRecords(in, slotCapacity);
    // A read that failed is the file's error, not a judgement of its content; a file that
    // shrank while it was read is judged by what it held.
    if (in.error() > 0) {
        result.error = in.error();
        result.image.reset();
    }
    if (result.image) {
        // Each sound straight into a buffer of the bank's capacity, made without clearing it:
        // only the pages the sound fills are ever touched.
        for (int n = 1; n <= kBankSlots; ++n) {
            SlotImage& slot = result.image->slots[n - 1];
            if (slot.sampleCount < 1 || !sounds.test(n - 1)) continue;
            slot.sound.reset(new std::int16_t[static_cast<std::size_t>(slotCapacity)]);
            const int error =
                ReadAt(fd, slot.sound.get(), 2 * static_cast<std::size_t>(slot.sampleCount),
                       slot.fileOffset);
            if (error != 0) {
                result.image.reset();
                if (error > 0) result.error = error;
                break;
            }
        }
    }
    ::close(fd);
    return result;
}

namespace {

// The slot's buffer for a whole new sound, at the bank's capacity, made without clearing it:
// every reader stops at the slot's sampleCount (a shorter sound loaded later leaves the end of
// the earlier one there anyway), so the pages past the sound are never touched. Loading the
// kit no longer writes 1.6 MB of zeros that nothing reads. A buffer a sound snapshot shares is
// never written: the sound gets a new one (nothing of the old one is kept, so none is copied).
std::int16_t* SoundBuffer(SampleBank& bank, int n) {
    SampleSlot& s = bank.slot(n);
    if (!s.samples || s.samples.use_count() > 1)
        s.samples.reset(new std::int16_t[static_cast<std::size_t>(bank.capacity)]);
    return s.samples.get();
}

void InstallSlotDetails(SampleSlot& to, const SlotImage& from) {
    to.stretchMeasures = from.stretchMeasures;
    to.name = from.name;
    to.hihat1 = from.hihat1;
    to.hihat2 = from.hihat2;
}

}  // namespace

void InstallBank(SampleBank& bank, const BankImage& image) {
    bank.description = image.description;
    for (int n = 1; n <= kBankSlots; ++n) {
        const SlotImage& from = image.slots[n - 1];
        SampleSlot& to = bank.slot(n);
        if (from.sampleCount >= 1 && from.sound) {
            to.samples = from.sound;  // read at the bank's capacity already
            to.sampleCount = from.sampleCount;
        } else if (from.sampleCount >= 1 && from.samples) {
            std::size_t size = 2 * static_cast<std::size_t>(from.sampleCount);
            std::memcpy(SoundBuffer(bank, n), from.samples, size);
            to.sampleCount = from.sampleCount;
        } else {
            // Empty, or its sound left in the file. A negative count means empty too; keep it
            // as 0 so no reader sees a negative length.
            bank.freeBuffer(n);
        }
        InstallSlotDetails(to, from);
    }
}

std::vector<std::uint8_t> BankFileBytes(SampleBank& bank) {
    std::vector<std::uint8_t> out;
    out.reserve(kBankHeaderSize + kBankSlots * kSlotRecordFixedSize);
    PutText(out, kBankSignature);
    PutText(out, Padded(bank.description, kBankDescriptionSize));
    out.push_back(kBankFormatByte);

    for (int n = 1; n <= kBankSlots; ++n) {
        SampleSlot& slot = bank.slot(n);
        // Never promise samples that are not there, nor read past the slot buffer.
        std::int32_t count = slot.sampleCount;
        if (count > bank.capacity) count = bank.capacity;
        if (count >= 1 && slot.samples == nullptr) count = 0;
        PutI32(out, count);
        if (count >= 1) {
            const auto* p = reinterpret_cast<const std::uint8_t*>(slot.samples.get());
            out.insert(out.end(), p, p + 2 * static_cast<std::size_t>(count));
        }
        out.push_back(slot.stretchMeasures);
        slot.name = Padded(slot.name, kSlotNameSize);
        PutText(out, slot.name);
        PutText(out, "HH");
        out.push_back(slot.hihat1);
        out.push_back(slot.hihat2);
    }
    return out;
}

bool LoadUserbank(Machine& m, const std::string& fileName, bool quiet) {
    // Reading needs no write permission, so the file's permissions are never touched.
    const std::string name = NameToOpen(fileName, kUserbankExtension);

    const BankFileRead read = ReadBankFile(name, m.banks.userbank.capacity, kEverySlot);
    if (read.error != 0) {
        if (!quiet) {
            const int code = read.error;
            bool denied = code == EACCES || code == EPERM;
            m.prompter->Warn(
                FileFailureText(denied ? kMsgUserbankReadOnly : UserbankOpenErrorText(code), name,
                                FileErrorReason(code)));
        }
        return false;
    }

    BusyCursor busy(*m.prompter);
    if (!read.image) {
        m.prompter->Warn(FileFailureText(kMsgNotAUserbank, name, kNotAUserbankReason));
        return false;
    }
    InstallBank(m.banks.userbank, *read.image);
    return true;
}

bool SaveUserbank(Machine& m, const std::string& fileName, bool overwriteSilently) {
    const std::string name = WithDefaultExtension(fileName, kUserbankExtension);
    ReadOnlyScope readOnly(m.attributes, name);

    return SaveFileAsked(*m.prompter, name, overwriteSilently, [&](SafeFileWriter& out) {
        const std::vector<std::uint8_t> bytes = BankFileBytes(m.banks.userbank);
        return out.Write(bytes.data(), bytes.size());
    });
}

void ClearUserbank(Machine& m) {
    SampleBank& bank = m.banks.userbank;
    for (int n = 1; n <= kBankSlots; ++n) bank.emptySlot(n);
    bank.description = kNewUserbankDescription;
    m.activation.BankChanged = false;
}

}  // namespace qtam
