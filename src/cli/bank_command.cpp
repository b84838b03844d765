// qtam-cli bank: userbanks from the command line. "new" imports sound files into slots through
// the editor's import, "info" lists a bank's slots, "export" writes one slot as a WAV file.

#include <cstdio>
#include <iostream>
#include <map>
#include <optional>

#include "banks/kit_import.h"
#include "banks/userbank_file.h"
#include "banks/wav_io.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/sample_bank.h"
#include "core/text_codec.h"

namespace qtam::cli {

const char* const kBankUsage =
    "usage: qtam-cli bank new OUT.ubf [--description TEXT] [--stretch SLOT=N]...\n"
    "                         [--hihat SLOT=A[,B]]... [--convert] [-f] SLOT=FILE...\n"
    "       qtam-cli bank from-kit KIT -o OUT.ubf [--description TEXT] [--convert] [-f]\n"
    "       qtam-cli bank info BANK.ubf\n"
    "       qtam-cli bank export BANK.ubf SLOT -o OUT.wav [-f]\n"
    "  new     builds a userbank: each SLOT=FILE (slot 1..20) imports a sound file as the\n"
    "          userbank editor does; the slot is named after the file. A 16-bit mono 44100 Hz\n"
    "          WAV file or a raw 16-bit mono file is taken as it is; any other WAV, AIFF,\n"
    "          FLAC, Ogg or CAF file is converted to 16-bit mono 44100 Hz with --convert and\n"
    "          refused without it. The import's questions (convert, a sample rate below\n"
    "          44 kHz, more than 350 KB of sound) are answered Yes by -f, No otherwise.\n"
    "          --stretch SLOT=N stretches a sound to N measures (0 = not stretched);\n"
    "          --hihat SLOT=A[,B] makes slots A and B cut that slot's sound (0 = none).\n"
    "          -f also replaces an existing OUT.\n"
    "  from-kit  builds a userbank from a drum kit of another program: a folder with a\n"
    "          drumkit.xml, a .h2drumkit archive or an .sfz file. The first 20 instruments\n"
    "          (SFZ: by key, the loudest layer) fill slots 1..20, named after them, imported\n"
    "          as bank new imports (--convert, -f); instruments that choke each other become\n"
    "          hi-hat partners. What is left out is listed. Sounds are read only inside the\n"
    "          kit's folder; of an archive only the sounds taken are unpacked, into $TMPDIR.\n"
    "  info    lists the slots: name, length in seconds, stretch and hi-hat partners.\n"
    "  export  writes the sound of SLOT as a 16-bit mono 44100 Hz WAV file.\n";

namespace {

// A bank text for the terminal: Windows-1252 to UTF-8, control characters escaped.
std::string Printable(const std::string& cp1252) {
    std::string out;
    for (char c : cp1252) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F || CodePointOfCp1252(b) == 0) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", b);
            out += buf;
        } else {
            out += Cp1252ToUtf8(std::string(1, c));
        }
    }
    return out;
}

// A message of the windows on one line: its line breaks and paragraphs become spaces.
std::string OneLine(const std::string& text) {
    std::string out;
    for (char c : text) {
        const bool brk = c == '\r' || c == '\n';
        if (!brk)
            out += c;
        else if (!out.empty() && out.back() != ' ')
            out += ' ';
    }
    return out;
}

