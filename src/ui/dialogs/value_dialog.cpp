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
#include "song/song_editor.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

ValueSpinBox::ValueSpinBox(QWidget* parent) : QSpinBox(parent) {
    connect(lineEdit(), &QLineEdit::textEdited, this, [this](const QString& t) { typed_ = t; });
}

QString ValueSpinBox::TypedText() const {
    return typed_ ? *typed_ : lineEdit()->text();
}

void ValueSpinBox::stepBy(int steps) {
    QSpinBox::stepBy(steps);
    typed_ = lineEdit()->text();
}

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
    // What a typed value is corrected to, shown before "OK" takes it.
    CorrectionLabel = new QLabel(this);
    CorrectionLabel->setObjectName(QStringLiteral("CorrectionLabel"));
    CorrectionLabel->setWordWrap(true);
    CorrectionLabel->hide();
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
    layout->addWidget(CorrectionLabel);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(OkButton, &QPushButton::clicked, this, &ValueDialog::Confirm);
    connect(Value->lineEdit(), &QLineEdit::textEdited, CorrectionLabel, &QWidget::hide);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void ValueDialog::Prepare(const ValueEntry& entry) {
    entry_ = entry;
    CorrectionLabel->hide();
    Value->ForgetTyped();
    Value->setRange(entry.minimum, entry.maximum);
    Value->setSingleStep(entry.increment);
    Value->lineEdit()->setMaxLength(entry.maxLength);
    Value->setValue(entry.value);
}

DialogResult ValueDialog::Execute() {
    CenterOverOwner(*this);
    return exec() == QDialog::Accepted ? DialogResult::Ok : DialogResult::Cancel;
}

void ValueDialog::Name(const QString& title, const QString& prompt) {
    setWindowTitle(title);
    ValueLabel->setText(prompt);
}

int ValueDialog::StoredValue() const {
    return StoredEntryValue(entry_, ToCp1252(Value->TypedText()));
}

void ValueDialog::Confirm() {
    // A value outside the range or between the steps is not changed silently: the field shows
    // what will be stored, and the next "OK" takes it.
    const QString typed = Value->TypedText().trimmed();
    const QString shown = QString::number(StoredValue());
    if (typed == shown) {
        accept();
        return;
    }
    CorrectionLabel->setText(QStringLiteral("\"%1\" is not a value that can be stored; %2 will "
                                            "be. Press OK to take it.")
                                 .arg(typed, shown));
    Value->lineEdit()->setText(shown);
    Value->ForgetTyped();
    CorrectionLabel->show();
    FocusValue();
}

QString ValueDialog::Text() const {
    return Value->lineEdit()->text();
}

int ValueDialog::EnteredValue() const {
    return ReadValueEntry(ToCp1252(Text()), Value->minimum(), Value->maximum());
}

void ValueDialog::EnterTempo() {
    Prepare(TempoEntry(ctx_.m.song));
    Name(QStringLiteral("Tempo (%1 to %2 BPM)").arg(entry_.minimum).arg(entry_.maximum),
         QStringLiteral("Tempo in beats per minute, from %1 to %2:")
             .arg(entry_.minimum)
             .arg(entry_.maximum));
    const DialogResult result = Execute();
    ctx_.edits.EnterTempo(result, ToCp1252(Text()));
}

void ValueDialog::EnterShuffle() {
    Prepare(ShuffleEntry(ctx_.m.song));
    Name(QStringLiteral("Shuffle (%1 to %2)").arg(entry_.minimum).arg(entry_.maximum),
         QStringLiteral("Shuffle, from %1 (none) to %2, in steps of %3:")
             .arg(entry_.minimum)
             .arg(entry_.maximum)
             .arg(entry_.increment));
    const DialogResult result = Execute();
    ctx_.edits.EnterShuffle(result, ToCp1252(Text()));
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

#include "moc_value_dialog.cpp"
