#include "cli/cli_common.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <streambuf>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/song.h"
#include "engine/play_clock.h"
#include "song/init_song.h"
#include "song/song_file.h"

namespace qtam::cli {

void TerminalPrompter::Report(const std::string& context) {
    for (const auto& w : warnings) std::cerr << "qtam-cli: " << context << ": " << w << "\n";
    for (const auto& q : declined)
        std::cerr << "qtam-cli: " << context << ": " << q << " No (--force answers Yes)\n";
    warnings.clear();
    declined.clear();
}

bool Args::Has(const std::string& flag) const {
    for (const auto& f : flags)
        if (f == flag) return true;
    return false;
}

std::optional<std::string> Args::Value(const std::string& name) const {
    for (auto it = values.rbegin(); it != values.rend(); ++it)
        if (it->first == name) return it->second;
    return std::nullopt;
}

std::vector<std::string> Args::All(const std::string& name) const {
    std::vector<std::string> out;
    for (const auto& [n, v] : values)
        if (n == name) out.push_back(v);
    return out;
}

std::optional<long> Args::Number(const std::string& name, long lo, long hi,
                                 std::string& error) const {
    auto text = Value(name);
    if (!text) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || errno != 0 || v < lo || v > hi) {
        error = name + " takes a whole number from " + std::to_string(lo) + " to " +
                std::to_string(hi) + ", not '" + *text + "'";
        return std::nullopt;
    }
    return v;
}

bool AsksForHelp(const std::vector<std::string>& words) {
    for (const auto& w : words) {
        if (w == "--") return false;
        if (w == "--help" || w == "-h") return true;
    }
    return false;
}

std::optional<Args> ParseArgs(const std::vector<std::string>& words,
                              const std::vector<OptionSpec>& specs, std::string& error) {
    Args args;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (optionsEnded || w.size() < 2 || w[0] != '-') {
            args.positional.push_back(w);
            continue;
        }
        if (w == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* option = nullptr;
        std::optional<std::string> attached;  // --name=value or -nvalue
        if (w[1] == '-') {
            const std::size_t eq = w.find('=');
            const std::string name = w.substr(0, eq);
            for (const auto& s : specs)
                if (s.name == name) option = &s;
            if (eq != std::string::npos) attached = w.substr(eq + 1);
        } else {
            for (const auto& s : specs)
                if (s.shortName == w[1]) option = &s;
            if (w.size() > 2) attached = w.substr(2);
        }
        if (option == nullptr) {
            error = "unknown option " + w;
            return std::nullopt;
        }
        if (!option->repeat && (args.Has(option->name) || args.Value(option->name))) {
            error = option->name + " is given twice";
            return std::nullopt;
        }
        if (!option->value) {
            if (attached) {
                error = option->name + " takes no value";
                return std::nullopt;
            }
            args.flags.push_back(option->name);
            continue;
        }
        if (!attached) {
            if (i + 1 >= words.size()) {
                error = option->name + " needs a value";
                return std::nullopt;
            }
            attached = words[++i];
        }
        if (attached->empty() && !option->mayBeEmpty) {
            error = option->name + " needs a value, not an empty one";
            return std::nullopt;
        }
        args.values.emplace_back(option->name, *attached);
    }
    return args;
}

int Fail(const std::string& message) {
    std::cerr << "qtam-cli: " << message << "\n";
    return kExitFailure;
}

int UsageFail(const std::string& command, const std::string& message) {
    std::cerr << "qtam-cli " << command << ": " << message << "\n"
              << "Try 'qtam-cli help " << command << "'.\n";
    return kExitUsage;
}

std::string ForTerminal(const std::string& bytes) {
    std::string out;
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        std::size_t len = b < 0x80             ? 1
                          : (b & 0xE0) == 0xC0 ? 2
                          : (b & 0xF0) == 0xE0 ? 3
                          : (b & 0xF8) == 0xF0 ? 4
                                               : 0;
        bool printable = len > 0 && i + len <= bytes.size();
        char32_t cp = len == 1 ? b : len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
        for (std::size_t k = 1; printable && k < len; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            printable = (c & 0xC0) == 0x80;
            cp = (cp << 6) | (c & 0x3F);
        }
        static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        printable = printable && cp >= kLeast[len] && (cp >= 0xA0 || (cp >= 0x20 && cp < 0x7F)) &&
                    cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (printable) {
            out.append(bytes, i, len);
            i += len;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", b);
            out += hex;
            ++i;
        }
    }
    return out;
}

int CannotRead(const std::string& path, const std::string& reason) {
    return Fail("cannot read " + ForTerminal(path) + ": " + reason);
}

int CannotWrite(const std::string& path, const std::string& reason) {
    return Fail("cannot write " + ForTerminal(path) + ": " + reason);
}

void Warning(const std::string& message) {
    std::cerr << "qtam-cli: warning: " << message << "\n";
}

void Note(const std::string& message) {
    std::cerr << "qtam-cli: " << message << "\n";
}

