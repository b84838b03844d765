#pragma once
// How the core asks for a file name: the open and save dialogs. The windows show the desktop's
// file dialogs, tests script the chosen file.

#include <optional>
#include <string>

namespace qtam {

struct FileDialogSpec {
    std::string title;             // the dialog's caption, e.g. "Open a song"
    std::string filter;            // "Song files (*.sng)|*.sng|All files (*.*)|*.*"
    std::string defaultExtension;  // "sng": added to a typed name without any "."
    std::string initialFolder;     // where the dialog starts; empty: the current folder
    std::string fileName{};        // the name the dialog proposes; empty: none
};

class FileDialogs {
public:
    virtual ~FileDialogs() = default;
    // The chosen file, or nullopt when the dialog was cancelled.
    virtual std::optional<std::string> OpenFile(const FileDialogSpec& request) = 0;
    virtual std::optional<std::string> SaveFile(const FileDialogSpec& request) = 0;
};

}  // namespace qtam
