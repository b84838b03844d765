// The MIDI setup: what the dialog stores, and how a pad teaches a channel its note.

#include "ui/dialogs/midi_setup_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include "dialog_test_app.h"
#include "engine/audio/jack_output.h"
#include "song/midi_export.h"

using namespace qtam;
using qtam::test::Child;
using qtam::test::WhileShown;

class MidiSetupDialogTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // Channel 3 learns channel 1's note: they swap, so no two channels share a note; Ok stores
    // every choice in the settings and hands the table to the JACK client.
    void aLearnedNoteAndTheChoicesAreStored() {
        test::TestApp app;
        MidiSetupDialog w(app.ctx);
        app.device.MidiNotesFromSounds = 0;
        WhileShown(
            w,
            [&] {
                QCOMPARE(Child<QSpinBox>(w, "NoteSpin3")->value(), 42);
                Child<QPushButton>(w, "LearnButton3")->toggle();  // as a screen reader does
                QCOMPARE(w.Learning(), 3);
                w.PadHeard(36, 90);
                QCOMPARE(w.Learning(), 0);
                QVERIFY(!Child<QPushButton>(w, "LearnButton3")->isChecked());
                w.PadHeard(50, 90);  // not learning: shown only
                Child<QSpinBox>(w, "ChannelSpin")->setValue(2);
                Child<QCheckBox>(w, "NotesOutBox")->setChecked(false);
                Child<QCheckBox>(w, "ClockOutBox")->setChecked(true);
                Child<QCheckBox>(w, "ClockInBox")->setChecked(true);
                Child<QComboBox>(w, "ProgramChangeBox")->setCurrentIndex(3);
            },
            "OkButton");
        QVERIFY(w.RunSetup());
        const std::array<std::uint8_t, 8> notes{42, 38, 36, 46, 39, 45, 49, 51};
        QCOMPARE(app.device.MidiNotes, notes);
        QCOMPARE(app.device.MidiChannel, 2);
        QCOMPARE(app.device.MidiNotesOut, 0);
        QCOMPARE(app.device.MidiClockOut, 1);
        QCOMPARE(app.device.MidiClockIn, 1);
        QCOMPARE(app.device.MidiProgramChange, 3);
        const MidiSettings& midi = app.playback.Jack().Midi();
        QVERIFY(midi.notes == notes && midi.channel == 2 && !midi.notesOut && midi.clockIn &&
                midi.programIn && midi.programOut);
        QVERIFY(!app.playback.OnPad);  // the dialog stops listening when it closes
        QCOMPARE(app.device.MidiNotesFromSounds, 0);
        // Back to the sounds' notes: the learned table is kept, the client gets the sounds'.
        app.device.MidiNotesFromSounds = 1;
        app.playback.ApplySettings(app.device);
        QVERIFY(app.playback.Jack().Midi().notes == DrumNotesOf(*app.m, 1));
        QCOMPARE(app.device.MidiNotes, notes);
    }

    // Every channel of a shared note is named, not only the first two.
    void everyChannelOfASharedNoteIsNamed() {
        test::TestApp app;
        MidiSetupDialog w(app.ctx);
        app.device.MidiNotesFromSounds = 0;
        QString said;
        WhileShown(
            w,
            [&] {
                for (const char* spin :
                     {"NoteSpin4", "NoteSpin5", "NoteSpin6", "NoteSpin7", "NoteSpin8"})
                    Child<QSpinBox>(w, spin)->setValue(35);
                said = Child<QLabel>(w, "MidiStateLabel")->text();
            },
            "CancelButton");
        QVERIFY(!w.RunSetup());
        QVERIFY2(said.contains(QStringLiteral(
                     "Channels 4, 5, 6, 7 and 8 share note 35: its pad plays channel 4.")),
                 qPrintable(said));
    }
};

#include "test_class.h"
QTAM_TEST_CLASS(MidiSetupDialogTest)
#include "midi_setup_dialog_test.moc"
