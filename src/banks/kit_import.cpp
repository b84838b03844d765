#include "banks/kit_import.h"

#include <archive.h>
#include <archive_entry.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <pugixml.hpp>
#include <sstream>

#include "banks/userbank_file.h"
#include "core/machine.h"
#include "core/prompter.h"
#include "core/sample_bank.h"
#include "core/shared_library.h"
#include "core/text_codec.h"

namespace qtam {

namespace fs = std::filesystem;

struct Kit::Unpacked {
    fs::path folder;
    ~Unpacked() {
        std::error_code ignored;
        fs::remove_all(folder, ignored);
    }
};

namespace {

constexpr std::uintmax_t kLargestUnpackedFile = 512u << 20;
constexpr std::uintmax_t kLargestUnpackedKit = 2048u << 20;

std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// A path named inside a kit, made a path under the kit's folder; "" when it would lead out of
// it (an absolute path, or "..").
std::string InsideFolder(const fs::path& folder, std::string name) {
    std::replace(name.begin(), name.end(), '\\', '/');
    const fs::path relative(name);
    if (name.empty() || relative.is_absolute()) return "";
    for (const fs::path& part : relative)
        if (part == "..") return "";
    return (folder / relative).string();
}

// Every instrument cut off by the others of its choke group (group numbers below 0: none).
void ChokeByGroups(Kit& kit, const std::vector<int>& groups, const std::vector<int>& cutByGroup) {
    for (std::size_t i = 0; i < kit.instruments.size(); ++i) {
        if (cutByGroup[i] < 0) continue;
        for (std::size_t j = 0; j < kit.instruments.size(); ++j)
            if (j != i && groups[j] == cutByGroup[i])
                kit.instruments[i].cutBy.push_back(static_cast<int>(j));
    }
}

// ---- drumkit.xml

// A kit that puts none of its hi-hats in a mute group (GMRockKit) still means them to cut each
// other: the instruments that send the General MIDI closed, pedal and open hi-hat notes form a
// group of their own, as they would on a drum machine.
void GroupGeneralMidiHihats(std::vector<int>& groups, const std::vector<int>& notes) {
    auto hihat = [](int note) { return note == 42 || note == 44 || note == 46; };
    int free = 0;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (hihat(notes[i]) && groups[i] >= 0) return;  // the kit says itself
        free = std::max(free, groups[i] + 1);
    }
    for (std::size_t i = 0; i < groups.size(); ++i)
        if (hihat(notes[i])) groups[i] = free;
}

bool ReadDrumkitXml(const fs::path& xml, Kit& kit, std::string& error) {
    pugi::xml_document doc;
    const pugi::xml_parse_result parsed = doc.load_file(xml.c_str());
    if (!parsed) {
        error = xml.string() + ": " + parsed.description();
        return false;
    }
    const pugi::xml_node root = doc.child("drumkit_info");
    if (!root) {
        error = xml.string() + ": no drumkit_info in it";
        return false;
    }
    kit.name = root.child_value("name");
    if (kit.name.empty()) kit.name = xml.parent_path().filename().string();
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
            const double max = layer.child("max").text().as_double(1.0);
            if (max > loudest) {
                loudest = max;
                file = layer.child_value("filename");
            }
        }
        if (file.empty()) continue;  // an empty place in the kit's list
        const std::string path = InsideFolder(xml.parent_path(), file);
        if (path.empty()) {
            kit.leftOut.push_back(name + ": its sound lies outside the kit (" + file + ")");
            continue;
        }
        if (layers > 1)
            kit.leftOut.push_back(name + ": " + std::to_string(layers - 1) +
                                  " softer layer(s); the loudest is taken");
        kit.instruments.push_back({name, path, {}});
        groups.push_back(in.child("muteGroup").text().as_int(-1));
        notes.push_back(in.child("midiOutNote").text().as_int(-1));
    }
    GroupGeneralMidiHihats(groups, notes);
    ChokeByGroups(kit, groups, groups);
    return true;
}

// ---- .h2drumkit

// libarchive, loaded when a kit archive is first unpacked: with it and what it links (ICU,
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
    X(archive_entry_size)
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

