#include "ui/dialogs/instrument_dialog.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QSpacerItem>
#include <QVBoxLayout>

#include "banks/instrument_select.h"
#include "core/machine.h"
#include "engine/audio/playback.h"
#include "song/song_editor.h"
#include "ui/qt/desktop_conventions.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

QListWidget* MakeList(QWidget* parent, const char* name, const QString& spoken) {
    auto* list = new QListWidget(parent);
    list->setObjectName(QString::fromLatin1(name));
    list->setAccessibleName(spoken);
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

InstrumentDialog::InstrumentDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool), ctx_(ctx) {
    setWindowTitle(QStringLiteral("Select an instrument"));

    KitList = MakeList(this, "KitList", QStringLiteral("Sounds of the kit"));
    UserbankList = MakeList(this, "UserbankList", QStringLiteral("Sounds of the userbank"));
    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);

    auto* lists = new QGridLayout;
    lists->addWidget(new QLabel(QStringLiteral("Internal bank"), this), 0, 0);
    lists->addWidget(new QLabel(QStringLiteral("User bank"), this), 0, 1);
    lists->addWidget(KitList, 1, 0);
    lists->addWidget(UserbankList, 1, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(okCancel);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(lists);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // Wide enough for the whole title as the title bar shows it, the program's name after it.
    const QString shown =
        windowTitle() + QStringLiteral(" \u2014 ") + QGuiApplication::applicationDisplayName();
    layout->addSpacerItem(
        new QSpacerItem(TitleWidthNeeded(shown, *this), 0, QSizePolicy::Fixed, QSizePolicy::Fixed));

    // One selection across both lists: selecting in one clears the other.
    auto exclusive = [](QListWidget* list, QListWidget* other) {
        QObject::connect(list, &QListWidget::itemSelectionChanged, other, [list, other] {
            if (!list->selectedItems().isEmpty()) other->clearSelection();
        });
    };
    exclusive(KitList, UserbankList);
    exclusive(UserbankList, KitList);
    for (QListWidget* list : {KitList, UserbankList}) {
        connect(list, &QListWidget::itemDoubleClicked, this, &InstrumentDialog::Confirm);
        // Heard as it is chosen, by the arrows or the mouse.
        connect(list, &QListWidget::itemSelectionChanged, this, [this, list] {
            if (!list->selectedItems().isEmpty()) Audition();
        });
    }
    connect(OkButton, &QPushButton::clicked, this, &InstrumentDialog::Confirm);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
}

void InstrumentDialog::ShowForCurrentChannel() {
    PrepareToShow();
    if (!isVisible()) {
        if (placed_)
            move(place_);
        else
            CenterOverOwner(*this);
    }
    show();
    raise();
    activateWindow();
}

void InstrumentDialog::hideEvent(QHideEvent* event) {
    place_ = pos();
    placed_ = true;
    QDialog::hideEvent(event);
}

void InstrumentDialog::Audition() {
    if (filling_) return;
    const int instrument = InstrumentOfRows({SelectedRow(KitList), SelectedRow(UserbankList)});
    if (instrument > 0) ctx_.playback.Audition(instrument);
}

void InstrumentDialog::PrepareToShow() {
    filling_ = true;
    Fill(KitList, ctx_.m.banks.internalBank);
    Fill(UserbankList, ctx_.m.banks.userbank);
    const InstrumentRows rows = RowsOfCurrentInstrument(ctx_.m);
    // Clear both first: selecting in one list clears the other only when something is chosen.
    KitList->clearSelection();
    UserbankList->clearSelection();
    SelectRow(KitList, rows.internalRow);
    SelectRow(UserbankList, rows.externalRow);
    (rows.externalRow >= 0 ? UserbankList : KitList)->setFocus();
    filling_ = false;
}

void InstrumentDialog::Confirm() {
    const InstrumentRows rows{SelectedRow(KitList), SelectedRow(UserbankList)};
    ctx_.edits.ChooseInstrument(InstrumentOfRows(rows));
    accept();
}

}  // namespace qtam

#include "moc_instrument_dialog.cpp"
