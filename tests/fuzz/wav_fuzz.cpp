// Sound file import on any file, every question answered Yes (conversions included).

#include <cstdint>
#include <cstdlib>

#include "banks/wav_io.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qtam;
    Machine& m = fuzz::SharedMachine();
    const int slot = 1 + static_cast<int>(size % kBankSlots);
    const ImportResult result = ImportSample(m, fuzz::InputFile(data, size, "in.wav"), slot);
    const std::int32_t count = m.banks.userbank.slot(slot).sampleCount;
    // Never more than the transfer buffer, always even. (A converted sound may be longer than
    // the file: a low sample rate is resampled up.)
    if (result.ok && (count < 2 || count > kUserSlotCapacity || count % 2 != 0)) std::abort();
    return 0;
}
