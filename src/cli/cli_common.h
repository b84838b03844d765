#pragma once
// What every qtam-cli command shares: option parsing, exit codes, the wording of errors, the
// terminal prompter, the progress bar and loading the kit, a song and its userbank.

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "banks/userbank_file.h"
#include "core/prompter.h"

namespace qtam {
struct Machine;
struct Song;
}  // namespace qtam

namespace qtam::cli {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;  // the command could not do its job
constexpr int kExitUsage = 2;    // the command line was wrong

// Warnings are collected (the command decides how to report them); questions are answered Yes
// with --force and No otherwise, remembering what was asked so the command can say so.
class TerminalPrompter : public Prompter {
public:
    explicit TerminalPrompter(bool answerYes) : answerYes_(answerYes) {}
    void Warn(const std::string& text) override { warnings.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        if (!answerYes_) declined.push_back(text);
        return answerYes_;
    }
    void SetBusy(bool) override {}
    // Prints what was collected on stderr ("qtam-cli: context: text") and forgets it.
    void Report(const std::string& context);

    std::vector<std::string> warnings;
    std::vector<std::string> declined;

private:
    bool answerYes_;
};

struct OptionSpec {
    std::string name;         // "--pattern"
    char shortName = 0;       // 'p', or 0
    bool value = false;       // takes a value
    bool repeat = false;      // may be given more than once
    bool mayBeEmpty = false;  // an empty value is one (otherwise it is a usage error)
};

// The words after the command: positional words and the options, keyed by their long names.
struct Args {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::string> flags;

    bool Has(const std::string& flag) const;
    std::optional<std::string> Value(const std::string& name) const;
    std::vector<std::string> All(const std::string& name) const;
    // A whole number lo..hi; `error` says why not (and stays as it was when all is well).
    std::optional<long> Number(const std::string& name, long lo, long hi, std::string& error) const;
};

// "--name value", "--name=value", "-n value", "-nvalue"; "--" ends the options; "-" alone is
// a positional word. Unknown options, missing values and repeats are errors.
std::optional<Args> ParseArgs(const std::vector<std::string>& words,
                              const std::vector<OptionSpec>& specs, std::string& error);

// True when the words ask for help (--help or -h before any "--").
bool AsksForHelp(const std::vector<std::string>& words);

// "qtam-cli: message" on stderr; returns kExitFailure.
int Fail(const std::string& message);
// "qtam-cli COMMAND: message" and a pointer to the help; returns kExitUsage.
int UsageFail(const std::string& command, const std::string& message);
// A path or text as it may reach the terminal: control characters, bytes that are not UTF-8
// and C1 controls become \xHH, so that no file name or stored text can act on the terminal.
std::string ForTerminal(const std::string& bytes);
// The wording of every file error: "cannot read PATH: REASON".
int CannotRead(const std::string& path, const std::string& reason);
int CannotWrite(const std::string& path, const std::string& reason);
void Warning(const std::string& message);  // "qtam-cli: warning: message"
void Note(const std::string& message);     // "qtam-cli: message", not an error

// Why `path` cannot be read as a regular file ("" when it can).
std::string ReadProblem(const std::string& path);
// Why `path` may not be written ("" when it may): a folder, a read-only file, an existing
// file without --force, or a folder that does not exist or cannot be written.
std::string WriteProblem(const std::string& path, bool force);

// The input among `inputs` that `output` would write over (the same file, also through links
// or another name); "" when none. A file that does not exist yet is no input.
std::string InputWrittenOver(const std::string& output, const std::vector<std::string>& inputs);
// What a command on a song reads: the song, and the files --kit and --userbank name.
std::vector<std::string> SongCommandInputs(const Args& args);
// cannot write OUT: it is the input INPUT; returns kExitFailure.
int RefuseWritingOverInput(const std::string& output, const std::string& input);

// std::cout made to write standard output through a buffer that keeps the first failure's
// reason (everything a command prints goes through std::cout). Call once, first.
void UseCheckedStandardOutput();
// Flushes std::cout; 0 when everything written so far arrived, else the first failure's errno.
int StandardOutputError();
// Flushes and closes standard output; false, after "qtam-cli: cannot write standard output:
// REASON" on stderr, when anything written there was lost.
bool FinishStandardOutput();

// Writes `bytes` to `path`, replacing it only once everything was written.
bool WriteFileExactly(const std::string& path, const void* bytes, std::size_t size,
                      std::string& reason);

// A progress bar on stderr, drawn only when stderr is a terminal and the job has run for
// more than a second.
class ProgressBar {
public:
    explicit ProgressBar(std::string label);
    ~ProgressBar() { Done(); }
    void Show(int percent);
    void Done();

private:
    std::string label_;
    bool terminal_;
    bool drawn_ = false;
    std::chrono::steady_clock::time_point start_;
};

// The folder of the running program ("" when unknown), where the kit lives.
std::string ProgramPath();

// A machine with a new Song that talks through `prompter`.
std::unique_ptr<Machine> NewMachine(Prompter& prompter);

// Each reports its failure on stderr in the common wording and returns false.
// The kit (default: the program's data folder's); with namesOnly, only the names and attributes
// of its sounds, for a command that shows them and plays nothing.
bool LoadKit(Machine& m, const std::optional<std::string>& kit, bool namesOnly = false);
// The kit with only the sounds of the slots in `sounds`; every name and attribute.
bool LoadKitSounds(Machine& m, const std::optional<std::string>& kit, SlotSet sounds);
// The kit's slots the channels of the song's patterns name, muted or not.
SlotSet KitSoundsNamedBy(const Song& song);
// The names of the program's kit (see KitPathFor) when it is there; nothing is said when it is
// not.
void LoadKitNamesQuietly(Machine& m);
bool LoadSongFile(Machine& m, const std::string& song);
bool LoadUserbankFile(Machine& m, const std::string& bank);

struct LoadOptions {
    std::string song;
    std::optional<std::string> kit;       // default: the program's kit
    std::optional<std::string> userbank;  // default: the one the song names
    int pattern = 1;
    bool needKit = true;
};

// Kit, song (then SetTempo and the Humanize option from the song) and userbank; the pattern
// becomes the edited one. False, after saying why on stderr, when the kit, the song or a named
// userbank fails. A song's own userbank that cannot be found is a note, not an error.
bool LoadForCommand(Machine& m, const LoadOptions& options);

}  // namespace qtam::cli
