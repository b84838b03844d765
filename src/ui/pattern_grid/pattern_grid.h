#pragma once
// The pattern grid: all eight channels of the edited measure at once, a row per channel and a
// cell per step. A click sets or clears a note as the panel's step click does, a drag along a
// row paints or erases; the keyboard moves a cursor over the cells. A right click on a cell (or
// the Menu key, Shift+F10) opens the row's menu: the note details, and fills of the row from
// that step; on a row's label, the fills from step 1. Every change goes through the edit layer; the
// grid only shows the Song. The pattern and measure are the panel's: choosing them here chooses
// them there, and back. A note's velocity changes by the wheel, by + and - (or a vertical
// Ctrl+drag) in steps of 8, each gesture one undoable edit; Shift+click or A accents it. A row's
// label (a click, or Enter once Left has moved onto it from the first step) opens the instrument
// choice for its channel. While another pattern or measure plays, the window says which, beside
// Follow.
//
// Thread: the user-interface thread.

#include <QAbstractTableModel>
#include <QHash>
#include <QTableView>
#include <QWidget>

#include "engine/play_position.h"

class QCheckBox;
class QAction;
class QMenu;
class QLabel;
class QSpinBox;
class QTimer;

namespace qtam {

struct AppContext;
class SpaceBarKeys;

// The Song's edited measure as a table for the view and for screen readers: the accessible
// name of a cell says its channel, sound, step and velocity.
class PatternGridModel : public QAbstractTableModel {
public:
    PatternGridModel(AppContext& ctx, QObject* parent);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Everything shown again from the Song (the columns too, when the step count changed).
    void Refresh();
    // The sound of channel 1..8 in the edited pattern, as the panel names it.
    QString SoundName(int channel) const;
    // The row whose label has the keyboard (-1: none), marked on its label.
    void SetLabelCursor(int row);
    int LabelCursor() const { return labelCursor_; }

private:
    AppContext& ctx_;
    int columns_ = 16;
    int labelCursor_ = -1;
};

class PatternGridView : public QTableView {
    Q_OBJECT
public:
    PatternGridView(AppContext& ctx, SpaceBarKeys& spaceBar, QWidget* parent);
    // The step lit as heard (none: 0); drawn when it lies in the measure shown.
    void ShowHeard(const PlayPosition& heard);
    const PlayPosition& Heard() const { return heard_; }

    // The row menu's fill of `row` from `column` (0-based) every `every` steps, 0: cleared.
    void FillRow(int row, int column, int every);

    static constexpr int kVelocityStep = 8;
    static constexpr int kWheelGestureMs = 400;  // a pause this long ends a wheel gesture

Q_SIGNALS:
    // The note details of the cell the edit position now names (channel and step chosen).
    void noteDetailsRequested();
    // The instrument choice for the edited channel (a row's label chose it).
    void instrumentChoiceRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    PatternGridModel* model_() const { return static_cast<PatternGridModel*>(model()); }
    void OpenDetails(const QModelIndex& cell);
    // The row menu at `where` (global): for a cell, with its note details; for a label, the
    // fills from step 1.
    void OpenRowMenu(int row, int column, bool forCell, const QPoint& where);
    void ChooseInstrumentOf(int row);
    // A step of a velocity gesture on `cell`; EndGesture records it.
    void MoveVelocity(const QModelIndex& cell, int delta);
    void EndGesture();
    void ToggleAccent(const QModelIndex& cell);
    // Tells the screen reader the cell's velocity, or what an edit did.
    void SayVelocity(int velocity);
    void Say(const QString& text);

    AppContext& ctx_;
    SpaceBarKeys& spaceBar_;
    PlayPosition heard_;
    // A drag along a row: the row, the last cell reached and whether it sets notes.
    int dragRow_ = -1;
    int dragColumn_ = -1;
    bool dragNote_ = false;
    // A Ctrl+drag of a note's velocity: its cell and the height it has reached.
    QModelIndex velocityCell_;
    int velocityY_ = 0;
    QTimer* wheelEnd_;
    int wheelRest_ = 0;  // a fine wheel's turn short of a notch
    // The row menu (object name "RowMenu") and the cell it was opened for.
    QMenu* rowMenu_;
    QAction* detailsItem_;
    int menuRow_ = 0;
    int menuColumn_ = 0;
    // The velocity an accented note goes back to, by pattern, measure, channel and step.
    QHash<int, int> beforeAccent_;
};

class PatternGrid : public QWidget {
    Q_OBJECT
public:
    // A tool window of `owner` (the main window): above it, not above other programs.
    PatternGrid(AppContext& ctx, QWidget* owner);

    // Window > Pattern grid: shows the grid, raised and active.
    void ShowGrid();
    // The light of the step heard, as the panel shows it.
    void ShowHeard(const PlayPosition& heard);

    PatternGridView& view() { return *view_; }
    QSize sizeHint() const override;

Q_SIGNALS:
    void noteDetailsRequested();
    void instrumentChoiceRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void Refresh();
    void ShowWhatPlays();

    AppContext& ctx_;
    SpaceBarKeys* spaceBar_;
    PatternGridModel* model_;
    PatternGridView* view_;
    QSpinBox* pattern_;
    QSpinBox* measure_;
    QLabel* measures_;
    QLabel* playing_;  // the pattern and measure heard, when not the ones shown
    QCheckBox* follow_;
};

// A PNG picture of the grid at its usual size, drawn at `scale` (qtam --screenshot --grid).
bool WriteGridScreenshot(PatternGrid& grid, const QString& path, qreal scale);

}  // namespace qtam
