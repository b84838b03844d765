#pragma once
// The built-in kit and the demo song, built into the plugin's library (embedded.cpp): a
// plugin's bundle may be copied anywhere, and a new instance must sound without files beside it.
// Thread: any.

#include <cstdint>
#include <span>

namespace qtam::plugin {

std::span<const std::uint8_t> EmbeddedKit();
std::span<const std::uint8_t> EmbeddedDemoSong();

}  // namespace qtam::plugin
