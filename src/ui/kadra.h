#pragma once
// TKadra, the groove panel: the skinned window on which the Song is edited and played. Every
// control is a picture or a label laid on the skin at its fixed position; lighting a control
// shows or hides one picture over another. Pictures created later lie over earlier ones, so
// the stop pictures lie over the step pictures and the covers over both.
//
// Thread: the user-interface thread, for every member (the light show's ticks are handed to
// it by the timer).

#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/song.h"
#include "ui/panel_controls.h"
#include "ui/panel_values.h"

namespace qtam {

struct AppContext;
class PrecisionTimer;
class SpaceBarKeys;

class TKadra : public QWidget {
public:
    static constexpr int kWidth = 636;
    static constexpr int kHeight = 385;
    static constexpr int kIntroInterval = 55;  // ms per light-show tick
    static constexpr int kIntroTicks = 32;

    explicit TKadra(AppContext& ctx, QWidget* parent = nullptr);
    ~TKadra() override;

    // ---- Refreshing from the Song
    void UpDateInterface();
    void UpdateInstruments();
    void ActivateChannel(int n);
    void DisplayLeds();
    void Display1Led(bool lit, int button);
    void MakeCheckActive(int n);
    void MakeCheckInActive(int n);
    void UpDateMeasures();
    void UpDateTempo();
    void UpDateDistortion();
    void UpDateMainVolume();
    void UpDateVolumes();
    // The caption: the song title line kept by UpdateTitle, once there is one.
    void UpdateCaption();

    // ---- The 16/12-step switch (the main window's "16 step measure" / "12 step measure")
    void SixteenStepMeasure();
    void TwelveStepMeasure();

    // ---- The knob's pointer, drawn into the knob picture
    void DrawKnobLine();
    void RemoveKnobLine();

    // ---- Transport
    void DoPlayStuff();
    void DoStopStuff();

    // ---- Light show
    // Starts the start-up light show unless it has run (or runs).
    void StartLightShow();
    // One tick of the light show (IntroTimer's OnTimer).
    void IntroTimerTimer();
    bool IntroDone = false;
    int IntroTick = 0;
    // When each tick of the light show ran (for timing it).
    std::vector<std::chrono::steady_clock::time_point> IntroTickTimes;

    // ---- Handlers (named after their controls)
    void StopMouseDown(int button, Qt::MouseButton pressed);
    void More1Click(int button);
    void ChannelMouseDown(int n);
    void InsMouseDown(int n);
    void Dist1Click(int n);
    void Mute1Click(int n);
    void PatternMouseDown(int x, int y);
    void NumOfMeasuresClick();
    void CurrentMeasureClick();
    void VolSliderMouseMove(int n, const QMouseEvent& e);
    void TempoSliderMouseMove(const QMouseEvent& e);
    void ShuffleSliderMouseMove(const QMouseEvent& e);
    void DistSliderMouseMove(const QMouseEvent& e);
    void TresSliderMouseMove(const QMouseEvent& e);
    void BPMClick();
    void ShufLabelClick();
    void VolumeKnobMouseDown(const QMouseEvent& e);
    void VolumeKnobMouseMove(const QMouseEvent& e);
    void StartButtonMouseDown(const QMouseEvent& e);
    void StartButtonMouseUp();
    void StopButtonClick();

    // ---- The controls (1-based arrays; [0] unused), in stacking order
    SkinPicture* BackGrnd = nullptr;
    std::array<SkinPicture*, 17> Step{};
    std::array<SkinPicture*, 17> Stop{};
    std::array<SkinPicture*, 5> Hide{};
    std::array<SkinPicture*, 9> Channel{};
    SkinPicture* LightChannel = nullptr;
    std::array<PanelLabel*, 9> Ins{};
    std::array<SkinPicture*, 9> Disto{};
    std::array<SkinPicture*, 9> Muto{};
    SkinPicture* Lite_On = nullptr;
    SkinPicture* Lite_Off = nullptr;
    SkinPicture* Dark_On = nullptr;
    SkinPicture* Dark_Off = nullptr;
    std::array<SkinPicture*, 9> Pattern{};
    UpDown* NumOfMeasures = nullptr;
    UpDown* CurrentMeasure = nullptr;
    PanelLabel* MAvailable = nullptr;
    PanelLabel* MCurrent = nullptr;
    std::array<SkinPicture*, 9> VolSlider{};
    std::array<PanelLabel*, 9> VolNum{};
    SkinPicture* TempoSlider = nullptr;
    SkinPicture* ShuffleSlider = nullptr;
    SkinPicture* DistSlider = nullptr;
    SkinPicture* TresSlider = nullptr;
    PanelLabel* BPM = nullptr;
    PanelLabel* ShufLabel = nullptr;
    SkinPicture* StartButton = nullptr;
    SkinPicture* StopButton = nullptr;
    KnobPicture* VolumeKnob = nullptr;

    std::int16_t KnobBase = 0;
    KnobPoint KnobInner{26, 26};
    KnobPoint KnobOuter{26, 26};

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;

private:
    void BuildControls();
    void SyncTransportButtons();
    void ReleaseDeviceWhenIdle();
    void SetStepMode(int steps);
    void JustOneChannel(int n);

    AppContext& ctx_;
    std::unique_ptr<PrecisionTimer> IntroTimer;
    std::unique_ptr<Song> introSnapshot_;          // the Song as the light show found it
    std::function<void()> previousStateListener_;  // who heard the playback driver before
    bool centred_ = false;
    SpaceBarKeys* spaceBar_ = nullptr;  // the space bar's guard against a held key
};

// Draws the groove panel, as it would appear with the current Song, into a PNG file at the
// given scale (1: 636 x 385 pixels), without showing any window. Uses the panel in ctx, or a
// panel made for the purpose. False when the file could not be written.
bool WritePanelScreenshot(AppContext& ctx, const QString& path, qreal scale);

}  // namespace qtam
