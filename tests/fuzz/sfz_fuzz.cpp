// The SFZ reader on any text; a kit it reads is imported into the userbank (its sounds, which
// mostly do not exist, are refused one by one).

#include <cstdint>

#include "banks/kit_import.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qtam;
    Machine& m = fuzz::SharedMachine();
    Kit kit;
    std::string error;
    if (ReadKit(fuzz::InputFile(data, size, "kit.sfz"), kit, error))
        ImportKit(m, kit, Conversion::Always);
    return 0;
}
