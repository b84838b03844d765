#include "ui/dialogs/note_details_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QVBoxLayout>

#include "core/machine.h"
#include "song/slides.h"
#include "song/song_editor.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

constexpr int kMaxValue = 127;

QScrollBar* MakeScroll(QWidget* parent, const char* name, QLabel* number) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, kMaxValue);
    bar->setPageStep(10);
    bar->setMinimumWidth(200);
    bar->setFocusPolicy(Qt::StrongFocus);  // scroll bars take no Tab focus by default
    QObject::connect(bar, &QScrollBar::valueChanged, number,
                     [number](int v) { number->setText(QString::number(v)); });
    return bar;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const char* text) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setObjectName(QString::fromLatin1(name));
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text) {
    auto* button = new QPushButton(QString::fromLatin1(text), parent);
    button->setObjectName(QString::fromLatin1(name));
    return button;
}

}  // namespace

NoteDetailsDialog::NoteDetailsDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool), ctx_(ctx) {
    setWindowTitle(QStringLiteral("Note details"));

    auto* velocityLabel = MakeLabel(this, "VelocityLabel", "Velocity");
    Velocity = MakeLabel(this, "Velocity", "");
    Velocity->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("1277")));
    VelocityScroll = MakeScroll(this, "VelocityScroll", Velocity);
    MaxButton = MakeButton(this, "MaxButton", "Max out");

    auto* panningLabel = MakeLabel(this, "PanningLabel", "Panning");
    Panning = MakeLabel(this, "Panning", "");
    PanScroll = MakeScroll(this, "PanScroll", Panning);
    CenterButton = MakeButton(this, "CenterButton", "Center");

    Reversed = new QCheckBox(QStringLiteral("Play sample reversed"), this);
    Reversed->setObjectName(QStringLiteral("Reversed"));
    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);
    // "Max out" and "Center" never take Enter away from "Ok".
    MaxButton->setAutoDefault(false);
    CenterButton->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(velocityLabel, 0, 0);
    grid->addWidget(Velocity, 0, 1, Qt::AlignRight);
    grid->addWidget(VelocityScroll, 1, 0, 1, 2);
    grid->addWidget(MaxButton, 1, 2);
    grid->addWidget(panningLabel, 2, 0);
    grid->addWidget(Panning, 2, 1, Qt::AlignRight);
    grid->addWidget(PanScroll, 3, 0, 1, 2);
    grid->addWidget(CenterButton, 3, 2);
    grid->addWidget(Reversed, 4, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(MaxButton, &QPushButton::clicked, this,
            [this] { VelocityScroll->setValue(kMaxOutVelocity); });
    connect(CenterButton, &QPushButton::clicked, this, [this] { PanScroll->setValue(kCenterPan); });
    connect(OkButton, &QPushButton::clicked, this, &NoteDetailsDialog::Confirm);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void NoteDetailsDialog::ShowDetails() {
    PrepareToShow();
    if (!isVisible()) CenterOverOwner(*this);
    show();
    raise();
    activateWindow();
}

void NoteDetailsDialog::PrepareToShow() {
    const NoteDetailsView view = ShowNoteDetails(ctx_.m);
    for (QWidget* w : {static_cast<QWidget*>(VelocityScroll), static_cast<QWidget*>(PanScroll),
                       static_cast<QWidget*>(Reversed), static_cast<QWidget*>(CenterButton),
                       static_cast<QWidget*>(MaxButton)}) {
        w->setEnabled(view.enabled);
    }
    if (view.enabled) {
        VelocityScroll->setValue(view.velocity);
        PanScroll->setValue(view.pan);
        Reversed->setChecked(view.reversed);
    }
    // Set after the bars: moving a bar writes its number.
    Velocity->setText(FromCp1252(view.velocityText));
    Panning->setText(FromCp1252(view.panText));
}

void NoteDetailsDialog::Confirm() {
    ctx_.edits.SetNoteDetails(VelocityScroll->value(), PanScroll->value(), Reversed->isChecked());
    accept();
}

void NoteDetailsDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() != QEvent::ActivationChange) return;
    // Only a window that had the focus loses it; showing an inactive one does not hide it.
    if (isActiveWindow()) {
        wasActive_ = true;
    } else if (wasActive_) {
        wasActive_ = false;
        if (isVisible()) reject();
    }
}

void NoteDetailsDialog::hideEvent(QHideEvent* event) {
    wasActive_ = false;
    QDialog::hideEvent(event);
}

}  // namespace qtam

#include "moc_note_details_dialog.cpp"
