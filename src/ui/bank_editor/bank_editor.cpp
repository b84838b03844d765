#include "ui/bank_editor/bank_editor.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <cmath>

#include "banks/instrument_select.h"
#include "banks/kit.h"
#include "banks/kit_import.h"
#include "banks/sound_file.h"
#include "banks/userbank_file.h"
#include "banks/wav_io.h"
#include "core/file_dialogs.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/text_codec.h"
#include "engine/audio/playback.h"
#include "engine/device_settings.h"
#include "ui/bank_editor/hihat_dialog.h"
#include "ui/qt/text.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

constexpr const char* kBankFilter = "Userbank files (*.ubf)|*.ubf|All files (*.*)|*.*";
constexpr const char* kRawFilters =
    "Raw samples (*.raw)|*.raw|Raw PCM data (*.pcm)|*.pcm|Raw tracker samples (*.sam)|*.sam|Raw "
    "samples (*.smp)|*.smp";
constexpr const char* kRawKinds[] = {"raw", "pcm", "sam", "smp"};
constexpr const char* kWavFilter = "WAV files (*.wav)|*.wav|All files (*.*)|*.*";
constexpr const char* kWavExtension = ".WAV";
constexpr int kMaxMeasures = 4;

// The number at the start of the Measures text when it is one of 1..4, else 0.
int MeasuresIn(const QString& text) {
    bool ok = false;
    const int n = text.left(10).trimmed().toInt(&ok);
    return ok && n >= 1 && n <= kMaxMeasures ? n : 0;
}

// The import dialog's filter: every kind of sound file that can be read first, then WAV
// files and the raw kinds one by one, then all files (raw data has no name of its own).
std::string ImportFilter() {
    const std::string sounds = SoundFilePatterns();
    return "Sound files (" + sounds + ")|" + sounds + "|Windows wave files (*.wav)|*.wav|" +
           kRawFilters + "|All files (*.*)|*.*";
}

// The files a drop imports: the kinds the import dialog offers, by extension.
bool IsImportableName(const QString& fileName) {
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    for (const char* kind : kRawKinds)
        if (suffix == kind) return true;
    return HasSoundFileExtension(ToPath(fileName));
}

// Sets a flag for the lifetime of the object.
class FlagScope {
public:
    explicit FlagScope(bool& flag) : flag_(flag), before_(flag) { flag_ = true; }
    ~FlagScope() { flag_ = before_; }
    FlagScope(const FlagScope&) = delete;
    FlagScope& operator=(const FlagScope&) = delete;

private:
    bool& flag_;
    bool before_;
};

// "n" and the blanks that keep the names of entries 1..20 in one column.
QString EntryPrefix(int n) {
    return QString::number(n) + (n < 10 ? "  " : " ");
}

}  // namespace

QString BankEntryText(int n, const SampleSlot& slot) {
    return EntryPrefix(n) + FromCp1252(InstrumentEntryText(slot));
}

std::string ExportFileNameFor(const std::string& slotName) {
    std::string name = WithoutTrailingBlanks(slotName);
    if (name.find('.') == std::string::npos) name += kWavExtension;
    return name;
}

BankEditor::BankEditor(AppContext& ctx, QWidget* parent)
    // A window of its own with its own menus, transient for the main window (its parent): above
    // it, not above other programs. A dialog, not a tool window: Qt lets a tool window's
    // owner's shortcuts work in it, and the main window's Ctrl+S, Ctrl+O, Ctrl+N, Ctrl+E and
    // Shift+Del would make the editor's own ambiguous.
    : QMainWindow(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                              Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint),
      ctx_(ctx),
      playback_(ctx.events) {
    setObjectName("BankEditor");
    setWindowTitle("Userbank editor");
    BuildWindow();
    BuildMenus();
    adjustSize();
    setFixedSize(sizeHint());
}

BankEditor::~BankEditor() {
    playback_.Close();
}

