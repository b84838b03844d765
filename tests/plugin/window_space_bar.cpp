// The plugin window's space bar in a host that hands the window a key's press and never its
// release: a press turns the instrument's Play; a held key's repeats change nothing; once the
// keyboard holds no key, the next press turns Play back. The panel's Start and Stop turn Play
// too, and show what plays, also when the host turns Play.
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

    QWidget* stopKey = window.panel().findChild<QWidget*>(QStringLiteral("StopKey"));
    auto stopShown = [&] { return stopKey != nullptr && stopKey->isVisible(); };
    expect(!stopShown(), "the Stop key shows while nothing plays");
    window.panel().PressStart(true, false);
    window.panel().ReleaseStart();
    expect(playing() && stopShown(), "Start did not start the own clock and show Stop");
    window.panel().StopPlaying();
    expect(!playing() && !stopShown(), "Stop did not stop the own clock and show Start");
    instrument.SetParam(qtam::plugin::kPlay, 1);  // the host's Play
    QTest::qWait(50);
    expect(stopShown(), "the host's Play did not show the Stop key");
    if (failures == 0) std::puts("the space bar, Start and Stop turn Play, and the keys show it");
    return failures;
}
