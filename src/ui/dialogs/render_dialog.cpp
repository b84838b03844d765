#include "ui/dialogs/render_dialog.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QShowEvent>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>
#include <optional>

#include "core/file_dialogs.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/prompter.h"
#include "core/song.h"
#include "engine/stream_to_disk.h"
#include "ui/dialogs/progress_gauge.h"
#include "ui/qt/dialog_buttons.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"

namespace qtam {

namespace {

constexpr int kGaugeWidth = 209;
constexpr int kGaugeHeight = 20;

// Keeps its place in the layout while hidden, so the dialog does not change size when the
// buttons give way to the activity during a render.
void KeepPlaceWhenHidden(QWidget* w) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
}

}  // namespace

RenderDialog::RenderDialog(AppContext& ctx, QWidget* parent)
    : QDialog(parent, Qt::Tool), ctx_(ctx) {
    setObjectName(QStringLiteral("RenderDialog"));
    setWindowTitle(QStringLiteral("Stream to disk"));
    setModal(false);

    Progress = new ProgressGauge(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->SetForeColor(Qt::blue);
    Progress->setFixedHeight(kGaugeHeight);
    Progress->setMinimumWidth(kGaugeWidth);
    Progress->hide();
    WhatLabel = new QLabel(QStringLiteral("Current activity:"), this);
    WhatLabel->setObjectName(QStringLiteral("WhatLabel"));
    WhatLabel->hide();
    Activity = new QLabel(this);
    Activity->setObjectName(QStringLiteral("Activity"));
    QFont bold = Activity->font();
    bold.setBold(true);
    Activity->setFont(bold);
    Activity->hide();

    What = new QGroupBox(this);
    What->setObjectName(QStringLiteral("What"));
    WhatItems = new QButtonGroup(this);
    auto* items = new QVBoxLayout(What);
    // In the order of StreamMode.
    const char* captions[] = {"Render current measure", "Render whole pattern",
                              "Live session (record \"play\" to \"stop\")", "Whole arrangement"};
    for (int i = 0; i < 4; ++i) {
        auto* item = new QRadioButton(QString::fromLatin1(captions[i]), What);
        WhatItems->addButton(item, i);
        items->addWidget(item);
    }
    WhatItems->button(0)->setChecked(true);
    WhatItems->button(static_cast<int>(StreamMode::WholeArrangement))
        ->setObjectName(QStringLiteral("WholeArrangement"));
    Stems = new QCheckBox(QStringLiteral("&Stems: one file per channel beside it"), What);
    Stems->setObjectName(QStringLiteral("Stems"));
    items->addWidget(Stems);
    Tail = new QCheckBox(QStringLiteral("&Tail: the sounds ring out after the last measure"), What);
    Tail->setObjectName(QStringLiteral("Tail"));
    items->addWidget(Tail);
    // A live recording is the main mix only, and ends where it is stopped; a whole arrangement
    // always rings out.
    connect(WhatItems, &QButtonGroup::idToggled, this, [this](int, bool) {
        const auto mode = static_cast<StreamMode>(WhatItems->checkedId());
        Stems->setEnabled(mode != StreamMode::LiveSession);
        Tail->setEnabled(mode == StreamMode::CurrentMeasure || mode == StreamMode::WholePattern);
    });

    QDialogButtonBox* okCancel = OkCancelButtons(this, OkButton, CancelButton);

    for (QWidget* w : {static_cast<QWidget*>(Progress), static_cast<QWidget*>(WhatLabel),
                       static_cast<QWidget*>(Activity), static_cast<QWidget*>(OkButton),
                       static_cast<QWidget*>(CancelButton)})
        KeepPlaceWhenHidden(w);

    // The buttons and the activity share one row; only one of them shows at a time.
    auto* row = new QGridLayout;
    row->addWidget(WhatLabel, 0, 0);
    row->addWidget(Activity, 0, 1);
    row->setColumnStretch(1, 1);
    row->setHorizontalSpacing(8);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(okCancel);
    row->addLayout(buttons, 0, 0, 1, 2);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(What);
    layout->addLayout(row);
    layout->addWidget(Progress);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(OkButton, &QPushButton::clicked, this, &RenderDialog::Confirm);
    connect(CancelButton, &QPushButton::clicked, this, &RenderDialog::Dismiss);
}

void RenderDialog::OfferArrangement() {
    // The whole arrangement is there to render only when the song has one.
    QAbstractButton* arrangement =
        WhatItems->button(static_cast<int>(StreamMode::WholeArrangement));
    arrangement->setEnabled(!ctx_.m.arrangement.empty());
    if (arrangement->isChecked() && !arrangement->isEnabled())
        WhatItems->button(0)->setChecked(true);
}

void RenderDialog::ShowStreamToDisk() {
    if (!isVisible()) CenterOverOwner(*this);
    // Shown already, it offers what the song has now.
    OfferArrangement();
    show();
    raise();
    activateWindow();
}

void RenderDialog::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) PrepareToShow();
    QDialog::showEvent(event);
}