void BankEditor::BuildWindow() {
    auto* central = new QWidget;
    setCentralWidget(central);

    SlotList = new QListWidget;
    SlotList->setObjectName("SlotList");
    SlotList->setAccessibleName("Slots of the userbank");
    SlotList->setSelectionMode(QAbstractItemView::SingleSelection);
    SlotList->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    SlotList->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SlotList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    SlotList->setAcceptDrops(true);
    SlotList->viewport()->setAcceptDrops(true);
    SlotList->viewport()->installEventFilter(this);
    RefillList();
    const int frame = 2 * SlotList->frameWidth();
    SlotList->setFixedSize(SlotList->fontMetrics().horizontalAdvance(QString(24, '0')) + frame + 12,
                           SlotList->sizeHintForRow(0) * kBankSlots + frame);

    BankDescription = new QLineEdit;
    BankDescription->setObjectName("BankDescription");
    BankDescription->setMaxLength(static_cast<int>(kBankDescriptionSize));

    Description = new QLineEdit;
    Description->setObjectName("Description");
    Description->setMaxLength(static_cast<int>(kSlotNameSize));
    PlayButton = new QPushButton("Play");
    ImportButton = new QPushButton("Import");
    ExportButton = new QPushButton("Export");
    ClearButton = new QPushButton("Clear");
    PlayButton->setObjectName("PlayButton");
    ImportButton->setObjectName("ImportButton");
    ExportButton->setObjectName("ExportButton");
    ClearButton->setObjectName("ClearButton");
    Stretch = new QCheckBox("Stretch to");
    Stretch->setObjectName("Stretch");
    Measures = new QComboBox;
    Measures->setObjectName("Measures");
    Measures->setAccessibleName("Stretch to measures");
    Measures->setEditable(true);
    Measures->setInsertPolicy(QComboBox::NoInsert);
    Measures->addItems({"1", "2", "3", "4"});
    Measures->setEditText("1");
    Waveform = new WaveformView;
    Waveform->setObjectName("Waveform");

    auto* panel = new QFrame;
    panel->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(panel);
    grid->addWidget(Description, 0, 0, 1, 2);
    grid->addWidget(PlayButton, 0, 2);
    grid->addWidget(ImportButton, 1, 0);
    grid->addWidget(ExportButton, 1, 1);
    grid->addWidget(ClearButton, 1, 2);
    auto* stretchRow = new QHBoxLayout;
    stretchRow->addWidget(Stretch);
    stretchRow->addWidget(Measures);
    stretchRow->addWidget(new QLabel("measures"));
    stretchRow->addStretch();
    grid->addLayout(stretchRow, 2, 0, 1, 3);
    grid->addWidget(Waveform, 3, 0, 1, 3, Qt::AlignHCenter);

    auto* left = new QVBoxLayout;
    left->addWidget(new QLabel("Samples in this bank:"));
    left->addWidget(SlotList);
    left->addStretch();
    auto* right = new QVBoxLayout;
    right->addWidget(new QLabel("Bank description:"));
    right->addWidget(BankDescription);
    right->addSpacing(8);
    right->addWidget(new QLabel("Selected sample:"));
    right->addWidget(panel);
    right->addStretch();
    auto* layout = new QHBoxLayout(central);
    layout->addLayout(left);
    layout->addLayout(right);

    connect(SlotList, &QListWidget::itemSelectionChanged, this, &BankEditor::SlotSelectionChanged);
    connect(Description, &QLineEdit::editingFinished, this,
            [this] { CommitName(SelectedEntry()); });
    connect(BankDescription, &QLineEdit::editingFinished, this,
            &BankEditor::TakeOverBankDescription);
    connect(PlayButton, &QPushButton::clicked, this, &BankEditor::PlaySample);
    connect(ImportButton, &QPushButton::clicked, this, &BankEditor::ImportIntoSelectedSlot);
    connect(ExportButton, &QPushButton::clicked, this, &BankEditor::ExportSample);
    connect(ClearButton, &QPushButton::clicked, this, &BankEditor::ClearSample);
    connect(Stretch, &QCheckBox::clicked, this, &BankEditor::ToggleStretch);
    connect(Measures, &QComboBox::editTextChanged, this, &BankEditor::MeasuresEdited);
    connect(Measures->lineEdit(), &QLineEdit::editingFinished, this,
            &BankEditor::MeasuresEditingFinished);
}

