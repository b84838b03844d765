#include "ui/set_hihat.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "core/machine.h"
#include "ui/app_context.h"

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

TSetHihat::TSetHihat(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ctx_(ctx) {
    ctx_.setHihat = this;
    setObjectName("SetHihat");
    setWindowTitle("Define as hihat");
    setModal(true);

    auto* label = new QLabel("Identify the other states (open/closed/pedal/...)");
    Hihat1 = new QCheckBox("Hihat 1 ");
    Hihat2 = new QCheckBox("Hihat 2 ");
    Combo1 = new QComboBox;
    Combo2 = new QComboBox;
    Hihat1->setObjectName("Hihat1");
    Hihat2->setObjectName("Hihat2");
    Combo1->setObjectName("Combo1");
    Combo2->setObjectName("Combo2");
    // The entries keep their numbers in one column, as in the editor's list.
    for (QComboBox* combo : {Combo1, Combo2}) {
        combo->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
        combo->setMinimumContentsLength(24);
    }
    CancelButton = new QPushButton("Cancel");
    OkButton = new QPushButton("Ok");
    OkButton->setDefault(true);

    auto* grid = new QGridLayout;
    grid->addWidget(Hihat1, 0, 0);
    grid->addWidget(Combo1, 0, 1);
    grid->addWidget(Hihat2, 1, 0);
    grid->addWidget(Combo2, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(CancelButton);
    buttons->addWidget(OkButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addLayout(grid);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(Hihat1, &QCheckBox::toggled, Combo1, &QComboBox::setEnabled);
    connect(Hihat2, &QCheckBox::toggled, Combo2, &QComboBox::setEnabled);
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void TSetHihat::Prepare(int slot, const QStringList& entries) {
    slot_ = slot;
    for (QComboBox* combo : {Combo1, Combo2}) {
        combo->clear();
        combo->addItems(entries);
    }
    const SampleSlot& s = ctx_.m.banks.userbank.slot(slot);
    ShowPartner(Hihat1, Combo1, s.hihat1);
    ShowPartner(Hihat2, Combo2, s.hihat2);
}

void TSetHihat::Apply() {
    SampleSlot& s = ctx_.m.banks.userbank.slot(slot_);
    s.hihat1 = ChosenPartner(Hihat1, Combo1);
    s.hihat2 = ChosenPartner(Hihat2, Combo2);
    ctx_.m.activation.BankChanged = true;
}

bool TSetHihat::Execute(int slot, const QStringList& entries) {
    if (slot < 1 || slot > kBankSlots) return false;
    Prepare(slot, entries);
    adjustSize();
    if (QScreen* shown = screen()) move(shown->availableGeometry().center() - rect().center());
    if (exec() != QDialog::Accepted) return false;
    Apply();
    return true;
}

}  // namespace qtam
