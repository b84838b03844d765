#include "banks/kit_import.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <pugixml.hpp>
#include <sstream>

#include "banks/userbank_file.h"
#include "core/files.h"
#include "core/machine.h"
#include "core/prompter.h"
#include "core/sample_bank.h"
#include "core/shared_library.h"
#include "core/text_codec.h"

namespace qtam {

namespace fs = std::filesystem;

struct Kit::Unpacked {
    TemporaryFolder folder;  // declared first: removed after the files in it
    std::vector<std::unique_ptr<TemporaryFile>> files;
};

namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A whole number of at most nine digits, with an optional sign, or `otherwise`.
int ParseInt(const std::string& text, int otherwise) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
    const bool negative = i < text.size() && text[i] == '-';
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
    int value = 0, digits = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i, ++digits) {
        if (digits == 9) return otherwise;
        value = value * 10 + (text[i] - '0');
    }
    return digits == 0 ? otherwise : negative ? -value : value;
}

// A name inside a kit as the parts of a relative path ('\' separates too, "." is dropped);
// "" when it would lead out of the kit (absolute, or with "..").
std::string RelativeName(std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    if (name.empty() || name.front() == '/') return "";
    std::string out;
    std::size_t start = 0;
    while (start <= name.size()) {
        std::size_t end = name.find('/', start);
        if (end == std::string::npos) end = name.size();
        const std::string part = name.substr(start, end - start);
        if (part == "..") return "";
        if (!part.empty() && part != ".") out += (out.empty() ? "" : "/") + part;
        start = end + 1;
    }
    return out;
}

// Whether `path` lies in `root` (both without links, "." or "..").
bool Within(const fs::path& root, const fs::path& path) {
    auto p = path.begin();
    for (const fs::path& part : root) {
        if (part.empty()) continue;  // a trailing separator
        if (p == path.end() || *p != part) return false;
        ++p;
    }
    return true;
}

// What reading a kit collects, and where its sounds are found.
struct KitReading {
    Kit& kit;
    std::string where;  // the kit's file, for messages
    std::size_t notListed = 0;
    // The path of a sound named in the kit, or "" with the reason it is not taken.
    std::function<std::string(const std::string& name, std::string& why)> find;
    // The path of a sound for the kit's own files, without looking at it.
    std::function<std::string(const std::string& name)> place;

    void LeaveOut(std::string text) {
        if (kit.leftOut.size() < kMostLeftOutListed)
            kit.leftOut.push_back(std::move(text));
        else
            ++notListed;
    }
    bool Full() const { return kit.instruments.size() >= static_cast<std::size_t>(kBankSlots); }
    void Finish() {
        if (notListed > 0)
            kit.leftOut.push_back("and " + std::to_string(notListed) + " more left out");
    }
};

// Sounds in a folder of files: no name, and no link on the way, leads out of it.
void FindInFolder(KitReading& r, const fs::path& kitFolder) {
    const fs::path folder = kitFolder.empty() ? fs::path(".") : kitFolder;  // "kit.sfz"
    std::error_code e;
    const fs::path root = fs::canonical(folder, e);
    r.place = [folder](const std::string& name) {
        const std::string relative = RelativeName(name);
        return relative.empty() ? std::string() : (folder / relative).string();
    };
    r.find = [folder, root, unknown = e.message()](const std::string& name, std::string& why) {
        if (name.empty()) {
            why = "no sound file is named";
            return std::string();
        }
        const std::string relative = RelativeName(name);
        if (relative.empty()) {
            why = "its sound lies outside the kit (" + name + ")";
            return std::string();
        }
        const fs::path path = folder / relative;
        std::error_code e;
        const fs::path real = fs::weakly_canonical(path, e);
        if (root.empty()) {
            why = "the kit's folder " + folder.string() + " cannot be resolved: " + unknown;
            return std::string();
        }
        if (e || !Within(root, real)) {
            why = "its sound " + name + " is a link that leads out of the kit" +
                  (e ? "" : " (to " + real.string() + ")");
            return std::string();
        }
        return path.string();
    };
}

// Every instrument cut off by the others of its choke group (group numbers below 0: none).
// At most a bank's instruments, so the pairs stay few.
void ChokeByGroups(Kit& kit, const std::vector<int>& groups, const std::vector<int>& cutByGroup) {
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        if (cutByGroup[i] < 0) continue;
        for (std::size_t j = 0; j < kit.instruments.size(); ++j)
            if (j != i && groups[j] == cutByGroup[i])
                kit.instruments[i].cutBy.push_back(static_cast<int>(j));
    }
}

