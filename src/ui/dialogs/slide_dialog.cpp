#include "ui/dialogs/slide_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QShowEvent>
#include <QVBoxLayout>

#include "core/machine.h"
#include "song/song_editor.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

constexpr int kBarLargeChange = 10;

QScrollBar* ValueBar(QWidget* parent, const char* name) {
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setObjectName(QString::fromLatin1(name));
    bar->setRange(0, 127);
    bar->setPageStep(kBarLargeChange);
    bar->setValue(kSlideInitialValue);
    bar->setMinimumWidth(260);
    bar->setFocusPolicy(Qt::StrongFocus);  // scroll bars take no Tab focus by default
    return bar;
}

QLabel* NumberLabel(QWidget* parent, const char* name) {
    auto* label = new QLabel(QString::number(kSlideInitialValue), parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setMinimumWidth(label->fontMetrics().horizontalAdvance(QStringLiteral("0000")));
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

}  // namespace

SlideDialog::SlideDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint), ctx_(ctx) {
    setObjectName(QStringLiteral("SlideDialog"));
    setWindowTitle(QStringLiteral("Custom effect"));
    setModal(true);

    TopLabel =
        new QLabel(QString::fromUtf8(kSlideStartLabel.data(), kSlideStartLabel.size()), this);
    TopLabel->setObjectName(QStringLiteral("TopLabel"));
    StartBar = ValueBar(this, "StartBar");
    StartValue = NumberLabel(this, "StartValue");
    BottomLabel = new QLabel(QStringLiteral("End value (step 16)"), this);
    BottomLabel->setObjectName(QStringLiteral("BottomLabel"));
    EndBar = ValueBar(this, "EndBar");
    EndValue = NumberLabel(this, "EndValue");
    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);

    auto* bars = new QGridLayout;
    bars->addWidget(TopLabel, 0, 0, 1, 2);
    bars->addWidget(StartBar, 1, 0);
    bars->addWidget(StartValue, 1, 1);
    bars->setRowMinimumHeight(2, 6);
    bars->addWidget(BottomLabel, 3, 0, 1, 2);
    bars->addWidget(EndBar, 4, 0);
    bars->addWidget(EndValue, 4, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bars);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(StartBar, &QScrollBar::valueChanged, StartValue,
            [this](int v) { StartValue->setNum(v); });
    connect(EndBar, &QScrollBar::valueChanged, EndValue, [this](int v) { EndValue->setNum(v); });
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void SlideDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous())
        BottomLabel->setText(QString::fromStdString(CustomSlideEndLabel(ctx_.m.song)));
    QDialog::showEvent(event);
}

DialogResult SlideDialog::RunSlide(SlideField field) {
    StartBar->setValue(kSlideInitialValue);
    EndBar->setValue(kSlideInitialValue);
    StartValue->setNum(kSlideInitialValue);
    EndValue->setNum(kSlideInitialValue);
    CenterOverOwner(*this);
    const DialogResult result =
        exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancel;
    ctx_.edits.ApplySlide(field, result, StartBar->value(), EndBar->value());
    return result;
}

}  // namespace qtam

#include "moc_slide_dialog.cpp"
