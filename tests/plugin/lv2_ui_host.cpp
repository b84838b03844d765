// The plugin's window in a small host with no Qt application of its own, offscreen: the window
// makes one and runs on the host's idle calls. Showing and activating the panel leaves the
// plugin's song (its saved state) as it was; a click on the panel's first step reaches it and
// the panel's undo takes it back; the panel prints the host's rate; the grid's space bar and
// the arrangement's "Play from here" turn the plugin's own clock (its MIDI out tells); with the
// window gone, the plugin still sounds. The external UI and, with --clap, the CLAP plugin's
// floating window tell their host when the user closes them, and stay safe to hide, show and
// destroy after.
//
//   lv2_ui_host BUNDLE_FOLDER
//   lv2_ui_host --clap PLUGIN_FILE

#include <clap/entry.h>
#include <clap/ext/gui.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>
#include <lv2/atom/util.h>
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

struct ExternalWidget {
    void (*run)(ExternalWidget*);
    void (*show)(ExternalWidget*);
    void (*hide)(ExternalWidget*);
};
struct ExternalHost {
    void (*ui_closed)(LV2UI_Controller);
    const char* plugin_human_id;
};

std::vector<std::string> uris;
LV2_URID Map(LV2_URID_Map_Handle, const char* uri) {
    for (std::size_t i = 0; i < uris.size(); ++i)
        if (uris[i] == uri) return static_cast<LV2_URID>(i + 1);
    uris.emplace_back(uri);
    return static_cast<LV2_URID>(uris.size());
}

// The plugin given back a session's state: this song and no userbank.
void Restore(const LV2_Descriptor* d, LV2_Handle h, const std::vector<std::uint8_t>& song) {
    auto retrieve = [](LV2_State_Handle from, std::uint32_t key, std::size_t* size,
                       std::uint32_t* type, std::uint32_t* flags) -> const void* {
        const auto* bytes = static_cast<const std::vector<std::uint8_t>*>(from);
        if (key != Map(nullptr, "https://qtam.example.org/plugins/qtam#song")) return nullptr;
        *size = bytes->size();
        *type = 0;
        *flags = LV2_STATE_IS_POD;
        return bytes->data();
    };
    static_cast<const LV2_State_Interface*>(d->extension_data(LV2_STATE__interface))
        ->restore(h, retrieve, const_cast<std::vector<std::uint8_t>*>(&song), 0, nullptr);
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

// The top-level window of that name that shows.
QWidget* Shown(const char* name = "GroovePanel") {
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == name && top->isVisible()) return top;
    return nullptr;
}

// The user closes a floating panel: the host hears it (once), and the panel hides.
int closedCalls = 0;
bool callbackAsked = false;

void HostClosed(const clap_host_t*, bool destroyed) {
    closedCalls += destroyed ? 100 : 1;
}
const clap_host_gui_t kHostGui = {nullptr, nullptr, nullptr, nullptr, HostClosed};
const void* HostExtension(const clap_host_t*, const char* id) {
    return std::strcmp(id, CLAP_EXT_GUI) == 0 ? &kHostGui : nullptr;
}
void HostNothing(const clap_host_t*) {}
void HostCallback(const clap_host_t*) {
    callbackAsked = true;
}
const clap_host_t kClapHost = {
    CLAP_VERSION_INIT, nullptr,     "qtam test host", "",          "", "1",
    HostExtension,     HostNothing, HostNothing,      HostCallback};

int ClapWindowCloses(const char* file) {
    void* library = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!library) return Fail(dlerror());
    const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry"));
    entry->init(file);
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_t* plugin =
        factory->create_plugin(factory, &kClapHost, factory->get_plugin_descriptor(factory, 0)->id);
    plugin->init(plugin);
    const auto* gui =
        static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
    if (!gui->create(plugin, CLAP_WINDOW_API_X11, true) || !gui->show(plugin))
        return Fail("no floating CLAP window");
    QWidget* panel = Shown();
    if (panel == nullptr) return Fail("the CLAP panel does not show");
    panel->close();
    QApplication::processEvents();
    if (panel->isVisible() || closedCalls != 0 || !callbackAsked)
        return Fail("closing the CLAP panel did not hide it and ask for the main thread");
    plugin->on_main_thread(plugin);
    plugin->on_main_thread(plugin);
    if (closedCalls != 1) return Fail("the CLAP host was not told the window closed, once");
    if (!gui->hide(plugin) || !gui->show(plugin) || Shown() != panel)
        return Fail("the closed CLAP window does not show again");
    gui->destroy(plugin);
    gui->hide(plugin);
    plugin->destroy(plugin);
    entry->deinit();
    std::puts("lv2_ui_host: the CLAP host heard the floating window close");
    return 0;
}

LV2UI_Controller closedBy = nullptr;
void UiClosed(LV2UI_Controller controller) {
    closedBy = controller;
}

// Note-ons in the plugin's MIDI out after a block.
int NotesOut(const LV2_Atom_Sequence* out) {
    int notes = 0;
    LV2_ATOM_SEQUENCE_FOREACH(out, ev) {
        const auto* b = reinterpret_cast<const std::uint8_t*>(ev + 1);
        notes += ev->body.size == 3 && (b[0] & 0xF0) == 0x90 && b[2] > 0;
    }
    return notes;
}

}  // namespace

