// The plugin window's space bar in a host that hands the window a key's press and never its
// release: a press turns the instrument's Play; a held key's repeats change nothing; once the
// keyboard holds no key, the next press turns Play back.
#include <QApplication>
#include <QTest>
#include <cstdio>

#include "plugin/instrument.h"
#include "plugin/window/plugin_window.h"
#include "ui/groove_panel/groove_panel.h"

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig\n";
}

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    qtam::plugin::Instrument instrument(48000);
    qtam::plugin::PluginWindow window(instrument, 0);
    bool keyHeld = true;
    window.AskKeysWith([&keyHeld] { return keyHeld; });
    window.Show();
    auto press = [&] {
        QTest::keyPress(&window.panel(), Qt::Key_Space);  // no release follows
        QTest::qWait(50);                                 // the window's rounds run
    };
    auto playing = [&] { return instrument.Param(qtam::plugin::kPlay) >= 0.5f; };
    int failures = 0;
    auto expect = [&failures](bool ok, const char* what) {
        if (ok) return;
        std::fprintf(stderr, "FAIL: %s\n", what);
        ++failures;
    };
    press();
    expect(playing(), "the first press did not start the own clock");
    press();
    press();
    expect(playing(), "the held key's repeats turned Play");
    keyHeld = false;
    QTest::qWait(50);
    keyHeld = true;
    press();
    expect(!playing(), "a press after the keyboard let go did not stop the own clock");
    if (failures == 0) std::puts("the space bar turns Play with presses alone");
    return failures;
}
