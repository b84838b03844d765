#include "ui/pattern_grid/pattern_grid.h"

#include <QAccessible>
#include <QCheckBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QSpinBox>
#include <QStyledItemDelegate>
#include <QTimer>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <cmath>

#include "core/machine.h"
#include "core/sample_bank.h"
#include "core/song.h"
#include "song/song_editor.h"
#include "transport/transport.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"
#include "ui/services/app_context.h"
#include "ui/services/playback_notifier.h"
#include "ui/services/song_notifier.h"
#include "ui/services/sound_names.h"
#include "ui/services/space_bar_keys.h"

namespace qtam {

namespace {

// What a cell holds, for the drawing.
enum Role {
    kVelocityRole = Qt::UserRole,  // 0..127, or -1 for no note
    kPanRole,
    kReversedRole,
    kMutedRole,
};

constexpr int kMinimumCell = 22;

// The panel's colours: its dark steel, the rubber of an empty step, the orange of a lit one,
// the green of the running light and the yellow of the focus ring.
const QColor kBody{0x2a, 0x2b, 0x2e};
const QColor kEmpty{0x55, 0x58, 0x5e};
const QColor kEmptyBeat{0x6a, 0x6d, 0x74};
const QColor kNoteQuiet{0x5a, 0x30, 0x08};
const QColor kNoteLoud{0xff, 0xc0, 0x55};
const QColor kMark{0x20, 0x12, 0x04};
const QColor kHeard{0x52, 0xe0, 0x74};
const QColor kCursor{0xff, 0xe0, 0x00};

// Steps per beat: four sixteenths, or three in a measure of twelve.
int StepsPerBeat(const Song& song) {
    return StepsPerMeasureOf(song) == 12 ? 3 : 4;
}

QColor Mixed(const QColor& a, const QColor& b, double t) {
    return QColor::fromRgbF(a.redF() + (b.redF() - a.redF()) * t,
                            a.greenF() + (b.greenF() - a.greenF()) * t,
                            a.blueF() + (b.blueF() - a.blueF()) * t);
}

class CellPainter : public QStyledItemDelegate {
public:
    CellPainter(AppContext& ctx, PatternGridView& view)
        : QStyledItemDelegate(&view), ctx_(ctx), view_(view) {}

    void paint(QPainter* p, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override {
        const Machine& m = ctx_.m;
        p->save();
        p->setRenderHint(QPainter::Antialiasing, true);
        p->fillRect(option.rect, kBody);
        // Whole pixels at any scale: the cell's inner rectangle lies on the device grid.
        const QRectF cell = QRectF(option.rect).adjusted(2, 2, -2, -2);
        const int velocity = index.data(kVelocityRole).toInt();
        const bool muted = index.data(kMutedRole).toBool();
        const bool beat = index.column() % StepsPerBeat(m.song) == 0;
        QColor fill = velocity >= 0 ? Mixed(kNoteQuiet, kNoteLoud, velocity / 127.0)
                                    : (beat ? kEmptyBeat : kEmpty);
        if (muted) fill = Mixed(fill, kBody, 0.55);
        p->setPen(Qt::NoPen);
        p->setBrush(fill);
        p->drawRoundedRect(cell, 3, 3);
        if (velocity >= 0) {
            p->setBrush(kMark);
            // Reversed: a small wedge pointing back in the top left corner.
            if (index.data(kReversedRole).toBool()) {
                const QPointF c = cell.topLeft() + QPointF(4, 4);
                p->drawPolygon(QPolygonF{c + QPointF(0, 3), c + QPointF(5, 0), c + QPointF(5, 6)});
            }
            // A pan off the centre: a tick along the bottom where the sound sits.
            const int pan = index.data(kPanRole).toInt();
            if (pan != 64) {
                const double x = cell.left() + 3 + (cell.width() - 8) * pan / 127.0;
                p->drawRect(QRectF(x, cell.bottom() - 6, 2, 4));
            }
        }
        const PlayPosition& heard = view_.Heard();
        if (heard.known() && heard.pattern == m.editor.CurrentPattern &&
            heard.measure == m.editor.CurrentMeasure && heard.step == index.column() + 1) {
            p->setBrush(kHeard);
            p->drawRect(QRectF(cell.left(), cell.top(), cell.width(), 3));
        }
        if (index == view_.currentIndex() && view_.hasFocus()) {
            p->setPen(QPen(kCursor, 2));
            p->setBrush(Qt::NoBrush);
            p->drawRoundedRect(cell.adjusted(-1, -1, 1, 1), 3, 3);
        }
        p->restore();
    }

private:
    AppContext& ctx_;
    PatternGridView& view_;
};

}  // namespace

// ---- The table

PatternGridModel::PatternGridModel(AppContext& ctx, QObject* parent)
    : QAbstractTableModel(parent), ctx_(ctx) {
    columns_ = StepsPerMeasureOf(ctx_.m.song);
}

int PatternGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kChannels;
}

int PatternGridModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QString PatternGridModel::SoundName(int channel) const {
    return ChannelSoundName(ctx_.m, channel);
}

QVariant PatternGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) return {};
    const Machine& m = ctx_.m;
    const int channel = index.row() + 1, slot = index.column() + 1;
    const StepCell& c =
        m.song.cell(m.editor.CurrentPattern, m.editor.CurrentMeasure, channel, slot);
    switch (role) {
        case Qt::AccessibleTextRole:
        case Qt::ToolTipRole: {
            QString name = QStringLiteral("Channel %1, %2, step %3, ")
                               .arg(channel)
                               .arg(SoundName(channel))
                               .arg(slot);
            if (!c.hasNote()) return name + QStringLiteral("no note");
            name += QStringLiteral("velocity %1").arg(int(c.velocity));
            if (c.reversed != 0) name += QStringLiteral(", reversed");
            if (c.pan != 64) name += QStringLiteral(", pan %1").arg(int(c.pan));
            return name;
        }
        case kVelocityRole:
            return c.hasNote() ? int(c.velocity) : -1;
        case kPanRole:
            return int(c.pan);
        case kReversedRole:
            return c.reversed != 0;
        case kMutedRole:
            return m.song.settings(m.editor.CurrentPattern).mute[channel - 1] != 0;
        default:
            return {};
    }
}

