#include "ui/patch_select.h"

#include <QGridLayout>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include "banks/instrument_select.h"
#include "core/machine.h"
#include "ui/app_context.h"
#include "ui/qt_text.h"
#include "ui/window_placement.h"

namespace qtam {

namespace {

QListWidget* MakeList(QWidget* parent, const char* name) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    // Room for a slot name of twenty characters.
    list->setFixedWidth(list->fontMetrics().averageCharWidth() * 24 + 2 * list->frameWidth());
    // Twenty entries in view, without scrolling.
    list->setMinimumHeight(list->fontMetrics().height() * 20 + 2 * list->frameWidth() + 8);
    for (int i = 0; i < kBankSlots; ++i) list->addItem(QString());
    return list;
}

void Fill(QListWidget* list, const SampleBank& bank) {
    for (int n = 1; n <= kBankSlots; ++n) {
        list->item(n - 1)->setText(FromCp1252(InstrumentEntryText(bank.slot(n))));
    }
}

void SelectRow(QListWidget* list, int row) {
    list->clearSelection();
    if (row < 0) return;
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    list->scrollToItem(list->item(row));
}

int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

}  // namespace

TPatchSelect::TPatchSelect(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool | Qt::WindowStaysOnTopHint), ctx_(ctx) {
    setWindowTitle(QStringLiteral("Select an instrument"));

    PInternal = MakeList(this, "PInternal");
    PExternal = MakeList(this, "PExternal");
    OkButton = new QPushButton(QStringLiteral("Ok"), this);
    OkButton->setObjectName(QStringLiteral("OkButton"));
    OkButton->setDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setObjectName(QStringLiteral("CancelButton"));

    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(QStringLiteral("Internal bank"), this), 0, 0);
    lists->addWidget(new QLabel(QStringLiteral("User bank"), this), 0, 1);
    lists->addWidget(PInternal, 1, 0);
    lists->addWidget(PExternal, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OkButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    // One selection across both lists: selecting in one clears the other.
    auto exclusive = [](QListWidget* list, QListWidget* other) {
        QObject::connect(list, &QListWidget::itemSelectionChanged, other, [list, other] {
            if (!list->selectedItems().isEmpty()) other->clearSelection();
        });
    };
    exclusive(PInternal, PExternal);
    exclusive(PExternal, PInternal);
    for (QListWidget* list : {PInternal, PExternal}) {
        connect(list, &QListWidget::itemDoubleClicked, this, &TPatchSelect::OkButtonClick);
    }
    connect(OkButton, &QPushButton::clicked, this, &TPatchSelect::OkButtonClick);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    ctx_.patchSelect = this;
    ctx_.actions.selectInstrument = [this] { ShowForCurrentChannel(); };
}

void TPatchSelect::ShowForCurrentChannel() {
    FormShow();
    if (!isVisible()) CenterOnScreen(*this);
    show();
    raise();
    activateWindow();
}

void TPatchSelect::FormShow() {
    Fill(PInternal, ctx_.m.banks.internalBank);
    Fill(PExternal, ctx_.m.banks.userbank);
    const InstrumentRows rows = RowsOfCurrentInstrument(ctx_.m);
    // Clear both first: selecting in one list clears the other only when something is chosen.
    PInternal->clearSelection();
    PExternal->clearSelection();
    SelectRow(PInternal, rows.internalRow);
    SelectRow(PExternal, rows.externalRow);
    (rows.externalRow >= 0 ? PExternal : PInternal)->setFocus();
}

void TPatchSelect::OkButtonClick() {
    const InstrumentRows rows{SelectedRow(PInternal), SelectedRow(PExternal)};
    if (SelectInstrumentOk(ctx_.m, rows)) AppContext::Run(ctx_.actions.refreshPanel);
    accept();
}

void TPatchSelect::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    if (!event->spontaneous()) AppContext::Run(ctx_.actions.instrumentSelected);
}

}  // namespace qtam
