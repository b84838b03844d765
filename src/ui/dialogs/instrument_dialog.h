#pragma once
// InstrumentDialog (once TPatchSelect), "Select an instrument": the kit's and the userbank's twenty
// sounds in two lists, at most one entry selected across both. Selecting an entry (mouse or
// keys) plays its sound through whichever host plays, leaving the Song as it is. "Ok" (or a
// double click on an entry) gives the current channel that sound. It opens where it was last. Not
// modal; when it hides, the panel is told (ctx.actions.instrumentSelected) so that it re-activates
// its channel.
//
// Thread: owner (the user-interface thread).

#include <QDialog>

class QListWidget;
class QPushButton;

namespace qtam {

struct AppContext;

class InstrumentDialog : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.patchSelect and ctx.actions.selectInstrument.
    explicit InstrumentDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Fills both lists, selects the current channel's sound, then shows, raises and activates
    // the window.
    void ShowForCurrentChannel();

protected:
    void hideEvent(QHideEvent* event) override;

private:
    void PrepareToShow();
    void Confirm();
    void Audition();

    AppContext& ctx_;
    bool filling_ = false;  // the lists are being filled: nothing is played
    bool placed_ = false;   // shown before: it opens where it was
    QPoint place_;

    // The controls; tests find them by their object names.
    QListWidget* KitList;
    QListWidget* UserbankList;
    QPushButton* OkButton;
    QPushButton* CancelButton;
};

}  // namespace qtam
