#pragma once
// Choosing the sound of the current channel: the entries of the two bank lists, which entry
// the channel's instrument number selects, and storing the chosen one.
//
// Thread: owner (the Machine's thread).

#include <string>

namespace qtam {

struct Machine;
struct SampleSlot;

// Instrument numbers 1..20 name the kit's slots, 101..120 the userbank's.
inline constexpr int kUserbankBase = 100;

// A list entry: the slot's name when it holds a sound, else "<empty>".
std::string InstrumentEntryText(const SampleSlot& slot);

// Rows are 0-based; -1 is no row. At most one of the two is selected.
struct InstrumentRows {
    int internalRow = -1;
    int externalRow = -1;
};

// The rows the current channel's instrument in the current pattern selects: 101..120 the
// userbank's, 1..20 the kit's; a number naming no slot selects nothing.
InstrumentRows RowsOfCurrentInstrument(const Machine& m);

// The instrument number the selected rows name: the internal row wins over the external one;
// 0 when neither is selected.
int InstrumentOfRows(InstrumentRows rows);

// "Ok": the internal row wins over the external one; with neither nothing changes. Stores the
// instrument of the current channel in the current pattern and marks the Song changed only
// when it differs. Returns whether it was written.
bool SelectInstrumentOk(Machine& m, InstrumentRows rows);

}  // namespace qtam
