#pragma once
// SongInfoWindow (once TSongInfo): the Song information window. Edit mode from "Song info"; view
// mode when an opened song introduces itself. Not modal: edits reach the panel's caption the next
// time the main window is activated.

#include <QDialog>

#include "song/song_info.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace qtam {

struct AppContext;

class SongInfoWindow : public QDialog {
    Q_OBJECT
public:
    // Sets ctx.songInfo and the actions showSongInfoEdit and showSongInfoView.
    SongInfoWindow(AppContext& ctx, QWidget* parent = nullptr);

    // Thread: owner (the user-interface thread) for every member.
    void ShowEdit();  // "Song info"
    void ShowView();  // a song whose showInfoOnOpen is set
    SongInfoMode Mode() const { return dialog_.mode(); }

    void Confirm();
    void Dismiss();

private:
    void ShowInMode(SongInfoMode mode);

    AppContext& ctx_;
    SongInfoDialog dialog_;

    QLineEdit* SongTitle;
    QLineEdit* Subtitle;
    QLineEdit* SongAuthor;
    QLineEdit* Copyright;
    QLineEdit* BankName;
    QLineEdit* FileName;
    QCheckBox* ShowOnOpen;
    QPushButton* OkButton;
    QPushButton* CancelButton;
};

}  // namespace qtam
