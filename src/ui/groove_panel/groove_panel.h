#pragma once
// GroovePanel (once TKadra): the groove panel, the skinned window on which the Song is edited
// and played. Every control is a picture or a label laid on the skin at its fixed position;
// lighting a control shows or hides one picture over another. Pictures created later lie over
// earlier ones, so the stop pictures lie over the step pictures and the covers over both.
//
// Thread: the user-interface thread, for every member (the light show's ticks are handed to
// it by the timer).

#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/song.h"
#include "ui/groove_panel/panel_access.h"
#include "ui/groove_panel/panel_controls.h"
#include "ui/groove_panel/panel_layout.h"
#include "ui/groove_panel/panel_values.h"

namespace qtam {

struct AppContext;
class PlayLights;
class PrecisionTimer;
class SpaceBarKeys;

// What an instrument name shows for a channel whose sound is not in memory.
inline constexpr const char* kMissingSoundName = "(missing)";

class GroovePanel : public QWidget {
    Q_OBJECT
public:
    static constexpr int kWidth = layout::kPanelWidth;
    static constexpr int kHeight = layout::kPanelHeight;
    static constexpr int kLightShowInterval = 55;  // ms per light-show tick
    static constexpr int kLightShowTicks = 32;

    explicit GroovePanel(AppContext& ctx, QWidget* parent = nullptr);
    ~GroovePanel() override;

    // ---- Refreshing from the Song
    void RefreshFromSong();
    void ShowInstrumentNames();
    void SelectChannel(int n);
    void ShowStepLeds();
    void ShowStepLed(bool lit, int button);
    void ShowLampsBright(int n);
    void ShowLampsDark(int n);
    void ShowMeasures();
    void ShowTempoAndShuffle();
    void ShowDistortion();
    void ShowMainVolume();
    void ShowChannelVolumes();
    // The caption: the song title line kept by UpdateTitle, once there is one, with "*" before
    // it while the Song has unsaved changes and the live recording after it while one is armed.
    void ShowCaption();

    // ---- The 16/12-step switch (the main window's "16 step measure" / "12 step measure")
    void UseSixteenSteps();
    void UseTwelveSteps();

    // ---- The knob's pointer, drawn into the knob picture
    void DrawKnobPointer();
    void EraseKnobPointer();

    // ---- Transport
    void StartPlaying();
    void StopPlaying();

    // ---- Light show
    // Starts the start-up light show unless it has run (or runs).
    void StartLightShow();
    // One tick of the light show (lightShowTimer_'s OnTimer).
    void LightShowTick();
    bool LightShowDone = false;
    int LightShowTickCount = 0;
    // When each tick of the light show ran (for timing it).
    std::vector<std::chrono::steady_clock::time_point> LightShowTickTimes;

    // ---- Handlers (named after their controls)
    void PressStep(int button, Qt::MouseButton pressed);
    void OpenNoteDetails(int button);
    void ChooseInstrument(int n);
    void ToggleDistortion(int n);
    void ToggleMute(int n);
    void ChoosePatternAt(int x, int y);
    void ChangeMeasureCount();
    void ChangeEditMeasure();
    void DragChannelVolume(int n, const QMouseEvent& e);
    void DragTempo(const QMouseEvent& e);
    void DragShuffle(const QMouseEvent& e);
    void DragDistortion(const QMouseEvent& e);
    void DragThreshold(const QMouseEvent& e);
    void EnterTempo();
    void EnterShuffle();
    void GrabVolumeKnob(const QMouseEvent& e);
    void TurnVolumeKnob(const QMouseEvent& e);
    void PressStart(const QMouseEvent& e);
    void ReleaseStart();
    void PressStop();

    // ---- What the panel shows of playback: the running light, the measure heard, a waiting
    // pattern and the follow switch.
    PlayLights& Lights() { return *lights_; }

