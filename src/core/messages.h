#pragma once
// Texts shared by every writer of songs, banks and sound files.

#include <string>

namespace qtam {

inline constexpr const char* kMsgFileExists = "This file exists... Do you want to overwrite it?";
inline constexpr const char* kMsgCannotCreate =
    "The file could not be created. Make sure you are not writing to a CD-Rom, a write protected "
    "diskette or a full disk...";

// A file operation that failed: the message's own sentence, then the file and the system's
// reason (or what was wrong with the file), each on a line of its own.
inline std::string FileFailureText(const std::string& message, const std::string& path,
                                   const std::string& reason) {
    std::string text = message + "\n\nFile: " + path;
    if (!reason.empty()) text += "\nReason: " + reason;
    return text;
}

// A write that failed after the file was created; names the file and the system's reason.
inline std::string WriteFailedText(const std::string& fileName, const std::string& reason) {
    return "The file \"" + fileName + "\" could not be written (" + reason +
           "). The previous contents of the file are unchanged.";
}

}  // namespace qtam
