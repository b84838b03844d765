// The configuration reader on any file text. The settings read are written back; the written
// text must read again as the same numbers, and writing it once more must not change it.

#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/config.h"
#include "core/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace qtam;
    PrivateProfile profile;
    profile.Parse(std::string(reinterpret_cast<const char*>(data), size));
    const ConfigSettings read = ReadConfigSettings(profile);
    if (read.Buffer_size < 2 || read.Buffer_size > 10) std::abort();
    WriteConfigSettings(read, profile);
    const std::string written = profile.Text();

    PrivateProfile again;
    again.Parse(written);
    const ConfigSettings reread = ReadConfigSettings(again);
    if (reread.Times_Used != read.Times_Used + 1 || reread.DeviceNum != read.DeviceNum ||
        reread.DeviceSetup != read.DeviceSetup || reread.NumDevices != read.NumDevices ||
        reread.Buffer_size != read.Buffer_size || reread.PosX != read.PosX ||
        reread.PosY != read.PosY || reread.Width != read.Width || reread.Height != read.Height ||
        reread.State != read.State)
        std::abort();
    if (again.Text() != written) std::abort();
    return 0;
}
