#include "song/slides.h"

#include <algorithm>
#include <cctype>

#include "core/machine.h"
#include "engine/mixer.h"
#include "song/panel_edits.h"

namespace qtam {

namespace {

int ClampToByteRange(int v) {
    return std::clamp(v, 0, 127);
}

// The cell the note details show; null when CurrentStep names no slot (a covered button).
template <typename M>
auto DetailCell(M& m) -> decltype(&m.song.cell(1, 1, 1, 1)) {
    const EditorState& e = m.editor;
    if (e.CurrentStep < 1 || e.CurrentStep > kSlots) return nullptr;
    return &m.song.cell(e.CurrentPattern, e.CurrentMeasure, e.CurrentChannel, e.CurrentStep);
}

}  // namespace

std::string CustomSlideEndLabel(const Song& song) {
    return "End value (step " + std::to_string(StepsPerMeasureOf(song)) + ")";
}

int SlideValue(int start, int end, int slot, int steps) {
    // Whole in integers, so the tie rule applies to the full value, not just the step part.
    return RoundDiv(static_cast<std::int64_t>(start) * (steps - 1) +
                        static_cast<std::int64_t>(slot - 1) * (end - start),
                    steps - 1);
}

void CustomSlide(Machine& m, SlideField field, DialogResult result, int start, int end) {
    if (result != DialogResult::Ok) return;
    start = ClampToByteRange(start);
    end = ClampToByteRange(end);
    const int steps = StepsPerMeasureOf(m.song);
    const EditorState& e = m.editor;
    for (int slot = 1; slot <= steps; ++slot) {
        StepCell& c = m.song.cell(e.CurrentPattern, e.CurrentMeasure, e.CurrentChannel, slot);
        if (!c.hasNote()) continue;
        const int v = SlideValue(start, end, slot, steps);
        if (field == SlideField::Velocity) {
            c.velocity = static_cast<std::int8_t>(v);
        } else {
            c.pan = static_cast<std::uint8_t>(v);
        }
    }
    m.editor.DropPreparedStart();
}

NoteDetailsView ShowNoteDetails(const Machine& m) {
    NoteDetailsView view;
    const StepCell* c = DetailCell(m);
    if (c == nullptr || !c->hasNote()) return view;
    view.enabled = true;
    view.velocity = c->velocity;
    view.pan = c->pan;
    view.reversed = c->reversed != 0;
    view.velocityText = std::to_string(view.velocity);
    view.panText = std::to_string(view.pan);
    return view;
}

int ReadValueEntry(std::string_view text, int minimum, int maximum) {
    auto isSpace = [](char ch) { return std::isspace(static_cast<unsigned char>(ch)) != 0; };
    while (!text.empty() && isSpace(text.front())) text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back())) text.remove_suffix(1);

    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return minimum;

    // Saturates: a very long number is still a number beyond the limit.
    long long value = 0;
    for (char ch : text) {
        if (ch < '0' || ch > '9') return minimum;
        if (value < 1000000000LL) value = value * 10 + (ch - '0');
    }
    if (negative) value = -value;
    return static_cast<int>(std::clamp<long long>(value, minimum, maximum));
}

ValueEntry TempoEntry(const Song& song) {
    return {kTempoMin, kTempoMax, 1, 3, song.tempo};
}

ValueEntry ShuffleEntry(const Song& song) {
    return {ShownShuffle(kShuffleMin), ShownShuffle(kShuffleMax), 2, 3, ShownShuffle(song.shuffle)};
}

int StoredEntryValue(const ValueEntry& entry, std::string_view text) {
    const int value = ReadValueEntry(text, entry.minimum, entry.maximum);
    const int step = std::max(entry.increment, 1);
    return entry.minimum + (value - entry.minimum) / step * step;
}

}  // namespace qtam
