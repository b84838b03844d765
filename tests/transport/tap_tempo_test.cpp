// Tap tempo: the median of the last gaps, the end of a tapping after two seconds without a tap,
// and a tapping as one undoable tempo edit.

#include "transport/tap_tempo.h"

#include <gtest/gtest.h>

#include <random>

#include "core/machine.h"
#include "engine/audio/event_queue.h"
#include "engine/audio/playback.h"
#include "song/song_editor.h"
#include "test_support.h"
#include "transport/transport.h"

namespace qtam {
namespace {

using Clock = TapTempo::Clock;

Clock::time_point At(double seconds) {
    return Clock::time_point{} +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Taps at a steady tempo with a little jitter and one tap far off: the median keeps the tempo.
TEST(TapTempo, TheMedianOfTheLastGapsIgnoresOneTapOff) {
    std::mt19937 rng(7);
    for (int tempo = kTempoMin; tempo <= kTempoMax; tempo += 7) {
        TapTempo taps;
        const double gap = 60.0 / tempo;
        std::uniform_real_distribution<double> jitter(-0.002, 0.002);
        double t = 100;
        EXPECT_EQ(taps.Tap(At(t), kTempoMin, kTempoMax), 0);  // one tap tells nothing
        int last = 0;
        for (int i = 1; i < 12; ++i) {
            t += gap + (i == 6 ? 0.3 * gap : jitter(rng));  // the sixth comes late
            last = taps.Tap(At(t), kTempoMin, kTempoMax);
        }
        EXPECT_NEAR(last, tempo, 1) << tempo;
    }
}

TEST(TapTempo, ATappingEndsTwoSecondsAfterItsLastTap) {
    TapTempo taps;
    taps.Tap(At(10), 50, 250);
    EXPECT_EQ(taps.Tap(At(10.5), 50, 250), 120);
    EXPECT_FALSE(taps.Ended(At(12.499)));
    EXPECT_TRUE(taps.Ended(At(12.5)));
    // The next tap begins anew: no gap spans the pause.
    EXPECT_EQ(taps.Tap(At(12.5), 50, 250), 0);
    EXPECT_EQ(taps.Tap(At(13.5), 50, 250), 60);
    // Taps faster or slower than the tempo range give its ends.
    taps.Reset();
    taps.Tap(At(20), 50, 250);
    EXPECT_EQ(taps.Tap(At(20.1), 50, 250), 250);
    taps.Reset();
    taps.Tap(At(30), 50, 250);
    EXPECT_EQ(taps.Tap(At(31.9), 50, 250), 50);
}

// Through the transport: heard at every tap, one "Tempo" entry for the tapping, one undo back.
TEST(TapTempo, ATappingIsOneUndoableTempoEdit) {
    auto m = test::NewMachine();
    EventQueue events;
    PlaybackDriver playback(*m, events);
    SongEditor editor(*m);
    Transport transport(*m, playback, editor);
    editor.TakeSong();
    const int before = m->song.tempo;
    for (int i = 0; i < 6; ++i) transport.Tap(At(50 + 0.6 * i));
    EXPECT_EQ(m->song.tempo, 100);
    EXPECT_TRUE(transport.Tapping());
    EXPECT_FALSE(transport.EndTapping(At(54.5)));  // the last tap was at 53
    EXPECT_TRUE(transport.EndTapping(At(55)));
    EXPECT_EQ(editor.history().EntryCount(), 1u);
    EXPECT_EQ(editor.UndoText(), "Tempo");
    ASSERT_TRUE(editor.Undo());
    EXPECT_EQ(m->song.tempo, before);
}

}  // namespace
}  // namespace qtam
