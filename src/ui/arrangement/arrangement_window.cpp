#include "ui/arrangement/arrangement_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "core/arrangement.h"
#include "core/machine.h"
#include "core/song.h"
#include "song/song_editor.h"
#include "ui/services/app_context.h"
#include "ui/services/song_notifier.h"
#include "ui/services/space_bar_keys.h"

namespace qtam {

namespace {

// The panel's green of the running light, for the entry heard.
const QColor kHeardBack{0x52, 0xe0, 0x74};
const QColor kHeardText{0x06, 0x2a, 0x10};

const char* const kHeaders[ArrangementModel::kColumns] = {"Entry", "Pattern",  "Repeats",
                                                          "Mutes", "Measures", "Time"};

}  // namespace

QString MinutesAndSeconds(double seconds) {
    const long long whole = std::llround(std::max(0.0, seconds));
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

double SecondsOfMeasures(const Song& song, long long measures) {
    // A step is a sixteenth note: four a beat, whatever the shuffle does within a pair.
    const int tempo = std::clamp(int(song.tempo), kTempoMin, kTempoMax);
    return double(measures) * StepsPerMeasureOf(song) * 15.0 / tempo;
}

QString MutedChannels(std::uint8_t mutes) {
    QStringList channels;
    for (int c = 1; c <= kChannels; ++c)
        if (MutesChannel(mutes, c)) channels << QString::number(c);
    return channels.isEmpty() ? QStringLiteral("none") : channels.join(QStringLiteral(", "));
}

// ---- The table

ArrangementModel::ArrangementModel(AppContext& ctx, QObject* parent)
    : QAbstractTableModel(parent), ctx_(ctx), rows_(ctx.m.arrangement.count) {}

int ArrangementModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int ArrangementModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumns;
}

QString ArrangementModel::Describe(int entry) const {
    const Machine& m = ctx_.m;
    const ArrangementEntry& e = m.arrangement.entry(entry);
    const int measures = EntryMeasures(m.song, e);
    QString text = QStringLiteral("Entry %1, pattern %2, %3 %4, ")
                       .arg(entry)
                       .arg(int(e.pattern))
                       .arg(int(e.repeats))
                       .arg(e.repeats == 1 ? QStringLiteral("time") : QStringLiteral("times"));
    if (e.mutes != 0) text += QStringLiteral("mutes %1, ").arg(MutedChannels(e.mutes));
    text += QStringLiteral("%1 %2, %3")
                .arg(measures)
                .arg(measures == 1 ? QStringLiteral("measure") : QStringLiteral("measures"))
                .arg(MinutesAndSeconds(SecondsOfMeasures(m.song, measures)));
    if (m.arrangement.loopTo == entry) text += QStringLiteral(", the end loops here");
    if (heard_ == entry) text += QStringLiteral(", playing");
    return text;
}

QVariant ArrangementModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rows_) return {};
    const Machine& m = ctx_.m;
    const int entry = index.row() + 1;
    const ArrangementEntry& e = m.arrangement.entry(entry);
    const bool heard = entry == heard_;
    switch (role) {
        case Qt::DisplayRole:
            switch (index.column()) {
                case kEntry: {
                    QString text = QString::number(entry);
                    if (m.arrangement.loopTo == entry) text = QStringLiteral("\u21BB ") + text;
                    return heard ? QStringLiteral("\u25B6 ") + text : text;
                }
                case kPattern:
                    return int(e.pattern);
                case kRepeats:
                    return QStringLiteral("\u00D7%1").arg(int(e.repeats));
                case kMutes:
                    return e.mutes == 0 ? QString() : MutedChannels(e.mutes);
                case kMeasures:
                    return EntryMeasures(m.song, e);
                case kTime:
                    return MinutesAndSeconds(SecondsOfMeasures(m.song, EntryMeasures(m.song, e)));
            }
            return {};
        case Qt::AccessibleTextRole:
        case Qt::ToolTipRole:
            return Describe(entry);
        case Qt::BackgroundRole:
            return heard ? QVariant(kHeardBack) : QVariant();
        case Qt::ForegroundRole:
            return heard ? QVariant(kHeardText) : QVariant();
        case Qt::TextAlignmentRole:
            return index.column() == kMutes ? int(Qt::AlignLeft | Qt::AlignVCenter)
                                            : int(Qt::AlignCenter);
        default:
            return {};
    }
}

