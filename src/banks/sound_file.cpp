#include "banks/sound_file.h"

#include <sndfile.h>
#include <soxr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>

#include "core/shared_library.h"

namespace qtam {

namespace {

// libsndfile and libsoxr (with the codecs and the OpenMP run-time behind them) are loaded when
// a sound file is first read or written, not at every start of either program: most starts,
// renders to WAV and looks at songs never need them.
// clang-format off
#define QTAM_SNDFILE_FUNCTIONS(X) \
    X(sf_open) X(sf_open_fd) X(sf_open_virtual) X(sf_close) X(sf_command) X(sf_error) \
    X(sf_strerror) X(sf_readf_double) X(sf_readf_short) X(sf_writef_short)
#define QTAM_SOXR_FUNCTIONS(X) \
    X(soxr_io_spec) X(soxr_quality_spec) X(soxr_create) X(soxr_process) X(soxr_delete)
// clang-format on
#define QTAM_POINTER(name) decltype(&::name) name = nullptr;
#define QTAM_FIND(name) l.ok = FindFunction(handle, l.name, #name) && l.ok;

struct SndfileLibrary {
    bool ok = false;
    QTAM_SNDFILE_FUNCTIONS(QTAM_POINTER)
};

struct SoxrLibrary {
    bool ok = false;
    QTAM_SOXR_FUNCTIONS(QTAM_POINTER)
};

// A table filled from `soname` by `fill`; not ok when the library or a function is missing.
template <class Library, class Fill>
Library LoadTable(const char* soname, Fill fill) {
    Library l;
    void* handle = OpenSharedLibrary(soname);
    l.ok = handle != nullptr;
    if (l.ok) fill(l, handle);
    return l;
}

// Each is loaded once, on first use.
const SndfileLibrary& Sndfile() {
    static const SndfileLibrary library = LoadTable<SndfileLibrary>(
        "libsndfile.so.1",
        [](SndfileLibrary& l, void* handle) { QTAM_SNDFILE_FUNCTIONS(QTAM_FIND) });
    return library;
}

const SoxrLibrary& Soxr() {
    static const SoxrLibrary library = LoadTable<SoxrLibrary>(
        "libsoxr.so.0", [](SoxrLibrary& l, void* handle) { QTAM_SOXR_FUNCTIONS(QTAM_FIND) });
    return library;
}

#undef QTAM_FIND
#undef QTAM_POINTER

constexpr const char* kNoSndfile = "the sound file library (libsndfile.so.1) could not be loaded";

// Samples (all channels) decoded per block: bounds the memory a conversion uses.
constexpr sf_count_t kBlockSamples = 16384;
constexpr std::size_t kResampledBlock = 8192;

// The extensions offered for sound files; those of kinds this libsndfile lacks are left out.
struct Extension {
    const char* name;
    int major;  // the libsndfile kind that must be there; 0: always there
    int subtype;
};
constexpr Extension kExtensions[] = {
    {"wav", 0, 0},
    {"wave", 0, 0},
    {"bwf", 0, 0},
    {"aif", 0, 0},
    {"aiff", 0, 0},
    {"aifc", 0, 0},
    {"flac", SF_FORMAT_FLAC, 0},
    {"ogg", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"oga", SF_FORMAT_OGG, SF_FORMAT_VORBIS},
    {"opus", SF_FORMAT_OGG, SF_FORMAT_OPUS},
    {"caf", SF_FORMAT_CAF, 0},
    {"w64", SF_FORMAT_W64, 0},
    {"rf64", SF_FORMAT_RF64, 0},
    {"au", 0, 0},
    {"snd", 0, 0},
    {"mp3", SF_FORMAT_MPEG, 0},
};

bool LibraryHas(int command_count, int command_get, int format) {
    if (!Sndfile().ok) return false;
    int count = 0;
    Sndfile().sf_command(nullptr, command_count, &count, sizeof count);
    for (int i = 0; i < count; ++i) {
        SF_FORMAT_INFO info{};
        info.format = i;
        Sndfile().sf_command(nullptr, command_get, &info, sizeof info);
        if (info.format == format) return true;
    }
    return false;
}

bool ExtensionReadable(const Extension& e) {
    if (e.major != 0 && !LibraryHas(SFC_GET_FORMAT_MAJOR_COUNT, SFC_GET_FORMAT_MAJOR, e.major))
        return false;
    return e.subtype == 0 ||
           LibraryHas(SFC_GET_FORMAT_SUBTYPE_COUNT, SFC_GET_FORMAT_SUBTYPE, e.subtype);
}

const std::vector<std::string>& ReadableExtensions() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> out;
        for (const Extension& e : kExtensions)
            if (ExtensionReadable(e)) out.push_back(e.name);
        return out;
    }();
    return names;
}

