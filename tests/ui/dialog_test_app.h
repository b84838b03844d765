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
#include "song/song_editor.h"
#include "test_support.h"
#include "transport/transport.h"
#include "ui/services/app_context.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/song_notifier.h"

namespace qtam::test {

struct TestApp {
    std::unique_ptr<Machine> m = NewMachine();
    ScriptedPrompter prompter;
    ScriptedFileDialogs dialogs;
    EventQueue events;
    PlaybackDriver playback{*m, events};
    SongEditor edits{*m};
    SongNotifier songState{edits};
    Transport transport{*m, playback, edits};
    PlaybackNotifier playbackState{transport};
    WaveDeviceSettings device;
    AppContext ctx{.m = *m,
                   .events = events,
                   .playback = playback,
                   .playbackState = playbackState,
                   .dialogs = dialogs,
                   .device = device,
                   .edits = edits,
                   .songState = songState,
                   .transport = transport};
    int songEdits = 0;

    TestApp() {
        m->prompter = &prompter;
        // Counts the notices of Song edits (a change of the edit position is none).
        QObject::connect(&songState, &SongNotifier::changed, [this](SongChange what) {
            if (what != SongChange::Position) ++songEdits;
        });
    }

    // The Song as the test set it up is the one opened: saved, nothing to undo, no edit counted.
    void AsOpened() {
        edits.TakeSong();
        songEdits = 0;
    }
};

// A window's component by its object name.
template <typename T>
T* Child(QWidget& w, const char* name) {
    return w.findChild<T*>(QString::fromLatin1(name));
}

// A numbered component of a window by its object name: ("StepDark", 5) finds "StepDark5".
template <typename T>
T* Part(QWidget& w, const char* name, int number) {
    return w.findChild<T*>(QString::fromLatin1(name) + QString::number(number));
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
