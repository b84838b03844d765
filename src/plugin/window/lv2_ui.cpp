// The LV2 window (qtam_ui.so in the bundle, described in qtam.ttl): an X11 UI that lies in the
// host's window (ui:parent) or, without one, shows as a window of its own. It reaches the
// plugin's Instrument through instance-access, and the host's idle calls run the Qt events
// when the Qt application is this library's.

#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <cstring>

#include "plugin/instrument.h"
#include "plugin/plugin_info.h"
#include "plugin/window/plugin_window.h"

namespace qtam::plugin {
namespace {

const void* Feature(const LV2_Feature* const* features, const char* uri) {
    for (int i = 0; features && features[i]; ++i)
        if (std::strcmp(features[i]->URI, uri) == 0) return features[i]->data;
    return nullptr;
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function,
                         LV2UI_Controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features) {
    // The plugin's handle is its Instrument (lv2_plugin.cpp).
    auto* instrument =
        static_cast<Instrument*>(const_cast<void*>(Feature(features, LV2_INSTANCE_ACCESS_URI)));
    if (instrument == nullptr) return nullptr;
    const auto parent = reinterpret_cast<std::uintptr_t>(Feature(features, LV2_UI__parent));
    PluginWindow::EnsureApplication();
    auto* window = new PluginWindow(*instrument, parent);
    *widget = reinterpret_cast<LV2UI_Widget>(window->WindowId());
    // Embedded, it shows with the host's window; on its own, when the host calls show().
    if (parent != 0) window->Show();
    return window;
}

void Cleanup(LV2UI_Handle handle) {
    delete static_cast<PluginWindow*>(handle);
}

// The song is the instrument's: the ports the host echoes change nothing here.
void PortEvent(LV2UI_Handle, std::uint32_t, std::uint32_t, std::uint32_t, const void*) {}

int Idle(LV2UI_Handle) {
    PluginWindow::RunEvents();
    return 0;
}

int Show(LV2UI_Handle handle) {
    static_cast<PluginWindow*>(handle)->Show();
    return 0;
}

int Hide(LV2UI_Handle handle) {
    static_cast<PluginWindow*>(handle)->Hide();
    return 0;
}

const void* ExtensionData(const char* uri) {
    static const LV2UI_Idle_Interface idle{Idle};
    static const LV2UI_Show_Interface show{Show, Hide};
    if (std::strcmp(uri, LV2_UI__idleInterface) == 0) return &idle;
    if (std::strcmp(uri, LV2_UI__showInterface) == 0) return &show;
    return nullptr;
}

const LV2UI_Descriptor kDescriptor{QTAM_LV2_URI "#ui", Instantiate, Cleanup, PortEvent,
                                   ExtensionData};

}  // namespace
}  // namespace qtam::plugin

extern "C" __attribute__((visibility("default"))) const LV2UI_Descriptor* lv2ui_descriptor(
    std::uint32_t index) {
    return index == 0 ? &qtam::plugin::kDescriptor : nullptr;
}
