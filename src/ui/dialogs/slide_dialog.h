#pragma once
// SlideDialog (once TCustomFX): the Custom effect dialog behind "Custom velocity slide" and "Custom
// pan slide". Two scroll bars choose the ramp's value on step 1 and on the measure's last step.

#include <QDialog>

#include "song/slides.h"

class QLabel;
class QPushButton;
class QScrollBar;

namespace qtam {

struct AppContext;

class SlideDialog : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.customFX and the actions customVelocitySlide and customPanSlide.
    SlideDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Shows the dialog modally with both bars at 64 and lays the chosen ramp over the notes
    // of the current channel when it ends with "Ok". Thread: owner (the user-interface thread).
    DialogResult RunSlide(SlideField field);

protected:
    void showEvent(QShowEvent* event) override;

private:
    AppContext& ctx_;

    QLabel* TopLabel;
    QScrollBar* StartBar;
    QLabel* StartValue;
    QLabel* BottomLabel;
    QScrollBar* EndBar;
    QLabel* EndValue;
    QPushButton* OkButton;
    QPushButton* CancelButton;
};

}  // namespace qtam
