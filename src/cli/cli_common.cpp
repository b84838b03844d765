#include "cli/cli_common.h"

#include <unistd.h>

#include <cstdio>
#include <iostream>

#include "banks/kit.h"
#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "engine/play_clock.h"
#include "song/init_song.h"
#include "song/song_file.h"

namespace qtam::cli {

void TerminalPrompter::Warn(const std::string& text) {
    ++warnings;
    std::cerr << "qtam-cli: " << text << "\n";
}

bool TerminalPrompter::AskYesNo(const std::string& text) {
    std::cerr << "qtam-cli: " << text << " " << (answerYes_ ? "Yes (--force)" : "No (use --force)")
              << "\n";
    return answerYes_;
}

bool Args::Has(const std::string& flag) const {
    for (const auto& f : flags)
        if (f == flag) return true;
    return false;
}

std::optional<std::string> Args::Value(const std::string& name) const {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

std::optional<int> Args::Number(const std::string& name, int lo, int hi, std::string& error) const {
    auto text = Value(name);
    if (!text) return std::nullopt;
    char* end = nullptr;
    const long v = std::strtol(text->c_str(), &end, 10);
    if (text->empty() || *end != '\0' || v < lo || v > hi) {
        error =
            name + " takes a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
        return std::nullopt;
    }
    return static_cast<int>(v);
}

std::optional<Args> ParseArgs(const std::vector<std::string>& words,
                              const std::vector<std::string>& valueOptions,
                              const std::vector<std::string>& flagOptions, std::string& error) {
    auto isOneOf = [](const std::string& w, const std::vector<std::string>& set) {
        for (const auto& s : set)
            if (s == w) return true;
        return false;
    };
    Args args;
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& w = words[i];
        if (w.size() > 1 && w[0] == '-') {
            if (isOneOf(w, valueOptions)) {
                if (i + 1 >= words.size()) {
                    error = w + " needs a value";
                    return std::nullopt;
                }
                args.values[w] = words[++i];
            } else if (isOneOf(w, flagOptions)) {
                args.flags.push_back(w);
            } else {
                error = "unknown option " + w;
                return std::nullopt;
            }
        } else {
            args.positional.push_back(w);
        }
    }
    return args;
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

int Fail(const std::string& message) {
    std::cerr << "qtam-cli: " << message << "\n";
    return 1;
}

bool LoadForCommand(Machine& m, const LoadOptions& o) {
    const std::string kit = o.kit ? *o.kit : KitPathFor(ProgramPath());
    if (!LoadInternalBank(m, kit)) {
        Fail("cannot load the drum kit " + kit);
        return false;
    }
    m.activation.InternalBankLoaded = true;

    if (!FileExists(WithDefaultExtension(o.song, kSongExtension))) {
        Fail("no such song file: " + o.song);
        return false;
    }
    if (!LoadSong(m, o.song, false)) {
        Fail("cannot load the song " + o.song);
        return false;
    }
    m.editor.SongFileName = o.song;
    m.editor.HumanizeChecked = m.song.humanize != 0;
    SetTempo(m, m.song.tempo, m.song.shuffle);

    if (o.userbank) {
        if (!LoadUserbank(m, *o.userbank, false)) {
            Fail("cannot load the userbank " + *o.userbank);
            return false;
        }
        m.activation.UserbankPath = *o.userbank;
        m.activation.UserbankLoaded = true;
    } else if (!m.song.userbankFile.empty()) {
        if (LoadSongUserbank(m)) {
            m.activation.UserbankLoaded = true;
        } else {
            std::cerr << "qtam-cli: note: the song's userbank \"" << m.song.userbankFile.str()
                      << "\" could not be loaded; its sounds stay silent (use --userbank)\n";
        }
    }

    m.editor.CurrentPattern = static_cast<std::uint8_t>(o.pattern);
    m.clock.PlayPattern = m.clock.NextPattern = m.editor.CurrentPattern;
    return true;
}

}  // namespace qtam::cli