void RenderDialog::PrepareToShow() {
    WhatLabel->hide();
    Activity->hide();
    Progress->hide();
    OkButton->show();
    CancelButton->show();
    What->setEnabled(true);
    OfferArrangement();
    // A live recording armed (or made) and not finished by a stop of playback ends here.
    if (ctx_.m.Streaming) {
        FinishStream(ctx_.m);
        Q_EMIT recordingChanged();
    }
}

void RenderDialog::ShowRenderLook() {
    OkButton->hide();
    CancelButton->hide();
    What->setEnabled(false);
    Progress->SetProgress(0);
    Progress->show();
    WhatLabel->show();
    Activity->setText(QString());
    Activity->show();
    // The render holds the event loop: everything that changed is painted now. The children
    // that have just been shown are painted one by one; the dialog's repaint leaves them out.
    repaint();
    for (QWidget* w : {static_cast<QWidget*>(WhatLabel), static_cast<QWidget*>(Activity),
                       static_cast<QWidget*>(Progress)})
        w->repaint();
}

void RenderDialog::Confirm() {
    FileDialogSpec request;
    request.title = kStreamDialogTitle;
    request.filter = kStreamDialogFilter;
    request.defaultExtension = "wav";
    // Beside the song, named after it; without one, where the last render went.
    const std::string& song = ctx_.m.editor.SongFileName;
    request.initialFolder = song.empty() ? ctx_.m.activation.SampleFolder : DirectoryOf(song);
    if (!song.empty()) {
        const std::string name = FileNameOf(song);
        request.fileName = name.substr(0, name.rfind('.')) + ".wav";
    }
    const std::optional<std::string> chosen = ctx_.dialogs.SaveFile(request);
    if (!chosen) return;
    // A folder typed into the name is made, as the command line makes it.
    std::error_code madeFolder;
    std::filesystem::create_directories(std::filesystem::path(*chosen).parent_path(), madeFolder);

    const auto mode = static_cast<StreamMode>(std::max(0, WhatItems->checkedId()));
    const bool live = mode == StreamMode::LiveSession;
    const SoundFileType type = SoundFileTypeOf(*chosen).value_or(SoundFileType::Wav);
    const bool stems = Stems->isChecked() && !live;
    const bool tail = Tail->isChecked() && Tail->isEnabled();
    // The offline render reports progress 0 as soon as the file has been created.
    bool created = false;
    StreamObserver observer;
    observer.activity = [this](const std::string& text) {
        Activity->setText(QString::fromStdString(text));
        Activity->repaint();
    };
    observer.progress = [this, &created](int percent) {
        if (!created) {
            created = true;
            ShowRenderLook();
        }
        Progress->SetProgress(percent);
    };
    bool ok;
    if (live || (type == SoundFileType::Wav && !stems && !tail)) {
        ok = RunStream(ctx_.m, mode, *chosen, &observer);
    } else {
        RenderFiles files;
        files.main = WithDefaultExtension(*chosen, ".WAV");
        files.type = type;
        files.tail = tail;
        if (stems) {
            // "beat.flac" has its stems beside it as "beat-01-Kick Punch.flac" and so on.
            const std::string name = FileNameOf(files.main);
            const std::string base =
                DirectoryOf(files.main) + name.substr(0, name.rfind('.')) + "-";
            const auto sounding = SoundingChannels(ctx_.m, mode);
            for (int c = 1; c <= kChannels; ++c)
                if (sounding[c - 1]) files.stems[c - 1] = base + StemFileName(ctx_.m, c, type);
        }
        ok = RunRenderFiles(ctx_.m, mode, files, &observer);
    }
    if (live) created = ok;
    if (created) ctx_.m.activation.SampleFolder = FolderOfChosenFile(*chosen);
    hide();
    // A render ends unseen otherwise: the dialog is gone and the gauge with it.
    if (ok && !live) ctx_.m.prompter->Inform("The render is finished: " + *chosen);
    Q_EMIT recordingChanged();
}

}  // namespace qtam

#include "moc_render_dialog.cpp"