void BankEditor::BuildMenus() {
    FileMenu = menuBar()->addMenu("&File");
    NewBankItem = FileMenu->addAction("&New bank", QKeySequence(Qt::CTRL | Qt::Key_N));
    OpenBankItem = FileMenu->addAction("&Open bank…", QKeySequence(Qt::CTRL | Qt::Key_O));
    ImportKitItem = FileMenu->addAction("Import &kit…");
    FileMenu->addSeparator();
    SaveBankItem = FileMenu->addAction("&Save bank", QKeySequence(Qt::CTRL | Qt::Key_S));
    SaveBankAsItem = FileMenu->addAction("Save bank &as…");
    FileMenu->addSeparator();
    // Ctrl+W closes a window; Ctrl+Q stays the program's "&Quit".
    CloseItem = FileMenu->addAction("&Close and exit", QKeySequence(Qt::CTRL | Qt::Key_W));

    SampleMenu = menuBar()->addMenu("&Sample");
    ImportItem = SampleMenu->addAction("&Import…", QKeySequence(Qt::CTRL | Qt::Key_I));
    SampleMenu->addSeparator();
    ExportItem = SampleMenu->addAction("&Export…", QKeySequence(Qt::CTRL | Qt::Key_E));
    ClearItem = SampleMenu->addAction("&Clear", QKeySequence(Qt::SHIFT | Qt::Key_Delete));
    SampleMenu->addSeparator();
    PlayItem = SampleMenu->addAction("&Play", QKeySequence(Qt::CTRL | Qt::Key_P));

    // A name typed just before "&Save bank" belongs to the bank that is saved.
    connect(FileMenu, &QMenu::aboutToShow, this, &BankEditor::CommitPendingName);
    connect(NewBankItem, &QAction::triggered, this, &BankEditor::NewBank);
    connect(OpenBankItem, &QAction::triggered, this, &BankEditor::OpenBank);
    connect(ImportKitItem, &QAction::triggered, this, &BankEditor::ImportKitAsBank);
    connect(SaveBankItem, &QAction::triggered, this, [this] { SaveBank(); });
    connect(SaveBankAsItem, &QAction::triggered, this, [this] { SaveBankAs(); });
    connect(CloseItem, &QAction::triggered, this, [this] { CloseEditor(); });
    connect(ImportItem, &QAction::triggered, this, &BankEditor::ImportIntoSelectedSlot);
    connect(ExportItem, &QAction::triggered, this, &BankEditor::ExportSample);
    connect(ClearItem, &QAction::triggered, this, &BankEditor::ClearSample);
    connect(PlayItem, &QAction::triggered, this, &BankEditor::PlaySample);

    // Named as their fields, so that tests find them.
    FileMenu->setObjectName("FileMenu");
    NewBankItem->setObjectName("NewBankItem");
    OpenBankItem->setObjectName("OpenBankItem");
    ImportKitItem->setObjectName("ImportKitItem");
    SaveBankItem->setObjectName("SaveBankItem");
    SaveBankAsItem->setObjectName("SaveBankAsItem");
    CloseItem->setObjectName("CloseItem");
    SampleMenu->setObjectName("SampleMenu");
    ImportItem->setObjectName("ImportItem");
    ExportItem->setObjectName("ExportItem");
    ClearItem->setObjectName("ClearItem");
    PlayItem->setObjectName("PlayItem");
}

// --- Entry and exit ---

void BankEditor::OpenEditor() {
    BankActivation& a = ctx_.m.activation;
    if (a.EditorActive) {  // already open: its bank is not thrown away
        raise();
        activateWindow();
        return;
    }
    ClearUserbank(ctx_.m);
    a.UserbankLoaded = false;
    editorBankPath_.clear();
    a.BankChanged = false;
    Q_EMIT opening();
    a.EditorActive = true;
    show();
    if (QScreen* shown = screen())
        move(shown->availableGeometry().center() - frameGeometry().center() + pos());
    PrepareToShow();
    raise();
    activateWindow();
}

void BankEditor::PrepareToShow() {
    BankDescription->setText(FromCp1252(ctx_.m.banks.userbank.description));
    Q_EMIT menusChanged();  // "&Sound device setup" is disabled meanwhile
    SetupPlayback();
    SelectFirstEntry();
    RefillList();
    ShowSelectedSlot();
    SlotList->setFocus();
    ctx_.m.activation.BankChanged = false;
}

bool BankEditor::CloseEditor() {
    BankActivation& a = ctx_.m.activation;
    if (!a.EditorActive) {
        hide();
        return true;
    }
    CommitPendingName();
    if (!AskToSaveBank()) return false;
    ClearUserbank(ctx_.m);
    a.EditorActive = false;
    playback_.Close();
    hide();
    Q_EMIT closing();
    // Read the active userbank again now, as the panel's next activation would: what plays
    // from here on is the file's content, never what was left in the editor.
    LoadActiveUserbankIfNone(ctx_.m);
    Q_EMIT closed();
    return true;
}

