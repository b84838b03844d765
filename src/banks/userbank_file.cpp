#include "banks/userbank_file.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "core/files.h"
#include "core/machine.h"

namespace qtam {

namespace {

// Reads little-endian fields and refuses to step past the end.
class ByteReader {
public:
    explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    bool has(std::size_t n) const { return n <= bytes_.size() - pos_; }
    const std::uint8_t* take(std::size_t n) {
        const std::uint8_t* p = bytes_.data() + pos_;
        pos_ += n;
        return p;
    }
    std::uint8_t u8() { return *take(1); }
    std::int32_t i32() {
        const std::uint8_t* p = take(4);
        return static_cast<std::int32_t>(
            static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24));
    }
    std::string text(std::size_t n) {
        return std::string(reinterpret_cast<const char*>(take(n)), n);
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::size_t pos_ = 0;
};

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

std::optional<BankImage> ParseBank(std::span<const std::uint8_t> bytes, std::int32_t slotCapacity) {
    ByteReader in(bytes);
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
            slot.samples = in.take(size);
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
        if (from.sampleCount >= 1) {
            std::size_t size = 2 * static_cast<std::size_t>(from.sampleCount);
            std::memcpy(SoundBuffer(bank, n), from.samples, size);
            to.sampleCount = from.sampleCount;
        } else {
            // A negative count means empty too; keep it as 0 so no reader sees a negative length.
            bank.freeBuffer(n);
        }
        InstallSlotDetails(to, from);
    }
}

void InstallBankNames(SampleBank& bank, const BankImage& image) {
    bank.description = image.description;
    for (int n = 1; n <= kBankSlots; ++n) {
        bank.freeBuffer(n);
        InstallSlotDetails(bank.slot(n), image.slots[n - 1]);
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

    int code = 0;
    auto bytes = ReadFileStart(name, MaxBankFileSize(kUserSlotCapacity), &code);
    if (!bytes) {
        if (!quiet) {
            bool denied = code == EACCES || code == EPERM;
            m.prompter->Warn(
                FileFailureText(denied ? kMsgUserbankReadOnly : UserbankOpenErrorText(code), name,
                                FileErrorReason(code)));
        }
        return false;
    }

    BusyCursor busy(*m.prompter);
    auto image = ParseBank(*bytes, m.banks.userbank.capacity);
    if (!image) {
        m.prompter->Warn(FileFailureText(kMsgNotAUserbank, name, kNotAUserbankReason));
        return false;
    }
    InstallBank(m.banks.userbank, *image);
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