std::string ReadProblem(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
    if (!S_ISREG(st.st_mode)) return "not a regular file";
    if (::access(path.c_str(), R_OK) != 0) return std::strerror(errno);
    return "";
}

std::string WriteProblem(const std::string& path, bool force) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return std::strerror(EISDIR);
        if (!S_ISREG(st.st_mode)) return "not a regular file";
        if ((st.st_mode & S_IWUSR) == 0 || ::access(path.c_str(), W_OK) != 0)
            return "the file is read-only";
        if (!force) return "the file exists (--force replaces it)";
    }
    std::string folder = DirectoryOf(path);
    if (folder.empty()) folder = ".";
    if (::stat(folder.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    if (::access(folder.c_str(), W_OK) != 0) return std::strerror(errno);
    return "";
}

std::string InputWrittenOver(const std::string& output, const std::vector<std::string>& inputs) {
    struct stat out {};
    if (::stat(output.c_str(), &out) != 0) return "";
    for (const std::string& input : inputs) {
        struct stat in {};
        if (input != "-" && ::stat(input.c_str(), &in) == 0 && in.st_dev == out.st_dev &&
            in.st_ino == out.st_ino)
            return input;
    }
    return "";
}

std::vector<std::string> SongCommandInputs(const Args& args) {
    std::vector<std::string> inputs{args.positional.at(0)};
    for (const char* option : {"--kit", "--userbank"})
        if (const auto file = args.Value(option)) inputs.push_back(*file);
    return inputs;
}

int RefuseWritingOverInput(const std::string& output, const std::string& input) {
    return CannotWrite(output, output == input ? "it is the input file"
                                               : "it is the input file " + ForTerminal(input));
}

namespace {

// Standard output with its own buffer, written with write(2), so that the reason of a failed
// write is kept rather than lost among later calls. After a failure nothing more is written.
class CheckedOutputBuffer final : public std::streambuf {
public:
    CheckedOutputBuffer() { setp(buffer_, buffer_ + sizeof buffer_); }
    int error() const { return error_; }

protected:
    int_type overflow(int_type c) override {
        if (!Drain()) return traits_type::eof();
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(c);
            pbump(1);
        }
        return traits_type::not_eof(c);
    }
    int sync() override { return Drain() ? 0 : -1; }

private:
    bool Drain() {
        const char* p = pbase();
        std::size_t left = static_cast<std::size_t>(pptr() - pbase());
        while (left > 0 && error_ == 0) {
            const ssize_t n = ::write(STDOUT_FILENO, p, left);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                error_ = n < 0 ? errno : EIO;
                break;
            }
            p += n;
            left -= static_cast<std::size_t>(n);
        }
        setp(buffer_, buffer_ + sizeof buffer_);
        return error_ == 0;
    }

    char buffer_[65536];
    int error_ = 0;
};

CheckedOutputBuffer* checkedOutput = nullptr;

}  // namespace

void UseCheckedStandardOutput() {
    // Never destroyed: the stream flushes it once more as the program ends.
    checkedOutput = new CheckedOutputBuffer;
    std::cout.rdbuf(checkedOutput);
}

int StandardOutputError() {
    std::cout.flush();
    if (checkedOutput != nullptr) return checkedOutput->error();
    return std::cout.fail() ? EIO : 0;
}

bool FinishStandardOutput() {
    int error = StandardOutputError();
    if (error == 0 && ::close(STDOUT_FILENO) != 0 && errno != EBADF) error = errno;
    if (error == 0) return true;
    std::cerr << "qtam-cli: cannot write standard output: " << std::strerror(error) << "\n";
    return false;
}

bool WriteFileExactly(const std::string& path, const void* bytes, std::size_t size,
                      std::string& reason) {
    SafeFileWriter out;
    if (!out.Open(path) || !out.Write(bytes, size) || !out.Commit()) {
        reason = out.error();
        return false;
    }
    return true;
}

ProgressBar::ProgressBar(std::string label)
    : label_(std::move(label)),
      terminal_(::isatty(2) != 0),
      start_(std::chrono::steady_clock::now()) {}

void ProgressBar::Show(int percent) {
    if (!terminal_) return;
    if (!drawn_ && std::chrono::steady_clock::now() - start_ < std::chrono::seconds(1)) return;
    const int filled = percent * 30 / 100;
    std::fprintf(stderr, "\r%s [%s%s] %3d%%", label_.c_str(), std::string(filled, '#').c_str(),
                 std::string(30 - filled, ' ').c_str(), percent);
    std::fflush(stderr);
    drawn_ = true;
}

void ProgressBar::Done() {
    if (drawn_) std::fprintf(stderr, "\n");
    drawn_ = false;
    terminal_ = false;
}

std::string ProgramPath() {
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return {};
    return std::string(buf, static_cast<std::size_t>(n));
}

std::unique_ptr<Machine> NewMachine(Prompter& prompter) {
    auto m = std::make_unique<Machine>();
    m->prompter = &prompter;
    InitSong(*m);
    return m;
}