bool Unpack(const std::string& archivePath, const fs::path& into, std::string& error) {
    const ArchiveLibrary& la = Archive();
    if (!la.ok) {
        error = "the archive library (libarchive.so.13) could not be loaded";
        return false;
    }
    archive* a = la.archive_read_new();
    la.archive_read_support_filter_all(a);
    la.archive_read_support_format_all(a);
    bool ok = la.archive_read_open_filename(a, archivePath.c_str(), 65536) == ARCHIVE_OK;
    std::uintmax_t total = 0;
    archive_entry* entry = nullptr;
    while (ok && la.archive_read_next_header(a, &entry) == ARCHIVE_OK) {
        if (la.archive_entry_filetype(entry) != AE_IFREG) continue;
        const std::string target = InsideFolder(into, la.archive_entry_pathname(entry));
        const auto size =
            static_cast<std::uintmax_t>(std::max<la_int64_t>(0, la.archive_entry_size(entry)));
        total += size;
        if (target.empty() || size > kLargestUnpackedFile || total > kLargestUnpackedKit) continue;
        std::error_code made;
        fs::create_directories(fs::path(target).parent_path(), made);
        std::ofstream out(target, std::ios::binary);
        const void* block = nullptr;
        size_t length = 0;
        la_int64_t offset = 0;
        int r;
        while ((r = la.archive_read_data_block(a, &block, &length, &offset)) == ARCHIVE_OK)
            out.write(static_cast<const char*>(block), static_cast<std::streamsize>(length));
        ok = r == ARCHIVE_EOF && out.good();
    }
    if (!ok) {
        const char* why = la.archive_error_string(a);
        error = why != nullptr ? why : "the archive is damaged";
    }
    la.archive_read_free(a);
    return ok;
}

fs::path FindDrumkitXml(const fs::path& folder) {
    std::error_code e;
    for (fs::recursive_directory_iterator it(folder, e), end; !e && it != end; it.increment(e))
        if (it.depth() <= 2 && it->path().filename() == "drumkit.xml") return it->path();
    return {};
}

// ---- SFZ

int NoteNumber(const std::string& text) {
    static const int kSemitone[7] = {9, 11, 0, 2, 4, 5, 7};  // a b c d e f g
    const std::string t = Lower(text);
    if (t.empty()) return -1;
    if (std::isdigit(static_cast<unsigned char>(t[0]))) return std::atoi(t.c_str());
    if (t[0] < 'a' || t[0] > 'g') return -1;
    int note = kSemitone[t[0] - 'a'];
    std::size_t i = 1;
    if (i < t.size() && (t[i] == '#' || t[i] == 'b')) note += t[i++] == '#' ? 1 : -1;
    if (i >= t.size()) return -1;
    return note + 12 * (std::atoi(t.c_str() + i) + 1);  // c4 is 60
}

using Opcodes = std::map<std::string, std::string>;

// Each line's headers and opcodes in order: a header as "<name>" with no value, an opcode with
// its value, which runs to the next opcode (sample names may hold blanks).
std::vector<std::pair<std::string, std::string>> SfzTokens(std::istream& in) {
    std::vector<std::pair<std::string, std::string>> out;
    std::string line;
    while (std::getline(in, line)) {
        if (const std::size_t c = line.find("//"); c != std::string::npos) line.erase(c);
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
                out.push_back({line.substr(i, close - i + 1), ""});
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
                out.push_back({line.substr(i, j - i), ""});
                value = &out.back().second;
                i = j + 1;
                while (i < line.size() && line[i] == ' ') ++i;
                continue;
            }
            if (value != nullptr) *value += line[i];
            ++i;
        }
        finishValue();
    }
    return out;
}

struct SfzRegion {
    Opcodes opcodes;
    int key = -1;
    int hivel = 127;
};

