// qtam-cli: Q.Tam without windows. Renders songs to WAV files, shows them as text, builds
// them from text, plays them, lists the output devices, builds and reads userbanks and writes
// patterns as MIDI files.

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "banks/kit.h"
#include "banks/sound_file.h"
#include "banks/wav_io.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/play_command.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/sample_bank.h"
#include "core/song.h"
#include "core/text_codec.h"
#include "engine/mixer.h"
#include "engine/stream_to_disk.h"
#include "song/song_file.h"
#include "song/song_text.h"

#ifndef QTAM_VERSION
#define QTAM_VERSION "unknown"
#endif

namespace qtam::cli {
namespace {

const char* const kRenderUsage =
    "usage: qtam-cli render SONG (-o OUT.wav | --stems DIR) [-p N] [-m M | --arrangement]\n"
    "                       [--tail] [--format F] [--quality Q] [--kit FILE] [--userbank FILE]\n"
    "                       [--seed S] [-f]\n"
    "  Renders pattern N (1..8, default 1) of SONG, or with -m only its measure M (1..16), or\n"
    "  with --arrangement the whole arrangement, into a 16-bit stereo 44100 Hz sound file.\n"
    "  -o - writes a WAV file to standard output. Afterwards\n"
    "  it prints the peak level, the clipped samples and, with humanize on, the seed that --seed\n"
    "  takes to repeat the take.\n"
    "  -o, --output FILE     the file, written under exactly this name\n"
    "      --stems DIR       DIR/main.EXT and one file per channel that sounds, DIR/01-NAME.EXT\n"
    "                        ..., each channel after its volume, pan and distortion, before the\n"
    "                        main volume (DIR is made when missing)\n"
    "      --format F        wav, flac, ogg or aiff (default: the extension of OUT, else wav)\n"
    "      --quality Q       the Ogg Vorbis quality 0..10 (default 5)\n"
    "  -p, --pattern N       the pattern (default 1)\n"
    "  -m, --measure M       only this measure\n"
    "      --arrangement     every entry of the song's arrangement in turn, once (a list that\n"
    "                        loops too), and then the sounds ring out until they end\n"
    "      --tail            after the last measure the sounds ring out until they end\n"
    "      --kit FILE        the drum kit (default: the kit of the installation)\n"
    "      --userbank FILE   the userbank (default: the one the song names)\n"
    "      --seed S          humanize with this seed (0..4294967295)\n"
    "  -f, --force           replace an existing OUT\n";

const char* const kInfoUsage =
    "usage: qtam-cli info SONG [--kit FILE]\n"
    "  Prints SONG in the text form that 'qtam-cli build' reads back into the same song, byte\n"
    "  for byte. Channel lines name the kit's sounds in comments.\n"
    "      --kit FILE        the kit whose names are shown (default: the kit of the\n"
    "                        program, when it is there)\n";

const char* const kBuildUsage =
    "usage: qtam-cli build TEXT -o SONG.sng [-f]\n"
    "  Builds a song file from the text form ('-' reads standard input). Errors name the line\n"
    "  and column as FILE:LINE:COLUMN.\n"
    "  -o, --output FILE     the song file, written under exactly this name\n"
    "  -f, --force           replace an existing SONG\n";

const char* const kHelpUsage =
    "usage: qtam-cli help [COMMAND]\n"
    "  Prints the help of a command, or the list of commands.\n";

const char* const kOverview =
    "usage: qtam-cli COMMAND [ARGS]\n"
    "  render   render a pattern or a measure of a song to a WAV file\n"
    "  info     print a song as text\n"
    "  build    build a song file from text\n"
    "  play     play a song through the sound device\n"
    "  devices  list the output devices\n"
    "  bank     build a userbank from sound files, list one, export a sound\n"
    "  midi     write a pattern as a Standard MIDI File\n"
    "  help     print the help of a command\n"
    "'qtam-cli help COMMAND' or 'qtam-cli COMMAND --help' tells more; --version the version.\n"
    "Exit codes: 0 success, 1 failure, 2 wrong command line.\n";

std::string Decibels(int peak) {
    if (peak == 0) return "-inf dBFS";
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f dBFS", 20.0 * std::log10(peak / 32768.0));
    return buf;
}

struct Levels {
    int peak = 0;
    long long clipped = 0;  // samples at full scale
};

// Adds the peak and the samples at full scale of rendered frames, as the render writes them.
void TallyLevels(Levels& levels, const StereoFrame* frames, int count) {
    // Plain loops over 16-bit lanes, so that the compiler runs them many samples at a time.
    const std::int16_t* s = &frames[0].left;
    const int n = 2 * count;
    std::int16_t lowest = 0, highest = 0;
    int clipped = 0;
    for (int i = 0; i < n; ++i) {
        const std::int16_t v = s[i];
        lowest = v < lowest ? v : lowest;
        highest = v > highest ? v : highest;
        clipped += (v == 32767) + (v == -32768);
    }
    levels.peak = std::max({levels.peak, static_cast<int>(highest), -static_cast<int>(lowest)});
    levels.clipped += clipped;
}

bool PatternHasNotes(const Machine& m, int pattern, int fromMeasure, int toMeasure) {
    const ChannelSettings& cs = m.song.settings(pattern);
    for (int meas = fromMeasure; meas <= toMeasure; ++meas)
        for (int ch = 1; ch <= kChannels; ++ch)
            for (int s = 1; s <= StepsPerMeasureOf(m.song); ++s)
                if (cs.mute[ch - 1] == 0 && m.song.cell(pattern, meas, ch, s).hasNote())
                    return true;
    return false;
}

// Frames kept in memory.
struct MemorySink final : StreamSink {
    std::vector<std::uint8_t> bytes;
    void Append(const void* data, std::size_t count) override {
        const auto* p = static_cast<const std::uint8_t*>(data);
        bytes.insert(bytes.end(), p, p + count);
    }
};

// The WAV file on standard output, written as it is mixed: its size is known before the first
// frame, so nothing waits in a temporary file (and nothing is left behind when the reader goes).
class StandardOutputWav final : public StreamSink {
public:
    explicit StandardOutputWav(std::uint64_t dataBytes)
        : declared_(std::min(dataBytes, kMaxWavDataBytes)) {
        const WavHeader header = MakeWavHeader(2, static_cast<std::uint32_t>(declared_));
        Write(&header, sizeof header);
    }
    void Append(const void* bytes, std::size_t count) override {
        count = static_cast<std::size_t>(std::min<std::uint64_t>(count, declared_ - written_));
        Write(bytes, count);
        written_ += count;
    }
    // Pads to the declared size should the mixer have made fewer frames; false when anything
    // could not be written (error() says why).
    bool Finish() {
        static const char zeros[4096] = {};
        while (written_ < declared_ && error_ == 0)
            Append(zeros, static_cast<std::size_t>(
                              std::min<std::uint64_t>(sizeof zeros, declared_ - written_)));
        if (error_ == 0) error_ = StandardOutputError();
        return error_ == 0;
    }
    std::string error() const { return std::strerror(error_); }

private:
    void Write(const void* bytes, std::size_t count) {
        if (error_ != 0 || count == 0) return;
        std::cout.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(count));
        if (std::cout.fail()) error_ = StandardOutputError();
    }
    std::uint64_t declared_;
    std::uint64_t written_ = 0;
    int error_ = 0;
};

// A folder a command makes for its output: removed again, when still empty, unless kept.
class MadeFolder {
public:
    MadeFolder() = default;
    MadeFolder(const MadeFolder&) = delete;
    MadeFolder& operator=(const MadeFolder&) = delete;
    ~MadeFolder() {
        if (!path_.empty()) ::rmdir(path_.c_str());
    }
    // Makes `path` unless it is there; false (errno says why) when it cannot.
    bool Make(const std::string& path) {
        if (::mkdir(path.c_str(), 0777) == 0) {
            path_ = path;
            return true;
        }
        return errno == EEXIST;
    }
    void Keep() { path_.clear(); }

private:
    std::string path_;  // made here, and not kept yet
};

int RunRender(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words,
                          {{"--output", 'o', true},
                           {"--pattern", 'p', true},
                           {"--measure", 'm', true},
                           {"--kit", 0, true},
                           {"--userbank", 0, true},
                           {"--seed", 0, true},
                           {"--stems", 0, true},
                           {"--format", 0, true},
                           {"--quality", 0, true},
                           {"--arrangement", 0, false},
                           {"--tail", 0, false},
                           {"--force", 'f', false}},
                          error);
    if (!args) return UsageFail("render", error);
    const bool arrangement = args->Has("--arrangement");
    if (arrangement && (args->Value("--pattern") || args->Value("--measure")))
        return UsageFail("render", "--arrangement renders every entry: no -p or -m with it");
    if (args->positional.size() != 1)
        return UsageFail("render",
                         args->positional.empty() ? "no song given" : "more than one song given");
    const auto out = args->Value("--output");
    const auto stemsFolder = args->Value("--stems");
    if (!out && !stemsFolder)
        return UsageFail("render", "no output given (-o OUT.wav, -o - for stdout, or --stems DIR)");
    if (out && stemsFolder)
        return UsageFail("render", "-o and --stems do not go together (--stems writes DIR/main)");
    const auto pattern = args->Number("--pattern", 1, kPatterns, error);
    const auto measure = args->Number("--measure", 1, kMeasures, error);
    const auto seed = args->Number("--seed", 0, 4294967295L, error);
    const auto quality = args->Number("--quality", 0, 10, error);
    if (!error.empty()) return UsageFail("render", error);
    const bool force = args->Has("--force");
    const bool toStdout = out && *out == "-";
    SoundFileType type = SoundFileType::Wav;
    if (const auto format = args->Value("--format")) {
        const auto named = SoundFileTypeNamed(*format);
        if (!named)
            return UsageFail("render",
                             "--format takes wav, flac, ogg or aiff, not '" + *format + "'");
        type = *named;
        // A file whose extension names another format would be misread by whoever opens it.
        const auto extensionType = out && !toStdout ? SoundFileTypeOf(*out) : std::nullopt;
        if (extensionType && *extensionType != type)
            return UsageFail("render", "--format " + *format +
                                           " does not go with the extension of " +
                                           ForTerminal(*out) + "; name the file ." +
                                           ExtensionOf(type) + " or leave --format out");
    } else if (out && !toStdout) {
        type = SoundFileTypeOf(*out).value_or(SoundFileType::Wav);
    }
    if (quality && type != SoundFileType::Ogg)
        return UsageFail("render", "--quality belongs to the Ogg Vorbis format");
    if (toStdout && type != SoundFileType::Wav)
        return UsageFail("render", "standard output takes a WAV file only");
    if (toStdout && ::isatty(1))
        return Fail("standard output is a terminal; send the WAV to a file or a pipe");
    const std::vector<std::string> inputs = SongCommandInputs(*args);
    // Every file the render writes may be written: said before anything is rendered.
    auto refusal = [&](const std::string& target) -> std::optional<int> {
        if (const std::string why = WriteProblem(target, force); !why.empty())
            return CannotWrite(target, why);
        if (const std::string input = InputWrittenOver(target, inputs); !input.empty())
            return RefuseWritingOverInput(target, input);
        return std::nullopt;
    };
    if (out && !toStdout)
        if (const auto code = refusal(*out)) return *code;

