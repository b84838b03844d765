// The userbank parser on any bytes; a bank it accepts is installed and played by a pattern
// that strikes every userbank sound, so that stretches and hi-hat partners take effect.

#include <cstdint>
#include <span>

#include "banks/userbank_file.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qtam;
    Machine& m = fuzz::SharedMachine();
    fuzz::ResetForInput(m);
    auto image = ParseBank(std::span<const std::uint8_t>(data, size), m.banks.userbank.capacity);
    if (!image) return 0;
    InstallBank(m.banks.userbank, *image);

    static const bool songMade = [&m] {
        for (int ch = 1; ch <= kChannels; ++ch) {
            m.song.settings(1).instrument[ch - 1] = static_cast<std::uint8_t>(100 + ch * 2);
            for (int slot = ch % 2 + 1; slot <= kSlots; slot += 2) {
                StepCell& c = m.song.cell(1, 1, ch, slot);
                c.velocity = static_cast<std::int8_t>(40 + slot * 5);
                c.pan = static_cast<std::uint8_t>(slot * 8);
                c.reversed = static_cast<std::uint8_t>(ch == 3);
            }
        }
        m.song.tempo = 250;
        return true;
    }();
    (void)songMade;
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
    fuzz::ShortRender(m);
    return 0;
}
