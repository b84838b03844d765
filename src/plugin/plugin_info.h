#pragma once
// The plugin's names, shared by its formats and the build's description of them.

namespace qtam::plugin {

#define QTAM_LV2_URI "https://qtam.example.org/plugins/qtam"
inline constexpr const char* kClapId = "org.example.qtam";
inline constexpr const char* kPluginName = "Q.Tam";
inline constexpr const char* kVendor = "Q.Tam";
inline constexpr const char* kDescription = "Sampling drum step sequencer";

}  // namespace qtam::plugin
