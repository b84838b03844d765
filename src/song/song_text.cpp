#include "song/song_text.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <vector>

#include "core/arrangement.h"
#include "core/song.h"
#include "core/text_codec.h"
#include "song/arrangement_text.h"

namespace qtam {

namespace {

constexpr int kNoNote = -2;
constexpr const char* kStepChars = ". - x X o + < or 0..9";

// The record every text starts from: a new Song without a userbank.
const Song& NewSong() {
    static const std::unique_ptr<Song> song = [] {
        auto s = std::make_unique<Song>();
        std::memset(s.get(), 0, sizeof(Song));
        InitSongRecord(*s, "", "");
        return s;
    }();
    return *song;
}

// ---------------------------------------------------------------------------------------------
// Texts. Song texts are Windows-1252 and shown as UTF-8; the userbank path keeps the file
// system's bytes. Whatever could add a line to the form or reach a terminal as a control
// sequence is escaped.

enum class TextKind { Cp1252, Bytes };

void AppendHex(std::string& out, unsigned char b) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\x%02X", b);
    out += buf;
}

// True (and the escape in `out`) for the bytes every text escapes.
bool AppendAsciiEscape(std::string& out, unsigned char b) {
    switch (b) {
        case '"':
            out += "\\\"";
            return true;
        case '\\':
            out += "\\\\";
            return true;
        case '\n':
            out += "\\n";
            return true;
        case '\r':
            out += "\\r";
            return true;
        case '\t':
            out += "\\t";
            return true;
        default:
            if (b < 0x20 || b == 0x7F) {
                AppendHex(out, b);
                return true;
            }
            return false;
    }
}

// The length of a well-formed UTF-8 sequence at `i` whose code point is printable (not a C1
// control, not a surrogate); 0 otherwise.
std::size_t PrintableUtf8At(const std::string& s, std::size_t i) {
    const auto b = static_cast<unsigned char>(s[i]);
    std::size_t len;
    char32_t cp;
    if ((b & 0xE0) == 0xC0)
        len = 2, cp = b & 0x1F;
    else if ((b & 0xF0) == 0xE0)
        len = 3, cp = b & 0x0F;
    else if ((b & 0xF8) == 0xF0)
        len = 4, cp = b & 0x07;
    else
        return 0;
    if (i + len > s.size()) return 0;
    for (std::size_t k = 1; k < len; ++k) {
        const auto c = static_cast<unsigned char>(s[i + k]);
        if ((c & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (c & 0x3F);
    }
    static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kLeast[len] || cp < 0xA0 || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    return len;
}

std::string Quote(const std::string& bytes, TextKind kind) {
    std::string out = "\"";
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        if (AppendAsciiEscape(out, b)) {
            ++i;
        } else if (b < 0x80) {
            out += static_cast<char>(b);
            ++i;
        } else if (kind == TextKind::Cp1252) {
            const char32_t cp = CodePointOfCp1252(b);
            if (cp == 0)
                AppendHex(out, b);
            else
                out += Cp1252ToUtf8(std::string(1, static_cast<char>(b)));
            ++i;
        } else if (const std::size_t len = PrintableUtf8At(bytes, i); len > 0) {
            out.append(bytes, i, len);
            i += len;
        } else {
            AppendHex(out, b);
            ++i;
        }
    }
    out += '"';
    return out;
}

// ---------------------------------------------------------------------------------------------
// Lines are cut into words and quoted texts; each keeps its column for the error messages.

struct Token {
    std::string text;  // a word, or what stands between the quotes (escapes not yet undone)
    bool quoted = false;
    std::size_t begin = 0;  // byte offsets in the line: the word or the opening quote
    std::size_t end = 0;    // one past the word or the closing quote
};

int ColumnOf(const std::string& line, std::size_t offset) {
    int column = 1;
    for (std::size_t i = 0; i < offset; ++i)
        if (i >= line.size() || (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80) ++column;
    return column;
}

std::string Shown(const std::string& word) {
    return Quote(word, TextKind::Bytes);
}

bool IsWholeNumber(const std::string& w) {
    if (w.empty()) return false;
    std::size_t i = w[0] == '-' ? 1 : 0;
    if (i == w.size()) return false;
    for (; i < w.size(); ++i)
        if (w[i] < '0' || w[i] > '9') return false;
    return true;
}

struct Parser {
    Song& song;
    ArrangementTextReader arrangement;
    bool inArrangement = false;        // the lines are the arrangement's entries
    const std::string* raw = nullptr;  // the line being read
    int lineNumber = 0;
    SongTextError error;

    int pattern = 0;  // 0: song settings
    int measure = 0;  // 0: the pattern's own lines
    bool patternSeen[kPatterns] = {};
    bool measureSeen[kMeasures] = {};
    bool stepLineSeen[kChannels] = {};
    bool cellLineSeen[kChannels] = {};
    std::uint8_t channelPan[kChannels] = {};

    Parser(Song& s, Arrangement& a) : song(s), arrangement(a) {}

    bool Fail(std::size_t offset, const std::string& why) {
        error.line = lineNumber;
        error.column = ColumnOf(*raw, offset);
        error.message = why;
        return false;
    }
    bool Fail(const Token& t, const std::string& why) { return Fail(t.begin, why); }
    bool FailLine(const std::string& why) {
        error.line = lineNumber;
        error.column = 0;
        error.message = why;
        return false;
    }
    // After the last word: where something more was expected.
    bool FailAtEnd(const std::vector<Token>& w, const std::string& why) {
        return Fail(w.back().end + 1, why);
    }

    bool Tokenize(std::vector<Token>& out) {
        const std::string& line = *raw;
        std::size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
            if (i >= line.size() || line[i] == '#') break;
            Token t;
            t.begin = i;
            if (line[i] == '"') {
                std::size_t j = i + 1;
                while (j < line.size() && line[j] != '"') j += line[j] == '\\' ? 2 : 1;
                if (j >= line.size())
                    return Fail(i,
                                "the text has no closing quote (expected '\"' before the end "
                                "of the line)");
                t.quoted = true;
                t.text = line.substr(i + 1, j - i - 1);
                t.end = j + 1;
                if (t.end < line.size() && line[t.end] != ' ' && line[t.end] != '\t' &&
                    line[t.end] != '#')
                    return Fail(t.end, "expected a space after the closing quote");
            } else {
                std::size_t j = i;
                while (j < line.size() && line[j] != ' ' && line[j] != '\t' && line[j] != '#') ++j;
                t.text = line.substr(i, j - i);
                t.end = j;
            }
            i = t.end;
            out.push_back(std::move(t));
        }
        return true;
    }

    // A number lo..hi; `what` names the value in the message.
    bool Number(const std::vector<Token>& w, std::size_t at, long lo, long hi,
                const std::string& what, long& out) {
        if (at >= w.size())
            return FailAtEnd(w, "expected " + what + " (" + std::to_string(lo) + ".." +
                                    std::to_string(hi) + ")");
        const Token& t = w[at];
        if (!t.quoted && IsWholeNumber(t.text) && t.text.size() <= 7) {
            const long v = std::strtol(t.text.c_str(), nullptr, 10);
            if (v >= lo && v <= hi) return out = v, true;
        }
        return Fail(t, "expected " + what + " (" + std::to_string(lo) + ".." + std::to_string(hi) +
                           "), found " + Shown(t.text));
    }

    bool NoMoreWords(const std::vector<Token>& w, std::size_t count, const std::string& key) {
        if (w.size() <= count) return true;
        return Fail(w[count], "unexpected " + Shown(w[count].text) + " after " + key);
    }

    // on / off, or a stored byte value.
    bool Switch(const std::vector<Token>& w, const std::string& key, std::uint8_t& out) {
        if (w.size() < 2) return FailAtEnd(w, "expected on, off or a number 0..255 after " + key);
        const Token& t = w[1];
        if (t.text == "on" && !t.quoted) {
            out = 1;
        } else if (t.text == "off" && !t.quoted) {
            out = 0;
        } else {
            long v = 0;
            if (!IsWholeNumber(t.text) || !Number(w, 1, 0, 255, "on, off or a number", v))
                return Fail(t, "expected on, off or a number 0..255, found " + Shown(t.text));
            out = static_cast<std::uint8_t>(v);
        }
        return NoMoreWords(w, 2, key);
    }

    // Undoes the escapes of a text and converts it to the field's bytes.
    bool Decode(const Token& t, TextKind kind, std::string& out) {
        const std::string& s = t.text;
        const std::size_t base = t.begin + (t.quoted ? 1 : 0);
        out.clear();
        for (std::size_t i = 0; i < s.size();) {
            const auto b = static_cast<unsigned char>(s[i]);
            if (b == '\\' && t.quoted) {
                const char e = i + 1 < s.size() ? s[i + 1] : '\0';
                auto hex = [](char c) {
                    if (c >= '0' && c <= '9') return c - '0';
                    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
                    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
                    return -1;
                };
                if (e == '"' || e == '\\') {
                    out += e;
                } else if (e == 'n') {
                    out += '\n';
                } else if (e == 'r') {
                    out += '\r';
                } else if (e == 't') {
                    out += '\t';
                } else if (e == 'x' && i + 3 < s.size() && hex(s[i + 2]) >= 0 &&
                           hex(s[i + 3]) >= 0) {
                    out += static_cast<char>(hex(s[i + 2]) * 16 + hex(s[i + 3]));
                    i += 4;
                    continue;
                } else {
                    return Fail(base + i,
                                "unknown escape (expected \\\" \\\\ \\n \\r \\t or "
                                "\\x and two hex digits)");
                }
                i += 2;
                continue;
            }
            if (b < 0x80 || kind == TextKind::Bytes) {
                out += static_cast<char>(b);
                ++i;
                continue;
            }
            // One UTF-8 character to its Windows-1252 byte.
            std::size_t len = (b & 0xE0) == 0xC0   ? 2
                              : (b & 0xF0) == 0xE0 ? 3
                              : (b & 0xF8) == 0xF0 ? 4
                                                   : 0;
            char32_t cp = len == 2 ? (b & 0x1F) : len == 3 ? (b & 0x0F) : (b & 0x07);
            bool valid = len > 0 && i + len <= s.size();
            for (std::size_t k = 1; valid && k < len; ++k) {
                const auto c = static_cast<unsigned char>(s[i + k]);
                valid = (c & 0xC0) == 0x80;
                cp = (cp << 6) | (c & 0x3F);
            }
            static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
            if (!valid || cp < kLeast[len])
                return Fail(base + i, "the text is not UTF-8 here (use \\xHH for a byte)");
            const int byte = Cp1252ByteOf(cp);
            if (byte < 0) {
                char buf[80];
                std::snprintf(buf, sizeof buf,
                              "U+%04X has no Windows-1252 byte, which song texts hold",
                              static_cast<unsigned>(cp));
                return Fail(base + i, buf);
            }
            out += static_cast<char>(byte);
            i += len;
        }
        return true;
    }

    // key TEXT [rest TEXT] [length N]; TEXT quoted, or (alone) the rest of the line.
    template <std::size_t Capacity>
    bool TextField(const std::vector<Token>& w, const std::string& key, TextKind kind,
                   ShortString<Capacity>& field) {
        if (w.size() < 2) return FailAtEnd(w, "expected a text after " + key);
        std::string text, rest;
        std::optional<long> length;
        std::size_t next = 2;
        if (w[1].quoted) {
            if (!Decode(w[1], kind, text)) return false;
            while (next < w.size()) {
                const Token& k = w[next];
                if (k.text == "rest" && !k.quoted && next + 1 < w.size() && w[next + 1].quoted) {
                    if (!Decode(w[next + 1], kind, rest)) return false;
                    next += 2;
                } else if (k.text == "length" && !k.quoted) {
                    long n = 0;
                    if (!Number(w, next + 1, Capacity + 1, 255, "a stored length", n)) return false;
                    if (text.size() != Capacity)
                        return Fail(k, "length is given only for a text that fills all " +
                                           std::to_string(Capacity) + " places");
                    length = n;
                    next += 2;
                } else {
                    return Fail(k, "expected rest \"...\" or length N after the text, found " +
                                       Shown(k.text));
                }
            }
        } else {
            // An unquoted text runs to the end of the line (or its comment).
            Token whole = w[1];
            whole.end = w.back().end;
            whole.text = raw->substr(whole.begin, whole.end - whole.begin);
            if (!Decode(whole, kind, text)) return false;
        }
        if (text.size() + rest.size() > Capacity)
            return Fail(w[1], key + " holds at most " + std::to_string(Capacity) +
                                  " characters; this text has " +
                                  std::to_string(text.size() + rest.size()));
        std::memset(field.chars, 0, Capacity);
        std::memcpy(field.chars, text.data(), text.size());
        std::memcpy(field.chars + text.size(), rest.data(), rest.size());
        field.length = static_cast<std::uint8_t>(length ? *length : long(text.size()));
        return true;
    }

    // KEY stored N: a value outside the range Q.Tam plays, kept as the file holds it.
    static bool IsStored(const std::vector<Token>& w) {
        return w.size() >= 2 && w[1].text == "stored" && !w[1].quoted;
    }

    bool StoredSongValue(const std::vector<Token>& w) {
        const std::string& key = w[0].text;
        long n = 0;
        if (key == "tempo") {
            if (!Number(w, 2, 0, 65535, "a stored tempo", n)) return false;
            song.tempo = static_cast<std::uint16_t>(n);
        } else if (key == "shuffle" || key == "steps") {
            if (!Number(w, 2, 0, 255, "a stored " + key + " byte", n)) return false;
            (key == "shuffle" ? song.shuffle : song.stepsPerMeasure) = static_cast<std::uint8_t>(n);
        } else {
            return Fail(w[1], "only tempo, shuffle, steps and measures take a stored value");
        }
        return NoMoreWords(w, 3, key);
    }

    bool SongLine(const std::vector<Token>& w) {
        const std::string& key = w[0].text;
        long n = 0;
        if (IsStored(w)) return StoredSongValue(w);
        if (key == "tempo") {
            if (!Number(w, 1, kTempoMin, kTempoMax, "a tempo in BPM", n)) return false;
            song.tempo = static_cast<std::uint16_t>(n);
            return NoMoreWords(w, 2, key);
        }
        if (key == "shuffle") {
            if (!Number(w, 1, 0, 100, "a shuffle", n)) return false;
            if (n % 2 != 0)
                return Fail(w[1], "expected an even shuffle (it is stored in steps of 2), found " +
                                      w[1].text);
            song.shuffle = static_cast<std::uint8_t>(100 + n / 2);
            return NoMoreWords(w, 2, key);
        }
        if (key == "steps") {
            if (w.size() < 2 || (w[1].text != "12" && w[1].text != "16"))
                return w.size() < 2 ? FailAtEnd(w, "expected 12 or 16 after steps")
                                    : Fail(w[1], "expected 12 or 16, found " + Shown(w[1].text));
            song.stepsPerMeasure = static_cast<std::uint8_t>(w[1].text == "12" ? 12 : 16);
            return NoMoreWords(w, 2, key);
        }
        if (key == "humanize") return Switch(w, key, song.humanize);
        if (key == "info-on-open") return Switch(w, key, song.showInfoOnOpen);
        if (key == "padding") {
            long a = 0, b = 0;
            if (!Number(w, 1, 0, 255, "the byte after the header", a) ||
                !Number(w, 2, 0, 255, "the last byte of the record", b))
                return false;
            song.padding1 = static_cast<std::uint8_t>(a);
            song.padding2 = static_cast<std::uint8_t>(b);
            return NoMoreWords(w, 3, key);
        }
        if (key == "title") return TextField(w, key, TextKind::Cp1252, song.title);
        if (key == "subtitle") return TextField(w, key, TextKind::Cp1252, song.subtitle);
        if (key == "author") return TextField(w, key, TextKind::Cp1252, song.author);
        if (key == "copyright") return TextField(w, key, TextKind::Cp1252, song.copyright);
        if (key == "header") return TextField(w, key, TextKind::Cp1252, song.header);
        if (key == "userbank") return TextField(w, key, TextKind::Bytes, song.userbankFile);
        if (key == "userbank-description")
            return TextField(w, key, TextKind::Cp1252, song.userbankDescription);
        if (key == "measures" || key == "measure" || key == "channel" || key == "distortion" ||
            key == "cell" || IsWholeNumber(key))
            return Fail(w[0], "expected a song setting; " + key +
                                  " lines go inside a pattern (after \"pattern N\")");
        return Fail(w[0], "unknown song setting " + Shown(key) +
                              " (expected title, subtitle, author, copyright, tempo, shuffle, "
                              "steps, humanize, info-on-open, userbank, userbank-description, "
                              "header, padding or pattern)");
    }

    ChannelSettings& Settings() {
        return song.measure(pattern, measure == 0 ? 1 : measure).settings;
    }

    // channel N [sound S] [volume V] [pan P] [mute [N]] [distortion [N]]
    bool ChannelLine(const std::vector<Token>& w) {
        long ch = 0;
        if (!Number(w, 1, 1, kChannels, "a channel", ch)) return false;
        ChannelSettings& cs = Settings();
        for (std::size_t i = 2; i < w.size(); ++i) {
            const Token& k = w[i];
            long n = 0;
            if (k.text == "sound") {
                if (i + 1 >= w.size())
                    return FailAtEnd(w,
                                     "expected a sound after sound (1..20, u1..u20 or c0..c255)");
                const Token& v = w[++i];
                const std::string& s = v.text;
                bool ok = false;
                if (!s.empty() && (s[0] == 'u' || s[0] == 'c') && IsWholeNumber(s.substr(1)) &&
                    s[1] != '-' && s.size() <= 4) {
                    n = std::strtol(s.c_str() + 1, nullptr, 10);
                    ok = s[0] == 'u' ? n >= 1 && n <= 20 : n <= 255;
                    if (s[0] == 'u') n += 100;
                } else if (IsWholeNumber(s) && s.size() <= 2) {
                    n = std::strtol(s.c_str(), nullptr, 10);
                    ok = n >= 1 && n <= 20;
                }
                if (!ok || v.quoted)
                    return Fail(v,
                                "expected a sound 1..20 (the kit), u1..u20 (the userbank) or "
                                "c0..c255 (a stored code), found " +
                                    Shown(s));
                cs.instrument[ch - 1] = static_cast<std::uint8_t>(n);
            } else if (k.text == "volume") {
                if (!Number(w, ++i, 0, 255, "a volume", n)) return false;
                cs.volume[ch - 1] = static_cast<std::uint8_t>(n);
            } else if (k.text == "pan") {
                if (measure != 0)
                    return Fail(k, "pan goes on the pattern's channel lines, before its measures");
                if (!Number(w, ++i, 0, 127, "a pan", n)) return false;
                channelPan[ch - 1] = static_cast<std::uint8_t>(n);
            } else if (k.text == "mute" || k.text == "distortion") {
                std::uint8_t value = 1;
                if (i + 1 < w.size() && IsWholeNumber(w[i + 1].text)) {
                    if (!Number(w, ++i, 0, 255, "a stored " + k.text + " byte", n)) return false;
                    value = static_cast<std::uint8_t>(n);
                }
                (k.text == "mute" ? cs.mute : cs.distortionOn)[ch - 1] = value;
            } else {
                return Fail(
                    k, "expected sound, volume, pan, mute or distortion, found " + Shown(k.text));
            }
        }
        return true;
    }

    // distortion [gain G] [threshold T]
    bool DistortionLine(const std::vector<Token>& w) {
        ChannelSettings& cs = Settings();
        if (w.size() < 2) return FailAtEnd(w, "expected gain or threshold after distortion");
        for (std::size_t i = 1; i < w.size(); ++i) {
            long n = 0;
            if (w[i].text == "gain") {
                if (!Number(w, ++i, 0, 65535, "a distortion gain", n)) return false;
                cs.distortionGain = static_cast<std::uint16_t>(n);
            } else if (w[i].text == "threshold") {
                if (!Number(w, ++i, 0, 65535, "a distortion threshold", n)) return false;
                cs.distortionThreshold = static_cast<std::uint16_t>(n);
            } else {
                return Fail(w[i], "expected gain or threshold, found " + Shown(w[i].text));
            }
        }
        return true;
    }

    bool StepLine(const std::vector<Token>& w) {
        long ch = 0;
        if (!Number(w, 0, 1, kChannels, "a step line's channel", ch)) return false;
        if (measure == 0)
            return Fail(w[0], "step lines go inside a measure (expected \"measure N\" first)");
        if (stepLineSeen[ch - 1])
            return Fail(w[0], "channel " + std::to_string(ch) +
                                  " has a step line already in "
                                  "this measure");
        if (cellLineSeen[ch - 1])
            return Fail(w[0], "the step line of channel " + std::to_string(ch) +
                                  " must come before its cell lines");
        stepLineSeen[ch - 1] = true;
        const int steps = StepsPerMeasureOf(song);
        int s = 0;
        for (std::size_t i = 1; i < w.size(); ++i) {
            if (w[i].quoted) return Fail(w[i], "expected step characters, found a quoted text");
            for (std::size_t k = 0; k < w[i].text.size(); ++k) {
                const char c = w[i].text[k];
                if (c == '|') continue;
                const int v = VelocityOfStepChar(c);
                if (v == -1)
                    return Fail(w[i].begin + k, "unknown step character " +
                                                    Shown(std::string(1, c)) + " (expected " +
                                                    kStepChars + ")");
                if (++s > steps)
                    return Fail(w[i].begin + k, "expected " + std::to_string(steps) +
                                                    " steps (the song has steps " +
                                                    std::to_string(steps) + "), found more");
                StepCell& cell = song.cell(pattern, measure, ch, s);
                if (v == kNoNote) {
                    cell.velocity = -1;
                    cell.pan = 64;
                    cell.reversed = 0;
                } else {
                    cell.velocity = static_cast<std::int8_t>(v);
                    cell.pan = channelPan[ch - 1];
                    cell.reversed = c == '<';
                }
                cell.reserved1 = 0;
                cell.reserved2 = 0;
            }
        }
        if (s < steps)
            return FailAtEnd(w, "expected " + std::to_string(steps) +
                                    " steps (the song has steps " + std::to_string(steps) +
                                    "), found " + std::to_string(s));
        return true;
    }

    // cell C:S [velocity V] [pan P] [reversed R] [reserved1 A] [reserved2 B]
    bool CellLine(const std::vector<Token>& w) {
        if (measure == 0)
            return Fail(w[0], "cell lines go inside a measure (expected \"measure N\" first)");
        if (w.size() < 2) return FailAtEnd(w, "expected CHANNEL:STEP after cell");
        const std::string& at = w[1].text;
        const std::size_t colon = at.find(':');
        long ch = 0, slot = 0;
        const bool shaped = colon != std::string::npos && IsWholeNumber(at.substr(0, colon)) &&
                            IsWholeNumber(at.substr(colon + 1)) && at.size() <= 6;
        if (shaped) {
            ch = std::strtol(at.c_str(), nullptr, 10);
            slot = std::strtol(at.c_str() + colon + 1, nullptr, 10);
        }
        if (!shaped || ch < 1 || ch > kChannels || slot < 1 || slot > kSlots)
            return Fail(w[1], "expected CHANNEL:STEP (1..8:1..16), found " + Shown(at));
        if (w.size() < 3) return FailAtEnd(w, "expected velocity, pan, reversed or reserved");
        cellLineSeen[ch - 1] = true;
        StepCell& cell = song.cell(pattern, measure, ch, slot);
        for (std::size_t i = 2; i < w.size(); ++i) {
            long n = 0;
            const std::string& k = w[i].text;
            if (k == "velocity") {
                if (!Number(w, ++i, -128, 127, "a velocity (negative: no note)", n)) return false;
                cell.velocity = static_cast<std::int8_t>(n);
            } else if (k == "pan") {
                if (!Number(w, ++i, 0, 255, "a pan", n)) return false;
                cell.pan = static_cast<std::uint8_t>(n);
            } else if (k == "reversed") {
                if (!Number(w, ++i, 0, 255, "a reverse byte", n)) return false;
                cell.reversed = static_cast<std::uint8_t>(n);
            } else if (k == "reserved1") {
                if (!Number(w, ++i, 0, 255, "a reserved byte", n)) return false;
                cell.reserved1 = static_cast<std::uint8_t>(n);
            } else if (k == "reserved2") {
                if (!Number(w, ++i, 0, 65535, "a reserved 16-bit value", n)) return false;
                cell.reserved2 = static_cast<std::uint16_t>(n);
            } else {
                return Fail(w[i],
                            "expected velocity, pan, reversed, reserved1 or reserved2, "
                            "found " +
                                Shown(k));
            }
        }
        return true;
    }

    bool Line(const std::string& line) {
        raw = &line;
        std::vector<Token> w;
        if (!Tokenize(w)) return false;
        if (w.empty()) return true;
        const std::string& key = w[0].text;
        long n = 0;
        std::size_t at = 0;
        std::string why;
        if (key == "arrangement" && !w[0].quoted) {
            inArrangement = true;
            return arrangement.Heading(line, at, why) || Fail(at, why);
        }
        if (inArrangement && key != "pattern")
            return arrangement.Entry(line, at, why) || Fail(at, why);
        inArrangement = false;
        if (key == "pattern") {
            if (!Number(w, 1, 1, kPatterns, "a pattern", n)) return false;
            if (patternSeen[n - 1]) return Fail(w[1], "pattern " + w[1].text + " is given twice");
            patternSeen[n - 1] = true;
            pattern = static_cast<int>(n);
            measure = 0;
            std::fill(std::begin(measureSeen), std::end(measureSeen), false);
            std::fill(std::begin(channelPan), std::end(channelPan), std::uint8_t{64});
            return NoMoreWords(w, 2, key);
        }
        if (pattern == 0) return SongLine(w);
        if (key == "measures") {
            if (measure != 0)
                return Fail(w[0], "measures goes before the pattern's first measure line");
            if (IsStored(w)) {
                if (!Number(w, 2, 0, 255, "a stored measure count", n)) return false;
                song.measureCount[pattern - 1] = static_cast<std::uint8_t>(n);
                return NoMoreWords(w, 3, key);
            }
            if (!Number(w, 1, 1, kMeasures, "a measure count", n)) return false;
            song.measureCount[pattern - 1] = static_cast<std::uint8_t>(n);
            return NoMoreWords(w, 2, key);
        }
        if (key == "measure") {
            if (!Number(w, 1, 1, kMeasures, "a measure", n)) return false;
            if (measureSeen[n - 1])
                return Fail(w[1], "measure " + w[1].text + " is given twice in this pattern");
            measureSeen[n - 1] = true;
            measure = static_cast<int>(n);
            std::fill(std::begin(stepLineSeen), std::end(stepLineSeen), false);
            std::fill(std::begin(cellLineSeen), std::end(cellLineSeen), false);
            return NoMoreWords(w, 2, key);
        }
        if (key == "channel") return ChannelLine(w);
        if (key == "distortion") return DistortionLine(w);
        if (key == "cell") return CellLine(w);
        if (IsWholeNumber(key)) return StepLine(w);
        static const char* kSongKeys[] = {"title",
                                          "subtitle",
                                          "author",
                                          "copyright",
                                          "tempo",
                                          "shuffle",
                                          "steps",
                                          "humanize",
                                          "info-on-open",
                                          "userbank",
                                          "userbank-description",
                                          "header",
                                          "padding"};
        for (const char* k : kSongKeys)
            if (key == k)
                return Fail(w[0], key + " is a song setting: it goes before the first pattern");
        return Fail(w[0],
                    "expected measures, measure, channel, distortion, cell or a step line "
                    "(a channel 1..8 and its steps), found " +
                        Shown(key));
    }
};

}  // namespace

std::string SongTextError::str() const {
    std::string out = "line " + std::to_string(line);
    if (column > 0) out += ", column " + std::to_string(column);
    return out + ": " + message;
}

std::string SongTextError::at(const std::string& file) const {
    std::string out = file + ":" + std::to_string(line);
    if (column > 0) out += ":" + std::to_string(column);
    return out + ": " + message;
}

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
        case '+':
            return 80;
        default:
            if (c >= '0' && c <= '9') return static_cast<int>(std::lround((c - '0') * 127 / 9.0));
            return -1;
    }
}

