#include "song/song_info.h"

#include "core/files.h"
#include "core/machine.h"

namespace qtam {

namespace {

// Compares what would be stored, so text beyond the limit cannot count as a change.
template <std::size_t Capacity>
bool StoreIfDifferent(ShortString<Capacity>& field, const std::string& text) {
    const std::string cut = text.substr(0, kSongInfoTextLimit);
    if (field.str() == cut) return false;
    field.set(cut);
    return true;
}

}  // namespace

SongInfoView SongInfoDialog::Show(const Machine& m, SongInfoMode mode) {
    mode_ = mode;
    const Song& s = m.song;
    SongInfoView view;
    view.fields.title = s.title.str();
    view.fields.subtitle = s.subtitle.str();
    view.fields.author = s.author.str();
    view.fields.copyright = s.copyright.str();
    view.fields.showInfoOnOpen = s.showInfoOnOpen == 1;
    view.textsReadOnly = mode == SongInfoMode::View;
    view.popupVisible = mode == SongInfoMode::Edit;
    view.bankname = s.userbankDescription.str();
    view.fileName = FileNameOf(s.userbankFile.str());
    return view;
}

bool SongInfoDialog::Ok(Machine& m, const SongInfoFields& edited) {
    bool changed = false;
    if (mode_ == SongInfoMode::Edit) {
        Song& s = m.song;
        changed |= StoreIfDifferent(s.title, edited.title);
        changed |= StoreIfDifferent(s.subtitle, edited.subtitle);
        changed |= StoreIfDifferent(s.author, edited.author);
        changed |= StoreIfDifferent(s.copyright, edited.copyright);
        const std::uint8_t popup = edited.showInfoOnOpen ? 1 : 0;
        if (s.showInfoOnOpen != popup) {
            s.showInfoOnOpen = popup;
            changed = true;
        }
    }
    mode_ = SongInfoMode::Edit;
    return changed;
}

}  // namespace qtam
