// The song text parser on any text. What it accepts is printed again, and the printed form
// must parse too.

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "fuzz_support.h"
#include "song/song_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qtam;
    static const auto fresh = [] {
        auto m = std::make_unique<Machine>();
        InitSong(*m);
        return std::make_unique<Song>(m->song);
    }();
    auto song = std::make_unique<Song>(*fresh);
    std::string error;
    if (!ApplySongText(*song, std::string(reinterpret_cast<const char*>(data), size), error))
        return 0;
    const std::string printed = FormatSongText(*song);
    auto again = std::make_unique<Song>(*fresh);
    if (!ApplySongText(*again, printed, error)) std::abort();
    return 0;
}
