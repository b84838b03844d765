#pragma once
// A private-profile file: "[Section]" lines, then "key=value" lines. Sections and keys match
// without regard to case; the first of two equal sections or keys counts. Every line the
// program does not own (comments, other sections, other keys) is kept as it was read.

#include <string>
#include <vector>

namespace qtam {

// Texts are read up to this many characters.
inline constexpr std::size_t kProfileTextLimit = 1023;

class PrivateProfile {
public:
    // Takes the text of a file ("\n" or "\r\n" line ends).
    void Parse(const std::string& text);
    // The file's text as it will be written: one line per entry, each ended by "\n".
    std::string Text() const;

    bool Has(const std::string& section, const std::string& key) const;
    // The value without the blanks around it (and without one pair of enclosing quotes),
    // cut to kProfileTextLimit characters; `fallback` when the key is absent.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& fallback) const;
    // Decimal, or hexadecimal after "0x" / "0X", with an optional sign; `fallback` when the
    // key is absent, the text is no number or the number does not fit an int.
    int ReadInteger(const std::string& section, const std::string& key, int fallback) const;

    // Replaces the key's value, or adds the key at the end of its section, or the section at
    // the end of the file. A value is one line: it is cut at its first line break.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    void WriteInteger(const std::string& section, const std::string& key, int value);

private:
    // Index of the section's "[...]" line, or -1.
    int FindSection(const std::string& section) const;
    // Index of the key's line within the section starting at `sectionLine`, or -1.
    int FindKey(int sectionLine, const std::string& key) const;
    // Index one past the last non-blank line of the section starting at `sectionLine`.
    int SectionEnd(int sectionLine) const;
    const std::string* Find(const std::string& section, const std::string& key) const;

    std::vector<std::string> lines_;
};

// Parses a whole text as a profile integer (see ReadInteger); false when it is none.
bool ParseProfileInteger(const std::string& text, int& value);

enum class ProfileRead { Read, Missing, Unreadable };
// Reads a profile file. A missing file gives an empty profile; so does one that exists but
// cannot be read (Unreadable), which the caller must then not replace.
ProfileRead LoadProfile(const std::string& path, PrivateProfile& into);
// Writes the profile through a temporary file renamed over the target (a symbolic link is
// followed), creating the folder if needed. False, with the system's reason, when the file
// could not be written; the previous file is then unchanged.
bool SaveProfile(const std::string& path, const PrivateProfile& profile, std::string* error);

}  // namespace qtam
