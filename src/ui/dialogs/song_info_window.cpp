#include "ui/dialogs/song_info_window.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QValidator>

#include "core/machine.h"
#include "song/song_editor.h"
#include "song/song_file.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

// The Song keeps Windows-1252 bytes: a character it cannot hold is refused as it is typed or
// pasted, rather than stored as something else.
class Cp1252Validator : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        return CanHoldInCp1252(input) ? Acceptable : Invalid;
    }
};

constexpr int kBankFieldLimit = 30;

QLineEdit* SongTextEdit(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(static_cast<int>(kSongInfoTextLimit));
    edit->setValidator(new Cp1252Validator(edit));
    QFont bold = edit->font();
    bold.setBold(true);
    edit->setFont(bold);
    edit->setMinimumWidth(320);
    return edit;
}

// The userbank the song was made with: shown, never edited; white bold text on grey.
QLineEdit* BankField(QWidget* parent, const char* name) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setMaxLength(kBankFieldLimit);
    edit->setReadOnly(true);
    edit->setFocusPolicy(Qt::NoFocus);
    QFont bold = edit->font();
    bold.setBold(true);
    edit->setFont(bold);
    QPalette pal = edit->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        pal.setColor(group, QPalette::Base, QColor(128, 128, 128));
        pal.setColor(group, QPalette::Text, Qt::white);
    }
    edit->setPalette(pal);
    return edit;
}

}  // namespace

SongInfoWindow::SongInfoWindow(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      ctx_(ctx) {
    setObjectName(QStringLiteral("SongInfoWindow"));
    setWindowTitle(QStringLiteral("Song information"));
    setModal(false);

    SongTitle = SongTextEdit(this, "SongTitle");
    Subtitle = SongTextEdit(this, "Subtitle");
    SongAuthor = SongTextEdit(this, "SongAuthor");
    Copyright = SongTextEdit(this, "Copyright");
    BankName = BankField(this, "BankName");
    FileName = BankField(this, "FileName");
    ShowOnOpen = new QCheckBox(QStringLiteral("Show info when opening song"), this);
    ShowOnOpen->setObjectName(QStringLiteral("ShowOnOpen"));
    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);

    auto* fields = new QGridLayout;
    int row = 0;
    auto addRow = [&](const char* caption, QLineEdit* edit) {
        auto* label = new QLabel(QString::fromUtf8(caption), this);
        label->setBuddy(edit);
        fields->addWidget(label, row, 0);
        fields->addWidget(edit, row, 1);
        ++row;
    };
    addRow("Song title:", SongTitle);
    addRow("Subtitle / description:", Subtitle);
    addRow("Author:", SongAuthor);
    addRow("Copyright:", Copyright);
    fields->setRowMinimumHeight(row++, 8);
    addRow("Userbank description:", BankName);
    addRow("Used file:", FileName);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(ShowOnOpen);
    buttons->addStretch(1);
    buttons->addWidget(okCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(fields);
    layout->addSpacing(6);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(OkButton, &QPushButton::clicked, this, &SongInfoWindow::Confirm);
    connect(CancelButton, &QPushButton::clicked, this, &SongInfoWindow::Dismiss);
    // Escape and the title bar's close button cancel.
    connect(this, &QDialog::rejected, this, [this] { dialog_.Cancel(); });
}

void SongInfoWindow::ShowEdit() {
    ShowInMode(SongInfoMode::Edit);
    ctx_.edits.Announce(SongChange::File);
}

void SongInfoWindow::ShowView() {
    ShowInMode(SongInfoMode::View);
}

void SongInfoWindow::ShowInMode(SongInfoMode mode) {
    const bool wasVisible = isVisible();
    const SongInfoView view = dialog_.Show(ctx_.m, mode);
    const bool readOnly = view.textsReadOnly;
    SongTitle->setText(FromCp1252(view.fields.title));
    Subtitle->setText(FromCp1252(view.fields.subtitle));
    SongAuthor->setText(FromCp1252(view.fields.author));
    Copyright->setText(FromCp1252(view.fields.copyright));
    for (QLineEdit* edit : {SongTitle, Subtitle, SongAuthor, Copyright}) {
        edit->setReadOnly(readOnly);
        edit->setCursorPosition(0);
    }
    ShowOnOpen->setVisible(view.popupVisible);
    ShowOnOpen->setChecked(view.fields.showInfoOnOpen);
    BankName->setText(FromCp1252(view.bankname));
    FileName->setText(FromCp1252(view.fileName));
    BankName->setCursorPosition(0);
    FileName->setCursorPosition(0);

    if (!wasVisible) CenterOverOwner(*this);
    show();
    raise();
    activateWindow();
    (readOnly ? OkButton : static_cast<QWidget*>(SongTitle))->setFocus();
}

void SongInfoWindow::Confirm() {
    SongInfoFields edited;
    edited.title = ToCp1252(SongTitle->text());
    edited.subtitle = ToCp1252(Subtitle->text());
    edited.author = ToCp1252(SongAuthor->text());
    edited.copyright = ToCp1252(Copyright->text());
    edited.showInfoOnOpen = ShowOnOpen->isChecked();
    ctx_.edits.ApplySongInfo(dialog_, edited);
    hide();
}

void SongInfoWindow::Dismiss() {
    dialog_.Cancel();
    hide();
}

}  // namespace qtam

#include "moc_song_info_window.cpp"