// The line of a byte offset in a text, for messages.
std::size_t LineAt(const std::string& text, std::size_t offset) {
    return 1 +
           static_cast<std::size_t>(std::count(
               text.begin(),
               text.begin() + static_cast<std::ptrdiff_t>(std::min(offset, text.size())), '\n'));
}

// ---- drumkit.xml

// A kit that puts none of its hi-hats in a mute group (GMRockKit) still means them to cut each
// other: the instruments that send the General MIDI closed, pedal and open hi-hat notes form a
// group of their own, as they would on a drum machine.
void GroupGeneralMidiHihats(std::vector<int>& groups, const std::vector<int>& notes) {
    auto hihat = [](int note) { return note == 42 || note == 44 || note == 46; };
    for (std::size_t i = 0; i < groups.size(); ++i)
        if (hihat(notes[i]) && groups[i] >= 0) return;  // the kit says itself
    // A group number no instrument has: one of 0..size is free (at most a bank's instruments).
    int free = 0;
    while (std::find(groups.begin(), groups.end(), free) != groups.end()) ++free;
    for (std::size_t i = 0; i < groups.size(); ++i)
        if (hihat(notes[i])) groups[i] = free;
}

bool ReadDrumkitXml(const std::string& text, KitReading& r, const std::string& folderName,
                    std::string& error) {
    Kit& kit = r.kit;
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_buffer(text.data(), text.size());
    if (!parsed) {
        error = r.where + ": line " +
                std::to_string(LineAt(text, static_cast<std::size_t>(parsed.offset))) + ": " +
                parsed.description();
        return false;
    }
    const pugi::xml_node root = doc.child("drumkit_info");
    if (!root) {
        error = r.where + ": no drumkit_info element in it";
        return false;
    }
    kit.name = root.child_value("name");
    if (kit.name.empty()) kit.name = folderName;
    std::vector<int> groups, notes;
    for (const pugi::xml_node in : root.child("instrumentList").children("instrument")) {
        const std::string name = in.child_value("name");
        // The loudest layer; a kit of the older form names one file on the instrument itself.
        std::string file = in.child_value("filename");
        double loudest = -1;
        int layers = 0;
        // The newer form keeps the layers in components (microphones): the first one that has
        // any is taken.
        pugi::xml_node holder = in;
        if (!in.child("layer"))
            for (const pugi::xml_node component : in.children("instrumentComponent"))
                if (component.child("layer")) {
                    holder = component;
                    break;
                }
        for (const pugi::xml_node layer : holder.children("layer")) {
            ++layers;
            const std::string layerFile = layer.child_value("filename");
            if (const std::string own = r.place(layerFile); !own.empty()) kit.files.push_back(own);
            const double max = layer.child("max").text().as_double(1.0);
            if (max > loudest) {
                loudest = max;
                file = layerFile;
            }
        }
        if (const std::string own = r.place(file); !own.empty()) kit.files.push_back(own);
        if (file.empty()) continue;  // an empty place in the kit's list
        if (r.Full()) {
            r.LeaveOut(name + ": more than 20 instruments");
            continue;
        }
        std::string why;
        const std::string path = r.find(file, why);
        if (path.empty()) {
            r.LeaveOut(name + ": " + why);
            continue;
        }
        if (layers > 1)
            r.LeaveOut(name + ": " + std::to_string(layers - 1) +
                       " softer layer(s); the loudest is taken");
        kit.instruments.push_back({name, path, {}, false});
        groups.push_back(in.child("muteGroup").text().as_int(-1));
        notes.push_back(in.child("midiOutNote").text().as_int(-1));
    }
    GroupGeneralMidiHihats(groups, notes);
    ChokeByGroups(kit, groups, groups);
    r.Finish();
    return true;
}

bool ReadTextFile(const fs::path& path, std::string& text, std::string& error) {
    std::string reason;
    const auto bytes = ReadWholeFile(path.string(), &reason);
    if (!bytes) {
        error = path.string() + ": " + reason;
        return false;
    }
    text.assign(bytes->begin(), bytes->end());
    return true;
}

bool ReadDrumkitFolder(const fs::path& xml, Kit& kit, std::string& error) {
    std::string text;
    if (!ReadTextFile(xml, text, error)) return false;
    kit.files.push_back(xml.string());
    KitReading r{kit, xml.string(), 0, {}, {}};
    FindInFolder(r, xml.parent_path());
    return ReadDrumkitXml(text, r, xml.parent_path().filename().string(), error);
}

