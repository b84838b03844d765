#pragma once
// The Prompter of the windows: modal message boxes and the hourglass as an override cursor.
// A box runs a nested event loop in which the playback events go on being handled, so the
// callers ask only where the Song, the banks and the play clock are consistent.
//
// Thread: the user-interface thread.

#include <QPointer>
#include <QString>
#include <QWidget>

#include "core/prompter.h"

class QMessageBox;

namespace qtam {

inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kInformationCaption = "Information";
inline constexpr const char* kConfirmCaption = "Confirm";

class QtPrompter : public Prompter {
public:
    ~QtPrompter() override;
    // The window a box belongs to when no other window of the program asks (see
    // WindowThatAsks); starts following the active window.
    void SetFallbackParent(QWidget* parent);

    void Warn(const std::string& text) override;
    void Inform(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    Answer AskYesNoCancel(const std::string& text) override;
    void SetBusy(bool busy) override;

    int busyDepth() const { return busyDepth_; }

private:
    QWidget* Parent() const;
    // Shows the box with the normal cursor over it, whatever the busy state.
    void Run(QMessageBox& box);

    QPointer<QWidget> fallback_;
    int busyDepth_ = 0;
};

}  // namespace qtam
