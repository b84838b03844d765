#pragma once
// TKorvath, the main window: the menu bar over an empty workspace, the configuration read at
// creation and written at exit, the questions that protect a changed Song, and the space bar.
//
// Thread: the user-interface thread.

#include <QList>
#include <QMainWindow>
#include <string>

#include "song/song_file.h"

class QAction;
class QActionGroup;
class QMenu;

namespace qtam {

struct AppContext;
class ConfigFile;
class SpaceBarKeys;

inline constexpr const char* kMainWindowCaption = "Vediveve Duzuda Duvivir 1.0";
inline constexpr const char* kSongFilter = "Song files (*.sng)|*.sng|All files (*.*)|*.*";
inline constexpr const char* kUserbankFilter = "Userbank files (*.ubf)|*.ubf|All files (*.*)|*.*";

class TKorvath : public QMainWindow {
    Q_OBJECT
public:
    // Runs FormCreate: reads `config`, puts the machine into its start state and, when
    // `commandLineSong` is not empty, loads that song quietly. `config` must outlive the window.
    TKorvath(AppContext& ctx, ConfigFile& config, const std::string& commandLineSong,
             QWidget* parent = nullptr);
    ~TKorvath() override;

    // The song named on the command line was loaded at start-up.
    bool LoadedFromCommandLine = false;

    // Shows the window centred on the screen, maximised when the configuration says so.
    void ShowAtStart();

    void FormActivate();
    // False while the about box shows, or when the closing question keeps the window open.
    bool FormCloseQuery();
    // Hides the other windows (the panel and the userbank editor among them).
    void FormClose();
    // Program exit: writes the configuration; a file that cannot be written is reported with
    // "Unable to write to ..." and the program still ends. False in that case.
    bool FormDestroy();
    // "&Quit": the changed-song question, then the loop ends (unless the save the user asked
    // for did not go through).
    void QuitMenuClick();
    void AboutmenuClick();

    // The two questions of the main window; true when the caller may go on.
    bool CheckSongChange();
    bool CheckSongChangeExit();

    // Menu states and captions from the Machine and the playback driver.
    void UpdateMenus();

    // The actions whose shortcuts must also work while the groove panel is the active window.
    QList<QAction*> ShortcutActions() const;

    // The song dialogs of the File menu, through ctx.dialogs.
    SongDialogs SongFileDialogs();

Q_SIGNALS:
    // The main window closed or "&Quit" was chosen: the program's loop is to end.
    void LoopEnds();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;

private:
    void FormCreate(const std::string& commandLineSong);
    void BuildMenus();
    QAction* Item(QMenu* menu, const char* caption, const QKeySequence& shortcut,
                  void (TKorvath::*handler)());
    QAction* Item(QMenu* menu, const char* caption, void (TKorvath::*handler)());
    // A menu edit of the Song: it is marked changed, the panel refreshed when asked.
    void Edited(void (*operation)(Machine&), bool refreshPanel);

    void NewSongClick();
    void OpenSongClick();
    void SaveSongClick();
    void SaveSongAsClick();
    void LoadUserbankClick();
    void EditorClick();
    void StepsClick(int steps);

    AppContext& ctx;
    ConfigFile& config_;
    std::string programPath_;
    bool quitting_ = false;
    SpaceBarKeys* spaceBar_ = nullptr;

    QAction* paste_ = nullptr;
    QAction* pasteMix_ = nullptr;
    QAction* steps16_ = nullptr;
    QAction* steps12_ = nullptr;
    QAction* humanize_ = nullptr;
    QAction* deviceSetup_ = nullptr;
    QAction* editor_ = nullptr;
    QAction* bankItem_ = nullptr;
    QAction* load_ = nullptr;
    QAction* about_ = nullptr;
    QList<QAction*> shortcutActions_;
};

}  // namespace qtam
