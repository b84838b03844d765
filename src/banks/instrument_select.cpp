#include "banks/instrument_select.h"

#include "core/machine.h"

namespace qtam {

namespace {

bool IsRow(int row) {
    return row >= 0 && row < kBankSlots;
}

}  // namespace

std::string InstrumentEntryText(const SampleSlot& slot) {
    return slot.hasSound() ? slot.name : std::string(kEmptySlotName);
}

InstrumentRows RowsOfCurrentInstrument(const Machine& m) {
    const EditorState& e = m.editor;
    const int instrument = m.song.settings(e.CurrentPattern).instrument[e.CurrentChannel - 1];
    InstrumentRows rows;
    if (instrument >= kUserbankBase) {
        if (IsRow(instrument - kUserbankBase - 1))
            rows.externalRow = instrument - kUserbankBase - 1;
    } else if (IsRow(instrument - 1)) {
        rows.internalRow = instrument - 1;
    }
    return rows;
}

int InstrumentOfRows(InstrumentRows rows) {
    if (IsRow(rows.internalRow)) return rows.internalRow + 1;
    if (IsRow(rows.externalRow)) return rows.externalRow + kUserbankBase + 1;
    return 0;
}

bool SelectInstrumentOk(Machine& m, InstrumentRows rows) {
    const int instrument = InstrumentOfRows(rows);
    if (instrument == 0) return false;
    const EditorState& e = m.editor;
    std::uint8_t& stored = m.song.settings(e.CurrentPattern).instrument[e.CurrentChannel - 1];
    if (stored == instrument) return false;
    stored = static_cast<std::uint8_t>(instrument);
    m.editor.SongChanged = true;
    return true;
}

}  // namespace qtam
