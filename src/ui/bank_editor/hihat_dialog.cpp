#include "ui/bank_editor/hihat_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "core/machine.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

// A partner byte as the box and list show it: checked with entry (partner - 1) selected.
void ShowPartner(QCheckBox* box, QComboBox* combo, std::uint8_t partner) {
    box->setChecked(partner > 0);
    combo->setEnabled(partner > 0);
    combo->setCurrentIndex(partner > 0 && partner <= kBankSlots ? partner - 1 : -1);
}

// Unchecked, or checked with nothing selected, gives no partner.
std::uint8_t ChosenPartner(const QCheckBox* box, const QComboBox* combo) {
    if (!box->isChecked() || combo->currentIndex() < 0) return 0;
    return static_cast<std::uint8_t>(combo->currentIndex() + 1);
}

}  // namespace

HihatDialog::HihatDialog(AppContext& ctx, QWidget* parent) : QDialog(parent, Qt::Tool), ctx_(ctx) {
    setObjectName("HihatDialog");
    setWindowTitle("Define as hihat");
    setModal(true);

    auto* label = new QLabel("Identify the other states (open/closed/pedal/...)");
    FirstPartner = new QCheckBox("Hihat 1 ");
    SecondPartner = new QCheckBox("Hihat 2 ");
    FirstPartnerSlot = new QComboBox;
    SecondPartnerSlot = new QComboBox;
    FirstPartnerSlot->setAccessibleName(QStringLiteral("Slot of hi-hat 1"));
    SecondPartnerSlot->setAccessibleName(QStringLiteral("Slot of hi-hat 2"));
    FirstPartner->setObjectName("FirstPartner");
    SecondPartner->setObjectName("SecondPartner");
    FirstPartnerSlot->setObjectName("FirstPartnerSlot");
    SecondPartnerSlot->setObjectName("SecondPartnerSlot");
    // The entries keep their numbers in one column, as in the editor's list.
    for (QComboBox* combo : {FirstPartnerSlot, SecondPartnerSlot}) {
        combo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        combo->setMinimumContentsLength(24);
    }
    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);

    auto* grid = new QGridLayout;
    grid->addWidget(FirstPartner, 0, 0);
    grid->addWidget(FirstPartnerSlot, 0, 1);
    grid->addWidget(SecondPartner, 1, 0);
    grid->addWidget(SecondPartnerSlot, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(FirstPartner, &QCheckBox::toggled, FirstPartnerSlot, &QComboBox::setEnabled);
    connect(SecondPartner, &QCheckBox::toggled, SecondPartnerSlot, &QComboBox::setEnabled);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void HihatDialog::Prepare(int slot, const QStringList& entries) {
    slot_ = slot;
    for (QComboBox* combo : {FirstPartnerSlot, SecondPartnerSlot}) {
        combo->clear();
        combo->addItems(entries);
    }
    const SampleSlot& s = ctx_.m.banks.userbank.slot(slot);
    ShowPartner(FirstPartner, FirstPartnerSlot, s.hihat1);
    ShowPartner(SecondPartner, SecondPartnerSlot, s.hihat2);
}

void HihatDialog::Apply() {
    SampleSlot& s = ctx_.m.banks.userbank.slot(slot_);
    s.hihat1 = ChosenPartner(FirstPartner, FirstPartnerSlot);
    s.hihat2 = ChosenPartner(SecondPartner, SecondPartnerSlot);
    ctx_.m.activation.BankChanged = true;
}

bool HihatDialog::Execute(int slot, const QStringList& entries) {
    if (slot < 1 || slot > kBankSlots) return false;
    Prepare(slot, entries);
    CenterOverOwner(*this);
    if (exec() != QDialog::Accepted) return false;
    Apply();
    return true;
}

}  // namespace qtam

#include "moc_hihat_dialog.cpp"