// ---- .h2drumkit

// libarchive, loaded when a kit archive is first read: with it and what it links (ICU,
// libxml2, the compressors) loaded at start, every start of either program took several
// milliseconds longer, for the one import that needs it.
struct ArchiveLibrary {
    bool ok = false;
    // clang-format off
#define QTAM_ARCHIVE_FUNCTIONS(X) \
    X(archive_read_new) \
    X(archive_read_support_filter_all) \
    X(archive_read_support_format_all) \
    X(archive_read_open_filename) \
    X(archive_read_next_header) \
    X(archive_read_data_block) \
    X(archive_error_string) \
    X(archive_read_free) \
    X(archive_entry_filetype) \
    X(archive_entry_pathname) \
    X(archive_entry_pathname_utf8)
    // clang-format on
#define QTAM_ARCHIVE_POINTER(name) decltype(&::name) name = nullptr;
    QTAM_ARCHIVE_FUNCTIONS(QTAM_ARCHIVE_POINTER)
#undef QTAM_ARCHIVE_POINTER
};

const ArchiveLibrary& Archive() {
    static const ArchiveLibrary library = [] {
        ArchiveLibrary l;
        void* handle = OpenSharedLibrary("libarchive.so.13");
        if (handle == nullptr) return l;
        bool all = true;
#define QTAM_ARCHIVE_FIND(name) all = FindFunction(handle, l.name, #name) && all;
        QTAM_ARCHIVE_FUNCTIONS(QTAM_ARCHIVE_FIND)
#undef QTAM_ARCHIVE_FIND
        l.ok = all;
        return l;
    }();
    return library;
}

// One reading of an archive from its start to its end: every entry's header and, where the
// caller takes it, its data. Anything libarchive reports as an error refuses the archive.
class ArchiveReading {
public:
    explicit ArchiveReading(const std::string& path) : la_(Archive()), path_(path) {}
    ~ArchiveReading() {
        if (a_ != nullptr) la_.archive_read_free(a_);
    }
    ArchiveReading(const ArchiveReading&) = delete;
    ArchiveReading& operator=(const ArchiveReading&) = delete;

    // Calls `take(name)` for every file in the archive (its name relative, "" when it would
    // lead out), which may read the entry's data with Read. False, with the reason, when the
    // archive cannot be read to its end.
    bool Each(const std::function<bool(const std::string& name)>& take, std::string& error) {
        if (!la_.ok) {
            error = "the archive library (libarchive.so.13) could not be loaded";
            return false;
        }
        a_ = la_.archive_read_new();
        la_.archive_read_support_filter_all(a_);
        la_.archive_read_support_format_all(a_);
        if (la_.archive_read_open_filename(a_, path_.c_str(), 65536) != ARCHIVE_OK)
            return Failed(error);
        archive_entry* entry = nullptr;
        for (;;) {
            const int r = la_.archive_read_next_header(a_, &entry);
            if (r == ARCHIVE_EOF) return true;
            if (r != ARCHIVE_OK && r != ARCHIVE_WARN) return Failed(error);
            if (la_.archive_entry_filetype(entry) != AE_IFREG) continue;
            // UTF-8 names, whatever the locale; the name in the locale's code otherwise.
            const char* name = la_.archive_entry_pathname_utf8(entry);
            if (name == nullptr) name = la_.archive_entry_pathname(entry);
            if (name == nullptr) {
                error = "an entry's name cannot be read (" + Why() + ")";
                return false;
            }
            if (!take(RelativeName(name))) {
                if (error_.empty()) return Failed(error);
                error = error_;
                return false;
            }
        }
    }

    // Reads the data of the current entry, handing `use` each block; at most `limit` bytes
    // are handed over, the rest is read and dropped. False when the data is damaged or `use`
    // refuses.
    bool Read(std::uint64_t limit, const std::function<bool(const char*, std::size_t)>& use,
              bool& cut) {
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        std::uint64_t handed = 0;
        cut = false;
        int r;
        while ((r = la_.archive_read_data_block(a_, &block, &length, &offset)) == ARCHIVE_OK) {
            const std::size_t n = static_cast<std::size_t>(
                std::min<std::uint64_t>(length, limit - std::min(limit, handed)));
            if (n < length) cut = true;
            if (n > 0 && !use(static_cast<const char*>(block), n)) return false;
            handed += n;
        }
        return r == ARCHIVE_EOF;
    }