    TerminalPrompter prompter(true);  // the target was checked above
    auto m = NewMachine(prompter);
    if (!LoadForCommand(*m, {args->positional[0], args->Value("--kit"), args->Value("--userbank"),
                             static_cast<int>(pattern.value_or(1))}))
        return kExitFailure;
    // Made once the song has loaded, and taken away again when nothing comes into it.
    MadeFolder stemsMade;
    if (stemsFolder && !stemsMade.Make(*stemsFolder))
        return CannotWrite(*stemsFolder, std::strerror(errno));
    const std::uint32_t usedSeed = seed ? static_cast<std::uint32_t>(*seed)
                                        : static_cast<std::uint32_t>(std::random_device{}());
    m->random.seed(usedSeed);
    if (arrangement && m->arrangement.empty())
        return Fail(args->positional[0] + " has no arrangement to render");
    const int p = m->editor.CurrentPattern;
    const int measures = arrangement
                             ? static_cast<int>(ArrangementMeasures(m->song, m->arrangement))
                             : MeasureCountOf(m->song, p);
    if (measure) m->editor.CurrentMeasure = static_cast<std::uint8_t>(*measure);
    // A tail's length is known only once rendered.
    const bool tail = arrangement || args->Has("--tail");

    ProgressBar bar("rendering");
    StreamObserver observer;
    observer.progress = [&bar](int percent) { bar.Show(percent); };
    Levels levels;
    std::int64_t rendered = 0;
    observer.frames = [&levels, &rendered](const StereoFrame* frames, int count) {
        TallyLevels(levels, frames, count);
        rendered += count;
    };
    const StreamMode mode = arrangement ? StreamMode::WholeArrangement
                            : measure   ? StreamMode::CurrentMeasure
                                        : StreamMode::WholePattern;
    RenderFiles files;
    files.tail = tail;
    files.type = type;
    files.quality = static_cast<int>(quality.value_or(kDefaultOggQuality));
    int stemCount = 0;
    if (stemsFolder) {
        const std::string folder = *stemsFolder + (stemsFolder->back() == '/' ? "" : "/");
        files.main = folder + "main." + ExtensionOf(type);
        const auto sounding = SoundingChannels(*m, mode);
        for (int c = 1; c <= kChannels; ++c)
            if (sounding[c - 1]) {
                files.stems[c - 1] = folder + StemFileName(*m, c, type);
                ++stemCount;
            }
        for (const std::string& target : files.stems)
            if (!target.empty())
                if (const auto code = refusal(target)) return *code;
        if (const auto code = refusal(files.main)) return *code;
    } else if (out) {
        files.main = *out;
    }
    if (toStdout && tail) {
        // Its length known only at the end, the render is kept in memory first.
        MemorySink mixed;
        m->stream = &mixed;
        RenderOffline(*m, mode, &observer, {}, tail);
        m->stream = nullptr;
        bar.Done();
        StandardOutputWav wav(mixed.bytes.size());
        wav.Append(mixed.bytes.data(), mixed.bytes.size());
        if (!wav.Finish()) return CannotWrite("standard output", wav.error());
    } else if (toStdout) {
        const std::uint64_t frames =
            static_cast<std::uint64_t>(m->player.clock.MeasureLength) * (measure ? 1 : measures);
        StandardOutputWav wav(frames * sizeof(StereoFrame));
        m->stream = &wav;
        RenderOffline(*m, mode, &observer);
        m->stream = nullptr;
        bar.Done();
        if (!wav.Finish()) return CannotWrite("standard output", wav.error());
    } else {
        // A plain WAV file goes the way the render dialog's always went.
        const bool ok = stemsFolder || type != SoundFileType::Wav || tail
                            ? WriteRenderFiles(*m, mode, files, &observer)
                            : RunStream(*m, mode, ExactName(files.main), &observer);
        bar.Done();
        if (!ok) {
            prompter.Report(files.main);
            return CannotWrite(files.main, "rendering failed; nothing was written");
        }
    }
    stemsMade.Keep();

