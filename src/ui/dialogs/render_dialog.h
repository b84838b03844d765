#pragma once
// RenderDialog (once TStream): the "Stream to disk" dialog. Renders the edited measure, the whole
// edited pattern or the whole arrangement at once to a WAV, FLAC, Ogg Vorbis or AIFF file (as
// the chosen name says), with one file per channel beside it when asked and the sounds ringing
// out after the last measure when asked (always for an arrangement), showing the progress gauge
// and the current activity; or arms a live recording (always WAV) that the next playback fills
// until its stop.

#include <QDialog>

class QButtonGroup;
class QCheckBox;
class QGroupBox;
class QLabel;
class QPushButton;

namespace qtam {

struct AppContext;
class ProgressGauge;

// The type is the chosen name's: WAV, FLAC, Ogg Vorbis or AIFF.
inline constexpr const char* kStreamDialogTitle = "Save the render as a sound file";
inline constexpr const char* kStreamDialogFilter =
    "Wav files (*.wav)|*.wav|FLAC files (*.flac)|*.flac|Ogg Vorbis files (*.ogg)|*.ogg|"
    "AIFF files (*.aiff;*.aif)|*.aiff;*.aif|All files (*.*)|*.*";

class RenderDialog : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.stream and the action showStreamToDisk.
    RenderDialog(AppContext& ctx, QWidget* parent = nullptr);

    // Thread: owner (the user-interface thread) for every member.
    // "Stream to disk": shows the dialog (not modal).
    void ShowStreamToDisk();
    // Asks for the file, then renders (the offline modes, before it returns) or arms the live
    // recording; the dialog hides afterwards, but stays open when no file was chosen.
    void Confirm();
    void Dismiss() { hide(); }

Q_SIGNALS:
    // A live recording was armed or finished here (the panel's caption says so).
    void recordingChanged();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void PrepareToShow();
    void OfferArrangement();
    void ShowRenderLook();

    AppContext& ctx_;

    ProgressGauge* Progress;
    QLabel* WhatLabel;
    QLabel* Activity;
    QGroupBox* What;
    QButtonGroup* WhatItems;
    QCheckBox* Stems;  // one file per channel beside the rendered one
    QCheckBox* Tail;   // a measure or a pattern rings out after its last measure
    QPushButton* CancelButton;
    QPushButton* OkButton;
};

}  // namespace qtam