QVariant PatternGridModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole && role != Qt::ToolTipRole)
        return {};
    if (orientation == Qt::Horizontal) {
        if (role == Qt::DisplayRole) return QString::number(section + 1);
        return QStringLiteral("Step %1").arg(section + 1);
    }
    const int channel = section + 1;
    const bool muted = ctx_.m.song.settings(ctx_.m.editor.CurrentPattern).mute[section] != 0;
    QString text = QStringLiteral("%1 %2").arg(channel).arg(SoundName(channel));
    if (muted) text += role == Qt::DisplayRole ? QStringLiteral("  M") : QStringLiteral(", muted");
    if (role != Qt::DisplayRole) text = QStringLiteral("Channel ") + text;
    if (section == labelCursor_)
        text = role == Qt::DisplayRole ? QStringLiteral("\u25B6 ") + text
                                       : text + QStringLiteral(", Enter chooses its sound");
    return text;
}

void PatternGridModel::SetLabelCursor(int row) {
    if (row == labelCursor_) return;
    labelCursor_ = row;
    Q_EMIT headerDataChanged(Qt::Vertical, 0, kChannels - 1);
}

void PatternGridModel::Refresh() {
    const int columns = StepsPerMeasureOf(ctx_.m.song);
    if (columns != columns_) {
        beginResetModel();
        columns_ = columns;
        endResetModel();
        return;
    }
    Q_EMIT dataChanged(index(0, 0), index(kChannels - 1, columns_ - 1));
    Q_EMIT headerDataChanged(Qt::Vertical, 0, kChannels - 1);
}

// ---- The view