QVariant ArrangementModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumns) return {};
    if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole)
        return QString::fromLatin1(kHeaders[section]);
    return {};
}

void ArrangementModel::Refresh() {
    const int rows = ctx_.m.arrangement.count;
    if (rows != rows_) {
        beginResetModel();
        rows_ = rows;
        endResetModel();
        return;
    }
    if (rows_ > 0) Q_EMIT dataChanged(index(0, 0), index(rows_ - 1, kColumns - 1));
}

void ArrangementModel::SetHeardEntry(int entry) {
    if (entry == heard_) return;
    const int before = heard_;
    heard_ = entry;
    for (const int e : {before, entry})
        if (e >= 1 && e <= rows_) Q_EMIT dataChanged(index(e - 1, 0), index(e - 1, kColumns - 1));
}

// ---- The view

ArrangementView::ArrangementView(AppContext& ctx, SpaceBarKeys& spaceBar, QWidget* parent)
    : QTableView(parent), ctx_(ctx), spaceBar_(spaceBar) {
    setObjectName(QStringLiteral("ArrangementTable"));
    setAccessibleName(QStringLiteral("Arrangement"));
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setWordWrap(false);
    verticalHeader()->hide();
    horizontalHeader()->setSectionsClickable(false);
    horizontalHeader()->setHighlightSections(false);
}

int ArrangementView::CurrentEntry() const {
    const int count = ctx_.m.arrangement.count;
    if (count == 0) return 0;
    const QModelIndex at = currentIndex();
    return at.isValid() ? std::clamp(at.row() + 1, 1, count) : 1;
}

void ArrangementView::SelectEntry(int entry) {
    const int count = ctx_.m.arrangement.count;
    if (count == 0 || model() == nullptr) return;
    const int column = currentIndex().isValid() ? currentIndex().column() : 0;
    const QModelIndex at = model()->index(std::clamp(entry, 1, count) - 1, column);
    setCurrentIndex(at);
    scrollTo(at);
}

void ArrangementView::keyPressEvent(QKeyEvent* event) {
    SongEditor& edits = ctx_.edits;
    const int entry = CurrentEntry();
    const int key = event->key();
    const Qt::KeyboardModifiers mods =
        event->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier);
    const bool moveKey = mods == Qt::ControlModifier || mods == Qt::AltModifier;
    if (key == Qt::Key_Space) {
        spaceBar_.KeyPress(*event);
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        if (entry > 0) Q_EMIT playRequested(entry);
    } else if ((key == Qt::Key_Insert || key == Qt::Key_A) && mods == Qt::NoModifier) {
        // After the entry with the cursor (at the end of an empty list).
        if (edits.AddEditedPattern(entry + 1)) SelectEntry(entry + 1);
    } else if (key == Qt::Key_D && mods == Qt::NoModifier) {
        if (edits.DuplicateEntry(entry)) SelectEntry(entry + 1);
    } else if (key == Qt::Key_Delete && mods == Qt::NoModifier) {
        if (edits.DeleteEntry(entry)) SelectEntry(entry);
    } else if ((key == Qt::Key_Up || key == Qt::Key_Down) && moveKey) {
        const int to = entry + (key == Qt::Key_Up ? -1 : 1);
        if (edits.MoveEntry(entry, to)) SelectEntry(to);
    } else if ((key == Qt::Key_Plus || key == Qt::Key_Equal || key == Qt::Key_Minus) && entry > 0) {
        const int repeats = ctx_.m.arrangement.entry(entry).repeats;
        edits.SetEntryRepeats(entry, repeats + (key == Qt::Key_Minus ? -1 : 1));
    } else if (key >= Qt::Key_1 && key <= Qt::Key_8 && entry > 0 &&
               (mods == Qt::NoModifier || mods == Qt::ControlModifier)) {
        // A digit plays that pattern in the entry; with Ctrl it mutes or unmutes that channel.
        if (mods == Qt::ControlModifier)
            edits.ToggleEntryMute(entry, key - Qt::Key_0);
        else
            edits.SetEntryPattern(entry, key - Qt::Key_0);
    } else if (key == Qt::Key_L && mods == Qt::NoModifier && entry > 0) {
        // The end of the list loops to this entry; asked again, the list stops.
        edits.SetArrangementLoop(ctx_.m.arrangement.loopTo == entry ? 0 : entry);
    } else {
        QTableView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void ArrangementView::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        spaceBar_.KeyRelease(*event);
        event->accept();
        return;
    }
    QTableView::keyReleaseEvent(event);
}