char StepCharOf(int velocity, bool reversed) {
    if (velocity < 0) return reversed ? 0 : '.';
    if (reversed) return velocity == 100 ? '<' : 0;
    for (char c : {'x', 'X', 'o', '+', '0', '1', '2', '3', '4', '5', '6', '7', '8', '9'})
        if (VelocityOfStepChar(c) == velocity) return c;
    return 0;
}

bool ApplySongText(Song& song, Arrangement& arrangement, const std::string& text,
                   SongTextError& error) {
    auto scratch = std::make_unique<Song>(song);
    auto scratchArrangement = std::make_unique<Arrangement>();
    Parser parser(*scratch, *scratchArrangement);
    // Editors that save UTF-8 with a byte-order mark put it before the first line.
    std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (start <= text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        ++parser.lineNumber;
        if (!parser.Line(line)) {
            error = parser.error;
            return false;
        }
        start = end + 1;
    }
    if (std::string why; !parser.arrangement.Finish(why)) {
        error = {parser.lineNumber, 0, why};
        return false;
    }
    song = *scratch;
    arrangement = *scratchArrangement;
    return true;
}

bool ApplySongText(Song& song, const std::string& text, std::string& error) {
    SongTextError e;
    if (ApplySongText(song, text, e)) return true;
    error = e.str();
    return false;
}