PatternGridView::PatternGridView(AppContext& ctx, SpaceBarKeys& spaceBar, QWidget* parent)
    : QTableView(parent), ctx_(ctx), spaceBar_(spaceBar) {
    setObjectName(QStringLiteral("PatternGridTable"));
    setAccessibleName(QStringLiteral("Pattern grid"));
    setItemDelegate(new CellPainter(ctx, *this));
    setShowGrid(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setTabKeyNavigation(false);
    setMouseTracking(false);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, kBody);
    setPalette(pal);
    // Cells grow with the window.
    horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    verticalHeader()->setSectionResizeMode(QHeaderView::Stretch);
    horizontalHeader()->setMinimumSectionSize(kMinimumCell);
    verticalHeader()->setMinimumSectionSize(kMinimumCell);
    horizontalHeader()->setSectionsClickable(false);
    verticalHeader()->setSectionsClickable(true);
    verticalHeader()->setHighlightSections(false);
    // A row's label chooses that channel on the panel, and a sound for it.
    connect(verticalHeader(), &QHeaderView::sectionClicked, this,
            [this](int row) { ChooseInstrumentOf(row); });
    verticalHeader()->setToolTip(QStringLiteral("Click to choose the channel's sound"));
    // The row menu: a right click on a label fills from the first step.
    rowMenu_ = new QMenu(this);
    rowMenu_->setObjectName(QStringLiteral("RowMenu"));
    detailsItem_ = rowMenu_->addAction(QStringLiteral("Note &details..."), this, [this] {
        OpenDetails(model()->index(menuRow_, menuColumn_));
    });
    rowMenu_->addSeparator();
    const struct {
        const char* text;
        int every;
    } fills[] = {{"Fill &every step", 1},
                 {"Fill every &2nd step", 2},
                 {"Fill every &4th step", 4},
                 {"&Clear row", 0}};
    for (const auto& fill : fills)
        rowMenu_->addAction(QString::fromLatin1(fill.text), this,
                            [this, every = fill.every] { FillRow(menuRow_, menuColumn_, every); });
    verticalHeader()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(verticalHeader(), &QHeaderView::customContextMenuRequested, this,
            [this](const QPoint& at) {
                const int row = verticalHeader()->logicalIndexAt(at);
                if (row >= 0) OpenRowMenu(row, 0, false, verticalHeader()->mapToGlobal(at));
            });
    wheelEnd_ = new QTimer(this);
    wheelEnd_->setSingleShot(true);
    wheelEnd_->setInterval(kWheelGestureMs);
    connect(wheelEnd_, &QTimer::timeout, this, [this] { EndGesture(); });
}

void PatternGridView::ChooseInstrumentOf(int row) {
    ctx_.edits.ChooseChannel(row + 1);
    Q_EMIT instrumentChoiceRequested();
}

void PatternGridView::MoveVelocity(const QModelIndex& cell, int delta) {
    if (!cell.isValid()) return;
    const int velocity = ctx_.edits.DragVelocity(cell.row() + 1, cell.column() + 1, delta);
    if (velocity >= 0) SayVelocity(velocity);
}

void PatternGridView::EndGesture() {
    wheelEnd_->stop();
    wheelRest_ = 0;
    ctx_.edits.EndDrag();
}

void PatternGridView::ToggleAccent(const QModelIndex& cell) {
    const Machine& m = ctx_.m;
    const int key =
        ((m.editor.CurrentPattern * kMeasures + m.editor.CurrentMeasure) * kChannels + cell.row()) *
            kSlots +
        cell.column();
    const int before = cell.data(kVelocityRole).toInt();
    if (before < 0) return;
    const int velocity =
        ctx_.edits.ToggleAccent(cell.row() + 1, cell.column() + 1, beforeAccent_.value(key, 80));
    if (velocity == 127 && before != 127) beforeAccent_.insert(key, before);
    if (velocity >= 0) SayVelocity(velocity);
}

void PatternGridView::OpenRowMenu(int row, int column, bool forCell, const QPoint& where) {
    menuRow_ = row;
    menuColumn_ = column;
    detailsItem_->setVisible(forCell);
    rowMenu_->popup(where, forCell ? detailsItem_ : nullptr);
}

void PatternGridView::FillRow(int row, int column, int every) {
    setCurrentIndex(model()->index(row, column));
    if (!ctx_.edits.FillRow(row + 1, column + 1, every)) return;
    const QString channel = QStringLiteral("channel %1").arg(row + 1);
    if (every == 0)
        Say(QStringLiteral("Cleared ") + channel);
    else
        Say(QStringLiteral("Filled %1 from step %2, %3")
                .arg(every == 1   ? QStringLiteral("every step")
                     : every == 2 ? QStringLiteral("every 2nd step")
                                  : QStringLiteral("every %1th step").arg(every))
                .arg(column + 1)
                .arg(channel));
}

void PatternGridView::SayVelocity(int velocity) {
    Say(QStringLiteral("Velocity %1").arg(velocity));
}

void PatternGridView::Say(const QString& text) {
    setAccessibleDescription(text);
    QAccessibleEvent said(this, QAccessible::DescriptionChanged);
    QAccessible::updateAccessibility(&said);
}

