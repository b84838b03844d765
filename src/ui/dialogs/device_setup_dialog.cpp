#include "ui/dialogs/device_setup_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QShowEvent>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>

#include "core/machine.h"
#include "engine/audio/devices.h"
#include "engine/audio/jack_output.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

constexpr int kHalfWidth = 240;

QLabel* Label(QWidget* parent, const char* name, const char* text, bool wrap = false) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(wrap);
    return label;
}

}  // namespace

DeviceSetupDialog::DeviceSetupDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ctx_(ctx),
      deviceNames_(HostOutputDeviceNames) {
    setObjectName(QStringLiteral("DeviceSetupDialog"));
    setWindowTitle(QStringLiteral("Sound device setup"));
    setModal(true);

    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);
    DeviceList = new QListWidget(this);
    DeviceList->setObjectName(QStringLiteral("DeviceList"));
    DeviceList->setAccessibleName(QStringLiteral("Output device"));
    DeviceList->setSelectionMode(QAbstractItemView::SingleSelection);
    BufferSlider = new QSlider(Qt::Horizontal, this);
    BufferSlider->setObjectName(QStringLiteral("BufferSlider"));
    BufferSlider->setAccessibleName(QStringLiteral("Buffer size"));
    BufferSlider->setRange(kMinBufferSize, kMaxBufferSize);
    BufferSlider->setPageStep(1);
    BufferSlider->setTickPosition(QSlider::TicksBothSides);
    BufferSlider->setTickInterval(1);
    Frame = new QFrame(this);
    Frame->setObjectName(QStringLiteral("Frame"));
    Frame->setFrameShape(QFrame::VLine);
    Frame->setFrameShadow(QFrame::Sunken);

    QLabel* deviceHelp = Label(this, "DeviceHelp",
                               "Choose a soundcard from the list. If you are not sure, you should "
                               "take the default device... ",
                               true);
    QLabel* bufferHelp = Label(this, "BufferHelp",
                               "You may use this slider to optimize the performance of this "
                               "program. If the output signal \"stutters\" or sounds weird, try "
                               "moving the slider to the right...",
                               true);
    QLabel* fasterLabel = Label(this, "FasterLabel", "Faster response");
    QLabel* slowerLabel = Label(this, "SlowerLabel", "Slower response");
    QLabel* fastCpuLabel = Label(this, "fastCpuLabel", "(fast cpu)");
    QLabel* slowCpuLabel = Label(this, "slowCpuLabel", "(slower cpu)");
    slowerLabel->setAlignment(Qt::AlignRight);
    slowCpuLabel->setAlignment(Qt::AlignRight);

    auto* left = new QVBoxLayout;
    deviceHelp->setFixedWidth(kHalfWidth);
    DeviceList->setFixedWidth(kHalfWidth);
    left->addWidget(deviceHelp);
    left->addWidget(DeviceList, 1);

    auto* ends = new QGridLayout;
    ends->addWidget(fasterLabel, 0, 0);
    ends->addWidget(slowerLabel, 0, 1);
    ends->addWidget(fastCpuLabel, 1, 0);
    ends->addWidget(slowCpuLabel, 1, 1);
    ends->setVerticalSpacing(0);
    auto* right = new QVBoxLayout;
    bufferHelp->setFixedWidth(kHalfWidth);
    right->addWidget(bufferHelp);
    right->addSpacing(8);
    right->addWidget(BufferSlider);
    right->addLayout(ends);
    // The slider is the one latency control: it also sets what a sound server is asked for.
    LatencyLabel = Label(this, "LatencyLabel", "", true);
    LatencyLabel->setFixedWidth(kHalfWidth);
    right->addSpacing(12);
    right->addWidget(LatencyLabel);
    right->addStretch(1);

    auto* halves = new QHBoxLayout;
    halves->addLayout(left);
    halves->addWidget(Frame);
    halves->addLayout(right);

    // The audio system: the system sound (the device list and the slider above),
    // or JACK, with what it does with the JACK transport and whether it connects itself.
    AudioSystemBox = new QComboBox(this);
    AudioSystemBox->setObjectName(QStringLiteral("AudioSystemBox"));
    AudioSystemBox->setAccessibleName(QStringLiteral("Audio system"));
    AudioSystemBox->addItem(QStringLiteral("System sound"));
    AudioSystemBox->addItem(QStringLiteral("JACK (jackd or PipeWire)"));
    JackTransportBox = new QComboBox(this);
    JackTransportBox->setObjectName(QStringLiteral("JackTransportBox"));
    JackTransportBox->setAccessibleName(QStringLiteral("JACK transport"));
    JackTransportBox->addItem(QStringLiteral("Off: play on its own"));
    JackTransportBox->addItem(QStringLiteral("Follow the JACK transport"));
    JackTransportBox->addItem(QStringLiteral("Master of the JACK transport"));
    JackConnectBox =
        new QCheckBox(QStringLiteral("Connect main_L and main_R to the system playback"), this);
    JackConnectBox->setObjectName(QStringLiteral("JackConnectBox"));
    JackStateLabel = Label(this, "JackStateLabel", "", true);
    auto* audio = new QGridLayout;
    audio->addWidget(Label(this, "AudioSystemLabel", "Audio system:"), 0, 0);
    audio->addWidget(AudioSystemBox, 0, 1);
    audio->addWidget(Label(this, "JackTransportLabel", "JACK transport:"), 1, 0);
    audio->addWidget(JackTransportBox, 1, 1);
    audio->addWidget(JackConnectBox, 2, 1);
    audio->addWidget(JackStateLabel, 3, 0, 1, 2);
    auto showJack = [this] {
        const bool jack = AudioSystemBox->currentIndex() == kAudioSystemJack;
        JackTransportBox->setEnabled(jack);
        JackConnectBox->setEnabled(jack);
        DeviceList->setEnabled(!jack);
        BufferSlider->setEnabled(!jack);
    };
    connect(AudioSystemBox, &QComboBox::currentIndexChanged, this, showJack);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(halves);
    layout->addLayout(audio);
    layout->addLayout(MakeSoundServerBlock());
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(OkButton, &QPushButton::clicked, this, [this] {
        Confirm();
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void DeviceSetupDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) PrepareToShow();
    QDialog::showEvent(event);
}