    // A reason of the caller's, given instead of libarchive's.
    void Refuse(std::string reason) { error_ = std::move(reason); }

private:
    std::string Why() const {
        const char* why = la_.archive_error_string(a_);
        std::string text = why != nullptr ? why : "";
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
            text.pop_back();
        return text.empty() ? "its data ends early or is damaged" : text;
    }
    bool Failed(std::string& error) const {
        error = "the archive cannot be read: " + Why();
        return false;
    }

    const ArchiveLibrary& la_;
    std::string path_;
    archive* a_ = nullptr;
    std::string error_;
};

// zlib, loaded with the first gzip archive checked, as libarchive is.
struct ZlibLibrary {
    bool ok = false;
    decltype(&::inflateInit2_) inflateInit2_ = nullptr;
    decltype(&::inflate) inflate = nullptr;
    decltype(&::inflateReset) inflateReset = nullptr;
    decltype(&::inflateEnd) inflateEnd = nullptr;
};

const ZlibLibrary& Zlib() {
    static const ZlibLibrary library = [] {
        ZlibLibrary l;
        void* handle = OpenSharedLibrary("libz.so.1");
        l.ok = handle != nullptr && FindFunction(handle, l.inflateInit2_, "inflateInit2_") &&
               FindFunction(handle, l.inflate, "inflate") &&
               FindFunction(handle, l.inflateReset, "inflateReset") &&
               FindFunction(handle, l.inflateEnd, "inflateEnd");
        return l;
    }();
    return library;
}

// libarchive never compares a gzip member's check sum with its data, so a damaged byte may
// pass unnoticed: a gzip file is decompressed here once, to its end, every member's check sum
// and length compared. Empty when whole (or not gzip), the reason otherwise.
std::string GzipDamage(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return std::strerror(errno);
    unsigned char in[65536], out[65536];
    std::size_t n = std::fread(in, 1, sizeof in, f);
    if (n < 2 || in[0] != 0x1F || in[1] != 0x8B) {
        std::fclose(f);
        return "";
    }
    const ZlibLibrary& z = Zlib();
    if (!z.ok) {
        std::fclose(f);
        return "zlib (libz.so.1) could not be loaded to check it";
    }
    z_stream stream{};
    z.inflateInit2_(&stream, 15 + 16, ZLIB_VERSION, static_cast<int>(sizeof stream));
    std::string damage;
    bool ended = false;  // at the end of a member
    for (; n > 0 && damage.empty(); n = std::fread(in, 1, sizeof in, f)) {
        stream.next_in = in;
        stream.avail_in = static_cast<uInt>(n);
        while (stream.avail_in > 0 && damage.empty()) {
            if (ended) {  // another member, or zeros that pad the file
                if (std::all_of(stream.next_in, stream.next_in + stream.avail_in,
                                [](unsigned char b) { return b == 0; })) {
                    stream.avail_in = 0;
                    break;
                }
                z.inflateReset(&stream);
                ended = false;
            }
            stream.next_out = out;
            stream.avail_out = sizeof out;
            const int r = z.inflate(&stream, Z_NO_FLUSH);
            if (r == Z_STREAM_END)
                ended = true;
            else if (r != Z_OK && r != Z_BUF_ERROR)
                damage = stream.msg != nullptr ? stream.msg : "its compressed data is damaged";
        }
    }
    if (damage.empty() && std::ferror(f)) damage = std::strerror(errno);
    if (damage.empty() && !ended) damage = "its compressed data ends early";
    z.inflateEnd(&stream);
    std::fclose(f);
    return damage;
}

std::string Depth(const std::string& name) {
    return std::string(static_cast<std::size_t>(std::count(name.begin(), name.end(), '/')), '/');
}