void PatternGridView::wheelEvent(QWheelEvent* event) {
    const QModelIndex cell = indexAt(event->position().toPoint());
    if (!cell.isValid() || cell.data(kVelocityRole).toInt() < 0) {
        event->ignore();
        return;
    }
    // 120 is one notch; finer wheels add up to one.
    wheelRest_ += event->angleDelta().y();
    const int notches = wheelRest_ / 120;
    wheelRest_ -= notches * 120;
    event->accept();
    if (notches == 0) return;
    setCurrentIndex(cell);
    MoveVelocity(cell, notches * kVelocityStep);
    wheelEnd_->start();
}

void PatternGridView::ShowHeard(const PlayPosition& heard) {
    if (heard.step == heard_.step && heard.measure == heard_.measure &&
        heard.pattern == heard_.pattern)
        return;
    heard_ = heard;
    viewport()->update();
}

void PatternGridView::OpenDetails(const QModelIndex& cell) {
    ctx_.edits.ChooseChannel(cell.row() + 1);
    ctx_.edits.ChooseStep(cell.column() + 1);
    Q_EMIT noteDetailsRequested();
}

void PatternGridView::mousePressEvent(QMouseEvent* event) {
    const QModelIndex cell = indexAt(event->position().toPoint());
    if (!cell.isValid()) return;
    setCurrentIndex(cell);
    model_()->SetLabelCursor(-1);
    const Qt::KeyboardModifiers mods = event->modifiers();
    if (event->button() == Qt::RightButton) {
        OpenRowMenu(cell.row(), cell.column(), true,
                    viewport()->mapToGlobal(event->position().toPoint()));
    } else if (event->button() == Qt::LeftButton && mods == Qt::ShiftModifier) {
        ToggleAccent(cell);
    } else if (event->button() == Qt::LeftButton && mods == Qt::ControlModifier) {
        // A vertical drag moves the note's velocity.
        velocityCell_ = cell;
        velocityY_ = static_cast<int>(event->position().y());
    } else if (event->button() == Qt::LeftButton) {
        // The first cell toggles; the drag that may follow paints the row with what it got.
        dragNote_ = ctx_.edits.ToggleCell(cell.row() + 1, cell.column() + 1);
        dragRow_ = cell.row();
        dragColumn_ = cell.column();
    }
}

void PatternGridView::mouseMoveEvent(QMouseEvent* event) {
    if (velocityCell_.isValid() && (event->buttons() & Qt::LeftButton)) {
        // Up is louder: a step of 8 for every 8 pixels.
        const int moved = (velocityY_ - static_cast<int>(event->position().y())) / kVelocityStep;
        if (moved != 0) {
            MoveVelocity(velocityCell_, moved * kVelocityStep);
            velocityY_ -= moved * kVelocityStep;
        }
        return;
    }
    if (dragRow_ < 0 || !(event->buttons() & Qt::LeftButton)) return;
    const int column = columnAt(static_cast<int>(event->position().x()));
    if (column < 0 || column == dragColumn_) return;
    // Every cell between the last one reached and this one: a fast drag leaves no gap.
    const int step = column > dragColumn_ ? 1 : -1;
    for (int c = dragColumn_ + step;; c += step) {
        ctx_.edits.DragPaintCell(dragRow_ + 1, c + 1, dragNote_);
        if (c == column) break;
    }
    dragColumn_ = column;
    setCurrentIndex(model()->index(dragRow_, column));
}

void PatternGridView::mouseReleaseEvent(QMouseEvent*) {
    if (velocityCell_.isValid()) {
        velocityCell_ = {};
        EndGesture();
    }
    if (dragRow_ < 0) return;
    dragRow_ = -1;
    ctx_.edits.EndDrag();
}

void PatternGridView::focusOutEvent(QFocusEvent* event) {
    if (dragRow_ >= 0) {
        dragRow_ = -1;
        ctx_.edits.EndDrag();
    }
    if (velocityCell_.isValid() || wheelEnd_->isActive()) {
        velocityCell_ = {};
        EndGesture();
    }
    model_()->SetLabelCursor(-1);
    spaceBar_.Flush();
    QTableView::focusOutEvent(event);
}

