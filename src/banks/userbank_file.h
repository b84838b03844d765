#pragma once
// Userbank files: a signature, a 30-character description and twenty slot records of
// variable length. The kit file uses the same format.

#include <algorithm>
#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/messages.h"
#include "core/sample_bank.h"

namespace qtam {

struct Machine;

inline constexpr const char* kUserbankExtension = ".UBF";
inline constexpr const char* kBankSignature = "CUSTOM_BANK:";
constexpr std::size_t kBankSignatureSize = 12;
constexpr std::size_t kBankDescriptionSize = 30;
constexpr std::size_t kBankHeaderSize = 43;   // signature, description, format byte
constexpr std::uint8_t kBankFormatByte = 81;  // 'Q'
constexpr std::size_t kSlotNameSize = 20;
constexpr std::size_t kSlotRecordFixedSize = 29;  // a slot record without its samples
inline constexpr const char* kNewUserbankDescription = "Custom userbank";

inline constexpr const char* kMsgUserbankReadOnly =
    "This Userbank file is set to read-only. Please uncheck this read-only property to edit or "
    "use the file.";
inline constexpr const char* kMsgNotAUserbank = "This file is not a valid userbank-file!";
inline constexpr const char* kNotAUserbankReason =
    "a userbank file starts with \"CUSTOM_BANK:\" and holds twenty complete sounds";
std::string UserbankOpenErrorText(int code);

// True when the bank was read; a failed load leaves the bank as it was.
bool LoadUserbank(Machine& m, const std::string& fileName, bool quiet);
// True when the file was written; a failed save leaves an existing file as it was.
bool SaveUserbank(Machine& m, const std::string& fileName, bool overwriteSilently);
// Every slot to the cleared state, description "Custom userbank", no unsaved changes.
void ClearUserbank(Machine& m);

// --- Shared with the kit loader ---

// One slot record as found in a file; `samples` points into the file's bytes.
struct SlotImage {
    std::int32_t sampleCount = 0;  // as stored: 0 or less for an empty slot
    const std::uint8_t* samples = nullptr;
    // Read from a file record by record instead: where the samples lie in it, and the sound
    // once read, in a buffer of the slot capacity it was read for.
    std::uint64_t fileOffset = 0;
    std::shared_ptr<std::int16_t[]> sound;
    std::uint8_t stretchMeasures = 0;
    std::string name;  // 20 raw bytes
    std::uint8_t hihat1 = 0;
    std::uint8_t hihat2 = 0;
};

struct BankImage {
    std::string description;  // 30 raw bytes
    std::array<SlotImage, kBankSlots> slots;
};

// The longest file a bank of this capacity can be; anything past it is never read.
std::size_t MaxBankFileSize(std::int32_t slotCapacity);

// The whole file checked: nullopt unless it starts with the signature, holds all twenty slot
// records complete and no sound exceeds `slotCapacity`.
std::optional<BankImage> ParseBank(std::span<const std::uint8_t> bytes, std::int32_t slotCapacity);

// Slots by index 0..19 (slot n is bit n - 1).
using SlotSet = std::bitset<kBankSlots>;
constexpr SlotSet kEverySlot{(1ULL << kBankSlots) - 1};

// A bank file read record by record: the same checks as ParseBank on the file's first
// MaxBankFileSize bytes, without reading them all. The sounds of the slots in `sounds` are read
// straight into buffers of their own; the others stay in the file (no samples, no sound).
// `error` is the errno value when the file could not be opened or read (then no image); no
// image and no error: not a bank file.
struct BankFileRead {
    std::optional<BankImage> image;
    int error = 0;
};
BankFileRead ReadBankFile(const std::string& path, std::int32_t slotCapacity, SlotSet sounds);

// Replaces every field of the bank. A slot whose sound was left in the file has none.
void InstallBank(SampleBank& bank, const BankImage& image);

// The file image of a bank. Slot names are padded (or cut) to 20 characters in place.
std::vector<std::uint8_t> BankFileBytes(SampleBank& bank);

// Bytes read from a file, in memory that is not cleared first: the read fills what is used.
class FileStart {
public:
    explicit FileStart(std::size_t size) : bytes_(new std::uint8_t[size]), size_(size) {}
    std::uint8_t* data() { return bytes_.get(); }
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    void Shorten(std::size_t size) { size_ = std::min(size, size_); }
    operator std::span<const std::uint8_t>() const { return {bytes_.get(), size_}; }

private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
};

// Reads at most `maxBytes` of a regular file (see OpenRegularFileForReading). On failure:
// nullopt, and the errno value in *errorCode.
std::optional<FileStart> ReadFileStart(const std::string& path, std::size_t maxBytes,
                                       int* errorCode);

// The file starts with the userbank signature (as the desktop's file types recognise a
// userbank), whatever its name.
bool IsUserbankFile(const std::string& path);

}  // namespace qtam
