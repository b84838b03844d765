#pragma once
// Helpers for the tests of WAV files: a scratch folder, hand-built WAV images, a cap on the
// size of written files (file_size_limit.h) and libsndfile as the
// independent reader of what we write.

#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "file_size_limit.h"
#include "temp_folder.h"

namespace qtam::test {

// A fresh folder per test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "qtam-wav-XXXXXX").string();
        char* made = ::mkdtemp(pattern.data());
        if (made == nullptr) std::abort();
        path_ = made;
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }
    // Names of everything in the folder, sorted.
    std::vector<std::string> list() const {
        std::vector<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(path_))
            names.push_back(e.path().filename());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    std::string path_;
};

inline void PutU16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}
inline void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}
inline void PutTag(std::vector<std::uint8_t>& out, const std::string& tag) {
    out.insert(out.end(), tag.begin(), tag.end());
}

// A recognisable sound: no two neighbours alike, full range used.
inline std::vector<std::int16_t> TestSamples(std::size_t n, int seed = 1) {
    std::vector<std::int16_t> s(n);
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<std::int16_t>(
            static_cast<std::uint16_t>((i + 1) * 2654435761u * static_cast<unsigned>(seed) >> 16));
    return s;
}

inline std::vector<std::uint8_t> SampleBytes(const std::vector<std::int16_t>& samples) {
    std::vector<std::uint8_t> out;
    for (std::int16_t s : samples) PutU16(out, static_cast<std::uint16_t>(s));
    return out;
}

// A WAV image with every field under the test's control.
struct WavImage {
    std::string riff = "RIFF", wave = "WAVE", fmt = "fmt ", data = "data";
    std::uint16_t formatTag = 1;
    std::uint16_t channels = 1;
    std::int32_t sampleRate = 44100;
    std::uint16_t bits = 16;
    std::optional<std::int32_t> byteRate;  // default: rate * channels * bits / 8
    std::vector<std::uint8_t> fmtExtra;    // appended to the 16 bytes of the format chunk
    std::vector<std::uint8_t> beforeFmt;   // whole chunks placed before the format chunk
    std::vector<std::uint8_t> betweenFmtAndData;
    std::optional<std::int32_t> declaredDataSize;  // default: the payload's size
    std::vector<std::uint8_t> payload;

    std::vector<std::uint8_t> bytes() const {
        std::vector<std::uint8_t> out;
        PutTag(out, riff);
        PutU32(out, 0);  // patched below
        PutTag(out, wave);
        out.insert(out.end(), beforeFmt.begin(), beforeFmt.end());
        PutTag(out, fmt);
        PutU32(out, static_cast<std::uint32_t>(16 + fmtExtra.size()));
        PutU16(out, formatTag);
        PutU16(out, channels);
        PutU32(out, static_cast<std::uint32_t>(sampleRate));
        PutU32(out,
               static_cast<std::uint32_t>(byteRate.value_or(sampleRate * channels * bits / 8)));
        PutU16(out, static_cast<std::uint16_t>(channels * bits / 8));
        PutU16(out, bits);
        out.insert(out.end(), fmtExtra.begin(), fmtExtra.end());
        out.insert(out.end(), betweenFmtAndData.begin(), betweenFmtAndData.end());
        PutTag(out, data);
        PutU32(out, static_cast<std::uint32_t>(
                        declaredDataSize.value_or(static_cast<std::int32_t>(payload.size()))));
        out.insert(out.end(), payload.begin(), payload.end());
        const auto riffSize = static_cast<std::uint32_t>(out.size() - 8);
        for (int i = 0; i < 4; ++i) out[4 + i] = static_cast<std::uint8_t>(riffSize >> (8 * i));
        return out;
    }
};

// A chunk holding `content`, with the pad byte that an odd size needs.
inline std::vector<std::uint8_t> Chunk(const std::string& tag, const std::string& content) {
    std::vector<std::uint8_t> out;
    PutTag(out, tag);
    PutU32(out, static_cast<std::uint32_t>(content.size()));
    out.insert(out.end(), content.begin(), content.end());
    if (content.size() % 2 != 0) out.push_back(0);
    return out;
}

// A chunk of `size` bytes of filler, as a LIST chunk would carry.
inline std::vector<std::uint8_t> FillerChunk(const std::string& tag, std::uint32_t size) {
    std::vector<std::uint8_t> out;
    PutTag(out, tag);
    PutU32(out, size);
    for (std::uint32_t i = 0; i < size; ++i) out.push_back(static_cast<std::uint8_t>('a' + i % 26));
    return out;
}

// What libsndfile makes of a file.
struct SoundFileInfo {
    bool opened = false;
    int channels = 0;
    int sampleRate = 0;
    int format = 0;
    sf_count_t frames = 0;
    std::vector<std::int16_t> samples;  // interleaved
};

inline SoundFileInfo ReadWithLibsndfile(const std::string& path) {
    SoundFileInfo result;
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return result;
    result.opened = true;
    result.channels = info.channels;
    result.sampleRate = info.samplerate;
    result.format = info.format;
    result.frames = info.frames;
    result.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    sf_count_t got =
        sf_read_short(f, result.samples.data(), static_cast<sf_count_t>(result.samples.size()));
    result.samples.resize(static_cast<std::size_t>(got));
    sf_close(f);
    return result;
}

// "~wavconv-XXXXXX.pcm": raw data on its way into a WAV file.
inline bool IsWavTempName(const std::string& name) {
    return name.size() == 19 && name.rfind("~wavconv-", 0) == 0 && name.ends_with(".pcm");
}

}  // namespace qtam::test