void BankEditor::closeEvent(QCloseEvent* event) {
    // CloseEditor hides the window itself; a refusal keeps it open.
    if (CloseEditor())
        event->accept();
    else
        event->ignore();
}

void BankEditor::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() != QEvent::ActivationChange || !ctx_.m.activation.EditorActive) return;
    if (isActiveWindow())
        OnActivated();
    else
        playback_.Close();
}

void BankEditor::OnActivated() {
    SetupPlayback();
    RefillList();
    ShowSelectedSlot();
}

void BankEditor::SetupPlayback() {
    if (playback_.IsOpen()) playback_.Close();
    playback_.channels = 1;
    playback_.samples = 44100;
    playback_.SampleBits = 16;
    const int device = ctx_.device.DeviceNum;
    if (device >= 0 && device <= kMaxListedDevices)
        playback_.device = static_cast<std::uint8_t>(device);
    playback_.Open();
}

// --- The list and the selected slot ---

int BankEditor::SelectedEntry() const {
    const QList<QListWidgetItem*> items = SlotList->selectedItems();
    return items.isEmpty() ? -1 : SlotList->row(items.first());
}

QStringList BankEditor::EntryTexts() const {
    QStringList texts;
    for (int i = 0; i < SlotList->count(); ++i) texts << SlotList->item(i)->text();
    return texts;
}

void BankEditor::RefillList() {
    const SampleBank& bank = ctx_.m.banks.userbank;
    // Texts are replaced in place, so the selection stays where it is.
    while (SlotList->count() < kBankSlots) SlotList->addItem(QString());
    for (int n = 1; n <= kBankSlots; ++n)
        SlotList->item(n - 1)->setText(BankEntryText(n, bank.slot(n)));
}

void BankEditor::SelectFirstEntry() {
    {
        const QSignalBlocker quiet(SlotList);
        SlotList->setCurrentRow(0);
    }
    SlotList->viewport()->update();
    lastSelected_ = 0;
}

void BankEditor::ShowSelectedSlot() {
    const FlagScope showing(showing_);
    const int entry = SelectedEntry();
    const SampleSlot* slot = entry >= 0 ? &ctx_.m.banks.userbank.slot(entry + 1) : nullptr;
    const bool sound = slot != nullptr && slot->hasSound();

    Description->setText(sound ? FromCp1252(slot->name) : QString());
    nameShownFor_ = sound ? entry : -1;
    Description->setEnabled(sound);
    ImportButton->setEnabled(entry >= 0);
    ImportItem->setEnabled(entry >= 0);
    for (QWidget* w : {static_cast<QWidget*>(ExportButton), static_cast<QWidget*>(ClearButton),
                       static_cast<QWidget*>(PlayButton), static_cast<QWidget*>(Stretch),
                       static_cast<QWidget*>(Measures)})
        w->setEnabled(sound);
    for (QAction* item : {ExportItem, ClearItem, PlayItem}) item->setEnabled(sound);
    if (sound && slot->stretchMeasures > 0) {
        Measures->setEditText(QString::number(slot->stretchMeasures));
        Stretch->setChecked(true);
    } else {
        Stretch->setChecked(false);
        Measures->setEnabled(false);
    }
    Waveform->SetImage(WaveformImage(sound ? slot : nullptr));
}

void BankEditor::SlotSelectionChanged() {
    CommitName(lastSelected_);
    lastSelected_ = SelectedEntry();
    RefillList();
    ShowSelectedSlot();
    // Heard as it is chosen, as in the instrument choice: through JACK when that plays.
    if (lastSelected_ < 0) return;
    if (ctx_.playback.UsesJack())
        ctx_.playback.Audition(kUserbankBase + lastSelected_ + 1);
    else
        PlaySample();
}