    std::ostream& report = toStdout ? std::cerr : std::cout;
    const auto frames = static_cast<double>(rendered);
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.2f s", frames / 44100.0);
    report << "Wrote " << (toStdout ? std::string("standard output") : files.main)
           << (stemsFolder ? " and " + std::to_string(stemCount) + " stem(s)" : std::string())
           << (arrangement
                   ? ": the arrangement, " + std::to_string(m->arrangement.count) + " entries"
                   : ": pattern " + std::to_string(p))
           << (measure ? ", measure " + std::to_string(*measure)
                       : ", " + std::to_string(measures) + " measure(s)")
           << (tail ? " and the tail" : "") << ", " << static_cast<long>(frames) << " frames, "
           << seconds << "\n";
    report << "Peak " << Decibels(levels.peak) << ", " << levels.clipped << " clipped sample(s)\n";
    if (m->song.humanize != 0)
        report << "Humanize seed " << usedSeed << " (--seed " << usedSeed
               << " repeats this take)\n";
    if (levels.clipped > 0)
        Warning(std::to_string(levels.clipped) +
                " samples are clipped at full scale; lower the channel volumes");
    if (measure && *measure > measures)
        Warning("measure " + std::to_string(*measure) + " lies beyond the " +
                std::to_string(measures) + " measure(s) pattern " + std::to_string(p) +
                " plays; it was rendered all the same");
    const int from = measure ? static_cast<int>(*measure) : 1;
    if (!arrangement && !PatternHasNotes(*m, p, from, measure ? from : measures))
        Warning("pattern " + std::to_string(p) +
                (measure ? ", measure " + std::to_string(*measure) : std::string()) +
                " has no notes to play");
    return kExitOk;
}

