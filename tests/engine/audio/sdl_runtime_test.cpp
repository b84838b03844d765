// The sound library is loaded when sound is first used, not when the program starts. A program
// of its own, so that nothing else has touched the sound system before.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include "audio_test_support.h"
#include "core/machine.h"
#include "engine/audio/devices.h"
#include "engine/audio/playback.h"
#include "test_support.h"

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

// After the test above: the library may be loaded or not.
TEST(SdlRuntime, ThePanelsDeviceOpensOnceTheLibraryIsLoadedUnlessClosedMeanwhile) {
    using namespace std::chrono_literals;
    auto m = test::NewMachine();
    EventQueue events;
    PlaybackDriver driver(*m, events);
    driver.OpenDeviceSoon();
    driver.CloseDevice();  // the panel hidden again at once
    ASSERT_TRUE(test::PumpUntil(events, [] { return SoundLibraryLoadTried(); }));
    test::PumpFor(events, 100ms);
    EXPECT_FALSE(driver.Playback.IsOpen());

    driver.OpenDeviceSoon();
    EXPECT_TRUE(test::PumpUntil(events, [&] { return driver.Playback.IsOpen(); }));
}

}  // namespace
}  // namespace qtam