std::string KindName(int format) {
    const int subtype = format & SF_FORMAT_SUBMASK;
    switch (format & SF_FORMAT_TYPEMASK) {
        case SF_FORMAT_WAV:
        case SF_FORMAT_WAVEX:
            return "WAV";
        case SF_FORMAT_AIFF:
            return "AIFF";
        case SF_FORMAT_FLAC:
            return "FLAC";
        case SF_FORMAT_CAF:
            return "CAF";
        case SF_FORMAT_W64:
            return "Wave64";
        case SF_FORMAT_RF64:
            return "RF64";
        case SF_FORMAT_AU:
            return "AU";
        case SF_FORMAT_MPEG:
            return "MP3";
        case SF_FORMAT_OGG:
            return subtype == SF_FORMAT_OPUS ? "Ogg Opus" : "Ogg Vorbis";
        default: {
            SF_FORMAT_INFO info{};
            info.format = format & SF_FORMAT_TYPEMASK;
            if (Sndfile().sf_command(nullptr, SFC_GET_FORMAT_INFO, &info, sizeof info) == 0 &&
                info.name)
                return info.name;
            return "an unknown kind of sound file";
        }
    }
}

std::string EncodingName(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8:
            return "8 bit";
        case SF_FORMAT_PCM_16:
        case SF_FORMAT_ALAC_16:
            return "16 bit";
        case SF_FORMAT_ALAC_20:
            return "20 bit";
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_ALAC_24:
            return "24 bit";
        case SF_FORMAT_PCM_32:
        case SF_FORMAT_ALAC_32:
            return "32 bit";
        case SF_FORMAT_FLOAT:
            return "32-bit float";
        case SF_FORMAT_DOUBLE:
            return "64-bit float";
        case SF_FORMAT_ULAW:
            return "u-law";
        case SF_FORMAT_ALAW:
            return "A-law";
        case SF_FORMAT_IMA_ADPCM:
        case SF_FORMAT_MS_ADPCM:
            return "ADPCM";
        default:
            return "";  // lossy kinds have no depth of their own
    }
}

std::string ChannelsName(int channels) {
    if (channels == 1) return "mono";
    if (channels == 2) return "stereo";
    return std::to_string(channels) + " channels";
}

// A sample in -1..1 to the nearest 16-bit value, ties to even, clipped.
std::int16_t ToSlotSample(double x) {
    const double v = std::nearbyint(x * 32768.0);
    return static_cast<std::int16_t>(std::clamp(v, -32768.0, 32767.0));
}

// libsndfile reads through these, bounded by the size given at opening.
struct VirtualFile {
    int fd = -1;
    sf_count_t size = 0;
    sf_count_t position = 0;
};

sf_count_t VirtualLength(void* user) {
    return static_cast<VirtualFile*>(user)->size;
}

sf_count_t VirtualSeek(sf_count_t offset, int whence, void* user) {
    auto* f = static_cast<VirtualFile*>(user);
    sf_count_t base = 0;
    if (whence == SEEK_CUR) base = f->position;
    if (whence == SEEK_END) base = f->size;
    // Past the end is allowed (reads there give nothing); before the start or absurdly far
    // (an offset from a damaged header) is not.
    if (offset < -base || offset > INT64_MAX / 2) return -1;
    f->position = base + offset;
    return f->position;
}

