#pragma once
// Sounds in and out of userbank slots: WAV and raw imports through the transfer buffer, the
// mono export of a slot, and turning a finished raw PCM file into a WAV file.

#include <cstddef>
#include <cstdint>
#include <string>

#include "core/messages.h"

namespace qtam {

struct Machine;

#pragma pack(push, 1)

// The 44-byte header of every WAV file this system writes.
struct WavHeader {
    char riff[4];
    std::uint32_t riffSize;  // data size + 36
    char wave[4];
    char fmt[4];
    std::uint32_t fmtSize;
    std::uint16_t formatTag;
    std::uint16_t channels;
    std::uint32_t sampleRate;
    std::uint32_t byteRate;
    std::uint16_t blockAlign;
    std::uint16_t bitsPerSample;
    char data[4];
    std::uint32_t dataSize;
};

#pragma pack(pop)

static_assert(sizeof(WavHeader) == 44);
static_assert(offsetof(WavHeader, riffSize) == 4);
static_assert(offsetof(WavHeader, wave) == 8);
static_assert(offsetof(WavHeader, fmt) == 12);
static_assert(offsetof(WavHeader, fmtSize) == 16);
static_assert(offsetof(WavHeader, formatTag) == 20);
static_assert(offsetof(WavHeader, channels) == 22);
static_assert(offsetof(WavHeader, sampleRate) == 24);
static_assert(offsetof(WavHeader, byteRate) == 28);
static_assert(offsetof(WavHeader, blockAlign) == 32);
static_assert(offsetof(WavHeader, bitsPerSample) == 34);
static_assert(offsetof(WavHeader, data) == 36);
static_assert(offsetof(WavHeader, dataSize) == 40);

// 16-bit PCM at 44100 Hz with 1 or 2 channels.
WavHeader MakeWavHeader(int channels, std::uint32_t dataSize);

// The largest data chunk a header can describe, in whole stereo frames.
constexpr std::uint64_t kMaxWavDataBytes = (0xFFFFFFFFull - 36) / 4 * 4;

// Raw data waiting to become a WAV file lies in "~wavconv-XXXXXX.pcm" beside the target.
inline constexpr const char* kWavTempPrefix = "~wavconv-";
inline constexpr const char* kWavTempSuffix = ".pcm";

inline constexpr const char* kMsgWavOpenError =
    "An error occurred while opening this file...\r\n"
    "The file might be read-only or in use by another application.";
inline constexpr const char* kMsgRawOpenError = "An error occurred while opening this file...";
inline constexpr const char* kMsgNotAWav = "This appears not to be a valid WAV-file...";
inline constexpr const char* kMsgCompressedWav = "This appears to be a compressed WAV-file...";
inline constexpr const char* kMsgNoWavData =
    "This WAV-file contains no data, or is in an unknown format...";
inline constexpr const char* kMsgStereoWav = "This appears to be stereo WAV-file...";
// "This appears to be a WAV-file of 8 channels..."
std::string ChannelCountText(int channels);
inline constexpr const char* kMsgFloatWav = "This appears to be a floating-point WAV-file...";
// What an import takes, said with every refusal.
inline constexpr const char* kImportAccepts =
    "A slot holds 16-bit mono PCM sound at 44100 Hz. A 16-bit mono PCM WAV file is taken as it "
    "is; WAV files of other depths, rates or channel counts, AIFF, FLAC, Ogg and other sound "
    "files are converted after a question; any other file is read as raw 16-bit mono sound at "
    "44100 Hz.";
// A refusal of an import, followed by what is accepted.
std::string ImportRefusalText(const std::string& refusal);
inline constexpr const char* kAskLowSampleRate =
    "The samplefrequency is less than 44KHz. Import anyway (use only for stretched samples)?";
inline constexpr const char* kAskCutWav =
    "This WAV-file is incomplete: its sound ends before the length it declares. Import what is "
    "there?";
inline constexpr const char* kAskLargeWav =
    "This WAV-file is larger than 350Kb. Import the first part anyway?";
inline constexpr const char* kAskLargeRaw =
    "This Soundfile is larger than 350Kb. Import the first part anyway?";

// "This appears to be a 8 bit WAV-file..."
std::string BitDepthText(long long bits);

// How an import ended. Only Imported changes the slot.
enum class ImportOutcome {
    Imported,
    Refused,             // the file cannot be taken; the reason says why
    ConversionDeclined,  // No to converting it, and it cannot be taken as it is
    Declined,            // No to another question (a low sample rate, a long sound)
    NoSound,             // a raw file too short for one pair of samples
    NoSuchSlot,          // a slot outside 1..20
};

// Samples placed in the transfer buffer, or why there are none.
struct SampleRead {
    ImportOutcome outcome = ImportOutcome::Imported;
    std::int32_t count = 0;  // always even; 0 unless Imported
    std::string reason;      // the message for the user; empty when the questions say it all
};

// A WAV file's data, or a whole raw file, into the transfer buffer.
SampleRead ReadWavSamples(Machine& m, const std::string& path);
SampleRead ReadRawSamples(Machine& m, const std::string& path);

// What happens to a sound file that is not 16-bit mono 44100 Hz: the user is asked whether
// to convert it, or it is converted without a question.
enum class Conversion { Ask, Always };

// Any sound file into the transfer buffer. Its contents decide its kind: a 16-bit mono WAV
// file at 44100 Hz (or below 44 kHz, after the question) is taken byte for byte; any other
// sound file libsndfile reads is converted to 16-bit mono 44100 Hz, after a question that
// says what it is (No takes a 16-bit mono WAV file at 44 kHz or more unchanged and refuses
// anything else). Contents no reader recognises are refused when the name is that of a sound
// file, and read as raw samples otherwise. Questions go to the prompter; refusals are only
// returned, for the caller to show.
SampleRead ReadSoundSamples(Machine& m, const std::string& path, Conversion conversion);

struct ImportResult {
    bool ok = false;  // outcome is Imported
    ImportOutcome outcome = ImportOutcome::NoSuchSlot;
    std::string reason;    // why the file was refused, for the user; see SampleRead
    std::string fileName;  // the name part of the path, extension included
    std::string slotName;  // the file name as a slot name: Windows-1252, at most 20 bytes
};

// Into Userbank slot 1..20 through ReadSoundSamples. The slot's name (slotName is the one to
// give it) and attributes are left to the caller.
ImportResult ImportSample(Machine& m, const std::string& path, int slot,
                          Conversion conversion = Conversion::Ask);

// Writes Userbank slot 1..20 as a mono WAV file. An existing file is replaced only once the
// new one is complete. An empty slot writes nothing and returns false.
bool ExportSlotAsWav(Machine& m, int slot, const std::string& path);

enum class WrapOutcome {
    Wrapped,       // the file is now a WAV file
    EmptyRemoved,  // the raw file was empty and has been deleted
    Failed,        // reported to the user; the raw data is still at the path
};

// Turns a raw 16-bit 44100 Hz file into a WAV file in place, through a temporary file of its
// own in the same folder.
WrapOutcome WrapRawAsWavMono(Machine& m, const std::string& path);
WrapOutcome WrapRawAsWavStereo(Machine& m, const std::string& path);

// The part shared by the wraps and the stream: `target` becomes a WAV file holding the raw
// file's bytes (at most kMaxWavDataBytes). Nothing is reported; an existing target is
// replaced only on success.
struct WavWriteResult {
    enum Status { Ok, CannotCreate, WriteFailed } status = WriteFailed;
    std::string reason;  // the system's reason for a failure
    bool ok() const { return status == Ok; }
};
WavWriteResult WriteWavFromRaw(const std::string& rawPath, const std::string& target, int channels);

// The warning for a failed WriteWavFromRaw; `note` is appended when not empty.
std::string WavWriteFailureText(const WavWriteResult& result, const std::string& target,
                                const std::string& note = {});

// An existing file without the owner's write permission: writers refuse it as the system
// would refuse to open it for writing.
bool IsReadOnlyFile(const std::string& path);

}  // namespace qtam
