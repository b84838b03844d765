#pragma once
// The pattern grid: all eight channels of the edited measure at once, a row per channel and a
// cell per step. A click sets or clears a note as the panel's step click does, a drag along a
// row paints or erases, a right click opens the note details; the keyboard moves a cursor over
// the cells. Every change goes through the edit layer; the grid only shows the Song. The
// pattern and measure are the panel's: choosing them here chooses them there, and back.
//
// Thread: the user-interface thread.

#include <QAbstractTableModel>
#include <QTableView>
#include <QWidget>

#include "engine/play_position.h"

class QLabel;
class QSpinBox;

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

private:
    AppContext& ctx_;
    int columns_ = 16;
};

class PatternGridView : public QTableView {
    Q_OBJECT
public:
    PatternGridView(AppContext& ctx, SpaceBarKeys& spaceBar, QWidget* parent);
    // The step lit as heard (none: 0); drawn when it lies in the measure shown.
    void ShowHeard(const PlayPosition& heard);
    const PlayPosition& Heard() const { return heard_; }

Q_SIGNALS:
    // The note details of the cell the edit position now names (channel and step chosen).
    void noteDetailsRequested();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void OpenDetails(const QModelIndex& cell);

    AppContext& ctx_;
    SpaceBarKeys& spaceBar_;
    PlayPosition heard_;
    // A drag along a row: the row, the last cell reached and whether it sets notes.
    int dragRow_ = -1;
    int dragColumn_ = -1;
    bool dragNote_ = false;
};

class PatternGrid : public QWidget {
    Q_OBJECT
public:
    // A tool window of `owner` (the main window): above it, not above other programs.
    PatternGrid(AppContext& ctx, QWidget* owner);

    // Window > Pattern grid: shows the grid, raised and active.
    void ShowGrid();
    // The light of the step heard, as the panel shows it.
    void ShowHeard(const PlayPosition& heard) { view_->ShowHeard(heard); }

    PatternGridView& view() { return *view_; }
    QSize sizeHint() const override;

Q_SIGNALS:
    void noteDetailsRequested();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void Refresh();

    AppContext& ctx_;
    SpaceBarKeys* spaceBar_;
    PatternGridModel* model_;
    PatternGridView* view_;
    QSpinBox* pattern_;
    QSpinBox* measure_;
    QLabel* measures_;
};

// A PNG picture of the grid at its usual size, drawn at `scale` (qtam --screenshot --grid).
bool WriteGridScreenshot(PatternGrid& grid, const QString& path, qreal scale);

}  // namespace qtam