void DeviceSetupDialog::PrepareToShow() {
    BufferSlider->setValue(ctx_.device.Buffer_size);
    const std::vector<std::string> names =
        deviceNames_ ? deviceNames_() : std::vector<std::string>{};
    numberOfDevices = static_cast<int>(names.size());
    DeviceList->clear();
    for (const std::string& entry : DeviceListFrom(names))
        DeviceList->addItem(QString::fromStdString(entry));
    // A device that is no longer listed leaves nothing selected: "Ok" then takes the default.
    const int entry = ctx_.device.DeviceNum;
    if (entry >= 0 && entry < DeviceList->count()) DeviceList->setCurrentRow(entry);
    // The system sound is named by what plays it now (PulseAudio, PipeWire, ALSA...).
    const std::string& system = ctx_.playback.Playback.SystemName();
    AudioSystemBox->setItemText(
        kAudioSystemSdl,
        ctx_.playback.Playback.IsOpen() && !system.empty()
            ? QStringLiteral("System sound (%1)").arg(QString::fromStdString(system))
            : QStringLiteral("System sound"));
    AudioSystemBox->setCurrentIndex(
        std::clamp(ctx_.device.AudioSystem, kAudioSystemSdl, kAudioSystemJack));
    JackTransportBox->setCurrentIndex(static_cast<int>(ctx_.device.JackTransport));
    JackConnectBox->setChecked(ctx_.device.JackConnect != 0);
    // xruns are shown, never hidden: they are the sound breaking up.
    const JackOutput& jack = ctx_.playback.Jack();
    JackStateLabel->setText(jack.IsOpen()
                                ? QStringLiteral("JACK: connected as %1 at %2 Hz, %3 xruns")
                                      .arg(QString::fromStdString(jack.ClientName()))
                                      .arg(jack.Rate())
                                      .arg(static_cast<qulonglong>(jack.Xruns()))
                                : QStringLiteral("JACK: not connected"));
    Q_EMIT AudioSystemBox->currentIndexChanged(AudioSystemBox->currentIndex());
    ShowSoundServer();
}

