#pragma once
// Drum kits of other programs made into a userbank: a kit folder with a drumkit.xml, the same
// packed as a .h2drumkit archive, or an SFZ file. The first twenty instruments (SFZ: by key)
// fill slots 1..20 through the normal sound import, each named after its instrument; the bank
// is named after the kit; instruments that choke each other (a mute group, SFZ group/off_by)
// become hi-hat partners as far as two partners a slot allow (a Hydrogen kit without a mute
// group for its hi-hats: those sending the General MIDI hi-hat notes 42, 44 and 46 choke each
// other). What does not fit is listed.
//
// Thread: owner (see core/machine.h).

#include <memory>
#include <string>
#include <vector>

#include "banks/wav_io.h"

namespace qtam {

struct Machine;

// One instrument of a kit: its name, the sound file it plays and the instruments (indices into
// the kit's list) that cut it off when they strike.
struct KitInstrument {
    std::string name;
    std::string file;  // a path to read, inside the kit's folder
    std::vector<int> cutBy;
};

// A kit read and ready to import. An archive is unpacked into a temporary folder that lives
// as long as this.
struct Kit {
    std::string name;
    std::vector<KitInstrument> instruments;  // in the kit's order
    std::vector<std::string> leftOut;        // what the reading left out already, and why
    struct Unpacked;
    std::shared_ptr<Unpacked> unpacked;
};

// Reads a kit: a folder holding drumkit.xml, that file itself, a .h2drumkit archive or an
// .sfz file. False, with the reason, for anything else or a kit that cannot be read.
bool ReadKit(const std::string& path, Kit& kit, std::string& error);

// What an import of a kit did.
struct KitImport {
    int imported = 0;                  // slots filled
    std::vector<std::string> leftOut;  // instruments and partners not taken, and why
    std::vector<std::string> refused;  // instruments whose sound could not be imported
};

// Fills the userbank's slots 1..20 from the kit (the other slots are emptied), names them, sets
// the description and the hi-hat partners. The bank is changed even when some sounds were
// refused; they are listed.
KitImport ImportKit(Machine& m, const Kit& kit, Conversion conversion);

}  // namespace qtam