int RunInfo(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words, {{"--kit", 0, true}}, error);
    if (!args) return UsageFail("info", error);
    if (args->positional.size() != 1)
        return UsageFail("info",
                         args->positional.empty() ? "no song given" : "more than one song given");
    TerminalPrompter prompter(false);
    auto m = NewMachine(prompter);
    // The kit only names the sounds (its sounds are never loaded): the default one may be
    // missing, one asked for must load.
    if (args->Value("--kit")) {
        if (!LoadKit(*m, args->Value("--kit"), true)) return kExitFailure;
    } else {
        LoadKitNamesQuietly(*m);
    }
    if (!LoadSongFile(*m, args->positional[0])) return kExitFailure;
    // The record as the file stores it: loading brings values into the ranges Q.Tam plays,
    // and the text gives them back as they were.
    std::string reason;
    const auto bytes = ReadWholeFile(args->positional[0], &reason);
    if (!bytes || bytes->size() < kSongSize) return CannotRead(args->positional[0], reason);
    auto stored = std::make_unique<Song>();
    std::memcpy(stored.get(), bytes->data(), kSongSize);
    // An arrangement block was read with the song (or left out with a note); other bytes after
    // the record are no part of the song.
    auto ignored = std::make_unique<Arrangement>();
    if (bytes->size() > kSongSize &&
        ReadArrangementBlock(bytes->data() + kSongSize, bytes->size() - kSongSize, *ignored) ==
            BlockRead::None)
        Warning(std::to_string(bytes->size() - kSongSize) +
                " byte(s) after the song's record are not part of the song; the text leaves "
                "them out");
    std::string shown = args->positional[0];  // a comment line: no control character in it
    for (char& c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
    std::cout << "# qtam-cli build reads this back into " << shown << "\n";
    std::cout << FormatSongText(*stored, m->arrangement, [&](int code) -> std::string {
        if (code < 1 || code > 20 || !m->activation.InternalBankLoaded) return {};
        return Cp1252ToUtf8(WithoutTrailingBlanks(m->banks.internalBank.slot(code).name));
    });
    return kExitOk;
}

