#pragma once
// The qtam-cli commands that live in files of their own.

#include <string>
#include <vector>

namespace qtam::cli {

// qtam-cli bank new|info|export ...; `args` are the words after "bank".
int RunBank(const std::vector<std::string>& args);
extern const char* const kBankUsage;

// qtam-cli midi SONG -o OUT.mid [-p N]
int RunMidi(const std::vector<std::string>& args);
extern const char* const kMidiUsage;

}  // namespace qtam::cli
