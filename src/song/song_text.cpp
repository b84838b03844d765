#include "song/song_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <sstream>
#include <vector>

#include "core/song.h"
#include "core/text_codec.h"

namespace qtam {

namespace {

constexpr int kNoNote = -2;

std::vector<std::string> SplitWords(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= line.size()) break;
        if (line[i] == '"') {  // a quoted text keeps its spaces
            std::size_t end = line.find('"', i + 1);
            if (end == std::string::npos) end = line.size();
            words.push_back(line.substr(i, end - i + 1));
            i = end + 1;
            continue;
        }
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
        words.push_back(line.substr(start, i - start));
    }
    return words;
}

std::string Unquote(const std::string& w) {
    if (w.size() >= 2 && w.front() == '"' && w.back() == '"') return w.substr(1, w.size() - 2);
    if (!w.empty() && w.front() == '"') return w.substr(1);
    return w;
}

// The rest of the line after the key, as a text field (quotes optional).
std::string TextAfterKey(const std::string& line, const std::string& key) {
    std::size_t at = line.find(key) + key.size();
    std::string rest = line.substr(at);
    rest.erase(0, rest.find_first_not_of(" \t"));
    rest.erase(rest.find_last_not_of(" \t") + 1);
    return Unquote(rest);
}

bool ParseInt(const std::string& w, int lo, int hi, int& out) {
    if (w.empty() || w.size() > 6) return false;
    char* end = nullptr;
    long v = std::strtol(w.c_str(), &end, 10);
    if (*end != '\0' || v < lo || v > hi) return false;
    out = static_cast<int>(v);
    return true;
}

// "3" names internal sound 3, "u3" userbank sound 3.
bool ParseSound(const std::string& w, int& code) {
    int n = 0;
    if (!w.empty() && (w[0] == 'u' || w[0] == 'U')) {
        if (!ParseInt(w.substr(1), 1, 20, n)) return false;
        code = 100 + n;
        return true;
    }
    if (!ParseInt(w, 1, 20, n)) return false;
    code = n;
    return true;
}

bool ParseOnOff(const std::string& w, bool& out) {
    if (w == "on" || w == "yes" || w == "1") return out = true, true;
    if (w == "off" || w == "no" || w == "0") return out = false, true;
    return false;
}

struct Parser {
    Song& song;
    int pattern = 0;
    int measure = 0;
    int line = 0;
    std::string error;
    std::uint8_t channelPan[kPatterns][kChannels];

    explicit Parser(Song& s) : song(s) {
        for (auto& p : channelPan)
            for (auto& c : p) c = 64;
    }

    bool Fail(const std::string& why) {
        error = "line " + std::to_string(line) + ": " + why;
        return false;
    }

    bool SongLine(const std::vector<std::string>& w, const std::string& raw) {
        const std::string& key = w[0];
        int n = 0;
        bool flag = false;
        if (key == "tempo") {
            if (w.size() != 2 || !ParseInt(w[1], 50, 250, n)) return Fail("tempo takes 50..250");
            song.tempo = static_cast<std::uint16_t>(n);
        } else if (key == "shuffle") {
            if (w.size() != 2 || !ParseInt(w[1], 0, 100, n)) return Fail("shuffle takes 0..100");
            song.shuffle = static_cast<std::uint8_t>(100 + n / 2);
        } else if (key == "steps") {
            if (w.size() != 2 || !ParseInt(w[1], 12, 16, n) || (n != 12 && n != 16))
                return Fail("steps takes 12 or 16");
            song.stepsPerMeasure = static_cast<std::uint8_t>(n);
        } else if (key == "humanize") {
            if (w.size() != 2 || !ParseOnOff(w[1], flag)) return Fail("humanize takes on or off");
            song.humanize = flag;
        } else if (key == "info-on-open") {
            if (w.size() != 2 || !ParseOnOff(w[1], flag))
                return Fail("info-on-open takes on or off");
            song.showInfoOnOpen = flag;
        } else if (key == "title") {
            song.title.set(Utf8ToCp1252(TextAfterKey(raw, key)));
        } else if (key == "subtitle") {
            song.subtitle.set(Utf8ToCp1252(TextAfterKey(raw, key)));
        } else if (key == "author") {
            song.author.set(Utf8ToCp1252(TextAfterKey(raw, key)));
        } else if (key == "copyright") {
            song.copyright.set(Utf8ToCp1252(TextAfterKey(raw, key)));
        } else if (key == "userbank") {
            song.userbankFile.set(TextAfterKey(raw, key));
        } else if (key == "userbank-description") {
            song.userbankDescription.set(Utf8ToCp1252(TextAfterKey(raw, key)));
        } else {
            return Fail("unknown setting \"" + key + "\"");
        }
        return true;
    }

