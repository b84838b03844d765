// The sound library is loaded when sound is first used, not when the program starts. A program
// of its own, so that nothing else has touched the sound system before.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "engine/audio/devices.h"

namespace qtam {
namespace {

bool SdlLoaded() {
    void* library = ::dlopen("libSDL2-2.0.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (library != nullptr) ::dlclose(library);
    return library != nullptr;
}

TEST(SdlRuntime, TheSoundLibraryIsLoadedAtTheFirstUseOfSound) {
    EXPECT_FALSE(SdlLoaded());
    SdlAudioScope audio;  // the dummy driver, set by the test's environment
    EXPECT_TRUE(audio.ok());
    EXPECT_TRUE(SdlLoaded());
}

}  // namespace
}  // namespace qtam