// A kit archive: its shallowest drumkit.xml read into memory, then, in a second reading, the
// sounds of the instruments taken unpacked into a temporary folder, each under a name of its
// own and cut at what a slot can use.
bool ReadKitArchive(const std::string& path, Kit& kit, std::string& error) {
    kit.files.push_back(path);
    if (const std::string damage = GzipDamage(path); !damage.empty()) {
        error = path + ": the archive cannot be read: " + damage;
        return false;
    }
    std::string xmlName, xml;
    bool found = false;
    {
        ArchiveReading reading(path);
        const bool read = reading.Each(
            [&](const std::string& name) {
                if (name.empty() || fs::path(name).filename() != "drumkit.xml") return true;
                if (found && Depth(name).size() >= Depth(xmlName).size()) return true;
                std::string text;
                bool cut = false;
                if (!reading.Read(
                        kLargestKitXml,
                        [&](const char* data, std::size_t n) {
                            text.append(data, n);
                            return true;
                        },
                        cut))
                    return false;
                if (cut) {
                    reading.Refuse(name + " is larger than 64 MB");
                    return false;
                }
                found = true;
                xmlName = name;
                xml = std::move(text);
                return true;
            },
            error);
        if (!read) {
            error = path + ": " + error;
            return false;
        }
    }
    if (!found) {
        error = path + ": no drumkit.xml in this archive, in any of its folders";
        return false;
    }

    kit.unpacked = std::make_shared<Kit::Unpacked>();
    Kit::Unpacked& unpacked = *kit.unpacked;
    const char* tmp = std::getenv("TMPDIR");
    const std::string parent = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    if (!unpacked.folder.Create(parent, "qtam-kit-")) {
        error = "cannot make a temporary folder in " + parent + " (TMPDIR) to unpack " + path +
                ": " + std::strerror(errno);
        return false;
    }
    const std::string base = fs::path(xmlName).parent_path().string();
    std::map<std::string, std::size_t> wanted;  // entry name -> unpacked file
    KitReading r{kit, path + ": " + xmlName, 0, {}, {}};
    r.place = [](const std::string&) { return std::string(); };  // the archive is the file
    std::string made;
    r.find = [&](const std::string& name, std::string& why) {
        const std::string relative = RelativeName(name);
        if (relative.empty()) {
            why = name.empty() ? "no sound file is named"
                               : "its sound lies outside the kit (" + name + ")";
            return std::string();
        }
        const std::string entry = base.empty() ? relative : base + "/" + relative;
        if (const auto at = wanted.find(entry); at != wanted.end())
            return unpacked.files[at->second]->path();
        // The extension kept, as a sound file's name says what it is.
        std::string extension = fs::path(relative).extension().string();
        if (extension.size() > 8 ||
            !std::all_of(extension.begin() + (extension.empty() ? 0 : 1), extension.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)); }))
            extension.clear();
        auto file = std::make_unique<TemporaryFile>();
        if (!file->Create(unpacked.folder.path() + "/", "sound-", extension)) {
            made = std::strerror(errno);
            why = "cannot be unpacked: " + made;
            return std::string();
        }
        wanted[entry] = unpacked.files.size();
        unpacked.files.push_back(std::move(file));
        return unpacked.files.back()->path();
    };
    if (!ReadDrumkitXml(xml, r, fs::path(path).stem().string(), error)) return false;
    if (!made.empty()) {
        error = "cannot unpack " + path + " into " + unpacked.folder.path() + ": " + made;
        return false;
    }
    if (wanted.empty()) return true;

    std::map<std::string, bool> cut;  // unpacked file -> cut at the limit
    ArchiveReading reading(path);
    const bool read = reading.Each(
        [&](const std::string& name) {
            const auto at = wanted.find(name);
            if (at == wanted.end()) return true;
            TemporaryFile& file = *unpacked.files[at->second];
            const int fd = ::open(file.path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
            if (fd < 0) {
                reading.Refuse("cannot write " + file.path() + ": " + std::strerror(errno));
                return false;
            }
            bool shortened = false;
            int failure = 0;
            const bool ok = reading.Read(
                kLargestUnpackedSound,
                [&](const char* data, std::size_t n) {
                    while (n > 0) {  // the bytes written are what is counted
                        const ssize_t w = ::write(fd, data, n);
                        if (w <= 0) {
                            failure = w < 0 ? errno : ENOSPC;
                            return false;
                        }
                        data += w;
                        n -= static_cast<std::size_t>(w);
                    }
                    return true;
                },
                shortened);
            if (::close(fd) != 0 && failure == 0 && ok) failure = errno;
            if (failure != 0) {
                reading.Refuse("cannot write " + name + " into " + unpacked.folder.path() + ": " +
                               std::strerror(failure));
                return false;
            }
            cut[file.path()] = shortened;
            return ok;
        },
        error);
    if (!read) {
        error = path + ": " + error;
        return false;
    }
    for (KitInstrument& in : kit.instruments) in.cutShort = cut[in.file];
    return true;
}

// ---- SFZ