    // channel N [sound S] [volume V] [pan P] [mute] [distortion]
    bool ChannelLine(const std::vector<std::string>& w) {
        int ch = 0;
        if (w.size() < 2 || !ParseInt(w[1], 1, 8, ch)) return Fail("channel takes 1..8");
        ChannelSettings& cs = song.settings(pattern);
        for (std::size_t i = 2; i < w.size(); ++i) {
            int n = 0;
            if (w[i] == "sound" && i + 1 < w.size()) {
                if (!ParseSound(w[++i], n)) return Fail("sound takes 1..20 or u1..u20");
                cs.instrument[ch - 1] = static_cast<std::uint8_t>(n);
            } else if (w[i] == "volume" && i + 1 < w.size()) {
                if (!ParseInt(w[++i], 0, 127, n)) return Fail("volume takes 0..127");
                cs.volume[ch - 1] = static_cast<std::uint8_t>(n);
            } else if (w[i] == "pan" && i + 1 < w.size()) {
                if (!ParseInt(w[++i], 0, 127, n)) return Fail("pan takes 0..127");
                channelPan[pattern - 1][ch - 1] = static_cast<std::uint8_t>(n);
            } else if (w[i] == "mute") {
                cs.mute[ch - 1] = 1;
            } else if (w[i] == "distortion") {
                cs.distortionOn[ch - 1] = 1;
            } else {
                return Fail("unknown channel setting \"" + w[i] + "\"");
            }
        }
        return true;
    }

    // distortion gain G threshold T (the pattern's)
    bool DistortionLine(const std::vector<std::string>& w) {
        ChannelSettings& cs = song.settings(pattern);
        for (std::size_t i = 1; i + 1 < w.size(); i += 2) {
            int n = 0;
            if (w[i] == "gain" && ParseInt(w[i + 1], 0, 64, n)) {
                cs.distortionGain = static_cast<std::uint16_t>(n);
            } else if (w[i] == "threshold" && ParseInt(w[i + 1], 0, 5056, n)) {
                cs.distortionThreshold = static_cast<std::uint16_t>(n);
            } else {
                return Fail("distortion takes gain 0..64 and threshold 0..5056");
            }
        }
        return w.size() % 2 == 1 ? true : Fail("distortion takes gain 0..64 and threshold 0..5056");
    }

    bool StepLine(const std::vector<std::string>& w) {
        int ch = 0;
        if (!ParseInt(w[0], 1, 8, ch)) return Fail("a step line starts with its channel 1..8");
        if (measure == 0) return Fail("step lines go inside a measure");
        std::string steps;
        for (std::size_t i = 1; i < w.size(); ++i)
            for (char c : w[i])
                if (c != '|') steps += c;
        if (steps.size() > static_cast<std::size_t>(kSlots)) return Fail("more than 16 steps");
        for (std::size_t s = 0; s < steps.size(); ++s) {
            const int v = VelocityOfStepChar(steps[s]);
            if (v == -1) return Fail(std::string("unknown step character '") + steps[s] + "'");
            StepCell& cell = song.cell(pattern, measure, ch, static_cast<int>(s) + 1);
            if (v == kNoNote) {
                cell.velocity = -1;
                cell.pan = 64;
                cell.reversed = 0;
            } else {
                cell.velocity = static_cast<std::int8_t>(v);
                cell.pan = channelPan[pattern - 1][ch - 1];
                cell.reversed = steps[s] == '<';
            }
            cell.reserved2 = 0;
        }
        return true;
    }

    bool Line(const std::string& raw) {
        std::string text = raw.substr(0, raw.find('#'));
        std::vector<std::string> w = SplitWords(text);
        if (w.empty()) return true;
        int n = 0;
        if (w[0] == "pattern") {
            if (w.size() != 2 || !ParseInt(w[1], 1, 8, n)) return Fail("pattern takes 1..8");
            pattern = n;
            measure = 0;
            return true;
        }
        if (pattern == 0) return SongLine(w, text);
        if (w[0] == "measures") {
            if (w.size() != 2 || !ParseInt(w[1], 1, 16, n)) return Fail("measures takes 1..16");
            song.measureCount[pattern - 1] = static_cast<std::uint8_t>(n);
            return true;
        }
        if (w[0] == "measure") {
            if (w.size() != 2 || !ParseInt(w[1], 1, 16, n)) return Fail("measure takes 1..16");
            measure = n;
            return true;
        }
        if (w[0] == "channel") return ChannelLine(w);
        if (w[0] == "distortion") return DistortionLine(w);
        return StepLine(w);
    }
};

}  // namespace