    // ---- The controls (1-based arrays; [0] unused), in stacking order
    SkinPicture* Background = nullptr;
    std::array<SkinPicture*, 17> StepLit{};   // a step button with its note LED lit
    std::array<SkinPicture*, 17> StepDark{};  // over it while the step has no note
    std::array<SkinPicture*, 5> StepCover{};  // over buttons 4, 8, 12, 16 in 12-step mode
    std::array<SkinPicture*, 9> ChannelButton{};
    SkinPicture* ChannelHighlight = nullptr;
    std::array<PanelLabel*, 9> InstrumentName{};
    std::array<SkinPicture*, 9> DistortionLamp{};
    std::array<SkinPicture*, 9> MuteLamp{};
    // The four lamp drawings the lamps copy (never shown): bright in the selected column.
    SkinPicture* LampBrightOn = nullptr;
    SkinPicture* LampBrightOff = nullptr;
    SkinPicture* LampDarkOn = nullptr;
    SkinPicture* LampDarkOff = nullptr;
    std::array<SkinPicture*, 9> PatternKey{};  // the keypad with key n lit; one shows
    UpDown* MeasureCountArrows = nullptr;
    UpDown* EditMeasureArrows = nullptr;
    PanelLabel* MeasureCountLabel = nullptr;
    PanelLabel* EditMeasureLabel = nullptr;
    std::array<SkinPicture*, 9> VolumeSlider{};
    std::array<PanelLabel*, 9> VolumeLabel{};
    SkinPicture* TempoSlider = nullptr;
    SkinPicture* ShuffleSlider = nullptr;
    SkinPicture* DistortionSlider = nullptr;
    SkinPicture* ThresholdSlider = nullptr;
    PanelLabel* TempoLabel = nullptr;
    PanelLabel* ShuffleLabel = nullptr;
    SkinPicture* StartButton = nullptr;
    SkinPicture* StopButton = nullptr;
    KnobPicture* VolumeKnob = nullptr;

    // Every control as the keyboard and a screen reader see it, in Tab order
    // (groove_panel_keys.cpp).
    std::vector<FocusSpot*> Spots;
    // Tells the screen reader what the last key or click changed.
    void ReportControlChanges();

    std::int16_t KnobBase = 0;
    KnobPoint KnobInner{26, 26};
    KnobPoint KnobOuter{26, 26};

Q_SIGNALS:
    // A step's details (the step is m.editor.CurrentStep), not modal.
    void noteDetailsRequested();
    // The value dialog for the tempo or the shuffle; modal, the panel shows the value after.
    void tempoEntryRequested();
    void shuffleEntryRequested();
    // The instrument choice for the current channel, not modal.
    void instrumentChoiceRequested();
    // The 16/12-step switch changed the Song (the menus show the mode).
    void stepsPerMeasureChanged();
    // The panel became the active window (the splash goes).
    void activated();

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    bool focusNextPrevChild(bool next) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildFocusSpots();
    FocusSpot* AddSpot(const QString& name, ControlGroup group, QRect area);
    bool HandleControlKey(QKeyEvent* event);
    void MoveWithinGroup(FocusSpot* from, int direction);
    void BuildControls();
    void SyncTransportButtons();
    // Playback stopped because the device was lost: the user is told why.
    void DeviceLost(const std::string& reason);
    // The configured device is not present: said once for each device number.
    void DefaultDeviceInstead(int deviceNum);
    void ReleaseDeviceWhenIdle();
    void SetStepMode(int steps);
    void ShowOtherChannelButtons(int n);

    AppContext& ctx_;
    std::unique_ptr<PrecisionTimer> lightShowTimer_;
    std::unique_ptr<Song> introSnapshot_;  // the Song as the light show found it
    std::unique_ptr<PlayLights> lights_;
    bool centred_ = false;
    int defaultInsteadOf_ = -1;         // the missing device last mentioned
    SpaceBarKeys* spaceBar_ = nullptr;  // the space bar's guard against a held key
};

// Draws the groove panel, as it would appear with the current Song, into a PNG file at the
// given scale (1: 636 x 385 pixels), without showing any window. False when the file could
// not be written.
bool WritePanelScreenshot(GroovePanel& panel, const QString& path, qreal scale);

}  // namespace qtam
