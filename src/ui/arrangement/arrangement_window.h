#pragma once
// The arrangement window: the entries of the song's arrangement, one row each, with their
// pattern, repeats, mutes and length in measures and in time at the song's tempo, and what the
// list does at its end. Keys and the mouse add the edited pattern, duplicate, delete, move
// (a drag as well), set repeats and mutes, and play from an entry; every change is one edit of
// the edit layer, which the window only shows. The entry heard is lit.
//
// Thread: the user-interface thread.

#include <QAbstractTableModel>
#include <QTableView>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>

#include "engine/play_position.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;

namespace qtam {

struct AppContext;
struct Song;
class SpaceBarKeys;

// "1:05": seconds as minutes and seconds.
QString MinutesAndSeconds(double seconds);
// How long `measures` measures last at the song's tempo, in seconds (a step is a sixteenth).
double SecondsOfMeasures(const Song& song, long long measures);
// "3, 4": the channels a mute byte names; "none" for none.
QString MutedChannels(std::uint8_t mutes);

// The arrangement as a table for the view and for screen readers: the accessible text of a
// cell says its entry whole.
class ArrangementModel : public QAbstractTableModel {
public:
    enum Column { kEntry, kPattern, kRepeats, kMutes, kMeasures, kTime, kColumns };

    ArrangementModel(AppContext& ctx, QObject* parent);
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Everything shown again from the arrangement and the Song.
    void Refresh();
    // The entry heard (0: none), drawn lit.
    void SetHeardEntry(int entry);
    int HeardEntry() const { return heard_; }
    // "Entry 2, pattern 3, 2 times, mutes 3, 4, 4 measures, 0:08".
    QString Describe(int entry) const;

private:
    AppContext& ctx_;
    int rows_ = 0;
    int heard_ = 0;
};

class ArrangementView : public QTableView {
    Q_OBJECT
public:
    ArrangementView(AppContext& ctx, SpaceBarKeys& spaceBar, QWidget* parent);
    // The entry with the cursor, 1..count; 0 for an empty list.
    int CurrentEntry() const;
    void SelectEntry(int entry);

Q_SIGNALS:
    void playRequested(int entry);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    AppContext& ctx_;
    SpaceBarKeys& spaceBar_;
    int dragFrom_ = 0;  // the entry a drag holds, 0: none
};

class ArrangementWindow : public QWidget {
    Q_OBJECT
public:
    // A tool window of `owner` (the main window): above it, not above other programs.
    ArrangementWindow(AppContext& ctx, QWidget* owner);

    // Window > Arrangement: shows the window, raised and active.
    void ShowArrangement();
    // The place heard; its entry is lit (none outside song mode).
    void ShowHeard(const PlayPosition& heard);

    // Plays the arrangement from entry 1..count (Enter, a double click, "Play from here").
    // The application sets it; unset, playing from an entry does nothing.
    std::function<void(int entry)> playFromEntry;

    ArrangementView& view() { return *view_; }
    ArrangementModel& model() { return *model_; }
    QSize sizeHint() const override;

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void Refresh();
    // The entry editor below the table shows the current entry.
    void ShowCurrentEntry();
    void PlayFrom(int entry);

    AppContext& ctx_;
    SpaceBarKeys* spaceBar_;
    ArrangementModel* model_;
    ArrangementView* view_;
    QPushButton* add_;
    QPushButton* duplicate_;
    QPushButton* delete_;
    QPushButton* up_;
    QPushButton* down_;
    QPushButton* play_;
    QSpinBox* pattern_;
    QSpinBox* repeats_;
    std::array<QCheckBox*, 8> mutes_{};
    QComboBox* end_;
    QLabel* total_;
};

// A PNG picture of the window at its usual size, drawn at `scale`.
bool WriteArrangementScreenshot(ArrangementWindow& window, const QString& path, qreal scale);

}  // namespace qtam
