#pragma once
// What every qtam-cli command shares: option parsing, the terminal prompter and loading the
// kit, a song and its userbank as "Open song" does.

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/prompter.h"

namespace qtam {
struct Machine;
}

namespace qtam::cli {

// Warnings go to stderr; questions are answered by a fixed answer (--force says Yes).
class TerminalPrompter : public Prompter {
public:
    explicit TerminalPrompter(bool answerYes) : answerYes_(answerYes) {}
    void Warn(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void SetBusy(bool) override {}
    int warnings = 0;

private:
    bool answerYes_;
};

// Options after the command: positional words, "--name value" pairs and bare flags.
struct Args {
    std::vector<std::string> positional;
    std::map<std::string, std::string> values;
    std::vector<std::string> flags;

    bool Has(const std::string& flag) const;
    std::optional<std::string> Value(const std::string& name) const;
    // A whole number in lo..hi; an error message in `error` otherwise.
    std::optional<int> Number(const std::string& name, int lo, int hi, std::string& error) const;
};

// `valueOptions` take a value; `flagOptions` stand alone. Unknown options are an error.
std::optional<Args> ParseArgs(const std::vector<std::string>& words,
                              const std::vector<std::string>& valueOptions,
                              const std::vector<std::string>& flagOptions, std::string& error);

// The folder of the running program ("" when unknown), where the kit lives.
std::string ProgramPath();

// A machine with a new Song that talks through `prompter`.
std::unique_ptr<Machine> NewMachine(Prompter& prompter);

struct LoadOptions {
    std::string song;
    std::optional<std::string> kit;       // default: the kit beside the program
    std::optional<std::string> userbank;  // default: the one the song names
    int pattern = 1;
};

// Kit, song (then SetTempo and the Humanize option from the song) and userbank; the pattern
// becomes the edited one. False, after saying why on stderr, when the kit or song fails.
bool LoadForCommand(Machine& m, const LoadOptions& options);

int Fail(const std::string& message);

}  // namespace qtam::cli
