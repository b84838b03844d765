#pragma once
// The Song information window without its widgets: which texts it shows, whether they can be
// edited, and what "Ok" stores. Texts are Windows-1252 bytes, as in the Song.

#include <cstdint>
#include <string>

namespace qtam {

struct Machine;

enum class SongInfoMode : std::uint8_t { View = 0, Edit = 1 };

// The four edits and the check box.
struct SongInfoFields {
    std::string title;
    std::string subtitle;
    std::string author;
    std::string copyright;
    bool showInfoOnOpen = false;
};

struct SongInfoView {
    SongInfoFields fields;
    bool textsReadOnly = false;
    bool popupVisible = true;
    std::string bankname;  // userbankDescription, display only
    std::string fileName;  // file-name part of userbankFile, display only
};

inline constexpr std::size_t kSongInfoTextLimit = 50;

class SongInfoDialog {
public:
    // Edit from "Song info"; view when an opened song introduces itself.
    SongInfoView Show(const Machine& m, SongInfoMode mode);

    // In edit mode stores each field that differs (cut to 50 bytes); in view mode stores
    // nothing. Edit mode afterwards. Returns whether anything was stored.
    bool Ok(Machine& m, const SongInfoFields& edited);
    // Stores nothing; the mode stays.
    void Cancel() {}

    SongInfoMode mode() const { return mode_; }

private:
    SongInfoMode mode_ = SongInfoMode::Edit;
};

}  // namespace qtam
