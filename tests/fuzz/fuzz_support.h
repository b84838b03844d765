#pragma once
// What the fuzz targets share: one machine for the whole run with a sound in every slot, a
// prompter that says Yes (so that every question leads on into more code), and a scratch file
// for the loaders, which read files.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "core/machine.h"
#include "core/prompter.h"
#include "engine/mixer.h"
#include "song/init_song.h"

namespace qtam::fuzz {

class YesPrompter : public Prompter {
public:
    void Warn(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return true; }
    void SetBusy(bool) override {}
};

// A short sound of its own in each slot of both banks: a ramp of `length` samples.
inline void FillBank(SampleBank& bank, int length) {
    for (int n = 1; n <= kBankSlots; ++n) {
        std::int16_t* buffer = bank.ensureBuffer(n);
        for (int i = 0; i < length; ++i)
            buffer[i] = static_cast<std::int16_t>((i * 977 * n) % 65536 - 32768);
        bank.slot(n).sampleCount = length;
        bank.slot(n).hihat1 = static_cast<std::uint8_t>(n % 3 == 0 ? n - 1 : 0);
    }
}

// Made once: building the banks' buffers for every input would cost more than the work.
inline Machine& SharedMachine() {
    static Machine* m = [] {
        static YesPrompter prompter;
        auto* made = new Machine();
        made->prompter = &prompter;
        InitSong(*made);
        FillBank(made->banks.internalBank, 3000);
        FillBank(made->banks.userbank, 2000);
        return made;
    }();
    return *m;
}

// The same start for every input, whatever the input before it left behind.
inline void ResetForInput(Machine& m) {
    m.random.seed(5489u);
    m.editor.CurrentPattern = 1;
    m.editor.CurrentMeasure = 1;
    m.editor.HumanizeChecked = false;
    m.player.clock.MainVolume = m.player.clock.MainVolumeTarget = 128;
    ResetTransport(m);
}

// The input as a file named `name` in a folder of this process's own, removed at exit. In
// memory where the system offers it, and a new file each time: truncating a file on disk
// makes the file system flush it, which would cost more than the work.
inline std::string InputFile(const std::uint8_t* data, std::size_t size, const char* name) {
    static const std::string folder = [] {
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                               ? std::filesystem::path("/dev/shm")
                                               : std::filesystem::temp_directory_path();
        std::string pattern = (base / "qtam-fuzz-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr) std::abort();
        static std::string removeAtExit;
        removeAtExit = pattern;
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(removeAtExit, ec);
        });
        return pattern;
    }();
    const std::string path = folder + "/" + name;
    std::remove(path.c_str());
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    std::fclose(f);
    return path;
}

// A few thousand frames through both mixers, from measure 1 of the edited pattern.
inline void ShortRender(Machine& m) {
    static StereoFrame frames[8192];
    StartRender(m, 1);
    MixFrames(PlayerOf(m), frames, 8192);
    for (int i = 0; i < 64; ++i) MixFrame(PlayerOf(m));
    ResetTransport(m);
    PrepareStart(PlayerOf(m));
    m.Playing = true;
    m.BufPos = 1;
    RenderBlock(m, 4096);
    m.BufPos = kSecondHalf;
    RenderBlock(m, 4096);
    m.Playing = false;
}

}  // namespace qtam::fuzz
