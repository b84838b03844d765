// The memory the undo history holds after a busy session: 10 000 edits of every kind on a song
// whose eight patterns are full of notes, in the proportions of a working session (many step
// clicks and drags, fewer pastes, grooves and shapes). Prints the history's own count of its
// bytes, the growth of the heap as the allocator sees it, and the average entry of each kind.
//
//   build/bin/history_memory_bench [EDITS] [SEED]
#include <malloc.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>

#include "banks/instrument_select.h"
#include "core/machine.h"
#include "song/edit_ops.h"
#include "song/grooves.h"
#include "song/init_song.h"
#include "song/panel_edits.h"
#include "song/slides.h"
#include "song/song_history.h"
#include "song/song_info.h"

using namespace qtam;

namespace {

std::mt19937 rng;

int Draw(int lo, int hi) {
    return std::uniform_int_distribution<int>(lo, hi)(rng);
}

// Every pattern plays 16 measures with a note on about two steps in three.
void FillSong(Machine& m) {
    InitSong(m);
    for (int p = 1; p <= kPatterns; ++p) {
        m.song.measureCount[p - 1] = kMeasures;
        for (int meas = 1; meas <= kMeasures; ++meas)
            for (int ch = 1; ch <= kChannels; ++ch)
                for (int s = 1; s <= kSlots; ++s) {
                    StepCell& c = m.song.cell(p, meas, ch, s);
                    if (Draw(0, 2) == 0) continue;
                    c.velocity = static_cast<std::int8_t>(Draw(20, 127));
                    c.pan = static_cast<std::uint8_t>(Draw(0, 127));
                }
    }
}

void MoveAround(Machine& m) {
    m.editor.CurrentPattern = static_cast<std::uint8_t>(Draw(1, kPatterns));
    m.editor.CurrentMeasure = static_cast<std::uint8_t>(Draw(1, kMeasures));
    m.editor.CurrentChannel = static_cast<std::uint8_t>(Draw(1, kChannels));
    m.editor.CurrentStep = static_cast<std::uint8_t>(Draw(1, kSlots));
}

// One edit, drawn with the weight it has in a session; returns its kind.
std::string Edit(Machine& m) {
    if (Draw(0, 9) == 0) MoveAround(m);
    const int d = Draw(0, 99);
    if (d < 35) {
        ToggleStep(m, Draw(1, kSlots));
        return "step click";
    }
    if (d < 45) {
        switch (Draw(0, 4)) {
            case 0:
                SetChannelVolume(m, Draw(1, kChannels), Draw(0, 127));
                break;
            case 1:
                SetSongTempo(m, Draw(kTempoMin, kTempoMax));
                break;
            case 2:
                SetSongShuffle(m, Draw(kShuffleMin, kShuffleMax));
                break;
            case 3:
                SetDistortionGain(m, Draw(0, kDistortionGainMax));
                break;
            default:
                SetDistortionThreshold(m, Draw(0, kDistortionThresholdMax));
        }
        return "slider drag";
    }
    if (d < 50) {
        SetNoteDetails(m, Draw(0, 127), Draw(0, 127), Draw(0, 3) == 0);
        return "note details";
    }
    if (d < 55) {
        (Draw(0, 1) ? ToggleMute : ToggleDistortion)(m, Draw(1, kChannels));
        return "lamp";
    }
    if (d < 58) {
        ChooseInstrument(m, InstrumentOfRows({Draw(0, 19), -1}));
        return "instrument";
    }
    if (d < 61) {
        SetMeasureCount(m, Draw(1, kMeasures));
        return "measure count";
    }
    if (d < 63) {
        SetStepsPerMeasure(m, Draw(0, 1) ? 12 : 16);
        return "12/16 steps";
    }
    if (d < 66) {
        EnterTempo(m, DialogResult::Ok, std::to_string(Draw(60, 200)));
        return "value dialog";
    }
    if (d < 74) {
        const int kind = Draw(0, 19);
        (kind < 10 ? CopyChannel : kind < 17 ? CopyMeasure : CopyPattern)(m);
        MoveAround(m);
        (Draw(0, 3) ? Paste : PasteMix)(m);
        return kind < 10 ? "paste channel" : kind < 17 ? "paste measure" : "paste pattern";
    }
    if (d < 82) {
        void (*shapes[])(Machine&) = {FadeInChannel,  FadeOutChannel, FadeInMeasure,
                                      FadeOutMeasure, PanLeftToRight, PanRightToLeft,
                                      PanCenter,      PanRandomly,    PanInverse};
        shapes[Draw(0, 8)](m);
        return "fade or pan";
    }
    if (d < 86) {
        (Draw(0, 1) ? EraseChannel : EraseMeasure)(m);
        return "erase";
    }
    if (d < 89) {
        CustomSlide(m, Draw(0, 1) ? SlideField::Velocity : SlideField::Pan, DialogResult::Ok,
                    Draw(0, 127), Draw(0, 127));
        return "custom slide";
    }
    if (d < 93) {
        ApplyGroove(m, kGrooveTemplates[Draw(0, static_cast<int>(kGrooveTemplates.size()) - 1)]);
        return "groove";
    }
    if (d < 95) {
        RandomChaos(m);
        return "Random Chaos";
    }
    if (d < 98) {
        ToggleHumanize(m);
        return "humanize";
    }
    SongInfoDialog info;
    info.Show(m, SongInfoMode::Edit);
    info.Ok(m, {"Take " + std::to_string(Draw(1, 99)), "Live", "Someone", "", false});
    return "song info";
}

std::size_t HeapInUse() {
    return mallinfo2().uordblks;
}

}  // namespace

