#pragma once
// How the core talks to the person at the keyboard: warning boxes, Yes/No questions and the
// busy cursor. The windows show real message boxes, the command-line tool prints, tests script.

#include <string>

namespace qtam {

enum class Answer { Yes, No, Cancel };

class Prompter {
public:
    virtual ~Prompter() = default;
    // A warning box with an OK button.
    virtual void Warn(const std::string& text) = 0;
    // A box with an OK button that tells of something done (a render written, a kit
    // imported); where nothing tells the two apart, a warning.
    virtual void Inform(const std::string& text) { Warn(text); }
    // A confirmation box with Yes and No; true means Yes.
    virtual bool AskYesNo(const std::string& text) = 0;
    // A confirmation box with Yes, No and Cancel (the questions that guard unsaved work);
    // Escape and the close box answer Cancel. Where no one can answer Cancel, the Yes/No
    // question stands in for it.
    virtual Answer AskYesNoCancel(const std::string& text) {
        return AskYesNo(text) ? Answer::Yes : Answer::No;
    }
    // The hourglass cursor on (true) or off (false).
    virtual void SetBusy(bool busy) = 0;
};

// Shows nothing and declines every question.
class SilentPrompter : public Prompter {
public:
    void Warn(const std::string&) override {}
    bool AskYesNo(const std::string&) override { return false; }
    // Nothing is given up unasked.
    Answer AskYesNoCancel(const std::string&) override { return Answer::Cancel; }
    void SetBusy(bool) override {}
};

// Shows the busy cursor for the lifetime of the object.
class BusyCursor {
public:
    explicit BusyCursor(Prompter& p) : prompter_(p) { prompter_.SetBusy(true); }
    ~BusyCursor() { prompter_.SetBusy(false); }
    BusyCursor(const BusyCursor&) = delete;
    BusyCursor& operator=(const BusyCursor&) = delete;

private:
    Prompter& prompter_;
};

}  // namespace qtam