bool ParseNumber(const std::string& text, long lo, long hi, long& out) {
    if (text.empty() || text.size() > 9) return false;
    char* end = nullptr;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (*end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

// "SLOT=VALUE": the slot 1..20 and the text after '='.
bool SplitSlot(const std::string& word, long& slot, std::string& value) {
    const std::size_t eq = word.find('=');
    if (eq == std::string::npos || !ParseNumber(word.substr(0, eq), 1, kBankSlots, slot))
        return false;
    value = word.substr(eq + 1);
    return true;
}

// Says on stderr why `file` was not imported: the import's reason and the questions answered
// No. Returns the exit code.
int ImportFailed(TerminalPrompter& prompter, const std::string& file, const ImportResult& result) {
    if (result.outcome == ImportOutcome::NoSound) return CannotRead(file, "it holds no sound");
    const std::string context = "cannot import " + file;
    if (!result.reason.empty()) CannotRead(file, OneLine(result.reason));
    prompter.Report(context);  // the questions answered No
    if (result.outcome == ImportOutcome::ConversionDeclined)
        Note("--convert converts " + file + " to 16-bit mono 44100 Hz");
    return kExitFailure;
}

int RunNew(const Args& args) {
    if (args.positional.size() < 2) return UsageFail("bank", "bank new needs OUT.ubf");
    const std::string out = args.positional[1];
    const bool force = args.Has("--force");
    std::map<long, std::string> files;
    for (std::size_t i = 2; i < args.positional.size(); ++i) {
        long slot = 0;
        std::string file;
        if (!SplitSlot(args.positional[i], slot, file) || file.empty())
            return UsageFail(
                "bank", "expected SLOT=FILE with a slot 1..20, not '" + args.positional[i] + "'");
        if (!files.emplace(slot, file).second)
            return UsageFail("bank", "slot " + std::to_string(slot) + " is given twice");
    }
    if (files.empty()) return UsageFail("bank", "bank new needs at least one SLOT=FILE");

    std::map<long, long> stretch;
    for (const auto& word : args.All("--stretch")) {
        long slot = 0, n = 0;
        std::string value;
        if (!SplitSlot(word, slot, value) || !ParseNumber(value, 0, 255, n))
            return UsageFail("bank",
                             "--stretch takes SLOT=N (slot 1..20, N 0..255), not '" + word + "'");
        stretch[slot] = n;
    }
    std::map<long, std::pair<long, long>> hihats;
    for (const auto& word : args.All("--hihat")) {
        long slot = 0, a = 0, b = 0;
        std::string value;
        const bool ok = SplitSlot(word, slot, value);
        const std::size_t comma = value.find(',');
        if (!ok || !ParseNumber(value.substr(0, comma), 0, kBankSlots, a) ||
            (comma != std::string::npos && !ParseNumber(value.substr(comma + 1), 0, 20, b)))
            return UsageFail("bank",
                             "--hihat takes SLOT=A or SLOT=A,B (slots 1..20, partners "
                             "0..20), not '" +
                                 word + "'");
        hihats[slot] = {a, b};
    }
    for (const auto& [slot, n] : stretch)
        if (!files.count(slot))
            return UsageFail(
                "bank", "--stretch names slot " + std::to_string(slot) + ", which gets no sound");
    for (const auto& [slot, ab] : hihats)
        if (!files.count(slot))
            return UsageFail(
                "bank", "--hihat names slot " + std::to_string(slot) + ", which gets no sound");

    std::string description = kNewUserbankDescription;
    if (auto d = args.Value("--description")) {
        description = Utf8ToCp1252(*d);
        if (Cp1252ToUtf8(description) != *d)
            return UsageFail("bank",
                             "--description holds only characters of Windows-1252, the code "
                             "page of userbank texts");
        if (description.size() > kBankDescriptionSize)
            return UsageFail("bank", "--description holds at most 30 characters");
    }
    if (const std::string why = WriteProblem(out, force); !why.empty())
        return CannotWrite(out, why);
    std::vector<std::string> inputs;
    for (const auto& [slot, file] : files) inputs.push_back(file);
    if (const std::string input = InputWrittenOver(out, inputs); !input.empty())
        return RefuseWritingOverInput(out, input);

    const Conversion conversion = args.Has("--convert") ? Conversion::Always : Conversion::Ask;
    TerminalPrompter prompter(force);
    auto m = NewMachine(prompter);
    ClearUserbank(*m);
    m->banks.userbank.description = description;
    ProgressBar bar("importing");
    int done = 0;
    for (const auto& [slot, file] : files) {
        if (const std::string why = ReadProblem(file); !why.empty()) return CannotRead(file, why);
        const ImportResult result =
            ImportSample(*m, ExactName(file), static_cast<int>(slot), conversion);
        if (!result.ok) {
            bar.Done();
            return ImportFailed(prompter, file, result);
        }
        prompter.Report(file);  // nothing normally; whatever the import said otherwise
        m->banks.userbank.slot(static_cast<int>(slot)).name = result.slotName;
        bar.Show(++done * 100 / static_cast<int>(files.size()));
    }
    bar.Done();
    for (const auto& [slot, n] : stretch)
        m->banks.userbank.slot(static_cast<int>(slot)).stretchMeasures =
            static_cast<std::uint8_t>(n);
    for (const auto& [slot, ab] : hihats) {
        m->banks.userbank.slot(static_cast<int>(slot)).hihat1 = static_cast<std::uint8_t>(ab.first);
        m->banks.userbank.slot(static_cast<int>(slot)).hihat2 =
            static_cast<std::uint8_t>(ab.second);
    }
    const std::vector<std::uint8_t> bytes = BankFileBytes(m->banks.userbank);
    std::string reason;
    if (!WriteFileExactly(out, bytes.data(), bytes.size(), reason)) return CannotWrite(out, reason);
    std::cout << "Wrote " << out << ": " << files.size() << " sound(s), " << bytes.size()
              << " bytes\n";
    return kExitOk;
}

int RunFromKit(const Args& args) {
    if (args.positional.size() != 2) return UsageFail("bank", "bank from-kit takes one kit");
    const auto out = args.Value("--output");
    if (!out) return UsageFail("bank", "no output file given (-o OUT.ubf)");
    std::optional<std::string> description;
    if (const auto d = args.Value("--description")) {
        description = Utf8ToCp1252(*d);
        if (Cp1252ToUtf8(*description) != *d || description->size() > kBankDescriptionSize)
            return UsageFail("bank", "--description holds at most 30 characters of Windows-1252");
    }
    const std::string& source = args.positional[1];
    if (const std::string why = WriteProblem(*out, args.Has("--force")); !why.empty())
        return CannotWrite(*out, why);
    if (const std::string input = InputWrittenOver(*out, {source}); !input.empty())
        return RefuseWritingOverInput(*out, input);
    Kit kit;
    std::string error;
    if (!ReadKit(source, kit, error)) return Fail(ForTerminal(error));
    // Not over the kit's definition, nor over any sound it names.
    if (const std::string input = InputWrittenOver(*out, kit.files); !input.empty())
        return CannotWrite(*out, "it is a file of the kit, " + ForTerminal(input));

    TerminalPrompter prompter(args.Has("--force"));
    auto m = NewMachine(prompter);
    ProgressBar bar("importing");
    const KitImport result =
        ImportKit(*m, kit, args.Has("--convert") ? Conversion::Always : Conversion::Ask);
    bar.Done();
    if (description) m->banks.userbank.description = *description;
    for (const std::string& line : result.leftOut) Note("left out: " + ForTerminal(line));
    for (const std::string& line : result.refused)
        Note("not imported: " + ForTerminal(OneLine(line)));
    prompter.Report(source);
    if (result.imported == 0)
        return Fail("no sound of " + ForTerminal(source) + " could be imported" +
                    (args.Has("--convert") ? "" : " (--convert converts the sound files)"));
    const std::vector<std::uint8_t> bytes = BankFileBytes(m->banks.userbank);
    std::string reason;
    if (!WriteFileExactly(*out, bytes.data(), bytes.size(), reason))
        return CannotWrite(*out, reason);
    std::cout << "Wrote " << *out << ": " << result.imported << " sound(s) of \""
              << Printable(WithoutTrailingBlanks(m->banks.userbank.description)) << "\"\n";
    return kExitOk;
}

int RunInfo(const Args& args) {
    if (args.positional.size() != 2) return UsageFail("bank", "bank info takes one userbank file");
    TerminalPrompter prompter(false);
    auto m = NewMachine(prompter);
    if (!LoadUserbankFile(*m, args.positional[1])) return kExitFailure;
    const SampleBank& bank = m->banks.userbank;
    std::cout << "description \"" << Printable(WithoutTrailingBlanks(bank.description)) << "\"\n";
    char heading[100];
    std::snprintf(heading, sizeof heading, "slot  %-20s  %8s  %7s  %s\n", "name", "seconds",
                  "stretch", "hi-hat partners");
    std::cout << heading;
    for (int n = 1; n <= kBankSlots; ++n) {
        const SampleSlot& s = bank.slot(n);
        const std::string name =
            s.hasSound() ? Printable(WithoutTrailingBlanks(s.name)) : std::string(kEmptySlotName);
        char line[160];
        std::snprintf(line, sizeof line, "%4d  %-20s  %8.3f  %7d  %d,%d\n", n, name.c_str(),
                      s.hasSound() ? s.sampleCount / 44100.0 : 0.0, s.stretchMeasures, s.hihat1,
                      s.hihat2);
        std::cout << line;
    }
    return kExitOk;
}

int RunExport(const Args& args) {
    if (args.positional.size() != 3)
        return UsageFail("bank", "bank export takes a userbank file and a slot");
    long slot = 0;
    if (!ParseNumber(args.positional[2], 1, kBankSlots, slot))
        return UsageFail("bank", "expected a slot 1..20, not '" + args.positional[2] + "'");
    const auto out = args.Value("--output");
    if (!out) return UsageFail("bank", "no output file given (-o OUT.wav)");
    if (const std::string why = WriteProblem(*out, args.Has("--force")); !why.empty())
        return CannotWrite(*out, why);
    if (const std::string input = InputWrittenOver(*out, {args.positional[1]}); !input.empty())
        return RefuseWritingOverInput(*out, input);
    TerminalPrompter prompter(true);  // the target was checked above
    auto m = NewMachine(prompter);
    if (!LoadUserbankFile(*m, args.positional[1])) return kExitFailure;
    if (!m->banks.userbank.slot(static_cast<int>(slot)).hasSound())
        return Fail("slot " + std::to_string(slot) + " of " + args.positional[1] +
                    " is empty; nothing was written");
    if (!ExportSlotAsWav(*m, static_cast<int>(slot), ExactName(*out))) {
        prompter.Report(*out);
        return CannotWrite(*out, "the export failed");
    }
    std::cout << "Wrote " << *out << "\n";
    return kExitOk;
}

}  // namespace

int RunBank(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words,
                          {{"--description", 0, true, false, true},
                           {"--stretch", 0, true, true},
                           {"--hihat", 0, true, true},
                           {"--output", 'o', true},
                           {"--convert", 0, false},
                           {"--force", 'f', false}},
                          error);
    if (!args) return UsageFail("bank", error);
    if (args->positional.empty())
        return UsageFail("bank", "expected new, from-kit, info or export");
    const std::string& what = args->positional[0];
    const bool isNew = what == "new", isExport = what == "export", isKit = what == "from-kit";
    if (!isNew && (!args->All("--stretch").empty() || !args->All("--hihat").empty()))
        return UsageFail("bank", "--stretch and --hihat belong to bank new");
    if (!isNew && !isKit && args->Value("--description"))
        return UsageFail("bank", "--description belongs to bank new and bank from-kit");
    if (!isExport && !isKit && args->Value("--output"))
        return UsageFail("bank", "-o belongs to bank export (bank new takes OUT.ubf first)");
    if (!isNew && !isKit && args->Has("--convert"))
        return UsageFail("bank", "--convert belongs to bank new and bank from-kit");
    if (what == "info" && args->Has("--force"))
        return UsageFail("bank", "bank info takes no --force");
    if (isNew) return RunNew(*args);
    if (what == "info") return RunInfo(*args);
    if (isExport) return RunExport(*args);
    if (isKit) return RunFromKit(*args);
    return UsageFail("bank", "expected new, from-kit, info or export, not '" + what + "'");
}

}  // namespace qtam::cli
