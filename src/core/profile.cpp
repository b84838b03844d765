#include "core/profile.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>

#include "core/files.h"

namespace qtam {

namespace {

std::string Trim(const std::string& s) {
    const char* blanks = " \t\r";
    const std::size_t first = s.find_first_not_of(blanks);
    if (first == std::string::npos) return {};
    const std::size_t last = s.find_last_not_of(blanks);
    return s.substr(first, last - first + 1);
}

bool SameName(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        unsigned char x = static_cast<unsigned char>(a[i]);
        unsigned char y = static_cast<unsigned char>(b[i]);
        if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// "[Name]" (blanks allowed around and inside the brackets).
bool SectionName(const std::string& line, std::string& name) {
    const std::string t = Trim(line);
    if (t.empty() || t.front() != '[') return false;
    const std::size_t close = t.find(']');
    if (close == std::string::npos) return false;
    name = Trim(t.substr(1, close - 1));
    return true;
}

// "key=value"; comment lines (";" or "#") and lines without "=" are no keys.
bool KeyLine(const std::string& line, std::string& key, std::string* value = nullptr) {
    const std::string t = Trim(line);
    if (t.empty() || t.front() == ';' || t.front() == '#' || t.front() == '[') return false;
    const std::size_t eq = t.find('=');
    if (eq == std::string::npos) return false;
    key = Trim(t.substr(0, eq));
    if (key.empty()) return false;
    if (value != nullptr) *value = Trim(t.substr(eq + 1));
    return true;
}

int DigitValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

}  // namespace

bool ParseProfileInteger(const std::string& text, int& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    int base = 10;
    if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i == text.size()) return false;
    long long n = 0;
    for (; i < text.size(); ++i) {
        const int d = DigitValue(text[i]);
        if (d >= base) return false;
        n = n * base + d;
        if (n > static_cast<long long>(std::numeric_limits<int>::max()) + 1) return false;
    }
    if (negative) n = -n;
    if (n > std::numeric_limits<int>::max() || n < std::numeric_limits<int>::min()) return false;
    value = static_cast<int>(n);
    return true;
}

void PrivateProfile::Parse(const std::string& text) {
    lines_.clear();
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        // Carriage returns end a line however many there are, so a file reads the same after
        // it was written back.
        while (!line.empty() && line.back() == '\r') line.pop_back();
        lines_.push_back(std::move(line));
        start = end + 1;
    }
}

std::string PrivateProfile::Text() const {
    std::string text;
    for (const std::string& line : lines_) {
        text += line;
        text += '\n';
    }
    return text;
}

int PrivateProfile::FindSection(const std::string& section) const {
    std::string name;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], name) && SameName(name, section)) return static_cast<int>(i);
    }
    return -1;
}

int PrivateProfile::FindKey(int sectionLine, const std::string& key) const {
    std::string name;
    for (std::size_t i = static_cast<std::size_t>(sectionLine) + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], name)) break;
        if (KeyLine(lines_[i], name) && SameName(name, key)) return static_cast<int>(i);
    }
    return -1;
}

int PrivateProfile::SectionEnd(int sectionLine) const {
    std::string name;
    int end = sectionLine + 1;
    for (std::size_t i = static_cast<std::size_t>(sectionLine) + 1; i < lines_.size(); ++i) {
        if (SectionName(lines_[i], name)) break;
        if (!Trim(lines_[i]).empty()) end = static_cast<int>(i) + 1;
    }
    return end;
}

const std::string* PrivateProfile::Find(const std::string& section, const std::string& key) const {
    const int s = FindSection(section);
    if (s < 0) return nullptr;
    const int k = FindKey(s, key);
    return k < 0 ? nullptr : &lines_[static_cast<std::size_t>(k)];
}

bool PrivateProfile::Has(const std::string& section, const std::string& key) const {
    return Find(section, key) != nullptr;
}

std::string PrivateProfile::ReadString(const std::string& section, const std::string& key,
                                       const std::string& fallback) const {
    const std::string* line = Find(section, key);
    if (line == nullptr) return fallback;
    std::string name, value;
    KeyLine(*line, name, &value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    if (value.size() > kProfileTextLimit) value.resize(kProfileTextLimit);
    return value;
}

int PrivateProfile::ReadInteger(const std::string& section, const std::string& key,
                                int fallback) const {
    if (!Has(section, key)) return fallback;
    int value = 0;
    return ParseProfileInteger(ReadString(section, key, ""), value) ? value : fallback;
}

void PrivateProfile::WriteString(const std::string& section, const std::string& key,
                                 const std::string& value) {
    // A line break inside a value would start a line of its own: another key, or a section.
    std::string line = key + "=" + value.substr(0, value.find_first_of("\r\n"));
    int s = FindSection(section);
    if (s < 0) {
        if (!lines_.empty() && !Trim(lines_.back()).empty()) lines_.emplace_back();
        lines_.push_back("[" + section + "]");
        lines_.push_back(std::move(line));
        return;
    }
    const int k = FindKey(s, key);
    if (k >= 0) {
        lines_[static_cast<std::size_t>(k)] = std::move(line);
        return;
    }
    lines_.insert(lines_.begin() + SectionEnd(s), std::move(line));
}

void PrivateProfile::WriteInteger(const std::string& section, const std::string& key, int value) {
    WriteString(section, key, std::to_string(value));
}

ProfileRead LoadProfile(const std::string& path, PrivateProfile& into) {
    into = PrivateProfile();
    std::error_code ec;
    if (!std::filesystem::exists(path, ec) && !ec) return ProfileRead::Missing;
    if (!IsRegularFile(path)) return ProfileRead::Unreadable;
    std::optional<std::vector<std::uint8_t>> bytes = ReadWholeFile(path);
    if (!bytes) return ProfileRead::Unreadable;
    into.Parse(std::string(bytes->begin(), bytes->end()));
    return ProfileRead::Read;
}

bool SaveProfile(const std::string& path, const PrivateProfile& profile, std::string* error) {
    std::error_code ec;
    std::filesystem::path target = path;
    // Replace what a link points at, not the link.
    if (std::filesystem::is_symlink(target, ec)) {
        std::filesystem::path resolved = std::filesystem::weakly_canonical(target, ec);
        if (!ec) target = resolved;
    }
    if (target.has_parent_path()) {
        std::filesystem::create_directories(target.parent_path(), ec);
        if (ec) {
            if (error != nullptr) *error = "cannot create the folder: " + ec.message();
            return false;
        }
    }
    SafeFileWriter out;
    const std::string text = profile.Text();
    const bool ok =
        out.Open(target.string()) && out.Write(text.data(), text.size()) && out.Commit();
    if (!ok && error != nullptr) *error = out.error();
    return ok;
}

}  // namespace qtam