void BankEditor::CommitName(int entry) {
    if (entry < 0 || entry >= kBankSlots || entry >= SlotList->count()) return;
    SampleSlot& slot = ctx_.m.banks.userbank.slot(entry + 1);
    // The field holds a name only while it shows that entry's slot with a sound: an empty
    // slot's blank field is no name to store.
    if (entry != nameShownFor_ || !slot.hasSound()) return;
    const QString typed = Description->text();
    const QString text = EntryPrefix(entry + 1) + typed;
    QListWidgetItem* item = SlotList->item(entry);
    if (item->text() == text) return;
    item->setText(text);
    slot.name = ToCp1252(typed).substr(0, kSlotNameSize);
    ctx_.m.activation.BankChanged = true;
    RefillList();
}

void BankEditor::CommitPendingName() {
    CommitName(lastSelected_);
}

void BankEditor::TakeOverBankDescription() {
    ctx_.m.banks.userbank.description =
        ToCp1252(BankDescription->text()).substr(0, kBankDescriptionSize);
}

// --- "&File" ---

bool BankEditor::AskToSaveBank() {
    BankActivation& a = ctx_.m.activation;
    if (!a.BankChanged) return true;
    // Cancel (also Escape and the close box) keeps the bank and the editor as they are.
    switch (ctx_.m.prompter->AskYesNoCancel(kAskSaveBankChanges)) {
        case Answer::Yes:
            // Whoever asked goes on only when the changes are really saved.
            return SaveBank();
        case Answer::No:
            return true;
        case Answer::Cancel:
            break;
    }
    return false;
}

void BankEditor::NewBank() {
    CommitPendingName();
    if (!AskToSaveBank()) return;
    ClearUserbank(ctx_.m);
    BankDescription->setText(FromCp1252(ctx_.m.banks.userbank.description));
    SelectFirstEntry();
    RefillList();
    ShowSelectedSlot();
    ctx_.m.activation.BankChanged = false;
    editorBankPath_.clear();
}

void BankEditor::OpenBank() {
    CommitPendingName();
    if (!AskToSaveBank()) return;
    TakeOverBankDescription();
    BankActivation& a = ctx_.m.activation;
    const auto file =
        ctx_.dialogs.OpenFile({"Load a userbank from disk", kBankFilter, "ubf", a.BankFolder});
    if (!file || !LoadUserbank(ctx_.m, *file, false)) return;
    editorBankPath_ = WithDefaultExtension(*file, kUserbankExtension);
    a.BankChanged = false;
    BankDescription->setText(FromCp1252(ctx_.m.banks.userbank.description));
    SelectFirstEntry();
    RefillList();
    ShowSelectedSlot();
    a.BankFolder = FolderOfChosenFile(*file);
}

void BankEditor::ImportKitAsBank() {
    CommitPendingName();
    if (!AskToSaveBank()) return;
    BankActivation& a = ctx_.m.activation;
    const auto file = ctx_.dialogs.OpenFile(
        {"Import a drum kit",
         "Drum kits (drumkit.xml;*.h2drumkit;*.sfz)|drumkit.xml;*.h2drumkit;*.sfz|All files "
         "(*.*)|*.*",
         "", a.BankFolder});
    if (!file) return;
    Kit kit;
    std::string error;
    if (!ReadKit(*file, kit, error)) {
        ctx_.m.prompter->Warn("This is not a drum kit that can be read.\n\nReason: " + error);
        return;
    }
    KitImport result;
    {
        BusyCursor busy(*ctx_.m.prompter);
        // Choosing a kit is the answer: its sounds are converted without a question each.
        result = ImportKit(ctx_.m, kit, Conversion::Always);
    }
    a.BankFolder = FolderOfChosenFile(*file);
    a.BankChanged = true;
    editorBankPath_.clear();
    BankDescription->setText(FromCp1252(ctx_.m.banks.userbank.description));
    SelectFirstEntry();
    RefillList();
    ShowSelectedSlot();
    if (result.leftOut.empty() && result.refused.empty()) return;
    std::string text = std::to_string(result.imported) + " sound(s) of the kit were imported.";
    if (!result.refused.empty()) text += "\n\nNot imported:";
    for (const std::string& line : result.refused) text += "\n" + line;
    if (!result.leftOut.empty()) text += "\n\nLeft out:";
    for (const std::string& line : result.leftOut) text += "\n" + line;
    // The kit was imported: a report, a warning only when nothing of it came in.
    if (result.imported > 0)
        ctx_.m.prompter->Inform(text);
    else
        ctx_.m.prompter->Warn(text);
}

