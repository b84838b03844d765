#pragma once
// The plugin's window: the groove panel over the instrument's Machine and edit layer, with the
// pattern grid a key away (Ctrl+G). It lies in the host's window when given one (an X11
// window id), and is a window of its own otherwise. The host plays the sound: the panel opens
// no device, the space bar turns the instrument's Play (its own clock), and closing or
// destroying the window leaves the instrument sounding.
//
// While it lives, the instrument's owner rounds run here, on a timer of the window's thread
// (Instrument::SetWindowOwns), so that the edit layer's notices reach the windows on their own
// thread.
//
// Thread: the host's main thread (the window's), for every member.

#include <cstdint>
#include <functional>
#include <memory>

namespace qtam {
class GroovePanel;
class PatternGrid;
}  // namespace qtam

namespace qtam::plugin {

class Instrument;

class PluginWindow {
public:
    // `parent`: the host's X11 window to lie in (0: a window of its own).
    PluginWindow(Instrument& instrument, std::uintptr_t parent);
    ~PluginWindow();
    PluginWindow(const PluginWindow&) = delete;
    PluginWindow& operator=(const PluginWindow&) = delete;

    // Creates the Qt application when the host runs none; whether this window's library did.
    static bool EnsureApplication();
    // Runs the Qt events waiting, when the Qt application is this library's (the host's idle
    // call drives it); the host's own event loop runs them otherwise.
    static void RunEvents();

    void Show();
    void Hide();
    // A window of its own that the user closes hides, and then calls `closed` (from within the
    // window's event handling).
    void OnUserClose(std::function<void()> closed);
    // The X11 window id of the panel, for the host that embeds it.
    std::uintptr_t WindowId() const;
    // Where the window asks whether any key is held down (the X server, unless told).
    void AskKeysWith(std::function<bool()> anyKeyDown);

    GroovePanel& panel();
    PatternGrid& grid();

private:
    struct Parts;
    Instrument& instrument_;
    bool floating_;
    bool playingShown_ = false;  // as the windows were last told
    std::unique_ptr<Parts> parts_;
};

}  // namespace qtam::plugin
