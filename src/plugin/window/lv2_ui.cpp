// The LV2 window (qtam_ui.so in the bundle, described in manifest.ttl), as two UIs: an X11 UI
// that lies in the host's window (ui:parent) or, without one, shows as a window of its own; and
// the external UI many hosts offer, a window of its own whose close the host hears. Both reach
// the plugin's Instrument through instance-access, and the host's idle (or run) calls run the Qt
// events when the Qt application is this library's.

#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/ui/ui.h>

#include <cstring>
#include <type_traits>

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

// The plugin's handle is its Instrument (lv2_plugin.cpp).
Instrument* InstrumentOf(const LV2_Feature* const* features) {
    return static_cast<Instrument*>(const_cast<void*>(Feature(features, LV2_INSTANCE_ACCESS_URI)));
}

LV2UI_Handle Instantiate(const LV2UI_Descriptor*, const char*, const char*, LV2UI_Write_Function,
                         LV2UI_Controller, LV2UI_Widget* widget,
                         const LV2_Feature* const* features) {
    Instrument* instrument = InstrumentOf(features);
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

// ---- The external UI: its widget is three calls the host makes (run often, show, hide), and
// the host's feature one call back, when the user closed the window. Not in lv2-dev: its layout
// is the extension's C header's.

#define QTAM_EXTERNAL_UI "http://kxstudio.sf.net/ns/lv2ext/external-ui"
constexpr const char* kExternalHost = QTAM_EXTERNAL_UI "#Host";
constexpr const char* kOldExternalHost = "http://lv2plug.in/ns/extensions/ui#external";

struct ExternalWidget {
    void (*run)(ExternalWidget* self);
    void (*show)(ExternalWidget* self);
    void (*hide)(ExternalWidget* self);
};

struct ExternalHost {
    void (*ui_closed)(LV2UI_Controller controller);
    const char* plugin_human_id;  // unused: the panel shows its song's caption
};

// Standard layout, so that the host's pointer to the widget, its first member, is one to this.
struct ExternalUi {
    ExternalWidget widget;
    PluginWindow* window = nullptr;  // owned
    const ExternalHost* host = nullptr;
    LV2UI_Controller controller = nullptr;
    bool closed = false;  // the user closed it: the host hears it at the next run
};

static_assert(std::is_standard_layout_v<ExternalUi>);

ExternalUi* Of(ExternalWidget* widget) {
    return reinterpret_cast<ExternalUi*>(widget);
}

void ExternalRun(ExternalWidget* widget) {
    PluginWindow::RunEvents();
    // Told here, outside the window's event handling, as the host may clean the UI up at once.
    ExternalUi* ui = Of(widget);
    if (!ui->closed) return;
    ui->closed = false;
    if (ui->host && ui->host->ui_closed) ui->host->ui_closed(ui->controller);
}

void ExternalShow(ExternalWidget* widget) {
    Of(widget)->window->Show();
}

void ExternalHide(ExternalWidget* widget) {
    Of(widget)->window->Hide();
}

LV2UI_Handle InstantiateExternal(const LV2UI_Descriptor*, const char*, const char*,
                                 LV2UI_Write_Function, LV2UI_Controller controller,
                                 LV2UI_Widget* widget, const LV2_Feature* const* features) {
    Instrument* instrument = InstrumentOf(features);
    if (instrument == nullptr) return nullptr;
    auto* ui = new ExternalUi;
    ui->widget = {ExternalRun, ExternalShow, ExternalHide};
    ui->controller = controller;
    ui->host = static_cast<const ExternalHost*>(Feature(features, kExternalHost));
    if (ui->host == nullptr)
        ui->host = static_cast<const ExternalHost*>(Feature(features, kOldExternalHost));
    PluginWindow::EnsureApplication();
    ui->window = new PluginWindow(*instrument, 0);
    ui->window->OnUserClose([ui] { ui->closed = true; });
    *widget = &ui->widget;
    return ui;
}

void CleanupExternal(LV2UI_Handle handle) {
    auto* ui = static_cast<ExternalUi*>(handle);
    delete ui->window;
    delete ui;
}

const void* NoExtensionData(const char*) {
    return nullptr;
}

const LV2UI_Descriptor kExternalDescriptor{QTAM_LV2_URI "#external_ui", InstantiateExternal,
                                           CleanupExternal, PortEvent, NoExtensionData};

}  // namespace
}  // namespace qtam::plugin

extern "C" __attribute__((visibility("default"))) const LV2UI_Descriptor* lv2ui_descriptor(
    std::uint32_t index) {
    if (index == 0) return &qtam::plugin::kDescriptor;
    return index == 1 ? &qtam::plugin::kExternalDescriptor : nullptr;
}
