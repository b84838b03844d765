#pragma once
// TMakeBank, the "Userbank editor": builds a userbank from WAV and raw sounds, names them,
// sets their stretch and hi-hat partners, auditions and exports them, and saves and opens
// userbank files. It works directly on the Machine's userbank, the bank the mixer plays, so
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

inline constexpr const char* kAskSaveBankChanges = "Do you want do save your changes first ?";
inline constexpr const char* kAskClearSample = "Are you sure you want to clear this sample ?";

// Entry n (1..20) of the slot list: the number, two blanks (one for 10..20), then the slot's
// name, or "<empty>" for a slot without a sound.
QString BankEntryText(int n, const SampleSlot& slot);

// The name the export dialog proposes: the slot name without trailing blanks, with ".WAV"
// appended when it has no ".".
std::string ExportFileNameFor(const std::string& slotName);

// The 160 x 50 waveform of a slot, black on white. A slot without a sound (or null) gives the
// cleared picture: the frame and the centre line.
constexpr int kWaveFormWidth = 160;
constexpr int kWaveFormHeight = 50;
QImage WaveFormImage(const SampleSlot* slot);

// Shows the waveform picture pixel for pixel, enlarged without smoothing on dense screens.
class TWaveForm : public QWidget {
    Q_OBJECT
public:
    explicit TWaveForm(QWidget* parent = nullptr);
    void SetImage(QImage image);
    const QImage& Image() const { return image_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage image_;
};

class TMakeBank : public QMainWindow {
    Q_OBJECT
public:
    explicit TMakeBank(AppContext& ctx, QWidget* parent = nullptr);
    ~TMakeBank() override;

    // Main menu "&Editor": a new empty bank, the panel hidden, the editor shown.
    void OpenEditor();
    // "&Close and exit" and every other way of closing. False when the editor stays open
    // because the changes were to be saved first and were not.
    bool CloseEditor();

    // Imports a WAV or raw file into userbank slot 1..20 as "Import" does after its dialog.
    bool ImportFile(int slot, const std::string& path);

    // The list entry selected (0-based), or -1.
    int SelectedEntry() const;
    int LastSelectedEntry() const { return lastSelected_; }
    const std::string& EditorBankPath() const { return editorBankPath_; }
    QStringList EntryTexts() const;
    WaveOut& Playback() { return playback_; }

    // The window's components.
    QListWidget* Drumlist;
    QLineEdit* BankDescription;
    QLineEdit* Description;
    QPushButton* PlayButton;
    QPushButton* ImportButton;
    QPushButton* ExportButton;
    QPushButton* Clearbutton;
    QCheckBox* Stretch;
    QComboBox* Measures;
    TWaveForm* WaveForm;

    QMenu* FileMenu;
    QAction* NewBankItem;
    QAction* OpenBankItem;
    QAction* SaveBankItem;
    QAction* SaveBankAsItem;
    QAction* CloseItem;
    QMenu* SampleMenu;
    QAction* ImportItem;
    QAction* ExportItem;
    QAction* ClearItem;
    QAction* PlayItem;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildWindow();
    void BuildMenus();

    void FormShow();
    void FormActivate();
    void SetupPlayback();

    void RefillList();
    void ShowSelectedSlot();
    void SelectFirstEntry();
    void DrumlistSelectionChanged();
    void CommitName(int entry);
    void CommitPendingName();
    void TakeOverBankDescription();

    bool ChangeCheck();
    void NewBank();
    void OpenBank();
    bool SaveBank();
    bool SaveBankAs();

    void ImportClick();
    void ExportClick();
    void ClearClick();
    void PlayClick();
    void StretchClick();
    void MeasuresChange(const QString& text);
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
};

}  // namespace qtam