namespace {

template <std::size_t Capacity>
bool SameField(const ShortString<Capacity>& a, const ShortString<Capacity>& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

template <std::size_t Capacity>
std::string FieldLine(const std::string& key, const ShortString<Capacity>& field, TextKind kind) {
    const std::size_t shown = std::min<std::size_t>(field.length, Capacity);
    std::size_t stored = Capacity;
    while (stored > shown && field.chars[stored - 1] == 0) --stored;
    std::string line = key + " " + Quote(std::string(field.chars, shown), kind);
    if (stored > shown)
        line += " rest " + Quote(std::string(field.chars + shown, stored - shown), kind);
    if (field.length > Capacity) line += " length " + std::to_string(field.length);
    return line + "\n";
}

std::string SoundName(int code) {
    if (code >= 1 && code <= 20) return std::to_string(code);
    if (code >= 101 && code <= 120) return "u" + std::to_string(code - 100);
    return "c" + std::to_string(code);
}

std::string SwitchWord(std::uint8_t v) {
    return v == 0 ? "off" : v == 1 ? "on" : std::to_string(v);
}

std::string FlagWords(const char* name, std::uint8_t v) {
    if (v == 0) return "";
    std::string out = std::string(" ") + name;
    if (v != 1) out += " " + std::to_string(v);
    return out;
}

bool SameSettings(const ChannelSettings& a, const ChannelSettings& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool SameMeasure(const Measure& a, const Measure& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The pan most of a channel's notes in the pattern have: the step lines give it to them.
std::uint8_t CommonPan(const Song& song, int p, int ch) {
    std::array<int, 128> count{};
    const int steps = StepsPerMeasureOf(song);
    for (int meas = 1; meas <= kMeasures; ++meas)
        for (int s = 1; s <= steps; ++s) {
            const StepCell& c = song.cell(p, meas, ch, s);
            if (c.velocity >= 0 && c.pan < 128) ++count[c.pan];
        }
    int best = 64;
    for (int pan = 0; pan < 128; ++pan)
        if (count[pan] > count[best]) best = pan;
    return static_cast<std::uint8_t>(best);
}

void ChannelLine(std::ostringstream& out, const ChannelSettings& cs, int ch,
                 std::optional<std::uint8_t> pan,
                 const std::function<std::string(int code)>& soundName) {
    out << "channel " << ch << " sound " << SoundName(cs.instrument[ch - 1]) << " volume "
        << int(cs.volume[ch - 1]);
    if (pan && *pan != 64) out << " pan " << int(*pan);
    out << FlagWords("mute", cs.mute[ch - 1]) << FlagWords("distortion", cs.distortionOn[ch - 1]);
    if (soundName) {
        const std::string name = soundName(cs.instrument[ch - 1]);
        const std::string quoted = Quote(name, TextKind::Bytes);
        if (!name.empty()) out << "  # " << quoted.substr(1, quoted.size() - 2);
    }
    out << "\n";
}

// What the step line and the cell lines write for one cell, given what the step character
// already says.
void CellDetails(std::string& out, const StepCell& c, const StepCell& said, int ch, int slot) {
    std::string d;
    auto field = [&d](const char* name, long value) {
        d += ' ';
        d += name;
        d += ' ';
        d += std::to_string(value);
    };
    if (c.velocity != said.velocity) field("velocity", c.velocity);
    if (c.pan != said.pan) field("pan", c.pan);
    if (c.reversed != said.reversed) field("reversed", c.reversed);
    if (c.reserved1 != said.reserved1) field("reserved1", c.reserved1);
    if (c.reserved2 != said.reserved2) field("reserved2", c.reserved2);
    if (d.empty()) return;
    out += "    cell ";
    out += std::to_string(ch);
    out += ':';
    out += std::to_string(slot);
    out += d;
    if (c.pan > 127) out += "  # pan played as 127";
    out += '\n';
}

}  // namespace

std::string FormatSongText(const Song& song,
                           const std::function<std::string(int code)>& soundName) {
    const Song& fresh = NewSong();
    std::ostringstream out;
    if (!SameField(song.header, fresh.header))
        out << FieldLine("header", song.header, TextKind::Cp1252);
    out << FieldLine("title", song.title, TextKind::Cp1252);
    if (!SameField(song.subtitle, fresh.subtitle))
        out << FieldLine("subtitle", song.subtitle, TextKind::Cp1252);
    out << FieldLine("author", song.author, TextKind::Cp1252);
    out << FieldLine("copyright", song.copyright, TextKind::Cp1252);
    // A value outside what Q.Tam plays is written as stored, with what is played instead.
    if (song.tempo >= kTempoMin && song.tempo <= kTempoMax)
        out << "tempo " << song.tempo << "\n";
    else
        out << "tempo stored " << song.tempo << "  # outside " << kTempoMin << ".." << kTempoMax
            << ": played as " << std::clamp<int>(song.tempo, kTempoMin, kTempoMax) << "\n";
    if (song.shuffle >= 100 && song.shuffle <= 150)
        out << "shuffle " << 2 * song.shuffle - 200 << "\n";
    else
        out << "shuffle stored " << int(song.shuffle) << "  # outside 0..100: played as "
            << (song.shuffle < 100 ? 0 : 100) << "\n";
    if (song.stepsPerMeasure == 12 || song.stepsPerMeasure == 16)
        out << "steps " << int(song.stepsPerMeasure) << "\n";
    else
        out << "steps stored " << int(song.stepsPerMeasure) << "  # played as 16\n";
    out << "humanize " << SwitchWord(song.humanize) << "\n";
    if (song.showInfoOnOpen != 0) out << "info-on-open " << SwitchWord(song.showInfoOnOpen) << "\n";
    if (!SameField(song.userbankFile, fresh.userbankFile))
        out << FieldLine("userbank", song.userbankFile, TextKind::Bytes);
    if (!SameField(song.userbankDescription, fresh.userbankDescription))
        out << FieldLine("userbank-description", song.userbankDescription, TextKind::Cp1252);
    if (song.padding1 != 0 || song.padding2 != 0)
        out << "padding " << int(song.padding1) << " " << int(song.padding2) << "\n";

    const int steps = StepsPerMeasureOf(song);
    for (int p = 1; p <= kPatterns; ++p) {
        bool changed = song.measureCount[p - 1] != fresh.measureCount[p - 1];
        for (int meas = 1; meas <= kMeasures && !changed; ++meas)
            changed = !SameMeasure(song.measure(p, meas), fresh.measure(p, meas));
        if (!changed) continue;

        const ChannelSettings& cs = song.settings(p);
        out << "\npattern " << p << "\n";
        const int count = song.measureCount[p - 1];
        if (count >= 1 && count <= kMeasures)
            out << "  measures " << count << "\n";
        else
            out << "  measures stored " << count << "  # played as " << MeasureCountOf(song, p)
                << "\n";
        out << "  distortion gain " << cs.distortionGain << " threshold " << cs.distortionThreshold
            << "\n";
        std::uint8_t pan[kChannels];
        for (int ch = 1; ch <= kChannels; ++ch) {
            pan[ch - 1] = CommonPan(song, p, ch);
            out << "  ";
            ChannelLine(out, cs, ch, pan[ch - 1], soundName);
        }
        for (int meas = 1; meas <= kMeasures; ++meas) {
            const Measure& m = song.measure(p, meas);
            const bool played = meas <= MeasureCountOf(song, p);
            if (!played && SameMeasure(m, fresh.measure(p, meas))) continue;
            out << "  measure " << meas;
            if (!played) out << "  # stored beyond the pattern's measures: not played";
            out << "\n";
            const ChannelSettings& own = m.settings;
            const ChannelSettings& base = fresh.measure(p, meas).settings;
            if (meas > 1 && !SameSettings(own, base)) {
                out << "    # this measure's own channel settings: not in force\n";
                if (own.distortionGain != base.distortionGain ||
                    own.distortionThreshold != base.distortionThreshold)
                    out << "    distortion gain " << own.distortionGain << " threshold "
                        << own.distortionThreshold << "\n";
                for (int ch = 1; ch <= kChannels; ++ch)
                    if (own.instrument[ch - 1] != base.instrument[ch - 1] ||
                        own.volume[ch - 1] != base.volume[ch - 1] ||
                        own.mute[ch - 1] != base.mute[ch - 1] ||
                        own.distortionOn[ch - 1] != base.distortionOn[ch - 1]) {
                        out << "    ";
                        ChannelLine(out, own, ch, std::nullopt, {});
                    }
            }
            std::string cells;
            for (int ch = 1; ch <= kChannels; ++ch) {
                out << "    " << ch << " ";
                for (int s = 1; s <= kSlots; ++s) {
                    const StepCell& c = m.steps[ch - 1][s - 1];
                    StepCell said = fresh.measure(p, meas).steps[ch - 1][s - 1];
                    if (s <= steps) {
                        char sc = StepCharOf(c.velocity, c.reversed != 0);
                        if (sc == 0) sc = StepCharOf(c.velocity, false);
                        if (sc == 0)  // the nearest digit; a cell line gives the exact value
                            sc = c.velocity < 0
                                     ? '.'
                                     : static_cast<char>('0' + std::lround(c.velocity * 9 / 127.0));
                        out << sc;
                        if (s % 4 == 0 && s < steps) out << ' ';
                        const int v = VelocityOfStepChar(sc);
                        said.velocity = static_cast<std::int8_t>(v == kNoNote ? -1 : v);
                        said.pan = v == kNoNote ? 64 : pan[ch - 1];
                        said.reversed = sc == '<';
                        said.reserved1 = 0;
                        said.reserved2 = 0;
                    }
                    CellDetails(cells, c, said, ch, s);
                }
                out << "\n";
            }
            out << cells;
        }
    }
    return out.str();
}

}  // namespace qtam