bool BankEditor::SaveBank() {
    CommitPendingName();
    if (editorBankPath_.empty()) return SaveBankAs();
    TakeOverBankDescription();
    if (!SaveUserbank(ctx_.m, editorBankPath_, true)) return false;
    ctx_.m.activation.BankChanged = false;
    MakeSavedBankActive();
    // Saving pads the names to 20 characters; list and field show them as they now are.
    RefillList();
    ShowSelectedSlot();
    return true;
}

void BankEditor::MakeSavedBankActive() {
    // The bank just saved is the one the user works with: the panel plays it once the editor
    // closes, and the next start loads it.
    ctx_.m.activation.UserbankPath = editorBankPath_;
}

bool BankEditor::SaveBankAs() {
    CommitPendingName();
    TakeOverBankDescription();
    BankActivation& a = ctx_.m.activation;
    const auto file =
        ctx_.dialogs.SaveFile({"Save your userbank", kBankFilter, "ubf", a.BankFolder});
    if (!file) return false;
    const bool saved = SaveUserbank(ctx_.m, *file, false);
    if (saved) {
        editorBankPath_ = WithDefaultExtension(*file, kUserbankExtension);
        a.BankChanged = false;
        MakeSavedBankActive();
        RefillList();
        ShowSelectedSlot();
    }
    a.BankFolder = FolderOfChosenFile(*file);
    return saved;
}

// --- "&Sample" ---

void BankEditor::ImportIntoSelectedSlot() {
    CommitPendingName();
    const int entry = SelectedEntry();
    if (entry < 0) return;
    const auto file = ctx_.dialogs.OpenFile(
        {"Import a sample", ImportFilter(), "wav", ctx_.m.activation.SampleFolder});
    if (file) ImportFile(entry + 1, *file);
}

bool BankEditor::ImportFile(int slot, const std::string& path) {
    const ImportResult result = ImportSample(ctx_.m, path, slot);
    ctx_.m.activation.SampleFolder = FolderOfChosenFile(path);
    if (!result.ok) {
        // A No to a question needs no message; a refusal says why.
        if (!result.reason.empty()) ctx_.m.prompter->Warn(result.reason);
        return false;
    }
    ctx_.m.banks.userbank.slot(slot).name = result.slotName;
    ctx_.m.activation.BankChanged = true;
    RefillList();
    ShowSelectedSlot();
    return true;
}

void BankEditor::ExportSample() {
    CommitPendingName();
    const int entry = SelectedEntry();
    if (entry < 0) return;
    const SampleSlot& slot = ctx_.m.banks.userbank.slot(entry + 1);
    QString proposed = FromCp1252(ExportFileNameFor(slot.name));
    proposed.replace('/', '_');  // a name, never a path
    const auto file = ctx_.dialogs.SaveFile({"Export sample as WAV-file", kWavFilter, "wav",
                                             ctx_.m.activation.SampleFolder, ToPath(proposed)});
    if (!file) return;
    const std::string path = WithDefaultExtension(*file, kWavExtension);
    if (FileExists(path) && !ctx_.m.prompter->AskYesNo(kMsgFileExists)) return;
    if (ExportSlotAsWav(ctx_.m, entry + 1, path))
        ctx_.m.activation.SampleFolder = FolderOfChosenFile(path);
}

void BankEditor::ClearSample() {
    CommitPendingName();
    const int entry = SelectedEntry();
    if (entry < 0 || !ctx_.m.banks.userbank.slot(entry + 1).hasSound()) return;
    if (!ctx_.m.prompter->AskYesNo(kAskClearSample)) return;
    ctx_.m.banks.userbank.emptySlot(entry + 1);
    RefillList();
    ShowSelectedSlot();
    ctx_.m.activation.BankChanged = true;
}

void BankEditor::PlaySample() {
    if (playback_.IsPlaying()) playback_.Stop();
    const int entry = SelectedEntry();
    if (entry < 0) return;
    const SampleSlot& slot = ctx_.m.banks.userbank.slot(entry + 1);
    if (!slot.hasSound()) return;
    if (!playback_.IsOpen()) SetupPlayback();
    // The device keeps its own copy: clearing or refilling the slot does not disturb it.
    playback_.Write(slot.samples.get(), 2 * static_cast<std::size_t>(slot.sampleCount));
}