void ArrangementView::mousePressEvent(QMouseEvent* event) {
    QTableView::mousePressEvent(event);
    const QModelIndex at = indexAt(event->position().toPoint());
    dragFrom_ = event->button() == Qt::LeftButton && at.isValid() ? at.row() + 1 : 0;
}

void ArrangementView::mouseMoveEvent(QMouseEvent* event) {
    if (dragFrom_ == 0 || !(event->buttons() & Qt::LeftButton)) return;
    // The cursor shows where the entry will land.
    const int row = rowAt(int(event->position().y()));
    if (row >= 0) SelectEntry(row + 1);
}

void ArrangementView::mouseReleaseEvent(QMouseEvent* event) {
    const int from = dragFrom_;
    dragFrom_ = 0;
    QTableView::mouseReleaseEvent(event);
    if (from == 0) return;
    const int row = rowAt(int(event->position().y()));
    const int to = row >= 0 ? row + 1 : ctx_.m.arrangement.count;
    if (to != from && ctx_.edits.MoveEntry(from, to)) SelectEntry(to);
}

void ArrangementView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QModelIndex at = indexAt(event->position().toPoint());
    if (event->button() == Qt::LeftButton && at.isValid()) Q_EMIT playRequested(at.row() + 1);
    event->accept();
}

void ArrangementView::focusOutEvent(QFocusEvent* event) {
    dragFrom_ = 0;
    spaceBar_.Flush();
    QTableView::focusOutEvent(event);
}

// ---- The window

