#pragma once
// The space-bar guard's key events for one window (the main window and the groove panel each
// have one; both share the playback driver's KeyReleased, through the transport).
//
// A held key repeats. Qt marks most repeats, but on X11 it can miss some: the server sends
// each repeat as a release and a press with one timestamp, and when the press has not been
// read yet, the release looks real, and the space bar would toggle playback at the keyboard's
// repeat rate. So a release is held back for a moment: a press of the same key with the same
// timestamp makes it a repeat; otherwise it counts (at the next key press, when the window
// loses the keyboard, or after the moment at the latest).
//
// Thread: the user-interface thread.

#include <QObject>
#include <QTimer>

class QKeyEvent;

namespace qtam {

class Transport;

class SpaceBarKeys : public QObject {
public:
    // openDeviceFirst: the main window opens the device before a start, the panel does not.
    SpaceBarKeys(Transport& transport, bool openDeviceFirst, QObject* parent = nullptr);

    void KeyPress(const QKeyEvent& e);
    void KeyRelease(const QKeyEvent& e);
    // The window lost the keyboard: a release held back counts now, and so does the release
    // of any key still held, which this window will not see.
    void Flush();

private:
    Transport& transport_;
    bool openDeviceFirst_;
    QTimer release_;
    int releasedKey_ = 0;
    quint64 releasedAt_ = 0;
};

}  // namespace qtam
