#include "ui/qt/prompter.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include "ui/qt/keyboard_return.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"

namespace qtam {

QtPrompter::~QtPrompter() {
    if (QApplication::instance() == nullptr) return;
    while (busyDepth_ > 0) SetBusy(false);
}

void QtPrompter::SetFallbackParent(QWidget* parent) {
    fallback_ = parent;
    FollowActiveWindows();
    ReturnKeyboardAfterDialogs();
}

QWidget* QtPrompter::Parent() const {
    return WindowThatAsks(fallback_.data());
}

void QtPrompter::Run(QMessageBox& box) {
    // Over the window that asked (its owner), never above other programs; the splash, which
    // stays on top and would cover a box that blocks it, goes first.
    ClearWindowsKeptOnTop();
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    box.exec();
    QApplication::restoreOverrideCursor();
    // The keyboard goes back to the window that asked by the rule for every dialog
    // (ReturnKeyboardAfterDialogs).
}

void QtPrompter::Warn(const std::string& text) {
    QMessageBox box(QMessageBox::Warning, kWarningCaption, FromPath(text), QMessageBox::NoButton,
                    Parent());
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    Run(box);
}

void QtPrompter::Inform(const std::string& text) {
    QMessageBox box(QMessageBox::Information, kInformationCaption, FromPath(text),
                    QMessageBox::NoButton, Parent());
    QPushButton* ok = box.addButton(QStringLiteral("OK"), QMessageBox::AcceptRole);
    box.setDefaultButton(ok);
    box.setEscapeButton(ok);
    Run(box);
}

bool QtPrompter::AskYesNo(const std::string& text) {
    QMessageBox box(QMessageBox::Question, kConfirmCaption, FromPath(text), QMessageBox::NoButton,
                    Parent());
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    box.setDefaultButton(yes);
    // Escape and the close box decline.
    box.setEscapeButton(no);
    Run(box);
    return box.clickedButton() == yes;
}

Answer QtPrompter::AskYesNoCancel(const std::string& text) {
    QMessageBox box(QMessageBox::Question, kConfirmCaption, FromPath(text), QMessageBox::NoButton,
                    Parent());
    QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
    QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(QStringLiteral("Cancel"), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
    Run(box);
    if (box.clickedButton() == yes) return Answer::Yes;
    if (box.clickedButton() == no) return Answer::No;
    return Answer::Cancel;
}

void QtPrompter::SetBusy(bool busy) {
    if (busy) {
        ++busyDepth_;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0) {
        --busyDepth_;
        QApplication::restoreOverrideCursor();
    }
}

}  // namespace qtam