sf_count_t VirtualRead(void* into, sf_count_t count, void* user) {
    auto* f = static_cast<VirtualFile*>(user);
    if (count <= 0 || f->position >= f->size) return 0;
    const sf_count_t n = std::min(count, f->size - f->position);
    const ssize_t got = ::pread(f->fd, into, static_cast<std::size_t>(n), f->position);
    if (got <= 0) return 0;
    f->position += got;
    return got;
}

sf_count_t VirtualWrite(const void*, sf_count_t, void*) {
    return 0;
}
sf_count_t VirtualTell(void* user) {
    return static_cast<VirtualFile*>(user)->position;
}

// Writes converted samples until the output is full.
class SlotWriter {
public:
    SlotWriter(std::uint8_t* out, std::int32_t max) : out_(out), max_(max) {}
    bool full() const { return written_ >= max_; }
    std::int32_t written() const { return written_; }
    void Put(const double* samples, std::size_t count) {
        for (std::size_t i = 0; i < count && !full(); ++i) {
            const auto v = static_cast<std::uint16_t>(ToSlotSample(samples[i]));
            out_[2 * written_] = static_cast<std::uint8_t>(v);
            out_[2 * written_ + 1] = static_cast<std::uint8_t>(v >> 8);
            ++written_;
        }
    }

private:
    std::uint8_t* out_;
    std::int32_t max_;
    std::int32_t written_ = 0;
};

// Mono blocks at the file's rate in, blocks at 44100 Hz out (soxr, very high quality).
class Resampler {
public:
    explicit Resampler(int rate) : out_(kResampledBlock) {
        const SoxrLibrary& x = Soxr();
        if (!x.ok) return;
        const soxr_io_spec_t io = x.soxr_io_spec(SOXR_FLOAT64_I, SOXR_FLOAT64_I);
        const soxr_quality_spec_t quality = x.soxr_quality_spec(SOXR_VHQ, 0);
        soxr_error_t error = nullptr;
        soxr_ = x.soxr_create(rate, kSlotRate, 1, &error, &io, &quality, nullptr);
        if (error != nullptr) soxr_ = nullptr;
    }
    ~Resampler() {
        if (soxr_ != nullptr) Soxr().soxr_delete(soxr_);
    }
    Resampler(const Resampler&) = delete;
    Resampler& operator=(const Resampler&) = delete;
    bool ok() const { return soxr_ != nullptr; }

    // Feeds `count` samples (none: the end of the input) and passes on what comes out.
    bool Feed(const double* in, std::size_t count, SlotWriter& writer) {
        const bool end = count == 0;
        while (!writer.full()) {
            std::size_t used = 0, made = 0;
            if (Soxr().soxr_process(soxr_, end ? nullptr : in, count, &used, out_.data(),
                                    out_.size(), &made) != nullptr)
                return false;
            writer.Put(out_.data(), made);
            in += used;
            count -= used;
            if (end ? made == 0 : (count == 0 && made < out_.size())) break;
            if (used == 0 && made == 0) break;  // nothing moves: never loop for ever
        }
        return true;
    }

private:
    soxr_t soxr_ = nullptr;
    std::vector<double> out_;
};

}  // namespace

struct SoundFile::Source {
    VirtualFile file;
    SF_VIRTUAL_IO io{VirtualLength, VirtualSeek, VirtualRead, VirtualWrite, VirtualTell};
    SNDFILE* sound = nullptr;
    SF_INFO info{};
    ~Source() {
        if (sound != nullptr) Sndfile().sf_close(sound);
    }
};

std::string DescribeSoundFormat(const SoundFormat& format) {
    std::string text = format.kind;
    if (!format.encoding.empty()) text += ", " + format.encoding;
    return text + ", " + ChannelsName(format.channels) + ", " + std::to_string(format.sampleRate) +
           " Hz";
}