QLayout* DeviceSetupDialog::MakeSoundServerBlock() {
    UnderrunLabel = Label(this, "UnderrunLabel", "", true);
    auto* block = new QVBoxLayout;
    block->addWidget(UnderrunLabel);
    connect(BufferSlider, &QSlider::valueChanged, this, &DeviceSetupDialog::ShowLatencyOf);
    // JACK has a latency of its own.
    connect(AudioSystemBox, &QComboBox::currentIndexChanged, this,
            [this](int system) { LatencyLabel->setEnabled(system != kAudioSystemJack); });
    return block;
}

void DeviceSetupDialog::ShowLatencyOf(int bufferSize) {
    LatencyLabel->setText(
        QStringLiteral("Sound server latency: %1 ms").arg(LatencyOfBufferSize(bufferSize)));
}

// Underruns are shown, never hidden: each is the sound breaking up.
void DeviceSetupDialog::ShowSoundServer() {
    ShowLatencyOf(BufferSlider->value());
    const WaveOut& out = ctx_.playback.Playback;
    QString text;
    if (!out.IsOpen())
        text = QStringLiteral("Sound device: not open");
    else if (!out.UnderrunsCounted())
        text = QStringLiteral("Sound device: %1; underruns are not counted there")
                   .arg(QString::fromStdString(out.SystemName()));
    else
        text = QStringLiteral("Sound device: %1, stream %2 ms; %3 underruns while playing")
                   .arg(QString::fromStdString(out.SystemName()))
                   .arg(out.GrantedLatencyMs())
                   .arg(static_cast<qulonglong>(ctx_.playback.UnderrunsWhilePlaying()));
    UnderrunLabel->setText(text);
}

void DeviceSetupDialog::Confirm() {
    const QList<QListWidgetItem*> selected = DeviceList->selectedItems();
    chosenDevice = selected.isEmpty() ? 0 : DeviceList->row(selected.front());
    chosenBufferSize = BufferSlider->value();
    chosenAudioSystem = AudioSystemBox->currentIndex();
    chosenJackTransport = JackTransportBox->currentIndex();
    chosenJackConnect = JackConnectBox->isChecked();
}

bool DeviceSetupDialog::RunSetup() {
    // Only a window that was showing is hidden (the first of them), and only that one is shown
    // again.
    QWidget* hidden = nullptr;
    for (QWidget* window : WindowsToHide) {
        if (window != nullptr && window->isVisible()) {
            hidden = window;
            break;
        }
    }
    const bool deviceWasOpen = ctx_.playback.Playback.IsOpen() || ctx_.playback.Jack().IsOpen();
    if (hidden != nullptr) hidden->hide();

    CenterOverOwner(*this);
    const bool confirmed = exec() == QDialog::Accepted;
    if (confirmed) {
        ApplyDeviceChoice(ctx_.device, chosenDevice, chosenBufferSize, numberOfDevices);
        ctx_.device.AudioSystem = chosenAudioSystem;
        ctx_.device.JackTransport = TransportSyncOf(chosenJackTransport);
        ctx_.device.JackConnect = chosenJackConnect ? 1 : 0;
        ctx_.playback.ApplySettings(ctx_.device);
        // The menu item is disabled while playing, so nothing is queued: the device opens
        // again with the new choice.
        if (!ctx_.m.Playing) ctx_.playback.CloseDevice();
    }

    if (hidden != nullptr) hidden->show();
    if (deviceWasOpen && !ctx_.playback.Playback.IsOpen() && !ctx_.playback.Jack().IsOpen())
        ctx_.playback.OpenDevice();
    return confirmed;
}

}  // namespace qtam

#include "moc_device_setup_dialog.cpp"
