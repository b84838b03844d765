// The window library's table for a format that loads it by hand (plugin/window_api.h).

#include "plugin/window_api.h"

#include "plugin/window/plugin_window.h"

namespace qtam::plugin {
namespace {

void* Open(Instrument* instrument, std::uintptr_t parent, void (*closed)(void*), void* context) {
    PluginWindow::EnsureApplication();
    auto* window = new PluginWindow(*instrument, parent);
    if (closed) window->OnUserClose([closed, context] { closed(context); });
    if (parent != 0) window->Show();
    return window;
}

void Close(void* window) {
    delete static_cast<PluginWindow*>(window);
}

void Show(void* window) {
    static_cast<PluginWindow*>(window)->Show();
}

void Hide(void* window) {
    static_cast<PluginWindow*>(window)->Hide();
}

}  // namespace
}  // namespace qtam::plugin

extern "C" __attribute__((visibility("default"))) const qtam::plugin::WindowApi qtam_window_api = {
    qtam::plugin::Open, qtam::plugin::Close, qtam::plugin::Show, qtam::plugin::Hide,
    qtam::plugin::PluginWindow::RunEvents};
