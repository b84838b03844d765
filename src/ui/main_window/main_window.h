#pragma once
// MainWindow (once TKorvath), the main window: the menu bar over an empty workspace, the
// configuration read at creation and written at exit, the questions that protect a changed Song,
// and the space bar.
//
// Thread: the user-interface thread.

#include <QList>
#include <QMainWindow>
#include <functional>
#include <string>
#include <vector>

#include "song/song_file.h"

class QAction;
class QActionGroup;
class QMenu;
class QTimer;

namespace qtam {

struct AppContext;
class ConfigFile;
class SpaceBarKeys;

inline constexpr const char* kMainWindowCaption = "Vediveve Duzuda Duvivir 1.0";
inline constexpr const char* kSongFilter = "Song files (*.sng)|*.sng|All files (*.*)|*.*";
inline constexpr const char* kUserbankFilter = "Userbank files (*.ubf)|*.ubf|All files (*.*)|*.*";

class MainWindow : public QMainWindow {
    Q_OBJECT
public:
    // Runs SetUp: reads `config`, puts the machine into its start state and, when
    // `commandLineSong` is not empty, loads that song quietly (a userbank named there instead
    // becomes the userbank the first activation loads). `config` must outlive the window.
    MainWindow(AppContext& ctx, ConfigFile& config, const std::string& commandLineSong,
               QWidget* parent = nullptr);
    ~MainWindow() override;

    // The song named on the command line was loaded at start-up.
    bool LoadedFromCommandLine = false;

    // Shows the window centred on the screen, maximised when the configuration says so.
    void ShowAtStart();

    void OnActivated();
    // False while the about box shows, while a dialog is open (which then comes forward), or
    // when the closing question keeps the window open.
    bool MayClose();
    // The dialog that waits for the user: the modal one, else any that shows; null when none.
    QWidget* OpenDialog() const;
    // Hides the other windows (the panel and the userbank editor among them).
    void HideOtherWindows();
    // Program exit: writes the configuration; a file that cannot be written is reported with
    // "Unable to write to ..." and the program still ends. False in that case.
    bool SaveConfigurationAtExit();
    // "&Quit": the changed-song question, then the loop ends (unless the save the user asked
    // for did not go through).
    void Quit();
    void ShowAboutBox();

    // The two questions of the main window; true when the caller may go on.
    bool AskToSaveChanges();
    bool AskToSaveBeforeExit();

    // Menu states and captions from the Machine and the playback driver.
    void UpdateMenus();
    // The caption, with "*" before it while the Song has unsaved changes.
    void ShowCaption();
    // "&Undo" and "&Redo" with the texts of the edits they take, off when there is none.
    void UpdateUndoItems();

    // The actions whose shortcuts must also work while the groove panel is the active window.
    QList<QAction*> ShortcutActions() const;

    // The song dialogs of the File menu, through ctx.dialogs.
    SongDialogs SongFileDialogs();

    // A file dropped onto the window: a userbank (known by its signature) is loaded as
    // "&Load" does, anything else is opened as a song as "Open song" does.
    void OpenFile(const std::string& file);
    // File > Recent songs: the song at `index` of the list opened as "Open song" opens it; one
    // that has gone is taken off the list, with a message.
    void OpenRecentSong(int index);
    const std::vector<std::string>& RecentSongs() const;

    // Various > Tap tempo (and the panel's Tap): the taps set the tempo; the tapping ends, as
    // one undoable edit, TapTempo::kTimeout after the last tap.
    void Tap();
    QAction* TapAction() const { return tap_; }

    // Asked before the song or the program goes away: closes the userbank editor, which asks
    // about its own changes first; false keeps everything open. Set by the application.
    std::function<bool()> CloseBankEditor;
    // The about box, which "&About" shows and which holds off closing while it shows (set by
    // the application; without it there is none).
    void SetAboutBox(QWidget* box) { AboutBoxWindow = box; }

Q_SIGNALS:
    // The main window closed or "&Quit" was chosen: the program's loop is to end.
    void LoopEnds();
    // Menu items that open another window.
    void songInfoRequested();
    void songIntroductionRequested();  // an opened song asks to show its information
    void renderRequested();
    void velocitySlideRequested();
    void panSlideRequested();
    void deviceSetupRequested();
    void midiSetupRequested();
    void bankEditorRequested();
    // "&Groove panel": the panel is to come back (shown, restored, active).
    void groovePanelRequested();
    // Window > Pattern grid.
    void patternGridRequested();
    void arrangementRequested();
    // The window became active (after OnActivated).
    void activated();

protected:
    bool event(QEvent* e) override;
    void closeEvent(QCloseEvent* e) override;
    void keyPressEvent(QKeyEvent* e) override;
    void keyReleaseEvent(QKeyEvent* e) override;
    void dragEnterEvent(QDragEnterEvent* e) override;
    void dropEvent(QDropEvent* e) override;

private:
    void SetUp(const std::string& commandLineSong);
    void BuildMenus();
    void BuildClickMenu(QMenu* various);
    void FillRecentMenu();
    void ApplyClicks();
    // The "&Window" menu, the way back to a minimised or hidden groove panel.
    void AddWindowMenu();
    QAction* Item(QMenu* menu, const char* caption, const QKeySequence& shortcut,
                  void (MainWindow::*handler)());
    QAction* Item(QMenu* menu, const char* caption, void (MainWindow::*handler)());
    void NewSong();
    void OpenSong();
    void OpenSongThrough(const SongDialogs& dialogs);
    void SaveSong();
    void SaveSongAs();
    // File > Export MIDI file: the edited pattern as `qtam-cli midi` writes it.
    void ExportMidi();
    void LoadUserbank();
    void LoadUserbankFile(const std::string& file);
    void OpenBankEditor();
    void ChooseStepsPerMeasure(int steps);
    void Undo();
    void Redo();

    AppContext& ctx;
    ConfigFile& config_;
    std::string programPath_;
    bool quitting_ = false;
    SpaceBarKeys* spaceBar_ = nullptr;
    QWidget* AboutBoxWindow = nullptr;  // null: there is none

    QAction* undo_ = nullptr;
    QAction* redo_ = nullptr;
    QAction* paste_ = nullptr;
    QAction* pasteMix_ = nullptr;
    QAction* steps16_ = nullptr;
    QAction* steps12_ = nullptr;
    QAction* humanize_ = nullptr;
    QAction* deviceSetup_ = nullptr;
    QAction* recordPads_ = nullptr;
    QAction* metronome_ = nullptr;
    QAction* countInRecord_ = nullptr;
    QAction* countInStart_ = nullptr;
    QList<QAction*> levels_;
    QAction* tap_ = nullptr;
    QTimer* tapEnd_ = nullptr;
    QMenu* recent_ = nullptr;
    QAction* editor_ = nullptr;
    QAction* bankItem_ = nullptr;
    QAction* load_ = nullptr;
    QAction* about_ = nullptr;
    QList<QAction*> shortcutActions_;
};

}  // namespace qtam
