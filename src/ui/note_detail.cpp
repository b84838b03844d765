#include "ui/note_detail.h"

#include <QCheckBox>
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
#include "ui/app_context.h"
#include "ui/qt_text.h"
#include "ui/window_placement.h"

namespace qtam {

namespace {

constexpr int kMaxValue = 127;

QScrollBar* MakeScroll(QWidget* parent, const char* name, QLabel* number) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, kMaxValue);
    bar->setPageStep(10);
    bar->setMinimumWidth(200);
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

TNoteDetail::TNoteDetail(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ctx_(ctx) {
    setWindowTitle(QStringLiteral("Note details"));

    auto* velocityLabel = MakeLabel(this, "VelocityLabel", "Velocity");
    Velocity = MakeLabel(this, "Velocity", "");
    Velocity->setMinimumWidth(fontMetrics().horizontalAdvance(QStringLiteral("1277")));
    VeloScroll = MakeScroll(this, "VeloScroll", Velocity);
    MaxOut = MakeButton(this, "MaxOut", "Max out");

    auto* panningLabel = MakeLabel(this, "PanningLabel", "Panning");
    Panning = MakeLabel(this, "Panning", "");
    PanScroll = MakeScroll(this, "PanScroll", Panning);
    Button1 = MakeButton(this, "Button1", "Center");

    Reversed = new QCheckBox(QStringLiteral("Play sample reversed"), this);
    Reversed->setObjectName(QStringLiteral("Reversed"));
    OkButton = MakeButton(this, "OkButton", "Ok");
    OkButton->setDefault(true);
    CancelButton = MakeButton(this, "CancelButton", "Cancel");
    // "Max out" and "Center" never take Enter away from "Ok".
    MaxOut->setAutoDefault(false);
    Button1->setAutoDefault(false);

    auto* grid = new QGridLayout;
    grid->addWidget(velocityLabel, 0, 0);
    grid->addWidget(Velocity, 0, 1, Qt::AlignRight);
    grid->addWidget(VeloScroll, 1, 0, 1, 2);
    grid->addWidget(MaxOut, 1, 2);
    grid->addWidget(panningLabel, 2, 0);
    grid->addWidget(Panning, 2, 1, Qt::AlignRight);
    grid->addWidget(PanScroll, 3, 0, 1, 2);
    grid->addWidget(Button1, 3, 2);
    grid->addWidget(Reversed, 4, 0, 1, 3);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(MaxOut, &QPushButton::clicked, this, [this] { VeloScroll->setValue(kMaxOutVelocity); });
    connect(Button1, &QPushButton::clicked, this, [this] { PanScroll->setValue(kCenterPan); });
    connect(OkButton, &QPushButton::clicked, this, &TNoteDetail::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    ctx_.noteDetail = this;
    ctx_.actions.showNoteDetails = [this] { ShowDetails(); };
}

void TNoteDetail::ShowDetails() {
    FormShow();
    if (!isVisible()) CenterOnScreen(*this);
    show();
    raise();
    activateWindow();
}

void TNoteDetail::FormShow() {
    const NoteDetailsView view = ShowNoteDetails(ctx_.m);
    for (QWidget* w : {static_cast<QWidget*>(VeloScroll), static_cast<QWidget*>(PanScroll),
                       static_cast<QWidget*>(Reversed), static_cast<QWidget*>(Button1),
                       static_cast<QWidget*>(MaxOut)}) {
        w->setEnabled(view.enabled);
    }
    if (view.enabled) {
        VeloScroll->setValue(view.velocity);
        PanScroll->setValue(view.pan);
        Reversed->setChecked(view.reversed);
    }
    // Set after the bars: moving a bar writes its number.
    Velocity->setText(FromCp1252(view.velocityText));
    Panning->setText(FromCp1252(view.panText));
}

void TNoteDetail::OkButtonClick() {
    if (NoteDetailsOk(ctx_.m, VeloScroll->value(), PanScroll->value(), Reversed->isChecked())) {
        AppContext::Run(ctx_.actions.refreshPanel);
    }
    accept();
}

void TNoteDetail::changeEvent(QEvent* event) {
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

void TNoteDetail::hideEvent(QHideEvent* event) {
    wasActive_ = false;
    QDialog::hideEvent(event);
}

}  // namespace qtam
