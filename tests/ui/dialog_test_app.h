#pragma once
// What a window under test needs around it: a new Song, scripted messages and file dialogs,
// a playback driver that is never opened, device settings, and the context over them.

#include <QApplication>
#include <QImage>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "song/song_history.h"
#include "test_support.h"
#include "ui/services/app_context.h"
#include "ui/services/playback_notifier.h"

namespace qtam::test {

struct TestApp {
    std::unique_ptr<Machine> m = NewMachine();
    ScriptedPrompter prompter;
    ScriptedFileDialogs dialogs;
    EventQueue events;
    PlaybackDriver playback{*m, events};
    PlaybackNotifier playbackState{playback};
    WaveDeviceSettings device;
    SongHistory history;
    AppContext ctx{.m = *m,
                   .events = events,
                   .playback = playback,
                   .playbackState = playbackState,
                   .dialogs = dialogs,
                   .device = device,
                   .history = history};
    int panelRefreshes = 0;

    TestApp() { m->prompter = &prompter; }

    // Counts the window's Song edits as the panel refreshes they set off.
    template <class Window>
    void CountSongEdits(Window& w) {
        QObject::connect(&w, &Window::songEdited, [this] { ++panelRefreshes; });
    }
};

// A window's component by its object name.
template <typename T>
T* Child(QWidget& w, const char* name) {
    return w.findChild<T*>(QString::fromLatin1(name));
}

// Runs `inside` once the modal dialog `w` shows, then presses its button `button`.
inline void WhileShown(QWidget& w, std::function<void()> inside, const char* button) {
    QTimer::singleShot(0, &w, [&w, inside, button] {
        const bool shown = w.isVisible();
        inside();  // a failed check in it still lets the button end the dialog
        QTest::mouseClick(Child<QPushButton>(w, button), Qt::LeftButton);
        QVERIFY(shown);
    });
}

// The widget as it would be shown, for looking at pixels.
inline QImage Picture(QWidget& w) {
    return w.grab().toImage().convertToFormat(QImage::Format_RGB32);
}

}  // namespace qtam::test
