#include "song/edit_ops.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

#include "core/machine.h"
#include "engine/play_clock.h"
#include "song/panel_edits.h"

namespace qtam {

namespace {

Measure& CurrentMeasureOf(Machine& m) {
    return m.song.measure(m.editor.CurrentPattern, m.editor.CurrentMeasure);
}

StepCell* ChannelCells(Machine& m, int channel) {
    return CurrentMeasureOf(m).steps[channel - 1];
}

void EnablePaste(Machine& m, std::uint8_t kind) {
    m.editor.ClipboardKind = kind;
    m.editor.PasteEnabled = true;
}

void MixCells(StepCell* target, const StepCell* source, int count) {
    for (int i = 0; i < count; ++i) {
        if (target[i].isFree()) target[i] = source[i];
    }
}

// Velocity of every note by its slot; empty slots stay empty.
template <typename Shape>
void ShapeVelocities(Machine& m, int channel, Shape shape) {
    StepCell* cells = ChannelCells(m, channel);
    for (int slot = 1; slot <= kSlots; ++slot) {
        if (cells[slot - 1].hasNote())
            cells[slot - 1].velocity = static_cast<std::int8_t>(shape(slot));
    }
}

// Pan of every slot, notes or not.
template <typename Shape>
void ShapePans(Machine& m, Shape shape) {
    StepCell* cells = ChannelCells(m, m.editor.CurrentChannel);
    for (int slot = 1; slot <= kSlots; ++slot) {
        cells[slot - 1].pan = static_cast<std::uint8_t>(shape(slot, cells[slot - 1].pan));
    }
}

int FadeInVelocity(int slot) {
    return 7 * slot + 7;
}
int FadeOutVelocity(int slot) {
    return 128 - 7 * slot;
}

void EraseCells(Machine& m, int channel) {
    for (int slot = 0; slot < kSlots; ++slot) ChannelCells(m, channel)[slot].velocity = -1;
}

}  // namespace

void CopyChannel(Machine& m) {
    BusyCursor busy(*m.prompter);
    std::memcpy(m.editor.Clipboard.measures[0].steps[0], ChannelCells(m, m.editor.CurrentChannel),
                sizeof(StepCell) * kSlots);
    EnablePaste(m, 1);
}

void CopyMeasure(Machine& m) {
    BusyCursor busy(*m.prompter);
    m.editor.Clipboard.measures[0] = CurrentMeasureOf(m);
    EnablePaste(m, 2);
}

void CopyPattern(Machine& m) {
    BusyCursor busy(*m.prompter);
    const int p = m.editor.CurrentPattern;
    m.editor.Clipboard = m.song.patterns[p - 1];
    m.editor.ClipboardMeasureCount = m.song.measureCount[p - 1];
    EnablePaste(m, 3);
}

void Paste(Machine& m) {
    BusyCursor busy(*m.prompter);
    EditorState& e = m.editor;
    switch (e.ClipboardKind) {
        case 1:
            std::memcpy(ChannelCells(m, e.CurrentChannel), e.Clipboard.measures[0].steps[0],
                        sizeof(StepCell) * kSlots);
            break;
        case 2:
            CurrentMeasureOf(m) = e.Clipboard.measures[0];
            break;
        case 3:
            m.song.patterns[e.CurrentPattern - 1] = e.Clipboard;
            m.song.measureCount[e.CurrentPattern - 1] = e.ClipboardMeasureCount;
            break;
        default:
            break;
    }
}

void PasteMix(Machine& m) {
    BusyCursor busy(*m.prompter);
    EditorState& e = m.editor;
    switch (e.ClipboardKind) {
        case 1:
            MixCells(ChannelCells(m, e.CurrentChannel), e.Clipboard.measures[0].steps[0], kSlots);
            break;
        case 2:
            MixCells(&CurrentMeasureOf(m).steps[0][0], &e.Clipboard.measures[0].steps[0][0],
                     kChannels * kSlots);
            break;
        case 3:
            for (int meas = 1; meas <= kMeasures; ++meas) {
                MixCells(&m.song.measure(e.CurrentPattern, meas).steps[0][0],
                         &e.Clipboard.measures[meas - 1].steps[0][0], kChannels * kSlots);
            }
            m.song.measureCount[e.CurrentPattern - 1] = e.ClipboardMeasureCount;
            break;
        default:
            break;
    }
}

void FadeInChannel(Machine& m) {
    ShapeVelocities(m, m.editor.CurrentChannel, FadeInVelocity);
}
void FadeOutChannel(Machine& m) {
    ShapeVelocities(m, m.editor.CurrentChannel, FadeOutVelocity);
}

void FadeInMeasure(Machine& m) {
    for (int ch = 1; ch <= kChannels; ++ch) ShapeVelocities(m, ch, FadeInVelocity);
}
void FadeOutMeasure(Machine& m) {
    for (int ch = 1; ch <= kChannels; ++ch) ShapeVelocities(m, ch, FadeOutVelocity);
}

void PanLeftToRight(Machine& m) {
    ShapePans(m, [](int slot, int) { return 8 * slot - 1; });
}
void PanRightToLeft(Machine& m) {
    ShapePans(m, [](int slot, int) { return 128 - 8 * slot; });
}
void PanCenter(Machine& m) {
    ShapePans(m, [](int, int) { return 64; });
}

void PanRandomly(Machine& m) {
    m.random.seed(static_cast<std::mt19937::result_type>(
        std::chrono::system_clock::now().time_since_epoch().count()));
    std::uniform_int_distribution<int> draw(0, 126);
    ShapePans(m, [&](int, int) { return draw(m.random); });
}

void PanInverse(Machine& m) {
    ShapePans(m, [](int, int pan) { return 127 - pan; });
}

void EraseChannel(Machine& m) {
    EraseCells(m, m.editor.CurrentChannel);
}

void EraseMeasure(Machine& m) {
    for (int ch = 1; ch <= kChannels; ++ch) EraseCells(m, ch);
}

bool FillRow(Machine& m, int channel, int from, int every) {
    const int steps = StepsPerMeasureOf(m.song);
    bool changed = false;
    if (every <= 0) {
        for (int slot = 1; slot <= steps; ++slot) changed |= PaintCell(m, channel, slot, false);
        return changed;
    }
    for (int slot = std::max(from, 1); slot <= steps; slot += every)
        changed |= PaintCell(m, channel, slot, true);
    return changed;
}

void SetStepsPerMeasure(Machine& m, int steps) {
    m.song.stepsPerMeasure = static_cast<std::uint8_t>(steps == 12 ? 12 : 16);
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
}

}  // namespace qtam
