#pragma once
// ValueDialog (once TValueForm): the modal dialog in which the user types a number (the panel's
// tempo and shuffle). What it gives back is always within the range it was prepared with: a number
// outside goes to the nearer limit, text that is not a number counts as the minimum. Its title
// and prompt name the value and its range, and "OK" on a value that would be stored otherwise
// first shows the value that will be stored.
//
// Thread: owner (the user-interface thread).

#include <QDialog>
#include <QSpinBox>
#include <optional>

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
    explicit ValueSpinBox(QWidget* parent = nullptr);

    // The text as the user last typed it or stepped to it, before the spin box rewrites it
    // (leaving the field, Enter) to the number it reads as; the field's text when untouched.
    QString TypedText() const;
    void ForgetTyped() { typed_.reset(); }
    void stepBy(int steps) override;

protected:
    QValidator::State validate(QString& text, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void fixup(QString& text) const override;

private:
    std::optional<QString> typed_;
};

class ValueDialog : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.valueForm, ctx.actions.enterTempo and ctx.actions.enterShuffle.
    explicit ValueDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Limits, arrow step, maximum length and initial value of the spin edit.
    void Prepare(const ValueEntry& entry);
    // The title and the prompt: which value, and its range.
    void Name(const QString& title, const QString& prompt);
    // The number the text stands for as it would be stored (range and grid of the entry).
    int StoredValue() const;
    // "OK": closes when the field shows what will be stored, otherwise corrects it first.
    void Confirm();
    // Shows the dialog modally (centred) and tells how it closed.
    DialogResult Execute();
    // The spin edit's text as it stands, and the number it reads as within the limits.
    QString Text() const;
    int EnteredValue() const;

    // The two uses: prepare, show modally, store on "OK" and refresh the panel.
    void EnterTempo();
    void EnterShuffle();

protected:
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void FocusValue();

    AppContext& ctx_;
    ValueEntry entry_{0, 0, 1, 3, 0};

    // The controls; tests find them by their object names.
    QLabel* ValueLabel;
    QLabel* CorrectionLabel;
    ValueSpinBox* Value;
    QPushButton* OkButton;
    QPushButton* CancelButton;
};

}  // namespace qtam
