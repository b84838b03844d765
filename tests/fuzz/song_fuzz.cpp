// The song loader on any file (an arrangement block after the record included), then a short
// render of what it accepted.

#include <cstdint>

#include "fuzz_support.h"
#include "song/song_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qtam;
    Machine& m = fuzz::SharedMachine();
    fuzz::ResetForInput(m);
    if (!LoadSong(m, fuzz::InputFile(data, size, "in.sng"), true)) return 0;
    // The pattern to play comes from the byte after the record, when there is one.
    m.editor.CurrentPattern =
        static_cast<std::uint8_t>(1 + (size > kSongSize ? data[kSongSize] % kPatterns : 0));
    m.editor.HumanizeChecked = m.song.humanize != 0;
    m.editor.SongMode = !m.arrangement.empty();  // an arrangement read plays in song mode
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
    ResetTransport(m);
    fuzz::ShortRender(m);
    return 0;
}