// A key: a MIDI note number 0..127 or a note name (c4 is 60); -1 for anything else.
int NoteNumber(const std::string& text) {
    static const int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    const std::string t = Lower(text);
    if (t.empty()) return -1;
    int note;
    if (std::isdigit(static_cast<unsigned char>(t[0]))) {
        note = ParseInt(t, -1);
    } else {
        if (t[0] < 'a' || t[0] > 'g') return -1;
        note = kSemitone[t[0] - 'a'];
        std::size_t i = 1;
        if (i < t.size() && (t[i] == '#' || t[i] == 'b')) note += t[i++] == '#' ? 1 : -1;
        const int octave = ParseInt(t.substr(i), 100);
        if (octave < -1 || octave > 9) return -1;
        note += 12 * (octave + 1);
    }
    return note >= 0 && note <= 127 ? note : -1;
}

using Opcodes = std::map<std::string, std::string>;

struct SfzToken {
    std::string word;  // "<header>", or an opcode
    std::string value;
    std::size_t line;
};

// Each line's headers and opcodes in order: a header as "<name>" with no value, an opcode with
// its value, which runs to the next opcode (sample names may hold blanks). Comments are
// dropped; a line starting with '#' (#include, #define) goes to `directives`.
std::vector<SfzToken> SfzTokens(std::istream& in, std::vector<SfzToken>& directives) {
    std::vector<SfzToken> out;
    std::string raw, line;
    std::size_t number = 0;
    bool inComment = false;
    while (std::getline(in, raw)) {
        ++number;
        if (number == 1 && raw.starts_with("\xEF\xBB\xBF")) raw.erase(0, 3);
        // Without comments: "//" to the line's end, "/*" to the next "*/", on any line.
        line.clear();
        for (std::size_t i = 0; i < raw.size();) {
            if (inComment) {
                const std::size_t end = raw.find("*/", i);
                if (end == std::string::npos) break;
                inComment = false;
                i = end + 2;
            } else if (raw.compare(i, 2, "//") == 0) {
                break;
            } else if (raw.compare(i, 2, "/*") == 0) {
                inComment = true;
                i += 2;
            } else {
                line += raw[i++];
            }
        }
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] == '#') {
            directives.push_back({line.substr(first), "", number});
            continue;
        }
        std::size_t i = 0;
        std::string* value = nullptr;
        auto finishValue = [&] {
            if (value == nullptr) return;
            while (!value->empty() && std::isspace(static_cast<unsigned char>(value->back())))
                value->pop_back();
            value = nullptr;
        };
        while (i < line.size()) {
            if (line[i] == '<') {
                const std::size_t close = line.find('>', i);
                if (close == std::string::npos) break;
                finishValue();
                out.push_back({line.substr(i, close - i + 1), "", number});
                i = close + 1;
                continue;
            }
            // An opcode starts with a word and '=' after a blank (or at the line's start).
            std::size_t j = i;
            while (j < line.size() &&
                   (std::isalnum(static_cast<unsigned char>(line[j])) || line[j] == '_'))
                ++j;
            const bool starts = j > i && j < line.size() && line[j] == '=' &&
                                (i == 0 || std::isspace(static_cast<unsigned char>(line[i - 1])));
            if (starts) {
                finishValue();
                out.push_back({line.substr(i, j - i), "", number});
                value = &out.back().value;
                i = j + 1;
                while (i < line.size() && line[i] == ' ') ++i;
                continue;
            }
            // No opcode starts inside this word either: it is taken whole, so that every
            // character is looked at once.
            const std::size_t next = std::max(j, i + 1);
            if (value != nullptr) value->append(line, i, next - i);
            i = next;
        }
        finishValue();
    }
    return out;
}

// A region's opcodes: its own, then its group's, then the global ones.
struct SfzRegion {
    Opcodes own;
    std::size_t global = 0, group = 0;
    std::size_t line = 0;
};