std::string ConversionQuestion(const SoundFormat& format) {
    return "This file is " + DescribeSoundFormat(format) + ". Convert it to 16-bit mono 44100 Hz?";
}

std::int64_t ConvertedLength(const SoundFormat& format) {
    if (format.sampleRate <= 0 || format.frames <= 0) return 0;
    if (format.sampleRate == kSlotRate) return format.frames;
    // In floating point: a declared length near the limit of its type must not overflow.
    const double length =
        std::ceil(static_cast<double>(format.frames) * kSlotRate / format.sampleRate);
    return length >= 9.0e18 ? INT64_MAX : static_cast<std::int64_t>(length);
}

std::string SoundFilePatterns() {
    std::string text;
    for (const std::string& e : ReadableExtensions()) text += (text.empty() ? "*." : ";*.") + e;
    return text;
}

bool HasSoundFileExtension(const std::string& path) {
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    std::string extension = name.substr(dot + 1);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const auto& known = ReadableExtensions();
    return std::find(known.begin(), known.end(), extension) != known.end();
}

SoundFile::SoundFile() = default;
SoundFile::~SoundFile() = default;

bool SoundFile::Open(int fd, std::uint64_t size) {
    if (!Sndfile().ok) return false;
    auto source = std::make_unique<Source>();
    source->file.fd = fd;
    source->file.size = static_cast<sf_count_t>(std::min<std::uint64_t>(size, INT64_MAX / 4));
    source->sound = Sndfile().sf_open_virtual(&source->io, SFM_READ, &source->info, &source->file);
    if (source->sound == nullptr || source->info.channels <= 0) return false;
    // Every kind is read as doubles in -1..1; a float file's out-of-range values are clipped
    // by the rounding, not scaled.
    Sndfile().sf_command(source->sound, SFC_SET_NORM_DOUBLE, nullptr, SF_TRUE);

    const int f = source->info.format;
    format_.kind = KindName(f);
    format_.encoding = EncodingName(f);
    format_.channels = source->info.channels;
    format_.sampleRate = source->info.samplerate;
    format_.frames = source->info.frames;
    format_.pcm16 = (f & SF_FORMAT_SUBMASK) == SF_FORMAT_PCM_16;
    // An MP3 stream without a length header has only an estimate from its size and bit rate:
    // there the decoder alone tells whether the file is whole.
    framesDeclaredExactly_ = (f & SF_FORMAT_TYPEMASK) != SF_FORMAT_MPEG;
    source_ = std::move(source);
    return true;
}

ConvertResult SoundFile::ConvertTo(std::uint8_t* out, std::int32_t maxSamples) {
    ConvertResult result;
    if (!source_ || maxSamples <= 0) return result;
    const int channels = format_.channels;
    const sf_count_t blockFrames = std::max<sf_count_t>(1, kBlockSamples / channels);
    std::vector<double> block(static_cast<std::size_t>(blockFrames * channels));
    std::vector<double> mono(static_cast<std::size_t>(blockFrames));

    std::unique_ptr<Resampler> resampler;
    if (format_.sampleRate != kSlotRate) {
        resampler = std::make_unique<Resampler>(format_.sampleRate);
        if (!resampler->ok()) {
            result.status = ConvertResult::Damaged;
            return result;
        }
    }

    SlotWriter writer(out, maxSamples);
    std::int64_t framesRead = 0;
    while (!writer.full()) {
        // Block by block, so that a long file is read only as far as the slot keeps it.
        const sf_count_t got = Sndfile().sf_readf_double(source_->sound, block.data(), blockFrames);
        if (got <= 0) break;
        framesRead += got;
        for (sf_count_t i = 0; i < got; ++i) {
            double sum = 0;
            for (int c = 0; c < channels; ++c) sum += block[i * channels + c];
            if (!std::isfinite(sum)) {
                result.status = ConvertResult::NotANumber;
                return result;
            }
            mono[i] = sum / channels;
        }
        if (!resampler)
            writer.Put(mono.data(), static_cast<std::size_t>(got));
        else if (!resampler->Feed(mono.data(), static_cast<std::size_t>(got), writer)) {
            result.status = ConvertResult::Damaged;
            return result;
        }
    }
    // A decoder that failed, or a file that ends before the frames it declares exactly.
    const bool cut = framesDeclaredExactly_ && !writer.full() && framesRead < format_.frames;
    if (Sndfile().sf_error(source_->sound) != SF_ERR_NO_ERROR || cut) {
        result.status = ConvertResult::Damaged;
        return result;
    }
    if (resampler && !writer.full()) resampler->Feed(nullptr, 0, writer);
    result.samples = writer.written();
    return result;
}

