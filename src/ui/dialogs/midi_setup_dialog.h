#pragma once
// MidiSetupDialog: the "MIDI setup" dialog beside the Sound device setup. What goes out on
// JACK's midi_out (the notes played and their channel, the clock, program changes), what is
// taken from midi_in (a clock to follow, program changes), and the note of each channel, out
// and in: the MIDI file export's note of its sound, or one of a table that a pad can teach
// (press a channel's "Learn", hit the pad).

#include <QDialog>
#include <array>

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace qtam {

struct AppContext;

class MidiSetupDialog : public QDialog {
    Q_OBJECT
public:
    // Thread: owner (the user-interface thread) for every member.
    MidiSetupDialog(AppContext& ctx, QWidget* parent = nullptr);

    // "&MIDI setup…": runs the dialog modally; Ok puts the choice into the device settings
    // (kept in QTam.ini) and hands it to the JACK client at once. True when confirmed.
    bool RunSetup();

    // A note-on from a pad: a channel learning takes its note (a channel that had the note
    // gets the learner's old one, so that no two channels share a note); otherwise it is
    // only shown.
    void PadHeard(int note, int velocity);
    // The channel 1..8 learning, or 0.
    int Learning() const { return learning_; }
    void Learn(int channel);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void PrepareToShow();
    void Confirm();
    void ShowState();
    void ShowNotesFromSounds(bool fromSounds);

    AppContext& ctx_;
    int learning_ = 0;
    QString lastPad_;

    QPushButton* OkButton;
    QPushButton* CancelButton;
    QCheckBox* NotesOutBox;
    QSpinBox* ChannelSpin;
    QCheckBox* ClockOutBox;
    QCheckBox* ClockInBox;
    QComboBox* ProgramChangeBox;
    QCheckBox* NotesFromSoundsBox;
    std::array<QLabel*, 8> SoundLabels{};
    std::array<QSpinBox*, 8> NoteSpins{};
    std::array<QPushButton*, 8> LearnButtons{};
    QLabel* StateLabel;
};

}  // namespace qtam