bool ReadSfz(const fs::path& sfz, Kit& kit, std::string& error) {
    std::string text;
    if (!ReadTextFile(sfz, text, error)) return false;
    kit.files.push_back(sfz.string());
    if (text.starts_with("\xFF\xFE") || text.starts_with("\xFE\xFF")) {
        error = sfz.string() + ": UTF-16 text; SFZ files are read as UTF-8 (or ASCII)";
        return false;
    }
    kit.name = sfz.stem().string();
    KitReading r{kit, sfz.string(), 0, {}, {}};
    FindInFolder(r, sfz.parent_path());
    std::istringstream in(text);
    std::vector<SfzToken> directives;
    const std::vector<SfzToken> tokens = SfzTokens(in, directives);
    for (const SfzToken& d : directives)
        if (d.word.starts_with("#include"))
            r.LeaveOut(sfz.string() + " line " + std::to_string(d.line) + ": " + d.word +
                       ": included files are not read");

    std::string defaultPath;
    std::vector<Opcodes> globals(1), groups(1);  // 0: none
    std::vector<SfzRegion> regions;
    enum { None, Control, Global, Group, Region } target = None;
    for (const SfzToken& t : tokens) {
        if (t.word.front() == '<') {
            target = None;
            if (t.word == "<control>") {
                target = Control;
            } else if (t.word == "<global>") {
                globals.emplace_back();
                groups.resize(groups.size() + 1);
                target = Global;
            } else if (t.word == "<group>" || t.word == "<master>") {
                groups.emplace_back();
                target = Group;
            } else if (t.word == "<region>") {
                regions.push_back({{}, globals.size() - 1, groups.size() - 1, t.line});
                target = Region;
            }
            continue;
        }
        switch (target) {
            case Control:
                if (t.word == "default_path") defaultPath = t.value;
                break;
            case Global:
                globals.back()[t.word] = t.value;
                break;
            case Group:
                groups.back()[t.word] = t.value;
                break;
            case Region:
                regions.back().own[t.word] = t.value;
                break;
            case None:
                break;
        }
    }
    auto lookup = [&](const SfzRegion& region, const std::string& opcode) -> const std::string* {
        const Opcodes* scopes[] = {&region.own, &groups[region.group], &globals[region.global]};
        for (const Opcodes* o : scopes)
            if (const auto at = o->find(opcode); at != o->end()) return &at->second;
        return nullptr;
    };
    struct Key {
        std::size_t region;
        int hivel;
        std::size_t layers;
    };
    std::map<int, Key> byKey;
    for (std::size_t i = 0; i < regions.size(); ++i) {
        const SfzRegion& region = regions[i];
        const std::string* sample = lookup(region, "sample");
        if (sample == nullptr) continue;  // a region that plays nothing
        if (const std::string own = r.place(defaultPath + *sample); !own.empty())
            kit.files.push_back(own);
        int key = -1;
        for (const char* k : {"key", "pitch_keycenter", "lokey"})
            if (const std::string* v = lookup(region, k); key < 0 && v != nullptr)
                key = NoteNumber(*v);
        if (key < 0) {
            r.LeaveOut(sfz.string() + " line " + std::to_string(region.line) +
                       ": a region without a key 0..127 (key, pitch_keycenter or lokey)");
            continue;
        }
        const std::string* hivel = lookup(region, "hivel");
        const int velocity = hivel != nullptr ? ParseInt(*hivel, 127) : 127;
        // The loudest layer of each key; the first of equals.
        auto [at, added] = byKey.try_emplace(key, Key{i, velocity, 0});
        ++at->second.layers;
        if (!added && velocity > at->second.hivel) at->second = {i, velocity, at->second.layers};
    }
    std::vector<int> chokeGroups, offBy;
    for (const auto& [key, best] : byKey) {
        const SfzRegion& region = regions[best.region];
        const std::string sample = *lookup(region, "sample");
        const std::string* label = lookup(region, "region_label");
        if (label == nullptr) label = lookup(region, "group_label");
        std::string name = label != nullptr ? *label : fs::path(sample).stem().string();
        if (name.empty()) name = "a region";
        const std::string where =
            name + " (key " + std::to_string(key) + ", line " + std::to_string(region.line) + ")";
        if (r.Full()) {
            r.LeaveOut(where + ": more than 20 instruments");
            continue;
        }
        std::string why;
        const std::string path = sample.empty() ? std::string() : r.find(defaultPath + sample, why);
        if (path.empty()) {
            r.LeaveOut(where + ": " + (sample.empty() ? "sample= names no file" : why));
            continue;
        }
        if (best.layers > 1)
            r.LeaveOut(name + " (key " + std::to_string(key) + "): " +
                       std::to_string(best.layers - 1) + " softer layer(s); the loudest is taken");
        kit.instruments.push_back({name, path, {}, false});
        const std::string* group = lookup(region, "group");
        const std::string* off = lookup(region, "off_by");
        chokeGroups.push_back(group != nullptr ? ParseInt(*group, -1) : -1);
        offBy.push_back(off != nullptr ? ParseInt(*off, -1) : -1);
    }
    if (kit.instruments.empty() && kit.leftOut.empty()) {
        error = sfz.string() + ": no region with a sample and a key";
        return false;
    }
    ChokeByGroups(kit, chokeGroups, offBy);
    r.Finish();
    return true;
}

