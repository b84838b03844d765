// The CLAP window in a host that runs a Qt application of its own, as Qt-based hosts do,
// offscreen: with the plugin's panel showing, the host's quit goes through (a Qt application
// asks every top-level window to close when it quits, and gives up when one refuses).
//
//   clap_qt_host PLUGIN

#include <clap/entry.h>
#include <clap/ext/gui.h>
#include <clap/plugin-factory.h>
#include <dlfcn.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <cstdio>

namespace {

const void* HostExtension(const clap_host_t*, const char*) {
    return nullptr;
}
void HostRequest(const clap_host_t*) {}

const clap_host_t kHost = {CLAP_VERSION_INIT, nullptr,     "qtam qt host", "",         "", "1",
                           HostExtension,     HostRequest, HostRequest,    HostRequest};

int Fail(const char* what) {
    std::fprintf(stderr, "clap_qt_host: %s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return Fail("usage: clap_qt_host PLUGIN");
    QApplication app(argc, argv);
    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) return Fail(dlerror());
    const auto* entry = static_cast<const clap_plugin_entry_t*>(dlsym(library, "clap_entry"));
    if (!entry || !entry->init(argv[1])) return Fail("no clap_entry");
    const auto* factory =
        static_cast<const clap_plugin_factory_t*>(entry->get_factory(CLAP_PLUGIN_FACTORY_ID));
    const clap_plugin_t* plugin =
        factory->create_plugin(factory, &kHost, factory->get_plugin_descriptor(factory, 0)->id);
    if (!plugin || !plugin->init(plugin)) return Fail("the plugin did not start");
    const auto* gui =
        static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
    if (!gui || !gui->create(plugin, CLAP_WINDOW_API_X11, true) || !gui->show(plugin))
        return Fail("no window");
    int shown = 0;
    for (QWidget* top : QApplication::topLevelWidgets())
        shown += top->objectName() == "GroovePanel" && top->isVisible();
    if (shown != 1) return Fail("the panel does not show");

    // The host quits from its event loop; a quit given up leaves the loop to this exit code.
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    QTimer::singleShot(3000, &app, [] { QCoreApplication::exit(2); });
    if (app.exec() != 0) return Fail("the host's quit was given up while the panel showed");

    gui->destroy(plugin);
    plugin->destroy(plugin);
    entry->deinit();
    std::puts("clap_qt_host: the host quit with the panel showing");
    return 0;
}
