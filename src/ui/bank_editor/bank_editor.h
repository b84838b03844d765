#pragma once
// BankEditor (once TMakeBank), the "Userbank editor": builds a userbank from WAV and raw sounds,
// names them, sets their stretch and hi-hat partners, auditions and exports them, and saves and
// opens userbank files. It works directly on the Machine's userbank, the bank the mixer plays, so
// the groove panel is hidden while it is open; after it closes the active userbank is read
// again from its file.
//
// Thread: owner (the user-interface thread) for everything here.

#include <QImage>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <string>

#include "engine/audio/wave_out.h"
#include "ui/bank_editor/waveform_view.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QListWidget;
class QMenu;
class QPushButton;

namespace qtam {

struct AppContext;
struct SampleSlot;
class HihatDialog;

inline constexpr const char* kAskSaveBankChanges = "Do you want to save your changes first?";
inline constexpr const char* kAskClearSample = "Are you sure you want to clear this sample?";

// Entry n (1..20) of the slot list: the number, two blanks (one for 10..20), then the slot's
// name, or "<empty>" for a slot without a sound.
QString BankEntryText(int n, const SampleSlot& slot);

// The name the export dialog proposes: the slot name without trailing blanks, with ".WAV"
// appended when it has no ".".
std::string ExportFileNameFor(const std::string& slotName);

class BankEditor : public QMainWindow {
    Q_OBJECT
public:
    explicit BankEditor(AppContext& ctx, QWidget* parent = nullptr);
    ~BankEditor() override;

    // Main menu "&Editor": a new empty bank, the panel hidden, the editor shown.
    void OpenEditor();
    // "&Close and exit" and every other way of closing. False when the editor stays open
    // because the changes were to be saved first and were not.
    bool CloseEditor();

    // Imports a sound file (converted after a question when it is not 16-bit mono 44100 Hz) or
    // a raw file into userbank slot 1..20 as "Import" does after its dialog. When the file is
    // refused, the reason the import gave is shown as a warning.
    bool ImportFile(int slot, const std::string& path);

    // The list entry selected (0-based), or -1.
    int SelectedEntry() const;
    const std::string& EditorBankPath() const { return editorBankPath_; }
    QStringList EntryTexts() const;
    WaveOut& Playback() { return playback_; }

    // The hi-hat dialog that "Define as hihat" runs (set by the application).
    void SetHihatDialog(HihatDialog* dialog) { Hihat = dialog; }

Q_SIGNALS:
    // The editor opens: the groove panel goes while it is open.
    void opening();
    // The editor closes: the panel comes back (before the active userbank is read again).
    void closing();
    // The editor has closed and the active userbank is read again.
    void closed();
    // The menus that depend on the editor changed state.
    void menusChanged();

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWindow();
    void BuildMenus();

    void PrepareToShow();
    void OnActivated();
    void SetupPlayback();

    void RefillList();
    void ShowSelectedSlot();
    void SelectFirstEntry();
    void SlotSelectionChanged();
    void CommitName(int entry);
    void CommitPendingName();
    void TakeOverBankDescription();

    bool AskToSaveBank();
    void NewBank();
    // File > Import kit: a drum kit of another program becomes the bank being edited.
    void ImportKitAsBank();
    void OpenBank();
    bool SaveBank();
    bool SaveBankAs();
    // After a save: the saved file becomes the active userbank.
    void MakeSavedBankActive();

    void ImportIntoSelectedSlot();
    void ExportSample();
    void ClearSample();
    void PlaySample();
    void ToggleStretch();
    void MeasuresEdited(const QString& text);
    void MeasuresEditingFinished();
    void StoreMeasures(int measures);
    void DefineHihat();

    bool DragAcceptable(const QEvent* event, std::string* path, int* row) const;
    void DropFile(int row, const std::string& path);

    AppContext& ctx_;
    WaveOut playback_;
    std::string editorBankPath_;
    int lastSelected_ = 0;
    int nameShownFor_ = -1;  // the entry whose slot name Description holds, or -1
    bool showing_ = false;   // the window itself is setting the fields, not the user
    bool closing_ = false;
    HihatDialog* Hihat = nullptr;

    // The window's components; tests find them by their object names.
    QListWidget* SlotList;
    QLineEdit* BankDescription;
    QLineEdit* Description;
    QPushButton* PlayButton;
    QPushButton* ImportButton;
    QPushButton* ExportButton;
    QPushButton* ClearButton;
    QCheckBox* Stretch;
    QComboBox* Measures;
    WaveformView* Waveform;

    QMenu* FileMenu;
    QAction* NewBankItem;
    QAction* OpenBankItem;
    QAction* ImportKitItem;
    QAction* SaveBankItem;
    QAction* SaveBankAsItem;
    QAction* CloseItem;
    QMenu* SampleMenu;
    QAction* ImportItem;
    QAction* ExportItem;
    QAction* ClearItem;
    QAction* PlayItem;
};

}  // namespace qtam