int RunBuild(const std::vector<std::string>& words) {
    std::string error;
    auto args = ParseArgs(words, {{"--output", 'o', true}, {"--force", 'f', false}}, error);
    if (!args) return UsageFail("build", error);
    if (args->positional.size() != 1)
        return UsageFail("build", args->positional.empty() ? "no text file given"
                                                           : "more than one text file given");
    const auto out = args->Value("--output");
    if (!out) return UsageFail("build", "no output file given (-o SONG.sng)");
    const std::string& source = args->positional[0];
    std::stringstream text;
    if (source == "-") {
        text << std::cin.rdbuf();
    } else {
        if (const std::string why = ReadProblem(source); !why.empty())
            return CannotRead(source, why);
        // Only a regular file: a folder or a FIFO is an error, never an empty text.
        std::string reason;
        const auto bytes = ReadWholeFile(source, &reason);
        if (!bytes) return CannotRead(source, reason);
        text.write(reinterpret_cast<const char*>(bytes->data()),
                   static_cast<std::streamsize>(bytes->size()));
    }

    TerminalPrompter prompter(false);
    auto m = NewMachine(prompter);
    SongTextError textError;
    if (!ApplySongText(m->song, m->arrangement, text.str(), textError))
        return Fail(textError.at(source == "-" ? "<stdin>" : source));
    if (const std::string why = WriteProblem(*out, args->Has("--force")); !why.empty())
        return CannotWrite(*out, why);
    if (const std::string input = InputWrittenOver(*out, {source}); !input.empty())
        return RefuseWritingOverInput(*out, input);
    std::string reason;
    std::vector<std::uint8_t> file(kSongSize);
    std::memcpy(file.data(), &m->song, kSongSize);
    const std::vector<std::uint8_t> block = ArrangementBlock(m->arrangement);
    file.insert(file.end(), block.begin(), block.end());
    if (!WriteFileExactly(*out, file.data(), file.size(), reason)) return CannotWrite(*out, reason);
    std::cout << "Wrote " << *out << "\n";
    return kExitOk;
}

