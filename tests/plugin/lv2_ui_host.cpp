// The LV2 window in a small host with no Qt application of its own, offscreen: the window
// makes one and runs on the host's idle calls. A click on the panel's first step reaches the
// plugin's song (its saved state) and the panel's undo takes it back; with the window gone,
// the plugin still sounds.
//
//   lv2_ui_host BUNDLE_FOLDER

#include <dlfcn.h>
#include <lv2/core/lv2.h>
#include <lv2/instance-access/instance-access.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>

#include <QAction>
#include <QApplication>
#include <QTest>
#include <QWidget>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::vector<std::string> uris;
LV2_URID Map(LV2_URID_Map_Handle, const char* uri) {
    for (std::size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

// The song chunk of the plugin's saved state.
std::vector<std::uint8_t> Song(const LV2_Descriptor* d, LV2_Handle h) {
    std::vector<std::uint8_t> song;
    auto store = [](LV2_State_Handle to, std::uint32_t key, const void* value, std::size_t size,
                    std::uint32_t, std::uint32_t) {
        const auto* b = static_cast<const std::uint8_t*>(value);
        if (key == Map(nullptr, "https://qtam.example.org/plugins/qtam#song"))
            static_cast<std::vector<std::uint8_t>*>(to)->assign(b, b + size);
        return LV2_STATE_SUCCESS;
    };
    static_cast<const LV2_State_Interface*>(d->extension_data(LV2_STATE__interface))
        ->save(h, store, &song, 0, nullptr);
    return song;
}

int Fail(const char* what) {
    std::fprintf(stderr, "lv2_ui_host: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail("usage: lv2_ui_host BUNDLE_FOLDER");
    const std::string bundle = argv[1];
    void* lib = dlopen((bundle + "/qtam.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    void* uiLib = dlopen((bundle + "/qtam_ui.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib || !uiLib) return Fail(dlerror());
    const auto* d = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lib, "lv2_descriptor"))(0);
    const auto* ui =
        reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(uiLib, "lv2ui_descriptor"))(0);
    LV2_URID_Map map{nullptr, Map};
    const LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LV2_Handle h = d->instantiate(d, 48000, bundle.c_str(), features);
    // Plays on its own clock (the parameter "play", the second after the 20 ports).
    std::vector<std::vector<float>> audio(18, std::vector<float>(256));
    for (std::uint32_t i = 0; i < 18; ++i) d->connect_port(h, i, audio[i].data());
    float play = 1;
    d->connect_port(h, 21, &play);
    d->activate(h);
    auto loudness = [&] {
        double sum = 0;
        for (int b = 0; b < 400; ++b) {
            d->run(h, 256);
            for (float v : audio[0]) sum += std::fabs(v);
        }
        return sum;
    };

    const LV2_Feature access{LV2_INSTANCE_ACCESS_URI, h};
    const LV2_Feature* uiFeatures[] = {&mapFeature, &access, nullptr};
    LV2UI_Widget widget = nullptr;
    LV2UI_Handle w =
        ui->instantiate(ui, d->URI, bundle.c_str(), nullptr, nullptr, &widget, uiFeatures);
    if (w == nullptr || QApplication::instance() == nullptr) return Fail("no window");
    const auto* idle =
        static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface));
    static_cast<const LV2UI_Show_Interface*>(ui->extension_data(LV2_UI__showInterface))->show(w);
    for (int i = 0; i < 20; ++i) idle->idle(w);
    QWidget* panel = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "GroovePanel" && top->isVisible()) panel = top;
    if (panel == nullptr) return Fail("the panel does not show");

    const std::vector<std::uint8_t> before = Song(d, h);
    const QWidget* step = panel->findChild<QWidget*>("StepLit1");
    QTest::mouseClick(panel->childAt(step->geometry().center()), Qt::LeftButton);
    for (int i = 0; i < 5; ++i) idle->idle(w);
    const std::vector<std::uint8_t> edited = Song(d, h);
    panel->findChild<QAction*>("Undo")->trigger();
    const std::vector<std::uint8_t> undone = Song(d, h);
    if (edited == before) return Fail("the click did not reach the song");
    if (undone != before) return Fail("undo did not take the click back");

    ui->cleanup(w);
    if (loudness() <= 0) return Fail("no sound after the window went");
    d->cleanup(h);
    std::puts("lv2_ui_host: panel shown, edit and undo reached the song, sound after closing");
    return 0;
}
