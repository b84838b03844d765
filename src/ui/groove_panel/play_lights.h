#pragma once
// What the groove panel shows of live playback, in time with the sound: a running light over
// the number of the step being heard, the measure being heard, the key of a pattern waiting for
// its turn blinking beside the lit key of the one playing, and the follow switch, which makes
// the edit measure follow the one heard. The panel looks again when the next step is due to be
// heard (or, before the mixer has reached it, when the last frame mixed is) or a blink turns,
// at most every kLongestWaitMs (every kGuessLookMs while a new stream's latency is still a guess);
// while stopped it shows none of this (the follow switch apart) and does not look at all.
//
// Thread: the user-interface thread.

#include <QTimer>
#include <cstdint>
#include <functional>

#include "engine/play_position.h"

namespace qtam {

struct AppContext;
class GroovePanel;
class SkinPicture;

class PlayLights {
public:
    static constexpr int kBlinkMs = 250;
    static constexpr int kLongestWaitMs = 250;
    static constexpr int kJackLookMs = 10;  // how often the lights look at JACK's frame time
    static constexpr int kGuessLookMs = 5;  // how often while the latency is only a guess

    // Creates its pictures on the panel, over the panel's own.
    PlayLights(AppContext& ctx, GroovePanel& panel);

    // Looks where playback is and shows it; while playing, the next look is scheduled.
    void Refresh();
    // Shows a heard position (none: stopped, or nothing heard yet); `blinkOn` is the blink's
    // phase. With the follow switch on, the edit measure moves to the heard one.
    void Show(PlayPosition heard, bool blinkOn);
    // The position the light shows now (none when stopped): what heardChanged last told.
    const PlayPosition& Shown() const { return shown_; }
    // The follow switch belongs to the transport; the panel shows it.
    void ToggleFollow();
    void ShowFollow();

    // Told whenever the light moves to another step (to measure it against the sound).
    std::function<void(const PlayPosition&)> onStepShown;

private:
    AppContext& ctx_;
    GroovePanel& panel_;
    QTimer timer_;
    HeardClock clock_{44100};
    PlayPosition shown_;

    // The pictures, children of the panel; tests find them by their object names.
    SkinPicture* StepLight = nullptr;
    SkinPicture* PlayingMeasure = nullptr;
    SkinPicture* QueuedKeys = nullptr;  // the keypad with the waiting pattern's key lit too
    SkinPicture* FollowSwitch = nullptr;
};

}  // namespace qtam
