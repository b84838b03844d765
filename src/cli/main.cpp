// qtam-cli: Q.Tam without windows. Renders songs to WAV files, shows them as text, builds
// them from text, plays them and lists the output devices.

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

#include "banks/kit.h"
#include "banks/sample_bank.h"
#include "cli/cli_common.h"
#include "cli/play_command.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/text_codec.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"
#include "song/song_file.h"
#include "song/song_text.h"

namespace qtam::cli {
namespace {

const char* kUsage =
    "usage:\n"
    "  qtam-cli render SONG -o OUT.wav [--pattern N] [--measure M] [--kit FILE]\n"
    "                  [--userbank FILE] [--seed S] [--force]\n"
    "  qtam-cli info SONG [--kit FILE]\n"
    "  qtam-cli build TEXT -o SONG.sng [--force]\n"
    "  qtam-cli play SONG [--pattern N] [--seconds S] [--device N] [--buffer-size B]\n"
    "                [--record OUT.wav] [--kit FILE] [--userbank FILE] [--force]\n"
    "  qtam-cli devices\n";

// A progress bar on a terminal; nothing when stderr is not one.
class ProgressBar {
public:
    ProgressBar() : shown_(::isatty(2) != 0) {}
    void Show(int percent) {
        if (!shown_) return;
        const int filled = percent * 30 / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                     std::string(30 - filled, ' ').c_str(), percent);
        std::fflush(stderr);
        drawn_ = true;
    }
    void Done() {
        if (drawn_) std::fprintf(stderr, "\n");
    }

private:
    bool shown_;
    bool drawn_ = false;
};

std::string Seconds(double s) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.2f s", s);
    return buf;
}

int RunRender(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words, {"-o", "--pattern", "--measure", "--kit", "--userbank", "--seed"},
                          {"--force"}, error);
    if (!args) return Fail(error);
    if (args->positional.size() != 1) return Fail("render takes one song file");
    const auto out = args->Value("-o");
    if (!out) return Fail("render needs -o OUT.wav");
    const auto pattern = args->Number("--pattern", 1, kPatterns, error);
    const auto measure = args->Number("--measure", 1, kMeasures, error);
    const auto seed = args->Number("--seed", 0, 2147483647, error);
    if (!error.empty()) return Fail(error);
    const bool force = args->Has("--force");
    const std::string target = WithDefaultExtension(*out, ".WAV");
    if (FileExists(target) && !force) return Fail(target + " exists; use --force to overwrite it");

    TerminalPrompter prompter(force);
    auto m = NewMachine(prompter);
    if (!LoadForCommand(*m, {args->positional[0], args->Value("--kit"), args->Value("--userbank"),
                             pattern.value_or(1)}))
        return 1;
    m->random.seed(seed ? static_cast<unsigned>(*seed) : static_cast<unsigned>(std::time(nullptr)));
    if (measure) m->editor.CurrentMeasure = static_cast<std::uint8_t>(*measure);

    ProgressBar bar;
    StreamObserver observer;
    observer.progress = [&bar](int percent) { bar.Show(percent); };
    const bool ok = measure ? RenderCurrentMeasure(*m, target, &observer)
                            : RenderWholePattern(*m, target, &observer);
    bar.Done();
    if (!ok) return Fail("rendering failed; " + target + " was not written");

    const int measures = measure ? 1 : MeasureCountOf(m->song, m->editor.CurrentPattern);
    const double frames = static_cast<double>(m->clock.MeasureLength) * measures;
    std::cout << "Wrote " << target << ": pattern " << int(m->editor.CurrentPattern)
              << (measure ? ", measure " + std::to_string(*measure)
                          : ", " + std::to_string(measures) + " measure(s)")
              << ", " << static_cast<long>(frames) << " frames, " << Seconds(frames / 44100.0)
              << "\n";
    return 0;
}

int RunInfo(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words, {"--kit"}, {}, error);
    if (!args) return Fail(error);
    if (args->positional.size() != 1) return Fail("info takes one song file");
    TerminalPrompter prompter(false);
    auto m = NewMachine(prompter);
    if (!LoadSong(*m, args->positional[0], false))
        return Fail("cannot load the song " + args->positional[0]);

    // Names of the kit's sounds make the channel lines readable; the info works without them.
    SilentPrompter quiet;
    m->prompter = &quiet;
    const std::string kit = args->Value("--kit").value_or(KitPathFor(ProgramPath()));
    const bool haveKit = FileExists(kit) && LoadInternalBank(*m, kit);
    m->prompter = &prompter;

    std::cout << "# " << args->positional[0] << "\n";
    std::cout << FormatSongText(m->song, [&](int code) -> std::string {
        if (!haveKit || code < 1 || code > 20) return {};
        std::string name = m->banks.internalBank.slot(code).name;
        name.erase(name.find_last_not_of(' ') + 1);
        return Cp1252ToUtf8(name);
    });
    return 0;
}

int RunBuild(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words, {"-o"}, {"--force"}, error);
    if (!args) return Fail(error);
    if (args->positional.size() != 1) return Fail("build takes one text file");
    const auto out = args->Value("-o");
    if (!out) return Fail("build needs -o SONG.sng");
    // A folder or an unreadable file is an error, never an empty text.
    std::string reason;
    const auto bytes = ReadWholeFile(args->positional[0], &reason);
    if (!bytes) return Fail("cannot read " + args->positional[0] + ": " + reason);
    const std::string text(bytes->begin(), bytes->end());

    TerminalPrompter prompter(args->Has("--force"));
    auto m = NewMachine(prompter);
    if (!ApplySongText(m->song, text, error)) return Fail(args->positional[0] + ": " + error);
    const std::string target = WithDefaultExtension(*out, kSongExtension);
    if (FileExists(target) && !args->Has("--force"))
        return Fail(target + " exists; use --force to overwrite it");
    if (!SaveSong(*m, target, true)) return Fail("cannot write " + target);
    std::cout << "Wrote " << target << "\n";
    return 0;
}

}  // namespace

int Main(const std::vector<std::string>& words) {
    if (words.empty() || words[0] == "-h" || words[0] == "--help" || words[0] == "help") {
        std::cout << kUsage;
        return words.empty() ? 2 : 0;
    }
    const std::string command = words[0];
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (command == "render") return RunRender(rest);
    if (command == "info") return RunInfo(rest);
    if (command == "build") return RunBuild(rest);
    if (command == "play") return RunPlay(rest);
    if (command == "devices") return RunDevices(rest);
    std::cerr << "qtam-cli: unknown command " << command << "\n" << kUsage;
    return 2;
}

}  // namespace qtam::cli

int main(int argc, char** argv) {
    // Ctrl-C or a kill leaves no temporary file behind; a file-size limit is an ordinary
    // write error that is reported, not a signal that ends the program.
    qtam::RemoveTemporaryFilesOnInterrupt();
    std::signal(SIGXFSZ, SIG_IGN);
    return qtam::cli::Main(std::vector<std::string>(argv + 1, argv + argc));
}