// A whole number lo..hi, or nothing.
std::optional<long> Argument(const char* text, long lo, long hi) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || errno != 0 || v < lo || v > hi) return std::nullopt;
    return v;
}

int main(int argc, char** argv) {
    const auto edits = argc > 1 ? Argument(argv[1], 1, 100000000) : std::optional<long>(10000);
    const auto seed = argc > 2 ? Argument(argv[2], 0, 4294967295L) : std::optional<long>(1);
    if (argc > 3 || !edits || !seed) {
        std::fprintf(stderr, "usage: history_memory_bench [EDITS 1..100000000] [SEED]\n");
        return 2;
    }
    rng.seed(static_cast<unsigned>(*seed));
    auto m = std::make_unique<Machine>();
    FillSong(*m);
    MoveAround(*m);

    auto history = std::make_unique<SongHistory>();
    history->Restart(m->song, m->arrangement);
    const std::size_t heapBefore = HeapInUse();

    struct Kind {
        int count = 0;
        std::size_t bytes = 0;
    };
    std::map<std::string, Kind> kinds;
    int recorded = 0;
    for (int i = 0; i < *edits; ++i) {
        const std::size_t before = history->MemoryUsed();
        const std::string kind = Edit(*m);
        if (!history->Record(m->song, m->arrangement, kind)) continue;
        ++recorded;
        kinds[kind].count++;
        kinds[kind].bytes += history->MemoryUsed() - before;
    }
    const std::size_t heapAfter = HeapInUse();

    std::printf("%d edits, %d recorded (the others changed nothing), %zu entries kept\n",
                static_cast<int>(*edits), recorded, history->EntryCount());
    std::printf("history's count of its bytes: %zu (%.2f MiB, %.0f bytes per entry)\n",
                history->MemoryUsed(), history->MemoryUsed() / 1048576.0,
                recorded ? double(history->MemoryUsed()) / recorded : 0.0);
    std::printf("heap growth as the allocator sees it: %zu (%.2f MiB)\n", heapAfter - heapBefore,
                (heapAfter - heapBefore) / 1048576.0);
    std::printf("the copy of the Song the history keeps: %zu bytes\n", sizeof(Song));
    std::printf("\n%-16s %8s %14s\n", "kind", "entries", "bytes/entry");
    for (const auto& [name, k] : kinds)
        std::printf("%-16s %8d %14.0f\n", name.c_str(), k.count, double(k.bytes) / k.count);
    const bool within = heapAfter - heapBefore <= std::size_t{10} << 20;
    std::printf("\n%s the bound of 10 MiB\n", within ? "within" : "OVER");
    return within ? 0 : 1;
}
