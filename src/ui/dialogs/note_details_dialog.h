#pragma once
// NoteDetailsDialog (once TNoteDetail), "Note details": velocity, pan and direction of the step at
// CurrentStep of the current pattern, measure and channel. Not modal; it hides itself as soon as it
// loses the focus, so values not confirmed with "Ok" are dropped.
//
// Thread: owner (the user-interface thread).

#include <QDialog>

class QCheckBox;
class QLabel;
class QPushButton;
class QScrollBar;

namespace qtam {

struct AppContext;

class NoteDetailsDialog : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.noteDetail and ctx.actions.showNoteDetails.
    explicit NoteDetailsDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Reads the cell into the controls, then shows, raises and activates the window.
    void ShowDetails();

protected:
    void changeEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void PrepareToShow();
    void Confirm();

    AppContext& ctx_;
    bool wasActive_ = false;

    // The controls; tests find them by their object names.
    QLabel* Velocity;
    QScrollBar* VelocityScroll;
    QPushButton* MaxButton;
    QLabel* Panning;
    QScrollBar* PanScroll;
    QPushButton* CenterButton;  // "Center"
    QCheckBox* Reversed;
    QPushButton* OkButton;
    QPushButton* CancelButton;
};

}  // namespace qtam
