#pragma once
// What the window library (qtam_ui.so) offers a format that loads it by hand (the CLAP plugin,
// whose single file cannot name a second library to its host): one exported table,
// `qtam_window_api`. The library is loaded only when a window is wanted, so a host that shows
// none never loads Qt.
//
// Thread: the host's main thread, for every function.

#include <cstdint>

namespace qtam::plugin {

class Instrument;

struct WindowApi {
    // The groove panel over `instrument`, in the X11 window `parent` (0: a window of its own).
    // A window of its own that the user closes hides, and `closed(context)` tells it, from the
    // window's event handling: the host is best told later, outside it.
    void* (*open)(Instrument* instrument, std::uintptr_t parent, void (*closed)(void* context),
                  void* context);
    void (*close)(void* window);
    void (*show)(void* window);
    void (*hide)(void* window);
    // Runs the Qt events waiting, when the Qt application is the library's.
    void (*idle)();
};

inline constexpr const char* kWindowLibrary = "qtam_ui.so";
inline constexpr const char* kWindowApiSymbol = "qtam_window_api";

}  // namespace qtam::plugin
