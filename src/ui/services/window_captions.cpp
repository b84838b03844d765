#include "ui/services/window_captions.h"

#include "core/machine.h"
#include "core/sample_bank.h"
#include "core/song.h"
#include "core/text_codec.h"

namespace qtam {

std::string SongTitleLine(const std::string& songFileName, const Song& song) {
    std::string caption;
    if (!songFileName.empty()) caption = songFileName + " - ";
    const std::string title = song.title.str();
    if (title.empty()) {
        caption += std::string("\"") + kUntitledSong + "\"";
    } else {
        caption += "\"" + title + "\"";
        const std::string author = song.author.str();
        if (!author.empty()) caption += " by " + author;
    }
    return caption;
}

std::string UserbankCaption(const BankActivation& activation, const SampleBank& userbank) {
    // A missing song bank leaves UserbankLoaded set over an empty bank, with no path.
    if (!activation.UserbankLoaded || activation.UserbankPath.empty()) return kNoUserbankCaption;
    // Appended piece by piece: g++ 12 warns falsely (-Wrestrict) on "[" + text + "]".
    std::string caption = "[";
    caption += WithoutTrailingBlanks(userbank.description);
    caption += ']';
    return caption;
}

}  // namespace qtam
