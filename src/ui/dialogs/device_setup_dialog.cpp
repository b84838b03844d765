#include "ui/dialogs/device_setup_dialog.h"

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

#include "core/machine.h"
#include "engine/audio/devices.h"
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
    DeviceList->setSelectionMode(QAbstractItemView::SingleSelection);
    BufferSlider = new QSlider(Qt::Horizontal, this);
    BufferSlider->setObjectName(QStringLiteral("BufferSlider"));
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
    right->addStretch(1);

    auto* halves = new QHBoxLayout;
    halves->addLayout(left);
    halves->addWidget(Frame);
    halves->addLayout(right);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(halves);
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
}

void DeviceSetupDialog::Confirm() {
    const QList<QListWidgetItem*> selected = DeviceList->selectedItems();
    chosenDevice = selected.isEmpty() ? 0 : DeviceList->row(selected.front());
    chosenBufferSize = BufferSlider->value();
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
    const bool deviceWasOpen = ctx_.playback.Playback.IsOpen();
    if (hidden != nullptr) hidden->hide();

    CenterOverOwner(*this);
    const bool confirmed = exec() == QDialog::Accepted;
    if (confirmed) {
        ApplyDeviceChoice(ctx_.device, chosenDevice, chosenBufferSize, numberOfDevices);
        ctx_.playback.ApplySettings(ctx_.device);
        // The menu item is disabled while playing, so nothing is queued: the device opens
        // again with the new choice.
        if (!ctx_.m.Playing) ctx_.playback.CloseDevice();
    }

    if (hidden != nullptr) hidden->show();
    if (deviceWasOpen && !ctx_.playback.Playback.IsOpen()) ctx_.playback.OpenDevice();
    return confirmed;
}

}  // namespace qtam
