#pragma once
// Sound files of the common kinds (WAV of any depth, AIFF, FLAC, Ogg Vorbis and Opus, CAF and
// the others libsndfile reads) and their conversion to what a slot holds: 16-bit mono
// 44100 Hz. Channels are averaged, other rates resampled with libsoxr at very high quality,
// and samples rounded to the nearest 16-bit value (ties to even) with clipping, never
// dithered, so that the same file always converts to the same sound.
//
// Thread: owner (see core/machine.h); nothing here is shared.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qtam {

inline constexpr const char* kMsgUnreadableSound =
    "This file is not a sound file that can be read, or it is damaged...";
inline constexpr const char* kMsgNoSound = "This sound file contains no sound...";
inline constexpr const char* kMsgDamagedSound =
    "This sound file is damaged or incomplete; nothing was imported...";
inline constexpr const char* kMsgNotANumber =
    "This sound file holds samples that are not numbers (NaN or infinite); nothing was "
    "imported...";
inline constexpr const char* kMsgRateOutOfRange =
    "The samplefrequency of this file is out of range (1000 to 768000 Hz)...";

constexpr int kSlotRate = 44100;
constexpr int kMinConvertedRate = 1000;
constexpr int kMaxConvertedRate = 768000;

// What a sound file holds, as the conversion question tells it.
struct SoundFormat {
    std::string kind;      // "WAV", "AIFF", "FLAC", "Ogg Vorbis", ...
    std::string encoding;  // "24 bit", "32-bit float", "ADPCM"; "" for lossy kinds
    int channels = 0;
    int sampleRate = 0;
    std::int64_t frames = 0;  // as the file declares them (for MP3 often an estimate)
    bool pcm16 = false;       // 16-bit integer samples

    // Already what a slot holds: taken over without a question.
    bool IsSlotFormat() const { return pcm16 && channels == 1 && sampleRate == kSlotRate; }
};

// "FLAC, 24 bit, stereo, 48000 Hz"
std::string DescribeSoundFormat(const SoundFormat& format);
// "This file is FLAC, 24 bit, stereo, 48000 Hz. Convert it to 16-bit mono 44100 Hz?"
std::string ConversionQuestion(const SoundFormat& format);
// How many slot samples the whole file becomes.
std::int64_t ConvertedLength(const SoundFormat& format);

// The name patterns of the sound files libsndfile reads here, for a file dialog's filter:
// "*.wav;*.flac;*.aif;...". (The dialogs add the upper-case forms.)
std::string SoundFilePatterns();
// True when the name ends in one of those extensions (any case).
bool HasSoundFileExtension(const std::string& path);

// The kinds a render writes.
enum class SoundFileType { Wav, Flac, Ogg, Aiff };
// Ogg Vorbis quality 0..10 (as oggenc counts): 5 is about 160 kbit/s for a stereo mix.
inline constexpr int kDefaultOggQuality = 5;
// "wav", "flac", "ogg", "aiff" or "aif", any case; nothing for another word.
std::optional<SoundFileType> SoundFileTypeNamed(const std::string& word);
// The type a file name's extension says; nothing for another or no extension.
std::optional<SoundFileType> SoundFileTypeOf(const std::string& path);
// "wav", "flac", "ogg", "aiff".
const char* ExtensionOf(SoundFileType type);
// Writes the 16-bit WAV file `wav` again as `type` into `fd`, which it closes: FLAC and AIFF
// with exactly the same samples, Ogg Vorbis at `quality` 0..10. False, with the reason in
// `error`, when it could not.
bool EncodeWavAs(const std::string& wav, int fd, SoundFileType type, int quality,
                 std::string& error);

struct ConvertResult {
    enum Status { Ok, NotANumber, Damaged } status = Ok;
    std::int32_t samples = 0;  // written to the output
};

// One sound file open for conversion, read from a descriptor the caller keeps open.
class SoundFile {
public:
    SoundFile();
    ~SoundFile();
    SoundFile(const SoundFile&) = delete;
    SoundFile& operator=(const SoundFile&) = delete;

    // False when libsndfile recognises no sound in the file's contents (its name is never
    // looked at). `size` bounds every read.
    bool Open(int fd, std::uint64_t size);
    const SoundFormat& format() const { return format_; }

    // Converts from the start of the file into at most `maxSamples` 16-bit little-endian
    // samples at `out`, reading only as much of the file as they need.
    ConvertResult ConvertTo(std::uint8_t* out, std::int32_t maxSamples);

private:
    struct Source;
    std::unique_ptr<Source> source_;
    SoundFormat format_;
    bool framesDeclaredExactly_ = true;
};

}  // namespace qtam
