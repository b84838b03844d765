#include "ui/device_setup.h"

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
#include "ui/app_context.h"
#include "ui/window_placement.h"

namespace qtam {

namespace {

constexpr int kHalfWidth = 240;

QLabel* Label(QWidget* parent, const char* name, const char* text, bool wrap = false) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setWordWrap(wrap);
    return label;
}

QWidget* Window(const std::function<QWidget*()>& window) {
    return window ? window() : nullptr;
}

}  // namespace

TDeviceSetupScreen::TDeviceSetupScreen(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                          Qt::WindowStaysOnTopHint),
      ctx_(ctx),
      deviceNames_(HostOutputDeviceNames) {
    setObjectName(QStringLiteral("DeviceSetupScreen"));
    setWindowTitle(QStringLiteral("Sound device setup"));
    setModal(true);

    okButton = new QPushButton(QStringLiteral("Ok"), this);
    okButton->setObjectName(QStringLiteral("okButton"));
    okButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));
    Devs = new QListWidget(this);
    Devs->setObjectName(QStringLiteral("Devs"));
    Devs->setSelectionMode(QAbstractItemView::SingleSelection);
    BufferSlider = new QSlider(Qt::Horizontal, this);
    BufferSlider->setObjectName(QStringLiteral("BufferSlider"));
    BufferSlider->setRange(kMinBufferSize, kMaxBufferSize);
    BufferSlider->setPageStep(1);
    BufferSlider->setTickPosition(QSlider::TicksBothSides);
    BufferSlider->setTickInterval(1);
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::VLine);
    Bevel1->setFrameShadow(QFrame::Sunken);

    QLabel* Label1 = Label(this, "Label1",
                           "Choose a soundcard from the list. If you are not sure, you should "
                           "take the default device... ",
                           true);
    QLabel* Label2 = Label(this, "Label2",
                           "You may use this slider to optimize the performance of this "
                           "program. If the output signal \"stutters\" or sounds weird, try "
                           "moving the slider to the right...",
                           true);
    QLabel* Label3 = Label(this, "Label3", "Faster response");
    QLabel* Label4 = Label(this, "Label4", "Slower response");
    QLabel* Label5 = Label(this, "Label5", "(fast cpu)");
    QLabel* Label6 = Label(this, "Label6", "(slower cpu)");
    Label4->setAlignment(Qt::AlignRight);
    Label6->setAlignment(Qt::AlignRight);

    auto* left = new QVBoxLayout;
    Label1->setFixedWidth(kHalfWidth);
    Devs->setFixedWidth(kHalfWidth);
    left->addWidget(Label1);
    left->addWidget(Devs, 1);

    auto* ends = new QGridLayout;
    ends->addWidget(Label3, 0, 0);
    ends->addWidget(Label4, 0, 1);
    ends->addWidget(Label5, 1, 0);
    ends->addWidget(Label6, 1, 1);
    ends->setVerticalSpacing(0);
    auto* right = new QVBoxLayout;
    Label2->setFixedWidth(kHalfWidth);
    right->addWidget(Label2);
    right->addSpacing(8);
    right->addWidget(BufferSlider);
    right->addLayout(ends);
    right->addStretch(1);

    auto* halves = new QHBoxLayout;
    halves->addLayout(left);
    halves->addWidget(Bevel1);
    halves->addLayout(right);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okButton);
    buttons->addWidget(CancelButton);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(halves);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(okButton, &QPushButton::clicked, this, [this] {
        okButtonClick();
        accept();
    });
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    ctx.deviceSetup = this;
    ctx.actions.setupDevice = [this] { SetupDeviceClick(); };
}

void TDeviceSetupScreen::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TDeviceSetupScreen::FormShow() {
    BufferSlider->setValue(ctx_.device.Buffer_size);
    const std::vector<std::string> names =
        deviceNames_ ? deviceNames_() : std::vector<std::string>{};
    numberOfDevices = static_cast<int>(names.size());
    Devs->clear();
    for (const std::string& entry : DeviceListFrom(names))
        Devs->addItem(QString::fromStdString(entry));
    // A device that is no longer listed leaves nothing selected: "Ok" then takes the default.
    const int entry = ctx_.device.DeviceNum;
    if (entry >= 0 && entry < Devs->count()) Devs->setCurrentRow(entry);
}

void TDeviceSetupScreen::okButtonClick() {
    const QList<QListWidgetItem*> selected = Devs->selectedItems();
    chosenDevice = selected.isEmpty() ? 0 : Devs->row(selected.front());
    chosenBufferSize = BufferSlider->value();
}

bool TDeviceSetupScreen::SetupDeviceClick() {
    // Only a window that was showing is hidden, and only that one is shown again.
    QWidget* panel = Window(ctx_.actions.panelWindow);
    QWidget* editor = Window(ctx_.actions.bankEditorWindow);
    QWidget* hidden = nullptr;
    if (panel != nullptr && panel->isVisible())
        hidden = panel;
    else if (editor != nullptr && editor->isVisible())
        hidden = editor;
    const bool deviceWasOpen = ctx_.playback.Playback.IsOpen();
    if (hidden != nullptr) hidden->hide();

    CenterOnScreen(*this);
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