bool ReadSfz(const fs::path& sfz, Kit& kit, std::string& error) {
    std::ifstream in(sfz);
    if (!in) {
        error = sfz.string() + ": " + std::strerror(errno);
        return false;
    }
    kit.name = sfz.stem().string();
    std::string defaultPath;
    Opcodes global, group;
    std::vector<SfzRegion> regions;
    std::string header;
    for (auto& [word, value] : SfzTokens(in)) {
        if (word.front() == '<') {
            header = word;
            if (header == "<group>" || header == "<master>") group.clear();
            // A region starts with what its group and the global header say so far.
            if (header == "<region>") {
                regions.push_back({});
                regions.back().opcodes = global;
                for (auto& [k, v] : group) regions.back().opcodes[k] = v;
            }
            continue;
        }
        if (header == "<control>") {
            if (word == "default_path") defaultPath = value;
        } else if (header == "<global>") {
            global[word] = value;
        } else if (header == "<group>" || header == "<master>") {
            group[word] = value;
        } else if (header == "<region>" && !regions.empty()) {
            regions.back().opcodes[word] = value;
        }
    }
    std::map<int, std::vector<SfzRegion>> byKey;
    for (SfzRegion& r : regions) {
        for (const char* k : {"key", "pitch_keycenter", "lokey"})
            if (r.key < 0 && r.opcodes.count(k)) r.key = NoteNumber(r.opcodes[k]);
        if (r.opcodes.count("hivel")) r.hivel = std::atoi(r.opcodes["hivel"].c_str());
        if (r.opcodes.count("sample") && r.key >= 0) byKey[r.key].push_back(r);
    }
    std::vector<int> groups, offBy;
    for (auto& [key, layers] : byKey) {
        // The loudest layer of each key; the first of equals.
        std::stable_sort(layers.begin(), layers.end(),
                         [](const SfzRegion& a, const SfzRegion& b) { return a.hivel > b.hivel; });
        const Opcodes& o = layers.front().opcodes;
        const std::string sample = defaultPath + o.at("sample");
        std::string name = o.count("region_label")  ? o.at("region_label")
                           : o.count("group_label") ? o.at("group_label")
                                                    : fs::path(sample).stem().string();
        const std::string path = InsideFolder(sfz.parent_path(), sample);
        if (path.empty()) {
            kit.leftOut.push_back(name + ": its sound lies outside the kit (" + sample + ")");
            continue;
        }
        if (layers.size() > 1)
            kit.leftOut.push_back(name + " (key " + std::to_string(key) +
                                  "): " + std::to_string(layers.size() - 1) +
                                  " softer layer(s); the loudest is taken");
        kit.instruments.push_back({name, path, {}});
        groups.push_back(o.count("group") ? std::atoi(o.at("group").c_str()) : -1);
        offBy.push_back(o.count("off_by") ? std::atoi(o.at("off_by").c_str()) : -1);
    }
    if (kit.instruments.empty() && kit.leftOut.empty()) {
        error = sfz.string() + ": no region with a sample and a key";
        return false;
    }
    ChokeByGroups(kit, groups, offBy);
    return true;
}

// The import's questions during a kit's import: a sound longer than a slot holds is cut to
// what fits (choosing the kit was the answer) and noted; every other question goes on.
class KitPrompter final : public Prompter {
public:
    explicit KitPrompter(Prompter& inner) : inner_(inner) {}
    void Warn(const std::string& text) override { inner_.Warn(text); }
    bool AskYesNo(const std::string& text) override {
        if (text != kAskLargeWav && text != kAskLargeRaw) return inner_.AskYesNo(text);
        cut = true;
        return true;
    }
    Answer AskYesNoCancel(const std::string& text) override { return inner_.AskYesNoCancel(text); }
    void SetBusy(bool busy) override { inner_.SetBusy(busy); }
    bool cut = false;

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
            return ReadDrumkitXml(p / "drumkit.xml", kit, error);
        error = path + ": no drumkit.xml in this folder";
        return false;
    }
    if (!fs::is_regular_file(p, e)) {
        error = path + ": " + (e ? e.message() : std::string("not a file"));
        return false;
    }
    const std::string extension = Lower(p.extension().string());
    if (p.filename() == "drumkit.xml") return ReadDrumkitXml(p, kit, error);
    if (extension == ".sfz") return ReadSfz(p, kit, error);
    if (extension == ".h2drumkit" || extension == ".gz" || extension == ".tar") {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/qtam-kit-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) {
            error = std::string("cannot make a temporary folder: ") + std::strerror(errno);
            return false;
        }
        kit.unpacked = std::make_shared<Kit::Unpacked>();
        kit.unpacked->folder = pattern;
        if (!Unpack(path, pattern, error)) {
            error = path + ": " + error;
            return false;
        }
        const fs::path xml = FindDrumkitXml(pattern);
        if (xml.empty()) {
            error = path + ": no drumkit.xml in this archive";
            return false;
        }
        auto unpacked = kit.unpacked;
        const bool read = ReadDrumkitXml(xml, kit, error);
        kit.unpacked = unpacked;
        return read;
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
    for (std::size_t i = kBankSlots; i < kit.instruments.size(); ++i)
        result.leftOut.push_back(kit.instruments[i].name + ": more than 20 instruments");
    std::vector<bool> filled(kBankSlots, false);
    Prompter* asking = m.prompter;
    KitPrompter prompter(*asking);
    m.prompter = &prompter;
    for (int i = 0; i < count; ++i) {
        const KitInstrument& in = kit.instruments[i];
        prompter.cut = false;
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