// Qt's application stays for the process's life, and fontconfig's cache with it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--clap") == 0) return ClapWindowCloses(argv[2]);
    if (argc != 2) return Fail("usage: lv2_ui_host BUNDLE_FOLDER");
    const std::string bundle = argv[1];
    void* lib = dlopen((bundle + "/qtam.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    void* uiLib = dlopen((bundle + "/qtam_ui.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib || !uiLib) return Fail(dlerror());
    const auto* d = reinterpret_cast<LV2_Descriptor_Function>(dlsym(lib, "lv2_descriptor"))(0);
    const auto uis = reinterpret_cast<LV2UI_DescriptorFunction>(dlsym(uiLib, "lv2ui_descriptor"));
    const LV2UI_Descriptor* ui = uis(0);
    LV2_URID_Map map{nullptr, Map};
    const LV2_Feature mapFeature{LV2_URID__map, &map};
    const LV2_Feature* features[] = {&mapFeature, nullptr};
    LV2_Handle h = d->instantiate(d, 48000, bundle.c_str(), features);
    // Plays on its own clock (the parameter "play", the second after the 20 ports).
    std::vector<std::vector<float>> audio(18, std::vector<float>(256));
    for (std::uint32_t i = 0; i < 18; ++i) d->connect_port(h, i, audio[i].data());
    float play = 1;
    d->connect_port(h, 21, &play);
    alignas(LV2_Atom_Sequence) std::uint8_t midiOut[8192];
    auto* out = reinterpret_cast<LV2_Atom_Sequence*>(midiOut);
    d->connect_port(h, 19, out);
    d->activate(h);
    // A second of blocks: how loud, and how many notes went out.
    int notes = 0;
    auto loudness = [&] {
        double sum = 0;
        notes = 0;
        for (int b = 0; b < 200; ++b) {
            out->atom = {sizeof midiOut - sizeof(LV2_Atom), 0};
            d->run(h, 256);
            notes += NotesOut(out);
            for (float v : audio[0]) sum += std::fabs(v);
        }
        return sum;
    };

    const std::vector<std::uint8_t> fresh = Song(d, h);
    Restore(d, h, fresh);
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
    QWidget* panel = Shown();
    if (panel == nullptr) return Fail("the panel does not show");
    if (!panel->findChild<QWidget*>("Background")->accessibleDescription().endsWith("48 kHz"))
        return Fail("the panel does not print the host's rate");
    // Showing and activating the panel changes nothing in the plugin's song.
    panel->activateWindow();
    for (int i = 0; i < 5; ++i) idle->idle(w);
    if (!panel->isActiveWindow()) return Fail("the panel could not be activated");

    const std::vector<std::uint8_t> before = Song(d, h);
    const QWidget* step = panel->findChild<QWidget*>("StepLit1");
    QTest::mouseClick(panel->childAt(step->geometry().center()), Qt::LeftButton);
    for (int i = 0; i < 5; ++i) idle->idle(w);
    const std::vector<std::uint8_t> edited = Song(d, h);
    panel->findChild<QAction*>("Undo")->trigger();
    const std::vector<std::uint8_t> undone = Song(d, h);
    if (edited == before) return Fail("the click did not reach the song");
    if (undone != before) return Fail("undo did not take the click back");
    if (undone != fresh) return Fail("showing and activating the panel changed the song");

    // The grid's space bar stops and starts the plugin's own clock; "Play from here" starts it
    // at an arrangement entry.
    if (loudness() <= 0 || notes == 0) return Fail("the own clock does not play");
    panel->findChild<QAction*>("PatternGrid")->trigger();
    QWidget* grid = Shown("PatternGrid") ? Shown("PatternGrid")->focusProxy() : nullptr;
    if (grid == nullptr) return Fail("no pattern grid");
    auto space = [&] {
        QTest::keyClick(grid, Qt::Key_Space);
        QTest::qWait(60);  // the release counts once no repeat follows it
        loudness();        // the block the change is taken in
        loudness();
    };
    space();
    if (notes != 0) return Fail("the grid's space bar did not stop the own clock");
    space();
    if (notes == 0) return Fail("the grid's space bar did not start the own clock");
    space();
    panel->findChild<QAction*>("Arrangement")->trigger();
    QWidget* arrangement = Shown("ArrangementWindow");
    QTest::mouseClick(arrangement->findChild<QWidget*>("Add"), Qt::LeftButton);
    QTest::mouseClick(arrangement->findChild<QWidget*>("Play"), Qt::LeftButton);
    if ((loudness(), notes) == 0) return Fail("playing from an entry did not start the own clock");

    ui->cleanup(w);
    if (loudness() <= 0) return Fail("no sound after the window went");

    // The external UI: a window of its own; the user's close reaches the host at its next run.
    ExternalHost host{UiClosed, "Q.Tam test"};
    const LV2_Feature external{"http://kxstudio.sf.net/ns/lv2ext/external-ui#Host", &host};
    const LV2_Feature* externalFeatures[] = {&mapFeature, &access, &external, nullptr};
    const LV2UI_Descriptor* kx = uis(1);
    auto* controller = reinterpret_cast<LV2UI_Controller>(&host);
    w = kx->instantiate(kx, d->URI, bundle.c_str(), nullptr, controller, &widget, externalFeatures);
    auto* ext = static_cast<ExternalWidget*>(widget);
    ext->show(ext);
    ext->run(ext);
    panel = Shown();
    if (panel == nullptr) return Fail("the external UI does not show");
    panel->close();
    ext->run(ext);
    if (panel->isVisible() || closedBy != controller) return Fail("ui_closed was not called");
    ext->hide(ext);
    kx->cleanup(w);
    d->cleanup(h);
    std::puts(
        "lv2_ui_host: panel shown, edit and undo reached the song, the space bar and the "
        "arrangement played, sound after closing, the external UI's close heard");
    return 0;
}
