#pragma once
// GroovePanel (once TKadra): the groove panel, the skinned window on which the Song is edited
// and played. Every control is a picture or a label laid on the skin at its fixed position;
// lighting a control shows or hides one picture over another. Pictures created later lie over
// earlier ones, so the stop pictures lie over the step pictures and the covers over both.
//
// Thread: the user-interface thread, for every member (the light show's ticks are handed to
// it by the timer).

#include <QTimer>
#include <QWidget>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/song.h"
#include "engine/play_position.h"
#include "song/song_editor.h"
#include "ui/groove_panel/panel_access.h"
#include "ui/groove_panel/panel_controls.h"
#include "ui/groove_panel/panel_layout.h"
#include "ui/groove_panel/panel_values.h"

namespace qtam {

struct AppContext;
class PlayLights;
class PrecisionTimer;
class SpaceBarKeys;
class SongSwitch;

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

    // ---- Showing the Song (the panel never writes it: every change goes through the edit
    // layer, whose notices bring the panel here)
    void RefreshFromSong();
    void ShowInstrumentNames();
    // The edited channel: its key lit, its lamps bright, its instrument and its steps.
    void ShowChannelChoice();
    void ShowStepLeds();
    void ShowMeasures();
    void ShowTempoAndShuffle();
    void ShowDistortion();
    void ShowMainVolume();
    void ShowChannelVolumes();
    // The caption: the song title line (SongTitleLine), with "*" before
    // it while the Song has unsaved changes and the live recording after it while one is armed.
    void ShowCaption();

    // ---- Handlers: the mouse and the keys both come here, with values, never pixels.
    // Button 1..16 of the step row, left click: sets or clears the note of the slot it shows.
    void PressStep(int button);
    // Button 1..16, right click: the details of its note.
    void OpenNoteDetails(int button);
    void ChooseChannel(int n);
    void ChooseInstrument(int n);  // the channel, then the instrument choice
    void ToggleDistortion(int n);
    void ToggleMute(int n);
    void ChoosePattern(int pattern);
    void SetMeasureCount(int count);
    void ChooseMeasure(int measure);
    // Sliders: each move is heard at once; EndDrag makes the drag one undoable edit.
    void SetChannelVolume(int n, int volume);
    void SetTempo(int tempo);
    void SetShuffle(int shuffle);  // the stored 100..150
    void SetDistortionGain(int gain);
    void SetDistortionThreshold(int threshold);
    void EndDrag();
    void EnterTempo();
    void EnterShuffle();
    // A tap of the tap tempo; the key shows whether a tapping goes on.
    void Tap();
    void ShowTapping(bool tapping);
    void SetMainVolume(int target);
    // ---- Transport
    void StartPlaying();
    void StopPlaying();
    // The Start button pressed: Ctrl with exactly the left button prepares a start.
    void PressStart(bool leftButtonOnly, bool ctrlHeld);
    void ReleaseStart();

    // In a plugin the host plays the sound: the panel opens no device (Start, Stop and the
    // space bar go to the transport controller, which the plugin points at its own Play), and
    // its activation loads no userbank: the plugin's state holds the song's.
    bool SoundIsHosts = false;
    // The sample rate printed on the face, in hertz (a plugin's host's); 0: the program's.
    void ShowSampleRate(int hz);

    // ---- Light show
    // Starts the start-up light show unless it has run (or runs).
    void StartLightShow();
    // One tick of the light show (lightShowTimer_'s OnTimer).
    void LightShowTick();
    bool LightShowDone = false;
    int LightShowTickCount = 0;
    // When each tick of the light show ran (for timing it).
    std::vector<std::chrono::steady_clock::time_point> LightShowTickTimes;

    // ---- What the panel shows of playback: the running light, the measure heard, a waiting
    // pattern and the follow switch.
    PlayLights& Lights() { return *lights_; }
    // A pattern key, for the light show of playback (1..8).
    SkinPicture& PatternKeyPicture(int n) { return *PatternKey[n]; }
    // The knob's pointer line as drawn now.
    KnobLine KnobPointer() const { return {knobInner_, knobOuter_}; }

    // Tells the screen reader what the last key or click changed.
    void ReportControlChanges();

Q_SIGNALS:
    // A step's details (the step is m.editor.CurrentStep), not modal.
    void noteDetailsRequested();
    // The value dialog for the tempo or the shuffle; modal, the panel shows the value after.
    void tempoEntryRequested();
    void shuffleEntryRequested();
    // The instrument choice for the current channel, not modal.
    void instrumentChoiceRequested();
    // The Tap key, clicked or pressed (or T): one tap of the tap tempo.
    void tapRequested();
    // The panel became the active window (the splash goes).
    void activated();
    // The step heard moved (step 0: stopped), as the running light shows it.
    void heardChanged(const PlayPosition& heard);

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
    int sampleRate_ = 0;
    void BuildFocusSpots();
    FocusSpot* AddSpot(const QString& name, ControlGroup group, QRect area);
    bool HandleControlKey(QKeyEvent* event);
    void MoveWithinGroup(FocusSpot* from, int direction);
    void BuildControls();
    void ShowSongChange(SongChange what);
    void SyncTransportButtons();
    // Playback stopped because the device was lost: the user is told why.
    void DeviceLost(const std::string& reason);
    // The configured device is not present: said once for each device number.
    void DefaultDeviceInstead(int deviceNum);
    void ReleaseDeviceWhenIdle();
    // Opens the sound device a moment after the panel shows or is activated.
    void OpenDeviceShortly();
    void ShowStepMode();
    void ShowStepLed(bool lit, int button);
    void ShowLamps(int n, bool bright);
    void DrawKnobPointer();
    void EraseKnobPointer();

    AppContext& ctx_;
    std::unique_ptr<PrecisionTimer> lightShowTimer_;
    std::unique_ptr<PlayLights> lights_;
    std::unique_ptr<SongSwitch> songSwitch_;
    QTimer* deviceOpenTimer_ = nullptr;
    int defaultInsteadOf_ = -1;         // the missing device last mentioned
    SpaceBarKeys* spaceBar_ = nullptr;  // the space bar's guard against a held key

    // ---- The controls (1-based arrays; [0] unused), in stacking order. Tests and the
    // screen reader find them by their object names.
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
    SkinPicture* TapButton = nullptr;
    SkinPicture* DistortionSlider = nullptr;
    SkinPicture* ThresholdSlider = nullptr;
    PanelLabel* TempoLabel = nullptr;
    PanelLabel* ShuffleLabel = nullptr;
    SkinPicture* StartButton = nullptr;
    SkinPicture* StopButton = nullptr;
    KnobPicture* VolumeKnob = nullptr;
    // Every control as the keyboard and a screen reader see it, in Tab order
    // (groove_panel_keys.cpp).
    std::vector<FocusSpot*> spots_;

    std::int16_t knobBase_ = 0;  // the main volume when the knob was grabbed
    KnobPoint knobInner_{26, 26};
    KnobPoint knobOuter_{26, 26};
};

// Draws the groove panel, as it would appear with the current Song, into a PNG file at the
// given scale (1: 636 x 385 pixels), without showing any window. False when the file could
// not be written.
bool WritePanelScreenshot(GroovePanel& panel, const QString& path, qreal scale);

}  // namespace qtam