namespace {

// Runs a core load with a silent prompter: the command words its own errors.
template <typename Load>
bool Quietly(Machine& m, Load load) {
    SilentPrompter quiet;
    Prompter* previous = m.prompter;
    m.prompter = &quiet;
    const bool ok = load();
    m.prompter = previous;
    return ok;
}

}  // namespace

bool LoadKit(Machine& m, const std::optional<std::string>& kit, bool namesOnly) {
    return LoadKitSounds(m, kit, namesOnly ? SlotSet() : kEverySlot);
}

bool LoadKitSounds(Machine& m, const std::optional<std::string>& kit, SlotSet sounds) {
    const std::string path = kit ? *kit : KitPathFor(ProgramPath());
    if (const std::string why = ReadProblem(path); !why.empty())
        return CannotRead(path, why), false;
    if (!Quietly(m, [&] { return LoadInternalBankSounds(m, path, sounds); }))
        return CannotRead(path,
                          "not a drum kit (a userbank-format file whose sounds hold at most "
                          "40000 samples)"),
               false;
    m.activation.InternalBankLoaded = true;
    return true;
}

void LoadKitNamesQuietly(Machine& m) {
    const std::string path = KitPathFor(ProgramPath());
    if (ReadProblem(path).empty() && Quietly(m, [&] { return LoadInternalBankNames(m, path); }))
        m.activation.InternalBankLoaded = true;
}

bool LoadSongFile(Machine& m, const std::string& song) {
    if (const std::string why = ReadProblem(song); !why.empty())
        return CannotRead(song, why), false;
    struct stat st {};
    ::stat(song.c_str(), &st);
    if (static_cast<std::uintmax_t>(st.st_size) / kSongSize != 1)
        return CannotRead(song, "not a song file (a song file holds one record of " +
                                    std::to_string(kSongSize) + " bytes; this one has " +
                                    std::to_string(st.st_size) + ")"),
               false;
    if (!Quietly(m, [&] { return LoadSong(m, ExactName(song), true); }))
        return CannotRead(song, "the song could not be loaded"), false;
    // An arrangement block the load left out is worth a word.
    if (static_cast<std::uintmax_t>(st.st_size) > kSongSize && m.arrangement.empty()) {
        const auto bytes = ReadWholeFile(song);
        auto scratch = std::make_unique<Arrangement>();
        std::string why;
        if (bytes && bytes->size() > kSongSize &&
            ReadArrangementBlock(bytes->data() + kSongSize, bytes->size() - kSongSize, *scratch,
                                 &why) != BlockRead::None)
            Warning(std::string(kMsgArrangementLeftOut) + " (" + why + ")");
    }
    m.editor.SongFileName = song;
    m.editor.HumanizeChecked = m.song.humanize != 0;
    SetTempo(PlayerOf(m), m.song.tempo, m.song.shuffle);
    return true;
}

bool LoadUserbankFile(Machine& m, const std::string& bank) {
    if (const std::string why = ReadProblem(bank); !why.empty())
        return CannotRead(bank, why), false;
    if (!Quietly(m, [&] { return LoadUserbank(m, ExactName(bank), true); }))
        return CannotRead(bank,
                          "not a userbank file (it must start with \"CUSTOM_BANK:\" and hold "
                          "twenty complete slots of at most 179200 samples)"),
               false;
    m.activation.UserbankPath = bank;
    m.activation.UserbankLoaded = true;
    return true;
}

SlotSet KitSoundsNamedBy(const Song& song) {
    SlotSet named;
    for (int p = 1; p <= kPatterns; ++p)
        for (const std::uint8_t instrument : song.settings(p).instrument)
            if (instrument >= 1 && instrument <= kBankSlots) named.set(instrument - 1);
    return named;
}

bool LoadForCommand(Machine& m, const LoadOptions& o) {
    // The kit is judged before the song, as ever; of its sounds only those the song's channels
    // name are read, once the song is known (a command never changes a channel's sound).
    if ((o.needKit && !LoadKit(m, o.kit, true)) || !LoadSongFile(m, o.song)) return false;
    if (o.needKit && !LoadKitSounds(m, o.kit, KitSoundsNamedBy(m.song))) return false;
    if (o.userbank) {
        if (!LoadUserbankFile(m, *o.userbank)) return false;
    } else if (!m.song.userbankFile.empty()) {
        const std::string stored = m.song.userbankFile.str();
        const std::string found = FindSongUserbank(stored, o.song);
        const std::string problem = ReadProblem(found);
        if (problem.empty() && Quietly(m, [&] { return LoadSongUserbank(m); })) {
            if (found != stored)
                Note("using the userbank " + ForTerminal(found) +
                     " beside the song (the song names " + ForTerminal(stored) + ")");
        } else {
            Note("the song's userbank " + ForTerminal(stored) + " could not be loaded (" +
                 (problem.empty() ? std::string("not a userbank file") : problem) +
                 "); its sounds stay silent (use --userbank FILE)");
        }
    }
    m.editor.CurrentPattern = static_cast<std::uint8_t>(o.pattern);
    m.player.clock.PlayPattern = m.player.clock.NextPattern = m.editor.CurrentPattern;
    return true;
}

}  // namespace qtam::cli