ArrangementWindow::ArrangementWindow(AppContext& ctx, QWidget* owner) : QWidget(owner), ctx_(ctx) {
    setObjectName(QStringLiteral("ArrangementWindow"));
    setWindowFlags(Qt::Tool);
    setWindowTitle(QStringLiteral("Arrangement"));
    spaceBar_ = new SpaceBarKeys(ctx_.transport, true, this);
    model_ = new ArrangementModel(ctx_, this);
    view_ = new ArrangementView(ctx_, *spaceBar_, this);
    view_->setModel(model_);
    view_->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    view_->horizontalHeader()->setSectionResizeMode(ArrangementModel::kMutes, QHeaderView::Stretch);
    view_->horizontalHeader()->setStretchLastSection(false);
    view_->setToolTip(
        QStringLiteral("A or Insert: add the edited pattern · D: duplicate · Delete · "
                       "Ctrl+Up/Down: move · +/-: repeats · 1-8: pattern · Ctrl+1-8: mute "
                       "channel · L: loop here · Enter: play from here"));

    auto button = [this](const char* caption, const char* name) {
        auto* b = new QPushButton(QString::fromUtf8(caption), this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        return b;
    };
    add_ = button("&Add pattern 1", "Add");
    duplicate_ = button("&Duplicate", "Duplicate");
    delete_ = button("De&lete", "Delete");
    up_ = button("Move &up", "MoveUp");
    down_ = button("Move do&wn", "MoveDown");
    play_ = button("&Play from here", "Play");
    SongEditor& edits = ctx_.edits;
    connect(add_, &QPushButton::clicked, this, [this, &edits] {
        const int entry = view_->CurrentEntry();
        if (edits.AddEditedPattern(entry + 1)) view_->SelectEntry(entry + 1);
    });
    connect(duplicate_, &QPushButton::clicked, this, [this, &edits] {
        const int entry = view_->CurrentEntry();
        if (edits.DuplicateEntry(entry)) view_->SelectEntry(entry + 1);
    });
    connect(delete_, &QPushButton::clicked, this, [this, &edits] {
        const int entry = view_->CurrentEntry();
        if (edits.DeleteEntry(entry)) view_->SelectEntry(entry);
    });
    for (QPushButton* b : {up_, down_})
        connect(b, &QPushButton::clicked, this, [this, &edits, b] {
            const int entry = view_->CurrentEntry(), to = entry + (b == up_ ? -1 : 1);
            if (edits.MoveEntry(entry, to)) view_->SelectEntry(to);
        });
    connect(play_, &QPushButton::clicked, this, [this] { PlayFrom(view_->CurrentEntry()); });
    connect(view_, &ArrangementView::playRequested, this, &ArrangementWindow::PlayFrom);

    // The entry with the cursor: its pattern, repeats and mutes. Typed values count when
    // confirmed, so that "12" is one edit, not two.
    pattern_ = new QSpinBox(this);
    pattern_->setObjectName(QStringLiteral("EntryPattern"));
    pattern_->setAccessibleName(QStringLiteral("Pattern of the entry"));
    pattern_->setRange(1, kPatterns);
    repeats_ = new QSpinBox(this);
    repeats_->setObjectName(QStringLiteral("EntryRepeats"));
    repeats_->setAccessibleName(QStringLiteral("Repeats of the entry"));
    repeats_->setRange(1, kMaxRepeats);
    repeats_->setPrefix(QStringLiteral("\u00D7"));
    for (QSpinBox* s : {pattern_, repeats_}) s->setKeyboardTracking(false);
    connect(pattern_, &QSpinBox::valueChanged, this,
            [this, &edits](int p) { edits.SetEntryPattern(view_->CurrentEntry(), p); });
    connect(repeats_, &QSpinBox::valueChanged, this,
            [this, &edits](int r) { edits.SetEntryRepeats(view_->CurrentEntry(), r); });
    auto* mutes = new QHBoxLayout;
    mutes->setSpacing(2);
    for (int c = 1; c <= kChannels; ++c) {
        auto* box = new QCheckBox(QString::number(c), this);
        box->setObjectName(QStringLiteral("EntryMute%1").arg(c));
        box->setAccessibleName(QStringLiteral("Mute channel %1 in the entry").arg(c));
        connect(box, &QCheckBox::clicked, this,
                [this, &edits, c] { edits.ToggleEntryMute(view_->CurrentEntry(), c); });
        mutes_[c - 1] = box;
        mutes->addWidget(box);
    }
    mutes->addStretch(1);
    end_ = new QComboBox(this);
    end_->setObjectName(QStringLiteral("End"));
    end_->setAccessibleName(QStringLiteral("At the end of the list"));
    connect(end_, &QComboBox::activated, this,
            [&edits](int index) { edits.SetArrangementLoop(index); });
    total_ = new QLabel(this);
    total_->setObjectName(QStringLiteral("Total"));

    auto label = [this](const char* caption, QWidget* buddy) {
        auto* l = new QLabel(QString::fromUtf8(caption), this);
        l->setBuddy(buddy);
        return l;
    };
    auto* buttons = new QHBoxLayout;
    for (QPushButton* b : {add_, duplicate_, delete_, up_, down_, play_}) buttons->addWidget(b);
    buttons->addStretch(1);
    auto* entry = new QGridLayout;
    entry->addWidget(label("Pa&ttern", pattern_), 0, 0);
    entry->addWidget(pattern_, 0, 1);
    entry->addWidget(label("&Repeats", repeats_), 0, 2);
    entry->addWidget(repeats_, 0, 3);
    entry->addWidget(label("Mutes", mutes_[0]), 0, 4);
    entry->addLayout(mutes, 0, 5);
    entry->addWidget(label("At the &end", end_), 1, 0);
    entry->addWidget(end_, 1, 1, 1, 3);
    entry->addWidget(total_, 1, 4, 1, 2);
    entry->setColumnStretch(5, 1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(buttons);
    layout->addWidget(view_, 1);
    layout->addLayout(entry);
    setFocusProxy(view_);
    resize(sizeHint());

    connect(view_->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this] { ShowCurrentEntry(); });
    connect(&ctx_.songState, &SongNotifier::changed, this, [this](SongChange what) {
        if (what != SongChange::Step) Refresh();
    });
    Refresh();
}

QSize ArrangementWindow::sizeHint() const {
    return QSize(620, 420);
}

void ArrangementWindow::ShowArrangement() {
    showNormal();
    raise();
    activateWindow();
    view_->setFocus();
}

void ArrangementWindow::ShowHeard(const PlayPosition& heard) {
    model_->SetHeardEntry(heard.known() ? heard.entry : 0);
}

void ArrangementWindow::PlayFrom(int entry) {
    if (entry >= 1 && entry <= ctx_.m.arrangement.count && playFromEntry) playFromEntry(entry);
}

void ArrangementWindow::Refresh() {
    const Machine& m = ctx_.m;
    const Arrangement& a = m.arrangement;
    const int cursor = view_->currentIndex().isValid() ? view_->currentIndex().row() + 1 : 1;
    model_->Refresh();
    // A reset of the table (entries added or deleted) keeps the cursor where it can.
    if (!view_->currentIndex().isValid()) view_->SelectEntry(cursor);

    add_->setText(QStringLiteral("&Add pattern %1").arg(int(m.editor.CurrentPattern)));
    const QSignalBlocker block(end_);
    end_->clear();
    end_->addItem(QStringLiteral("Stop"));
    for (int e = 1; e <= a.count; ++e)
        end_->addItem(
            QStringLiteral("Loop to entry %1 (pattern %2)").arg(e).arg(int(a.entry(e).pattern)));
    end_->setCurrentIndex(a.loopTo <= a.count ? a.loopTo : 0);
    end_->setEnabled(a.count > 0);
    const long long measures = ArrangementMeasures(m.song, a);
    total_->setText(
        a.empty() ? QStringLiteral("No entries: playback loops the patterns")
                  : QStringLiteral("%1 %2, %3 measures, %4 at %5 BPM")
                        .arg(a.count)
                        .arg(a.count == 1 ? QStringLiteral("entry") : QStringLiteral("entries"))
                        .arg(measures)
                        .arg(MinutesAndSeconds(SecondsOfMeasures(m.song, measures)))
                        .arg(int(m.song.tempo)));
    ShowCurrentEntry();
}

void ArrangementWindow::ShowCurrentEntry() {
    const Arrangement& a = ctx_.m.arrangement;
    const int entry = view_->CurrentEntry();
    const bool any = entry > 0;
    for (QWidget* w :
         std::initializer_list<QWidget*>{duplicate_, delete_, play_, pattern_, repeats_})
        w->setEnabled(any);
    up_->setEnabled(entry > 1);
    down_->setEnabled(any && entry < a.count);
    add_->setEnabled(a.count < kMaxEntries);
    const QSignalBlocker blockPattern(pattern_), blockRepeats(repeats_);
    if (any) {
        pattern_->setValue(a.entry(entry).pattern);
        repeats_->setValue(a.entry(entry).repeats);
    }
    for (int c = 1; c <= kChannels; ++c) {
        mutes_[c - 1]->setEnabled(any);
        mutes_[c - 1]->setChecked(any && MutesChannel(a.entry(entry).mutes, c));
    }
}

void ArrangementWindow::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) return spaceBar_->KeyPress(*event);
    QWidget::keyPressEvent(event);
}

void ArrangementWindow::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) return spaceBar_->KeyRelease(*event);
    QWidget::keyReleaseEvent(event);
}

bool WriteArrangementScreenshot(ArrangementWindow& window, const QString& path, qreal scale) {
    if (scale <= 0) scale = 1;
    window.show();  // laid out as it would be on the screen; offscreen nothing shows
    QPixmap pixmap(
        QSize(int(std::ceil(window.width() * scale)), int(std::ceil(window.height() * scale))));
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::black);
    window.render(&pixmap);
    return pixmap.save(path, "PNG");
}

}  // namespace qtam

#include "moc_arrangement_window.cpp"
