#pragma once
// ValueDialog (once TValueForm): the modal dialog in which the user types a number (the panel's
// tempo and shuffle). What it gives back is always within the range it was prepared with: a number
// outside goes to the nearer limit, text that is not a number counts as the minimum.
//
// Thread: owner (the user-interface thread).

#include <QDialog>
#include <QSpinBox>

#include "song/slides.h"

class QLabel;
class QPushButton;

namespace qtam {

struct AppContext;

// A spin edit that keeps whatever the user types (up to its maximum length) and reads it with
// the value entry's range rules instead of refusing keys.
class ValueSpinBox : public QSpinBox {
public:
    using QSpinBox::lineEdit;
    using QSpinBox::QSpinBox;

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void fixup(QString& text) const override;
};

class ValueDialog : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.valueForm, ctx.actions.enterTempo and ctx.actions.enterShuffle.
    explicit ValueDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Limits, arrow step, maximum length and initial value of the spin edit.
    void Prepare(const ValueEntry& entry);
    // Shows the dialog modally (centred) and tells how it closed.
    DialogResult Execute();
    // The spin edit's text as it stands, and the number it reads as within the limits.
    QString Text() const;
    int EnteredValue() const;

    // The two uses: prepare, show modally, store on "Ok" and refresh the panel.
    void EnterTempo();
    void EnterShuffle();

    QLabel* ValueLabel;
    ValueSpinBox* Value;
    QPushButton* OkButton;
    QPushButton* CancelButton;

Q_SIGNALS:
    // The Song changed: the panel shows it again.
    void songEdited();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FocusValue();

    AppContext& ctx_;
};

}  // namespace qtam