struct Command {
    const char* name;
    const char* usage;
    int (*run)(const std::vector<std::string>&);
};

const Command kCommands[] = {
    {"render", kRenderUsage, RunRender},    {"info", kInfoUsage, RunInfo},
    {"build", kBuildUsage, RunBuild},       {"play", kPlayUsage, RunPlay},
    {"devices", kDevicesUsage, RunDevices}, {"bank", kBankUsage, RunBank},
    {"midi", kMidiUsage, RunMidi},
};

const Command* Find(const std::string& name) {
    for (const Command& c : kCommands)
        if (name == c.name) return &c;
    return nullptr;
}

}  // namespace

int Main(const std::vector<std::string>& words) {
    if (words.empty()) {
        std::cerr << kOverview;
        return kExitUsage;
    }
    const std::string& first = words[0];
    if (first == "--version" || first == "-V") {
        std::cout << "qtam-cli " << QTAM_VERSION << "\n";
        return kExitOk;
    }
    if (first == "-h" || first == "--help") {
        std::cout << kOverview;
        return kExitOk;
    }
    if (first == "help") {
        if (words.size() == 1) {
            std::cout << kOverview;
            return kExitOk;
        }
        if (words.size() > 2) return UsageFail("help", "help takes one command");
        if (words[1] == "help") {
            std::cout << kHelpUsage;
            return kExitOk;
        }
        const Command* c = Find(words[1]);
        if (c == nullptr) return UsageFail("help", "unknown command " + words[1]);
        std::cout << c->usage;
        return kExitOk;
    }
    const Command* c = Find(first);
    if (c == nullptr) {
        std::cerr << "qtam-cli: unknown command " << first << "\n" << kOverview;
        return kExitUsage;
    }
    const std::vector<std::string> rest(words.begin() + 1, words.end());
    if (AsksForHelp(rest)) {
        std::cout << c->usage;
        return kExitOk;
    }
    return c->run(rest);
}

}  // namespace qtam::cli

int main(int argc, char** argv) {
    // The user's character set, so that libraries (libarchive's entry names) can convert text;
    // numbers keep the C locale's form.
    std::setlocale(LC_CTYPE, "");
    // Ctrl-C or a kill leaves no temporary file behind; a file-size limit is an ordinary
    // write error that is reported, not a signal that ends the program.
    qtam::RemoveTemporaryFilesOnInterrupt();
    qtam::cli::UseCheckedStandardOutput();
    std::signal(SIGXFSZ, SIG_IGN);
    const int code = qtam::cli::Main(std::vector<std::string>(argv + 1, argv + argc));
    // Whatever a command printed must have arrived: a full disk or a closed pipe is a failure
    // (a command that failed already has said why).
    if (code != qtam::cli::kExitOk) return code;
    return qtam::cli::FinishStandardOutput() ? code : qtam::cli::kExitFailure;
}
