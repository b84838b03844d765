// The CLAP window in a host that runs a Qt application of its own, as Qt-based hosts do,
// offscreen: a Qt application asks every top-level window to close when it quits, and gives the
// quit up when one stays. The floating panel closes when asked, and with the panel lying in the
// host's window, the host's quit goes through.
//
//   clap_qt_host PLUGIN

#include <clap/ext/gui.h>

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <QWindow>
#include <cstdio>

#include "clap_load.h"

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
    const LoadedClap loaded = LoadClapPlugin(argv[1], &kHost);
    if (!loaded.plugin) return Fail(loaded.error);
    const clap_plugin_t* plugin = loaded.plugin;
    const auto* gui =
        static_cast<const clap_plugin_gui_t*>(plugin->get_extension(plugin, CLAP_EXT_GUI));
    if (!gui || !gui->create(plugin, CLAP_WINDOW_API_X11, true) || !gui->show(plugin))
        return Fail("no window");
    QWidget* panel = nullptr;
    for (QWidget* top : QApplication::topLevelWidgets())
        if (top->objectName() == "GroovePanel" && top->isVisible()) panel = top;
    if (panel == nullptr) return Fail("the panel does not show");
    if (!panel->close() || panel->isVisible()) return Fail("the floating panel did not close");

    // Laid in the host's window as embedding does (offscreen Qt has no foreign windows); the
    // host's window outlives the panel's, its child.
    auto* hostWindow = new QWindow;
    hostWindow->create();
    gui->show(plugin);
    panel->windowHandle()->setParent(hostWindow);
    if (!panel->isVisible()) return Fail("the panel does not show again");

    // The host quits from its event loop; a quit given up leaves the loop to this exit code.
    QTimer::singleShot(0, &app, &QCoreApplication::quit);
    QTimer::singleShot(3000, &app, [] { QCoreApplication::exit(2); });
    if (app.exec() != 0)
        return Fail("the host's quit was given up while the panel lay in its window");

    gui->destroy(plugin);
    plugin->destroy(plugin);
    loaded.entry->deinit();
    std::puts("clap_qt_host: the panel closed, and the host quit with it in its window");
    return 0;
}