void PatternGridView::keyPressEvent(QKeyEvent* event) {
    const QModelIndex cell = currentIndex().isValid() ? currentIndex() : model()->index(0, 0);
    const int key = event->key();
    const int label = model_()->LabelCursor();
    if (label >= 0 && key != Qt::Key_Space) {
        // On a row's label: Enter chooses its sound, Up and Down go along the labels, anything
        // else goes back to the cells.
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            ChooseInstrumentOf(label);
        } else if (key == Qt::Key_Up || key == Qt::Key_Down) {
            const int row = std::clamp(label + (key == Qt::Key_Up ? -1 : 1), 0, kChannels - 1);
            model_()->SetLabelCursor(row);
            setCurrentIndex(model()->index(row, 0));
        } else {
            model_()->SetLabelCursor(-1);
            if (key != Qt::Key_Right && key != Qt::Key_Escape) return keyPressEvent(event);
        }
        event->accept();
        return;
    }
    if (key == Qt::Key_Space) {
        spaceBar_.KeyPress(*event);
    } else if (key == Qt::Key_Left && cell.column() == 0 && event->modifiers() == Qt::NoModifier) {
        model_()->SetLabelCursor(cell.row());
    } else if (key == Qt::Key_Plus || key == Qt::Key_Minus || key == Qt::Key_Equal) {
        // Held, the key is one gesture: it ends when the key is let go.
        MoveVelocity(cell, key == Qt::Key_Minus ? -kVelocityStep : kVelocityStep);
    } else if (key == Qt::Key_A && event->modifiers() == Qt::NoModifier) {
        ToggleAccent(cell);
    } else if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        setCurrentIndex(cell);
        if (event->modifiers() & Qt::ShiftModifier)
            OpenDetails(cell);
        else
            ctx_.edits.ToggleCell(cell.row() + 1, cell.column() + 1);
    } else if (key == Qt::Key_Menu ||
               (key == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
        setCurrentIndex(cell);
        OpenRowMenu(cell.row(), cell.column(), true,
                    viewport()->mapToGlobal(visualRect(cell).center()));
    } else if (key >= Qt::Key_1 && key <= Qt::Key_8 && event->modifiers() == Qt::NoModifier) {
        setCurrentIndex(model()->index(key - Qt::Key_1, cell.column()));
    } else {
        QTableView::keyPressEvent(event);
        return;
    }
    event->accept();
}

void PatternGridView::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) {
        spaceBar_.KeyRelease(*event);
        event->accept();
        return;
    }
    const int key = event->key();
    if ((key == Qt::Key_Plus || key == Qt::Key_Minus || key == Qt::Key_Equal) &&
        !event->isAutoRepeat()) {
        EndGesture();
        event->accept();
        return;
    }
    QTableView::keyReleaseEvent(event);
}

// ---- The window

PatternGrid::PatternGrid(AppContext& ctx, QWidget* owner) : QWidget(owner), ctx_(ctx) {
    setObjectName(QStringLiteral("PatternGrid"));
    setWindowFlags(Qt::Tool);
    setWindowTitle(QStringLiteral("Pattern grid"));
    spaceBar_ = new SpaceBarKeys(ctx_.transport, true, this);
    model_ = new PatternGridModel(ctx_, this);
    view_ = new PatternGridView(ctx_, *spaceBar_, this);
    view_->setModel(model_);
    view_->setCurrentIndex(model_->index(0, 0));

    // The pattern and measure shown are the panel's; choosing them here chooses them there.
    pattern_ = new QSpinBox(this);
    pattern_->setObjectName(QStringLiteral("Pattern"));
    pattern_->setAccessibleName(QStringLiteral("Pattern"));
    pattern_->setRange(1, kPatterns);
    measure_ = new QSpinBox(this);
    measure_->setObjectName(QStringLiteral("Measure"));
    measure_->setAccessibleName(QStringLiteral("Measure"));
    measures_ = new QLabel(this);
    auto* patternLabel = new QLabel(QStringLiteral("&Pattern"), this);
    patternLabel->setBuddy(pattern_);
    auto* measureLabel = new QLabel(QStringLiteral("&Measure"), this);
    measureLabel->setBuddy(measure_);
    connect(pattern_, &QSpinBox::valueChanged, this, [this](int p) {
        if (p != ctx_.m.editor.CurrentPattern) ctx_.transport.QueuePattern(p);
    });
    connect(measure_, &QSpinBox::valueChanged, this, [this](int meas) {
        if (meas != ctx_.m.editor.CurrentMeasure) ctx_.transport.LocateMeasure(meas);
    });

    // What plays, when it is not what is shown, and the panel's follow switch.
    playing_ = new QLabel(this);
    playing_->setObjectName(QStringLiteral("Playing"));
    follow_ = new QCheckBox(QStringLiteral("&Follow"), this);
    follow_->setObjectName(QStringLiteral("Follow"));
    follow_->setAccessibleName(QStringLiteral("Follow the measure heard"));
    connect(follow_, &QCheckBox::toggled, this, [this](bool on) { ctx_.transport.SetFollow(on); });
    connect(&ctx_.playbackState, &PlaybackNotifier::stateChanged, this, [this] {
        const QSignalBlocker block(follow_);
        follow_->setChecked(ctx_.transport.Following());
    });
    follow_->setChecked(ctx_.transport.Following());

    auto* bar = new QHBoxLayout;
    bar->addWidget(patternLabel);
    bar->addWidget(pattern_);
    bar->addSpacing(12);
    bar->addWidget(measureLabel);
    bar->addWidget(measure_);
    bar->addWidget(measures_);
    bar->addStretch(1);
    bar->addWidget(playing_);
    bar->addWidget(follow_);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(bar);
    layout->addWidget(view_, 1);
    setFocusProxy(view_);
    resize(sizeHint());

    connect(&ctx_.songState, &SongNotifier::changed, this, [this](SongChange) { Refresh(); });
    connect(view_, &PatternGridView::noteDetailsRequested, this,
            &PatternGrid::noteDetailsRequested);
    connect(view_, &PatternGridView::instrumentChoiceRequested, this,
            &PatternGrid::instrumentChoiceRequested);
    Refresh();
}

