// The JACK functions loaded on first use: nothing loads libjack before the first call, and the
// calls reach the library's own functions.
#include "engine/audio/jack_library.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

namespace qtam {
namespace {

bool JackLoaded() {
    void* handle = ::dlopen("libjack.so.0", RTLD_NOW | RTLD_NOLOAD);
    if (handle != nullptr) ::dlclose(handle);
    return handle != nullptr;
}

TEST(JackLibrary, LoadsOnTheFirstCallAndForwardsToLibjack) {
    ASSERT_FALSE(JackLoaded()) << "libjack was loaded at start";
    // A server name that no server answers to: libjack itself says that it failed.
    jack_status_t status{};
    jack_client_t* client = jack::jack_client_open(
        "qtam-test", static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
        "qtam-no-such-server");
    EXPECT_TRUE(JackLoaded());
    EXPECT_TRUE(jack::Available());
    EXPECT_EQ(client, nullptr);
    EXPECT_TRUE(status & JackServerFailed) << "status " << status;
    // A function that needs no client, reached through its pointer.
    EXPECT_GT(jack::jack_port_name_size(), 0);
}

}  // namespace
}  // namespace qtam
