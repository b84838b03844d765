// qtam-cli midi: one pattern of a song, or its whole arrangement, as a Standard MIDI File (format
// 1, 96 ticks per quarter note): a tempo track, then one track per channel that is not muted, all
// on MIDI channel 10, the drum channel. Notes start where the mixer starts them, shuffle included.

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <iostream>
#include <string>
#include <vector>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "core/machine.h"
#include "core/sample_bank.h"
#include "core/song.h"
#include "core/text_codec.h"
#include "song/midi_export.h"

namespace qtam::cli {

const char* const kMidiUsage =
    "usage: qtam-cli midi SONG -o OUT.mid [-p N | --arrangement] [--userbank FILE] [--kit FILE]\n"
    "                     [-f]\n"
    "  Writes pattern N (1..8, default 1) of SONG, or with --arrangement the whole arrangement\n"
    "  (each entry's pattern as often as it repeats, without the channels it mutes), as a\n"
    "  Standard MIDI File: format 1, 96 ticks\n"
    "  per quarter note, the song's tempo, one track per channel that is not muted, every note\n"
    "  on MIDI channel 10 with its velocity (silent notes of velocity 0 are left out) and the\n"
    "  shuffle applied to the off-beat steps as the mixer applies it. The default kit's sounds\n"
    "  become their General MIDI drum notes; userbank sounds become notes by their names when a\n"
    "  name says kick, snare, rim, clap, hat, tom, crash, cymbal or ride, and otherwise a note\n"
    "  chosen by the channel.\n"
    "  -o, --output FILE     the MIDI file, written under exactly this name (- for standard\n"
    "                        output; the report then goes to standard error)\n"
    "  -p, --pattern N       the pattern (default 1)\n"
    "      --arrangement     the song's whole arrangement, once through\n"
    "      --userbank FILE   the userbank whose names choose notes (default: the song's)\n"
    "      --kit FILE        the kit whose names the tracks get (default: the program's kit)\n"
    "  -f, --force           replace an existing OUT\n";

int RunMidi(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words,
                          {{"--output", 'o', true},
                           {"--pattern", 'p', true},
                           {"--userbank", 0, true},
                           {"--kit", 0, true},
                           {"--arrangement", 0, false},
                           {"--force", 'f', false}},
                          error);
    if (!args) return UsageFail("midi", error);
    const bool arrangement = args->Has("--arrangement");
    if (arrangement && args->Value("--pattern"))
        return UsageFail("midi", "--arrangement writes every entry: no -p with it");
    if (args->positional.size() != 1)
        return UsageFail("midi",
                         args->positional.empty() ? "no song given" : "more than one song given");
    const auto out = args->Value("--output");
    if (!out) return UsageFail("midi", "no output file given (-o OUT.mid)");
    const auto pattern = args->Number("--pattern", 1, kPatterns, error);
    if (!error.empty()) return UsageFail("midi", error);
    const bool toStdout = *out == "-";
    if (toStdout && ::isatty(1))
        return Fail("standard output is a terminal; send the MIDI file to a file or a pipe");
    if (!toStdout) {
        if (const std::string why = WriteProblem(*out, args->Has("--force")); !why.empty())
            return CannotWrite(*out, why);
        const std::vector<std::string> inputs = SongCommandInputs(*args);
        if (const std::string input = InputWrittenOver(*out, inputs); !input.empty())
            return RefuseWritingOverInput(*out, input);
    }

    TerminalPrompter prompter(false);
    auto m = NewMachine(prompter);
    LoadOptions load{args->positional[0], args->Value("--kit"), args->Value("--userbank"),
                     static_cast<int>(pattern.value_or(1))};
    // Notes come from sound numbers and userbank names; the kit only names the tracks, so the
    // default kit may be missing (a kit that was asked for must load).
    load.needKit = load.kit.has_value();
    if (!load.needKit) LoadKitNamesQuietly(*m);
    if (!LoadForCommand(*m, load)) return kExitFailure;
    if (arrangement && m->arrangement.empty())
        return Fail(args->positional[0] + " has no arrangement to write");
    const int p = m->editor.CurrentPattern;
    const std::vector<std::uint8_t> bytes =
        arrangement ? ArrangementAsMidi(*m) : PatternAsMidi(*m, p);
    if (toStdout) {
        std::cout.write(reinterpret_cast<const char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()));
        if (const int error = StandardOutputError(); error != 0)
            return CannotWrite("standard output", std::strerror(error));
    } else if (std::string reason; !WriteFileExactly(*out, bytes.data(), bytes.size(), reason)) {
        return CannotWrite(*out, reason);
    }
    // The report goes to stderr when the file itself went to standard output.
    std::ostream& report = toStdout ? std::cerr : std::cout;
    report << "Wrote " << (toStdout ? std::string("standard output") : *out);
    if (arrangement)
        report << ": the arrangement, " << m->arrangement.count << " entries, "
               << ArrangementMeasures(m->song, m->arrangement);
    else
        report << ": pattern " << p << ", " << MeasureCountOf(m->song, p);
    report << " measure(s) at " << m->song.tempo << " BPM\n";
    return kExitOk;
}

}  // namespace qtam::cli