std::optional<SoundFileType> SoundFileTypeNamed(const std::string& word) {
    std::string w = word;
    for (char& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (w == "wav") return SoundFileType::Wav;
    if (w == "flac") return SoundFileType::Flac;
    if (w == "ogg") return SoundFileType::Ogg;
    if (w == "aiff" || w == "aif") return SoundFileType::Aiff;
    return std::nullopt;
}

std::optional<SoundFileType> SoundFileTypeOf(const std::string& path) {
    const std::string name = path.substr(path.find_last_of("/\\") + 1);
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos) return std::nullopt;
    return SoundFileTypeNamed(name.substr(dot + 1));
}

const char* ExtensionOf(SoundFileType type) {
    switch (type) {
        case SoundFileType::Flac:
            return "flac";
        case SoundFileType::Ogg:
            return "ogg";
        case SoundFileType::Aiff:
            return "aiff";
        case SoundFileType::Wav:
            break;
    }
    return "wav";
}

bool EncodeWavAs(const std::string& wav, int fd, SoundFileType type, int quality,
                 std::string& error) {
    if (!Sndfile().ok) {
        error = kNoSndfile;
        ::close(fd);
        return false;
    }
    SF_INFO in{};
    SNDFILE* from = Sndfile().sf_open(wav.c_str(), SFM_READ, &in);
    if (from == nullptr) {
        error = Sndfile().sf_strerror(nullptr);
        ::close(fd);
        return false;
    }
    SF_INFO out{};
    out.samplerate = in.samplerate;
    out.channels = in.channels;
    switch (type) {
        case SoundFileType::Flac:
            out.format = SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
            break;
        case SoundFileType::Ogg:
            out.format = SF_FORMAT_OGG | SF_FORMAT_VORBIS;
            break;
        case SoundFileType::Aiff:
            out.format = SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
            break;
        case SoundFileType::Wav:
            out.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
            break;
    }
    SNDFILE* to = Sndfile().sf_open_fd(fd, SFM_WRITE, &out, SF_TRUE);
    if (to == nullptr) {
        error = Sndfile().sf_strerror(nullptr);
        Sndfile().sf_close(from);
        return false;
    }
    if (type == SoundFileType::Ogg) {
        double q = std::clamp(quality, 0, 10) / 10.0;
        Sndfile().sf_command(to, SFC_SET_VBR_ENCODING_QUALITY, &q, sizeof q);
    }
    // Whole 16-bit samples through: FLAC and AIFF keep them exactly.
    std::vector<short> block(static_cast<std::size_t>(8192 * std::max(1, in.channels)));
    bool ok = true;
    sf_count_t got;
    while (ok && (got = Sndfile().sf_readf_short(from, block.data(), 8192)) > 0)
        ok = Sndfile().sf_writef_short(to, block.data(), got) == got;
    if (ok && Sndfile().sf_error(from) != SF_ERR_NO_ERROR) ok = false;
    if (!ok)
        error = Sndfile().sf_error(to) != SF_ERR_NO_ERROR ? Sndfile().sf_strerror(to)
                                                          : Sndfile().sf_strerror(from);
    Sndfile().sf_close(from);
    if (Sndfile().sf_close(to) != 0 && ok) {
        ok = false;
        error = "the file could not be completed";
    }
    return ok;
}

}  // namespace qtam
