#include "ui/dialogs/midi_setup_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>
#include <vector>

#include "core/machine.h"
#include "engine/audio/jack_output.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "song/midi_export.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"
#include "ui/services/sound_names.h"

namespace qtam {

namespace {

// The first two channels (1..8) whose notes are the same; {0, 0} when every note differs.
// The channels that share the first note two channels have, in order; empty when none does.
std::vector<int> FirstSharedNote(const std::array<QSpinBox*, 8>& notes) {
    for (std::size_t a = 0; a < notes.size(); ++a) {
        std::vector<int> sharing{static_cast<int>(a + 1)};
        for (std::size_t b = a + 1; b < notes.size(); ++b)
            if (notes[a]->value() == notes[b]->value()) sharing.push_back(static_cast<int>(b + 1));
        if (sharing.size() > 1) return sharing;
    }
    return {};
}

// "4 and 5", "4, 5, 6 and 8".
QString ChannelList(const std::vector<int>& channels) {
    QString text;
    for (std::size_t i = 0; i < channels.size(); ++i) {
        if (i > 0)
            text += i + 1 == channels.size() ? QStringLiteral(" and ") : QStringLiteral(", ");
        text += QString::number(channels[i]);
    }
    return text;
}

}  // namespace

MidiSetupDialog::MidiSetupDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ctx_(ctx) {
    setObjectName(QStringLiteral("MidiSetupDialog"));
    setWindowTitle(QStringLiteral("MIDI setup"));
    setModal(true);

    NotesOutBox = new QCheckBox(QStringLiteral("Send the &notes played"), this);
    NotesOutBox->setObjectName(QStringLiteral("NotesOutBox"));
    ChannelSpin = new QSpinBox(this);
    ChannelSpin->setObjectName(QStringLiteral("ChannelSpin"));
    ChannelSpin->setAccessibleName(QStringLiteral("MIDI channel of the notes sent"));
    ChannelSpin->setRange(1, 16);
    ClockOutBox = new QCheckBox(QStringLiteral("Send MIDI &clock (and Start, Stop, position)"));
    ClockOutBox->setObjectName(QStringLiteral("ClockOutBox"));
    ClockInBox = new QCheckBox(QStringLiteral("&Follow a MIDI clock coming in"), this);
    ClockInBox->setObjectName(QStringLiteral("ClockInBox"));
    ProgramChangeBox = new QComboBox(this);
    ProgramChangeBox->setObjectName(QStringLiteral("ProgramChangeBox"));
    ProgramChangeBox->setAccessibleName(QStringLiteral("Program change"));
    ProgramChangeBox->addItems(
        {QStringLiteral("Off"), QStringLiteral("In: 0..7 queue pattern 1..8"),
         QStringLiteral("Out: the pattern queued is sent"), QStringLiteral("In and out")});

    auto* general = new QGridLayout;
    general->addWidget(NotesOutBox, 0, 0);
    auto* channelRow = new QHBoxLayout;
    auto* channelLabel = new QLabel(QStringLiteral("MIDI c&hannel:"), this);
    channelLabel->setBuddy(ChannelSpin);
    channelRow->addWidget(channelLabel);
    channelRow->addWidget(ChannelSpin);
    channelRow->addStretch(1);
    general->addLayout(channelRow, 0, 1);
    general->addWidget(ClockOutBox, 1, 0, 1, 2);
    general->addWidget(ClockInBox, 2, 0, 1, 2);
    auto* programLabel = new QLabel(QStringLiteral("&Program change:"), this);
    programLabel->setBuddy(ProgramChangeBox);
    general->addWidget(programLabel, 3, 0);
    general->addWidget(ProgramChangeBox, 3, 1);

    // One note a channel, out and in.
    NotesFromSoundsBox =
        new QCheckBox(QStringLiteral("Each channel's note is its &sound's (as in a MIDI file)"));
    NotesFromSoundsBox->setObjectName(QStringLiteral("NotesFromSoundsBox"));
    connect(NotesFromSoundsBox, &QCheckBox::toggled, this,
            [this](bool on) { ShowNotesFromSounds(on); });
    auto* notes = new QGridLayout;
    notes->addWidget(NotesFromSoundsBox, 0, 0, 1, 3);
    for (int c = 1; c <= 8; ++c) {
        const std::size_t i = static_cast<std::size_t>(c - 1);
        SoundLabels[i] = new QLabel(this);
        NoteSpins[i] = new QSpinBox(this);
        NoteSpins[i]->setObjectName(QStringLiteral("NoteSpin%1").arg(c));
        NoteSpins[i]->setRange(0, 127);
        connect(NoteSpins[i], &QSpinBox::valueChanged, this, [this] { ShowState(); });
        LearnButtons[i] = new QPushButton(QStringLiteral("Learn"), this);
        LearnButtons[i]->setObjectName(QStringLiteral("LearnButton%1").arg(c));
        LearnButtons[i]->setCheckable(true);
        LearnButtons[i]->setAutoDefault(false);
        // Toggled, not clicked: a screen reader's action toggles without a click.
        connect(LearnButtons[i], &QPushButton::toggled, this, [this, c](bool on) {
            if (on || learning_ == c) Learn(on ? c : 0);
        });
        notes->addWidget(SoundLabels[i], c, 0);
        notes->addWidget(NoteSpins[i], c, 1);
        notes->addWidget(LearnButtons[i], c, 2);
    }
    StateLabel = new QLabel(this);
    StateLabel->setObjectName(QStringLiteral("MidiStateLabel"));
    StateLabel->setWordWrap(true);
    // Room for the longest text, so that the fixed-size dialog never cuts it.
    StateLabel->setFixedWidth(380);
    StateLabel->setMinimumHeight(StateLabel->fontMetrics().lineSpacing() * 3);
    StateLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(general);
    layout->addSpacing(8);
    layout->addLayout(notes);
    layout->addWidget(StateLabel);
    layout->addWidget(okCancel);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(OkButton, &QPushButton::clicked, this, [this] {
        Confirm();
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void MidiSetupDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) PrepareToShow();
    QDialog::showEvent(event);
}

void MidiSetupDialog::PrepareToShow() {
    const WaveDeviceSettings& d = ctx_.device;
    NotesOutBox->setChecked(d.MidiNotesOut != 0);
    ChannelSpin->setValue(d.MidiChannel);
    ClockOutBox->setChecked(d.MidiClockOut != 0);
    ClockInBox->setChecked(d.MidiClockIn != 0);
    ProgramChangeBox->setCurrentIndex(std::clamp(d.MidiProgramChange, 0, 3));
    for (int c = 1; c <= 8; ++c) {
        const std::size_t i = static_cast<std::size_t>(c - 1);
        const QString sound = ChannelSoundName(ctx_.m, c);
        SoundLabels[i]->setText(QStringLiteral("&%1 %2").arg(c).arg(sound));
        SoundLabels[i]->setBuddy(NoteSpins[i]);
        NoteSpins[i]->setAccessibleName(
            QStringLiteral("MIDI note of channel %1: %2").arg(c).arg(sound));
        LearnButtons[i]->setAccessibleName(QStringLiteral("Learn the note of channel %1").arg(c));
        NoteSpins[i]->setValue(d.MidiNotes[i] & 0x7F);
    }
    NotesFromSoundsBox->setChecked(d.MidiNotesFromSounds != 0);
    ShowNotesFromSounds(NotesFromSoundsBox->isChecked());
    lastPad_.clear();
    Learn(0);
}

// The sounds' notes are shown, not edited; unchecked, the table starts from what was shown.
void MidiSetupDialog::ShowNotesFromSounds(bool fromSounds) {
    const std::array<std::uint8_t, 8> sounds = DrumNotesOf(ctx_.m, ctx_.m.editor.CurrentPattern);
    for (std::size_t i = 0; i < NoteSpins.size(); ++i) {
        if (fromSounds) NoteSpins[i]->setValue(sounds[i]);
        NoteSpins[i]->setEnabled(!fromSounds);
    }
}

void MidiSetupDialog::Learn(int channel) {
    learning_ = channel >= 1 && channel <= 8 ? channel : 0;
    // A learned note is one of the table's.
    if (learning_ != 0) NotesFromSoundsBox->setChecked(false);
    for (int c = 1; c <= 8; ++c) {
        QPushButton* button = LearnButtons[static_cast<std::size_t>(c - 1)];
        const QSignalBlocker quiet(button);
        button->setChecked(c == learning_);
    }
    // Pads come in only through an open JACK client: opened here when JACK is chosen.
    if (learning_ != 0 && ctx_.playback.UsesJack()) ctx_.playback.OpenDevice();
    ShowState();
}

void MidiSetupDialog::PadHeard(int note, int velocity) {
    lastPad_ = QStringLiteral("Last pad: note %1, velocity %2.").arg(note).arg(velocity);
    if (learning_ != 0) {
        QSpinBox* learner = NoteSpins[static_cast<std::size_t>(learning_ - 1)];
        for (QSpinBox* other : NoteSpins)
            if (other != learner && other->value() == note) other->setValue(learner->value());
        learner->setValue(note);
        Learn(0);  // shows the state
        return;
    }
    ShowState();
}

void MidiSetupDialog::ShowState() {
    QString text;
    if (!ctx_.playback.UsesJack())
        text = QStringLiteral(
            "MIDI goes through JACK's midi_in and midi_out: choose JACK as the "
            "audio system in the Sound device setup.");
    else if (!ctx_.playback.Jack().IsOpen())
        text = QStringLiteral("JACK is not connected: no pads come in.");
    else if (learning_ != 0)
        text = QStringLiteral("Hit the pad for channel %1…").arg(learning_);
    else
        text = QStringLiteral("Press Learn beside a channel, then hit a pad.");
    // Two channels with one note: a pad plays only the first of them.
    if (const std::vector<int> sharing = FirstSharedNote(NoteSpins); !sharing.empty())
        text += QStringLiteral(" Channels %1 share note %2: its pad plays channel %3.")
                    .arg(ChannelList(sharing))
                    .arg(NoteSpins[static_cast<std::size_t>(sharing.front() - 1)]->value())
                    .arg(sharing.front());
    if (!lastPad_.isEmpty()) text += QLatin1Char(' ') + lastPad_;
    StateLabel->setText(text);
}

void MidiSetupDialog::Confirm() {
    WaveDeviceSettings& d = ctx_.device;
    d.MidiNotesOut = NotesOutBox->isChecked() ? 1 : 0;
    d.MidiChannel = ChannelSpin->value();
    d.MidiClockOut = ClockOutBox->isChecked() ? 1 : 0;
    d.MidiClockIn = ClockInBox->isChecked() ? 1 : 0;
    d.MidiProgramChange = ProgramChangeBox->currentIndex();
    d.MidiNotesFromSounds = NotesFromSoundsBox->isChecked() ? 1 : 0;
    if (!NotesFromSoundsBox->isChecked()) {
        for (std::size_t i = 0; i < NoteSpins.size(); ++i)
            d.MidiNotes[i] = static_cast<std::uint8_t>(NoteSpins[i]->value());
    }
    ctx_.playback.ApplySettings(d);
}

bool MidiSetupDialog::RunSetup() {
    ctx_.playback.OnPad = [this](const EngineReport& pad) { PadHeard(pad.note, pad.velocity); };
    const bool jackWasOpen = ctx_.playback.Jack().IsOpen();
    CenterOverOwner(*this);
    const bool confirmed = exec() == QDialog::Accepted;
    ctx_.playback.OnPad = nullptr;
    // Clock in turned on or off closes the client (it decides the transport): open again at
    // once, as the pads were heard while it was open.
    if (jackWasOpen && !ctx_.playback.Jack().IsOpen()) ctx_.playback.OpenDevice();
    return confirmed;
}

}  // namespace qtam

#include "moc_midi_setup_dialog.cpp"
