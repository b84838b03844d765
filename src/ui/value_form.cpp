#include "ui/value_form.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "core/machine.h"
#include "ui/app_context.h"
#include "ui/qt_text.h"
#include "ui/window_placement.h"

namespace qtam {

QValidator::State TValueEdit::validate(QString&, int&) const {
    // Anything goes in; the line edit's maximum length bounds it and reading clamps it.
    return QValidator::Acceptable;
}

int TValueEdit::valueFromText(const QString& text) const {
    return ReadValueEntry(ToCp1252(text), minimum(), maximum());
}

void TValueEdit::fixup(QString&) const {}

TValueForm::TValueForm(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint |
                          Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint),
      ctx_(ctx) {
    setWindowTitle(QStringLiteral(" "));
    setModal(true);

    ValueLabel = new QLabel(QStringLiteral("You can enter a new value here:"), this);
    ValueLabel->setObjectName(QStringLiteral("ValueLabel"));
    Value = new TValueEdit(this);
    Value->setObjectName(QStringLiteral("Value"));
    QFont big = Value->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    Value->setFont(big);
    Value->setMinimumWidth(Value->fontMetrics().horizontalAdvance(QStringLiteral("00000")) + 40);
    Ok = new QPushButton(QStringLiteral("Ok"), this);
    Ok->setObjectName(QStringLiteral("Ok"));
    Ok->setDefault(true);
    Cancel = new QPushButton(QStringLiteral("Cancel"), this);
    Cancel->setObjectName(QStringLiteral("Cancel"));

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(Ok);
    buttons->addWidget(Cancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(ValueLabel);
    layout->addWidget(Value, 0, Qt::AlignHCenter);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(Cancel, &QPushButton::clicked, this, &QDialog::reject);

    ctx_.valueForm = this;
    ctx_.actions.enterTempo = [this] { BPMClick(); };
    ctx_.actions.enterShuffle = [this] { ShufLabelClick(); };
}

void TValueForm::Prepare(const ValueEntry& entry) {
    Value->setRange(entry.minimum, entry.maximum);
    Value->setSingleStep(entry.increment);
    Value->lineEdit()->setMaxLength(entry.maxLength);
    Value->setValue(entry.value);
}

DialogResult TValueForm::Execute() {
    CenterOnScreen(*this);
    return exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancel;
}

QString TValueForm::Text() const {
    return Value->lineEdit()->text();
}

int TValueForm::EnteredValue() const {
    return ReadValueEntry(ToCp1252(Text()), Value->minimum(), Value->maximum());
}

void TValueForm::BPMClick() {
    Prepare(TempoEntry(ctx_.m.song));
    const DialogResult result = Execute();
    if (EnterTempo(ctx_.m, result, ToCp1252(Text()))) AppContext::Run(ctx_.actions.refreshPanel);
}

void TValueForm::ShufLabelClick() {
    Prepare(ShuffleEntry(ctx_.m.song));
    const DialogResult result = Execute();
    if (EnterShuffle(ctx_.m, result, ToCp1252(Text()))) {
        AppContext::Run(ctx_.actions.refreshPanel);
    }
}

void TValueForm::FocusValue() {
    Value->setFocus(Qt::ActiveWindowFocusReason);
    Value->selectAll();
}

void TValueForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    FocusValue();
}

void TValueForm::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::ActivationChange && isActiveWindow()) FocusValue();
}

}  // namespace qtam
