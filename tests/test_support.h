#pragma once
// Helpers shared by the test programs.

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/file_dialogs.h"
#include "core/machine.h"
#include "core/prompter.h"
#include "song/init_song.h"

namespace qtam::test {

// A message's own sentence: what comes before the file and the reason added to it.
inline std::string Sentence(const std::string& message) {
    return message.substr(0, message.find("\n\n"));
}
inline std::vector<std::string> Sentences(const std::vector<std::string>& messages) {
    std::vector<std::string> out;
    for (const std::string& m : messages) out.push_back(Sentence(m));
    return out;
}

// Records every message and answers questions from a script (No once the script runs out).
class ScriptedPrompter : public Prompter {
public:
    std::vector<std::string> warnings;
    std::vector<std::string> questions;
    std::deque<bool> answers;
    int busyDepth = 0;
    int busyCalls = 0;

    void Warn(const std::string& text) override { warnings.push_back(text); }
    std::vector<std::string> notes;  // what Inform told
    void Inform(const std::string& text) override { notes.push_back(text); }
    bool AskYesNo(const std::string& text) override {
        questions.push_back(text);
        if (answers.empty()) return false;
        bool a = answers.front();
        answers.pop_front();
        return a;
    }
    // Yes/No/Cancel questions take their answers from here (Cancel once it runs out).
    std::deque<Answer> answers3;
    Answer AskYesNoCancel(const std::string& text) override {
        questions.push_back(text);
        if (answers3.empty()) return Answer::Cancel;
        Answer a = answers3.front();
        answers3.pop_front();
        return a;
    }
    void SetBusy(bool busy) override {
        busyDepth += busy ? 1 : -1;
        ++busyCalls;
    }
};

// Records every file dialog shown and answers from a script (Cancel once it runs out).
class ScriptedFileDialogs : public FileDialogs {
public:
    std::vector<FileDialogSpec> shown;
    std::vector<bool> shownForSaving;
    std::deque<std::optional<std::string>> answers;

    std::optional<std::string> OpenFile(const FileDialogSpec& request) override {
        return Answer(request, false);
    }
    std::optional<std::string> SaveFile(const FileDialogSpec& request) override {
        return Answer(request, true);
    }

private:
    std::optional<std::string> Answer(const FileDialogSpec& request, bool saving) {
        shown.push_back(request);
        shownForSaving.push_back(saving);
        if (answers.empty()) return std::nullopt;
        std::optional<std::string> a = answers.front();
        answers.pop_front();
        return a;
    }
};

// A machine with a new Song, as after start-up.
inline std::unique_ptr<Machine> NewMachine() {
    auto m = std::make_unique<Machine>();
    InitSong(*m);
    return m;
}

// An edit that was not saved: the Song's bytes differ from the saved ones (in a padding byte,
// which nothing reads).
inline void MakeUnsavedEdit(Machine& m) {
    m.song.padding2 ^= 1;
}

// Puts a hand-made sound into a bank slot.
inline void SetSound(SampleBank& bank, int slot, const std::vector<std::int16_t>& samples,
                     const std::string& name = "test") {
    std::int16_t* buf = bank.ensureBuffer(slot);
    for (std::size_t i = 0; i < samples.size(); ++i) buf[i] = samples[i];
    SampleSlot& s = bank.slot(slot);
    s.sampleCount = static_cast<std::int32_t>(samples.size());
    s.name = name;
}

inline void SetNote(Machine& m, int pattern, int measure, int channel, int slot, int velocity,
                    int pan = 64, int reversed = 0) {
    StepCell& c = m.song.cell(pattern, measure, channel, slot);
    c.velocity = static_cast<std::int8_t>(velocity);
    c.pan = static_cast<std::uint8_t>(pan);
    c.reversed = static_cast<std::uint8_t>(reversed);
}

}  // namespace qtam::test
