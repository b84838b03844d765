// Imports every sound file under the given folders (or the given files) into a userbank slot
// as the editor does after Yes to the conversion question, and compares each converted sound
// with sox's own conversion without dither (`sox IN -b 16 -c 1 -r 44100 -D REF.wav`).
//
//   import_measure PATH... [--list]
//
// Prints, per file with --list, and in any case in total: how many import, the largest
// difference to sox in LSB for files that need no resampling (and how many are equal), the
// largest difference in dB relative to full scale for resampled files (over the whole sound and
// away from its first and last 64 samples, where the two resamplers start and stop
// differently), and the import time per file (median and worst). Exits 1 when a file failed.

#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "banks/sound_file.h"
#include "banks/wav_io.h"
#include "core/files.h"
#include "core/machine.h"

namespace {

using namespace qtam;

// Answers Yes (the size question too) and keeps the warnings.
class YesPrompter : public Prompter {
public:
    std::vector<std::string> warnings;
    void Warn(const std::string& text) override { warnings.push_back(text); }
    bool AskYesNo(const std::string&) override { return true; }
    void SetBusy(bool) override {}
};

std::vector<std::int16_t> ReadMono16(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) return {};
    std::vector<std::int16_t> samples(static_cast<std::size_t>(info.frames));
    samples.resize(static_cast<std::size_t>(sf_read_short(f, samples.data(), info.frames)));
    sf_close(f);
    return samples;
}

bool IsSoundFileName(const std::filesystem::path& p) {
    return HasSoundFileExtension(p.string());
}

std::string Quoted(const std::string& s) {
    std::string out = "'";
    for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

double Db(double lsb) {
    return 20.0 * std::log10(std::max(lsb, 1e-9) / 32768.0);
}

struct Totals {
    int files = 0, imported = 0, unchanged = 0, converted = 0, resampled = 0, equal = 0;
    int worstLsb = 0;             // files without resampling
    double worstDb = -1000;       // resampled files, whole sound
    double worstInnerDb = -1000;  // resampled files, away from the ends
    std::vector<double> millis;
    std::vector<double> resampledDb;
};

}  // namespace

int main(int argc, char** argv) {
    bool list = false;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--list") {
            list = true;
        } else if (std::filesystem::is_directory(arg)) {
            for (const auto& e : std::filesystem::recursive_directory_iterator(arg))
                if (e.is_regular_file() && IsSoundFileName(e.path())) files.push_back(e.path());
        } else {
            files.push_back(arg);
        }
    }
    std::sort(files.begin(), files.end());
    char folder[] = "/tmp/qtam-measure-XXXXXX";
    if (::mkdtemp(folder) == nullptr) return 2;
    const std::string reference = std::string(folder) + "/ref.wav";

    YesPrompter prompter;
    auto m = std::make_unique<Machine>();
    m->prompter = &prompter;
    Totals t;
    for (const std::string& path : files) {
        ++t.files;
        SoundFormat format;
        {
            std::uint64_t size = 0;
            int error = 0;
            const int fd = OpenRegularFileForReading(path, &error, &size);
            SoundFile probe;
            if (fd >= 0 && probe.Open(fd, size)) format = probe.format();
            if (fd >= 0) ::close(fd);
        }
        const auto start = std::chrono::steady_clock::now();
        const ImportResult result = ImportSample(*m, path, 1, Conversion::Always);
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        t.millis.push_back(ms);
        if (!result.ok) {
            std::printf("FAILED %s: %s\n", path.c_str(), result.reason.c_str());
            continue;
        }
        ++t.imported;
        const SampleSlot& slot = m->banks.userbank.slot(1);
        const std::vector<std::int16_t> got(slot.samples.get(),
                                            slot.samples.get() + slot.sampleCount);
        if (format.IsSlotFormat())
            ++t.unchanged;
        else
            ++t.converted;

        const std::string command =
            "sox " + Quoted(path) + " -b 16 -c 1 -r 44100 -D " + reference + " 2>/dev/null";
        if (std::system(command.c_str()) != 0) {
            std::printf("SOX FAILED %s\n", path.c_str());
            continue;
        }
        const std::vector<std::int16_t> want = ReadMono16(reference);
        const std::size_t n = std::min(got.size(), want.size());
        int worst = 0, inner = 0;
        for (std::size_t i = 0; i < n; ++i) {
            const int d = std::abs(got[i] - want[i]);
            worst = std::max(worst, d);
            if (i >= 64 && i + 64 < n) inner = std::max(inner, d);
        }
        const bool resampled = format.sampleRate != kSlotRate;
        if (resampled) {
            ++t.resampled;
            t.worstDb = std::max(t.worstDb, Db(worst));
            t.resampledDb.push_back(Db(worst));
            t.worstInnerDb = std::max(t.worstInnerDb, Db(inner));
        } else {
            t.worstLsb = std::max(t.worstLsb, worst);
            if (worst == 0) ++t.equal;
        }
        if (list)
            std::printf("%-60s %-32s %7zu/%-7zu max %5d LSB (%6.1f dBFS, inner %6.1f) %7.2f ms\n",
                        path.c_str(), DescribeSoundFormat(format).c_str(), got.size(), want.size(),
                        worst, Db(worst), Db(inner), ms);
    }
    std::filesystem::remove_all(folder);

    std::sort(t.millis.begin(), t.millis.end());
    const double median = t.millis.empty() ? 0 : t.millis[t.millis.size() / 2];
    const double slowest = t.millis.empty() ? 0 : t.millis.back();
    std::printf("files %d, imported %d (taken as they are %d, converted %d)\n", t.files, t.imported,
                t.unchanged, t.converted);
    std::printf("without resampling: %d files, largest difference to sox %d LSB, %d equal\n",
                t.imported - t.resampled, t.worstLsb, t.equal);
    std::sort(t.resampledDb.begin(), t.resampledDb.end());
    const double medianDb = t.resampledDb.empty() ? 0 : t.resampledDb[t.resampledDb.size() / 2];
    std::printf(
        "resampled: %d files, largest difference to sox %.1f dBFS (%.1f dBFS away from the first "
        "and last 64 samples); the median file's largest %.1f dBFS\n",
        t.resampled, t.worstDb, t.worstInnerDb, medianDb);
    std::printf("import time per file: median %.2f ms, worst %.2f ms\n", median, slowest);
    return t.imported == t.files ? 0 : 1;
}