void BankEditor::ToggleStretch() {
    const int entry = SelectedEntry();
    if (entry < 0) return;
    if (Stretch->isChecked()) {
        Measures->setEnabled(true);
        int measures = MeasuresIn(Measures->currentText());
        if (measures == 0) {
            const FlagScope showing(showing_);
            Measures->setEditText("1");
            measures = 1;
        }
        StoreMeasures(measures);
    } else {
        StoreMeasures(0);
        Measures->setEnabled(false);
    }
}

void BankEditor::MeasuresEdited(const QString& text) {
    const int entry = SelectedEntry();
    if (showing_ || entry < 0 || !ctx_.m.banks.userbank.slot(entry + 1).hasSound()) return;
    Measures->setEnabled(true);
    const int measures = MeasuresIn(text);
    if (measures > 0) {
        StoreMeasures(measures);
    } else if (!text.isEmpty()) {
        // The box never shows one value while another is stored.
        {
            const FlagScope showing(showing_);
            Measures->setEditText("1");
            Measures->lineEdit()->selectAll();
        }
        StoreMeasures(1);
    }
    // An empty text is a number still being typed; leaving the box settles it.
}

void BankEditor::MeasuresEditingFinished() {
    const int entry = SelectedEntry();
    if (showing_ || entry < 0 || !Measures->isEnabled()) return;
    if (MeasuresIn(Measures->currentText()) > 0) return;
    {
        const FlagScope showing(showing_);
        Measures->setEditText("1");
    }
    StoreMeasures(1);
}

void BankEditor::StoreMeasures(int measures) {
    const int entry = SelectedEntry();
    if (entry < 0) return;
    ctx_.m.banks.userbank.slot(entry + 1).stretchMeasures = static_cast<std::uint8_t>(measures);
    ctx_.m.activation.BankChanged = true;
}

void BankEditor::DefineHihat() {
    const int entry = SelectedEntry();
    if (entry < 0 || Hihat == nullptr) return;
    Hihat->Execute(entry + 1, EntryTexts());
}

// --- Mouse: Ctrl + left press, and files dropped on an entry ---

bool BankEditor::eventFilter(QObject* watched, QEvent* event) {
    if (watched != SlotList->viewport()) return QMainWindow::eventFilter(watched, event);
    switch (event->type()) {
        case QEvent::MouseButtonPress: {
            auto* press = static_cast<QMouseEvent*>(event);
            if (press->button() != Qt::LeftButton || press->modifiers() != Qt::ControlModifier)
                return false;
            const int row = SlotList->indexAt(press->position().toPoint()).row();
            if (row >= 0 && row != SelectedEntry()) SlotList->setCurrentRow(row);
            DefineHihat();
            return true;
        }
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::Drop: {
            auto* drop = static_cast<QDropEvent*>(event);
            std::string path;
            int row = -1;
            const bool fileOk = DragAcceptable(event, &path, &row);
            // Entering may happen between entries; moving and dropping need one.
            if (!fileOk || (event->type() != QEvent::DragEnter && row < 0)) {
                drop->ignore();
                return true;
            }
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
            // The import may ask questions: not inside the drag and drop exchange.
            if (event->type() == QEvent::Drop)
                QTimer::singleShot(0, this, [this, row, path] { DropFile(row, path); });
            return true;
        }
        default:
            return false;
    }
}

bool BankEditor::DragAcceptable(const QEvent* event, std::string* path, int* row) const {
    const auto* drop = static_cast<const QDropEvent*>(event);
    const QMimeData* mime = drop->mimeData();
    if (!ctx_.m.activation.EditorActive || mime == nullptr || !mime->hasUrls()) return false;
    const QList<QUrl> urls = mime->urls();
    if (urls.size() != 1 || !urls.first().isLocalFile()) return false;
    const QString file = urls.first().toLocalFile();
    if (!IsImportableName(file) || !IsRegularFile(ToPath(file))) return false;
    *path = ToPath(file);
    *row = SlotList->indexAt(drop->position().toPoint()).row();
    return true;
}

void BankEditor::DropFile(int row, const std::string& path) {
    if (!ctx_.m.activation.EditorActive || row < 0 || row >= SlotList->count()) return;
    if (row != SelectedEntry())
        SlotList->setCurrentRow(row);
    else
        CommitPendingName();
    ImportFile(row + 1, path);
}

}  // namespace qtam

#include "moc_bank_editor.cpp"