// The import's questions during a kit's import: a sound longer than a slot holds is cut to
// what fits (choosing the kit was the answer) and noted; every other question goes on.
class KitPrompter final : public Prompter {
public:
    explicit KitPrompter(Prompter& inner) : inner_(inner) {}
    void Warn(const std::string& text) override { inner_.Warn(text); }
    bool AskYesNo(const std::string& text) override {
        // A sound unpacked only as far as a slot can use ends early on purpose.
        const bool ours =
            text == kAskLargeWav || text == kAskLargeRaw || (unpackedShort && text == kAskCutWav);
        if (!ours) return inner_.AskYesNo(text);
        cut = true;
        return true;
    }
    Answer AskYesNoCancel(const std::string& text) override { return inner_.AskYesNoCancel(text); }
    void SetBusy(bool busy) override { inner_.SetBusy(busy); }
    bool cut = false;
    bool unpackedShort = false;

private:
    Prompter& inner_;
};

}  // namespace

bool ReadKit(const std::string& path, Kit& kit, std::string& error) {
    kit = Kit{};
    std::error_code e;
    const fs::path p(path);
    if (fs::is_directory(p, e)) {
        if (fs::is_regular_file(p / "drumkit.xml", e))
            return ReadDrumkitFolder(p / "drumkit.xml", kit, error);
        error = path + ": no drumkit.xml in this folder";
        return false;
    }
    if (!fs::is_regular_file(p, e)) {
        error = path + ": " + (e ? e.message() : std::string("not a file"));
        return false;
    }
    const std::string extension = Lower(p.extension().string());
    if (p.filename() == "drumkit.xml") return ReadDrumkitFolder(p, kit, error);
    if (extension == ".sfz") return ReadSfz(p, kit, error);
    if (extension == ".h2drumkit" || extension == ".gz" || extension == ".tar" ||
        extension == ".zip") {
        if (ReadKitArchive(path, kit, error)) return true;
        kit.unpacked.reset();  // nothing unpacked stays behind
        return false;
    }
    error = path +
            ": not a drum kit (a folder with drumkit.xml, a .h2drumkit archive or an "
            ".sfz file)";
    return false;
}

KitImport ImportKit(Machine& m, const Kit& kit, Conversion conversion) {
    KitImport result;
    result.leftOut = kit.leftOut;
    ClearUserbank(m);
    SampleBank& bank = m.banks.userbank;
    bank.description = Utf8ToCp1252(kit.name).substr(0, kBankDescriptionSize);
    const int count = std::min<int>(static_cast<int>(kit.instruments.size()), kBankSlots);
    std::vector<bool> filled(kBankSlots, false);
    Prompter* asking = m.prompter;
    KitPrompter prompter(*asking);
    m.prompter = &prompter;
    for (int i = 0; i < count; ++i) {
        const KitInstrument& in = kit.instruments[i];
        prompter.cut = false;
        prompter.unpackedShort = in.cutShort;
        const ImportResult imported = ImportSample(m, in.file, i + 1, conversion);
        if (imported.ok && prompter.cut)
            result.leftOut.push_back(in.name +
                                     ": longer than a slot holds; its first 4.06 s are "
                                     "taken");
        if (!imported.ok) {
            result.refused.push_back(
                in.name + ": " +
                (imported.reason.empty() ? std::string("not imported") : imported.reason));
            continue;
        }
        bank.slot(i + 1).name = Utf8ToCp1252(in.name).substr(0, kSlotNameSize);
        filled[i] = true;
        ++result.imported;
    }
    m.prompter = asking;
    // A slot names at most two partners that cut it off.
    for (int i = 0; i < count; ++i) {
        if (!filled[i]) continue;
        std::vector<int> partners;
        for (int j : kit.instruments[i].cutBy)
            if (j < count && filled[j]) partners.push_back(j + 1);
        if (partners.size() > 2)
            result.leftOut.push_back(kit.instruments[i].name + ": cut off by " +
                                     std::to_string(partners.size()) +
                                     " instruments; a slot keeps two partners");
        SampleSlot& slot = bank.slot(i + 1);
        slot.hihat1 = static_cast<std::uint8_t>(partners.size() > 0 ? partners[0] : 0);
        slot.hihat2 = static_cast<std::uint8_t>(partners.size() > 1 ? partners[1] : 0);
    }
    return result;
}

}  // namespace qtam
