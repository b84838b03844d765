#pragma once
// HihatDialog (once TSetHihat), "Define as hihat": the two hi-hat partners of one userbank slot,
// chosen among the editor's list entries. Shown modally by the userbank editor; changes only on
// "Ok".
//
// Thread: owner (the user-interface thread).

#include <QDialog>
#include <QStringList>

class QCheckBox;
class QComboBox;
class QPushButton;

namespace qtam {

struct AppContext;

class HihatDialog : public QDialog {
    Q_OBJECT
public:
    explicit HihatDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Shows the partners of userbank slot 1..20 with the editor's twenty entry texts, runs the
    // dialog modally and stores the choice when it closes with "Ok". True when it did.
    bool Execute(int slot, const QStringList& entries);

    // The two steps around the modal loop, also for driving the dialog without one.
    void Prepare(int slot, const QStringList& entries);
    void Apply();

private:
    AppContext& ctx_;
    int slot_ = 0;

    // The controls; tests find them by their object names.
    QCheckBox* FirstPartner;
    QCheckBox* SecondPartner;
    QComboBox* FirstPartnerSlot;
    QComboBox* SecondPartnerSlot;
    QPushButton* OkButton;
    QPushButton* CancelButton;
};

}  // namespace qtam