void PatternGrid::ShowHeard(const PlayPosition& heard) {
    view_->ShowHeard(heard);
    ShowWhatPlays();
}

void PatternGrid::ShowWhatPlays() {
    const PlayPosition& heard = view_->Heard();
    const Machine& m = ctx_.m;
    const bool elsewhere = heard.known() && (heard.pattern != m.editor.CurrentPattern ||
                                             heard.measure != m.editor.CurrentMeasure);
    const QString text = elsewhere ? QStringLiteral("\u25B6 Playing pattern %1, measure %2")
                                         .arg(int(heard.pattern))
                                         .arg(int(heard.measure))
                                   : QString();
    if (playing_->text() != text) playing_->setText(text);
}

QSize PatternGrid::sizeHint() const {
    return QSize(16 * 40 + 140, 8 * 32 + 80);
}

void PatternGrid::ShowGrid() {
    // A place kept from a larger screen or scale would leave it out of sight.
    KeepOnScreen(*this);
    showNormal();
    KeepOnScreen(*this);  // again with its frame, known once it shows
    raise();
    activateWindow();
    view_->setFocus();
}

void PatternGrid::Refresh() {
    const Machine& m = ctx_.m;
    const QSignalBlocker blockPattern(pattern_), blockMeasure(measure_);
    pattern_->setValue(m.editor.CurrentPattern);
    const int count = MeasureCountOf(m.song, m.editor.CurrentPattern);
    measure_->setRange(1, count);
    measure_->setValue(m.editor.CurrentMeasure);
    measures_->setText(QStringLiteral("of %1").arg(count));
    ShowWhatPlays();
    const QModelIndex cursor = view_->currentIndex();
    model_->Refresh();
    // A change of the step count resets the table; the cursor stays where it can.
    if (!view_->currentIndex().isValid())
        view_->setCurrentIndex(
            model_->index(std::max(cursor.row(), 0),
                          std::min(std::max(cursor.column(), 0), model_->columnCount() - 1)));
    view_->viewport()->update();
}

void PatternGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) return spaceBar_->KeyPress(*event);
    QWidget::keyPressEvent(event);
}

void PatternGrid::keyReleaseEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space) return spaceBar_->KeyRelease(*event);
    QWidget::keyReleaseEvent(event);
}

bool WriteGridScreenshot(PatternGrid& grid, const QString& path, qreal scale) {
    if (scale <= 0) scale = 1;
    grid.resize(grid.sizeHint());
    grid.show();  // laid out as it would be on the screen; offscreen nothing shows
    QPixmap pixmap(
        QSize(int(std::ceil(grid.width() * scale)), int(std::ceil(grid.height() * scale))));
    pixmap.setDevicePixelRatio(scale);
    pixmap.fill(Qt::black);
    grid.render(&pixmap);
    return pixmap.save(path, "PNG");
}

}  // namespace qtam

#include "moc_pattern_grid.cpp"
