#pragma once
// Drum kits of other programs made into a userbank: a kit folder with a drumkit.xml, the same
// packed as a .h2drumkit archive, or an SFZ file. The first twenty instruments (SFZ: by key)
// fill slots 1..20 through the normal sound import, each named after its instrument; the bank
// is named after the kit; instruments that choke each other (a mute group, SFZ group/off_by)
// become hi-hat partners as far as two partners a slot allow (a Hydrogen kit without a mute
// group for its hi-hats: those sending the General MIDI hi-hat notes 42, 44 and 46 choke each
// other). What does not fit is listed.
//
// A kit is untrusted input: its sounds are read only inside its folder (no path, and no link,
// leads out of it); of an archive only the sounds of the twenty instruments taken are unpacked,
// each cut at what a slot can use, and a damaged archive is refused; the readers stay linear in
// their input, and the listing of what was left out is kept to a screenful.
//
// Thread: owner (see core/machine.h).

#include <cstdint>
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
    bool cutShort = false;  // unpacked only as far as a slot can use
};

// A kit read and ready to import. An archive is unpacked into a temporary folder that lives
// as long as this.
struct Kit {
    std::string name;
    std::vector<KitInstrument> instruments;  // in the kit's order, at most a bank's slots
    std::vector<std::string> leftOut;        // what the reading left out already, and why
    std::vector<std::string> files;          // its own files: definition, archive, sounds named
    struct Unpacked;
    std::shared_ptr<Unpacked> unpacked;
};

// The most bytes of one sound unpacked from an archive: the first 4.06 s a slot holds, in a
// sound file of up to 32-bit stereo at 88.2 kHz, with room for its headers.
inline constexpr std::uint64_t kLargestUnpackedSound = 358400ull * 8 + (64u << 10);
// The largest drumkit.xml read from an archive.
inline constexpr std::uint64_t kLargestKitXml = 64u << 20;
// Lines of what was left out listed; the rest are counted.
inline constexpr std::size_t kMostLeftOutListed = 40;

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
