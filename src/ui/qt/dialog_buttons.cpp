#include "ui/qt/dialog_buttons.h"

#include <QDialogButtonBox>
#include <QPushButton>

namespace qtam {

QDialogButtonBox* OkCancelButtons(QWidget* parent, QPushButton*& ok, QPushButton*& cancel) {
    auto* box = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, parent);
    box->setObjectName(QStringLiteral("OkCancel"));
    ok = box->button(QDialogButtonBox::Ok);
    cancel = box->button(QDialogButtonBox::Cancel);
    ok->setObjectName(QStringLiteral("OkButton"));
    cancel->setObjectName(QStringLiteral("CancelButton"));
    ok->setDefault(true);
    return box;
}

}  // namespace qtam