int VelocityOfStepChar(char c) {
    switch (c) {
        case '.':
        case '-':
            return kNoNote;
        case 'x':
        case '<':
            return 100;
        case 'X':
            return 127;
        case 'o':
            return 60;
        default:
            if (c >= '0' && c <= '9') return static_cast<int>(std::lround((c - '0') * 127 / 9.0));
            return -1;
    }
}

char StepCharOf(int velocity, bool reversed) {
    if (velocity < 0) return '.';
    if (reversed && velocity == 100) return '<';
    if (velocity == 100) return 'x';
    if (velocity == 127) return 'X';
    if (velocity == 60) return 'o';
    return static_cast<char>(
        '0' + std::clamp<int>(static_cast<int>(std::lround(velocity * 9 / 127.0)), 0, 9));
}

bool ApplySongText(Song& song, const std::string& text, std::string& error) {
    auto scratch = std::make_unique<Song>(song);
    Parser parser(*scratch);
    std::istringstream in(text);
    std::string raw;
    while (std::getline(in, raw)) {
        ++parser.line;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (!parser.Line(raw)) {
            error = parser.error;
            return false;
        }
    }
    song = *scratch;
    return true;
}

namespace {

// Texts of the song are Windows-1252; the userbank path keeps the file system's bytes.
std::string Quoted(const std::string& bytes) {
    std::string out = "\"";
    out += bytes;
    out += '"';
    return out;
}
std::string QuotedText(const std::string& cp1252) {
    return Quoted(Cp1252ToUtf8(cp1252));
}

bool PatternInUse(const Song& song, int p) {
    if (song.measureCount[p - 1] > 1) return true;
    for (int meas = 1; meas <= kMeasures; ++meas)
        for (int ch = 1; ch <= kChannels; ++ch)
            for (int s = 1; s <= kSlots; ++s)
                if (song.cell(p, meas, ch, s).hasNote()) return true;
    return false;
}

std::string SoundName(int code) {
    std::string name = code >= 101 && code <= 120 ? "u" : "";
    name += std::to_string(code >= 101 && code <= 120 ? code - 100 : code);
    return name;
}

}  // namespace

std::string FormatSongText(const Song& song,
                           const std::function<std::string(int code)>& soundName) {
    std::ostringstream out;
    out << "title " << QuotedText(song.title.str()) << "\n";
    if (!song.subtitle.empty()) out << "subtitle " << QuotedText(song.subtitle.str()) << "\n";
    out << "author " << QuotedText(song.author.str()) << "\n";
    out << "copyright " << QuotedText(song.copyright.str()) << "\n";
    out << "tempo " << song.tempo << "\n";
    out << "shuffle " << 2 * song.shuffle - 200 << "\n";
    out << "steps " << int(song.stepsPerMeasure) << "\n";
    out << "humanize " << (song.humanize ? "on" : "off") << "\n";
    if (song.showInfoOnOpen) out << "info-on-open on\n";
    if (!song.userbankFile.empty()) out << "userbank " << Quoted(song.userbankFile.str()) << "\n";
    if (!song.userbankDescription.empty())
        out << "userbank-description " << QuotedText(song.userbankDescription.str()) << "\n";

    const int steps = StepsPerMeasureOf(song);
    for (int p = 1; p <= kPatterns; ++p) {
        if (!PatternInUse(song, p)) continue;
        const ChannelSettings& cs = song.settings(p);
        out << "\npattern " << p << "\n";
        out << "  measures " << MeasureCountOf(song, p) << "\n";
        out << "  distortion gain " << cs.distortionGain << " threshold " << cs.distortionThreshold
            << "\n";
        for (int ch = 1; ch <= kChannels; ++ch) {
            out << "  channel " << ch << " sound " << SoundName(cs.instrument[ch - 1]) << " volume "
                << int(cs.volume[ch - 1]);
            if (cs.mute[ch - 1]) out << " mute";
            if (cs.distortionOn[ch - 1]) out << " distortion";
            if (soundName) {
                const std::string name = soundName(cs.instrument[ch - 1]);
                if (!name.empty()) out << "  # " << name;
            }
            out << "\n";
        }
        for (int meas = 1; meas <= MeasureCountOf(song, p); ++meas) {
            out << "  measure " << meas << "\n";
            for (int ch = 1; ch <= kChannels; ++ch) {
                out << "    " << ch << " ";
                for (int s = 1; s <= steps; ++s) {
                    const StepCell& c = song.cell(p, meas, ch, s);
                    out << StepCharOf(c.velocity, c.reversed != 0);
                    if (s % 4 == 0 && s < steps) out << ' ';
                }
                out << "\n";
            }
        }
    }
    return out.str();
}

}  // namespace qtam
