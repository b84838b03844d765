#include "ui/dialogs/value_dialog.h"

#include <QDialogButtonBox>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "core/machine.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

QValidator::State ValueSpinBox::validate(QString&, int&) const {
    // Anything goes in; the line edit's maximum length bounds it and reading clamps it.
    return QValidator::Acceptable;
}

int ValueSpinBox::valueFromText(const QString& text) const {
    return ReadValueEntry(ToCp1252(text), minimum(), maximum());
}

void ValueSpinBox::fixup(QString&) const {}

ValueDialog::ValueDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ctx_(ctx) {
    setWindowTitle(QStringLiteral(" "));
    setModal(true);

    ValueLabel = new QLabel(QStringLiteral("You can enter a new value here:"), this);
    ValueLabel->setObjectName(QStringLiteral("ValueLabel"));
    Value = new ValueSpinBox(this);
    Value->setObjectName(QStringLiteral("Value"));
    QFont big = Value->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    Value->setFont(big);
    Value->setMinimumWidth(Value->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 40);
    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ValueLabel);
    layout->addWidget(Value, 0, Qt::AlignHCenter);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void ValueDialog::Prepare(const ValueEntry& entry) {
    Value->setRange(entry.minimum, entry.maximum);
    Value->setSingleStep(entry.increment);
    Value->lineEdit()->setMaxLength(entry.maxLength);
    Value->setValue(entry.value);
}

DialogResult ValueDialog::Execute() {
    CenterOverOwner(*this);
    return exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancel;
}

QString ValueDialog::Text() const {
    return Value->lineEdit()->text();
}

int ValueDialog::EnteredValue() const {
    return ReadValueEntry(ToCp1252(Text()), Value->minimum(), Value->maximum());
}

void ValueDialog::EnterTempo() {
    Prepare(TempoEntry(ctx_.m.song));
    const DialogResult result = Execute();
    if (qtam::EnterTempo(ctx_.m, result, ToCp1252(Text()))) Q_EMIT songEdited();
}

void ValueDialog::EnterShuffle() {
    Prepare(ShuffleEntry(ctx_.m.song));
    const DialogResult result = Execute();
    if (qtam::EnterShuffle(ctx_.m, result, ToCp1252(Text()))) {
        Q_EMIT songEdited();
    }
}

void ValueDialog::FocusValue() {
    Value->setFocus(Qt::ActiveWindowFocusReason);
    Value->selectAll();
}

void ValueDialog::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FocusValue();
}

void ValueDialog::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FocusValue();
}

}  // namespace qtam
