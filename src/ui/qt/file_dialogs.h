#pragma once
// The FileDialogs of the windows: Qt's own open and save dialogs (the same on every desktop,
// and scriptable in tests).
//
// Thread: the user-interface thread.

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>

#include "core/file_dialogs.h"

class QFileDialog;

namespace qtam {

// "Song files (*.sng)|*.sng|All files (*.*)|*.*" as Qt's name filters, each pattern in both
// cases: {"Song files (*.sng *.SNG)", "All files (*)"}.
QStringList QtNameFilters(const std::string& filter);
// A chosen file whose name has no "." gets the default extension ("sng", ".sng" or "*.sng").
QString WithDialogExtension(const QString& path, const std::string& defaultExtension);

class QtFileDialogs : public FileDialogs {
public:
    // The window a dialog belongs to when no other window of the program asks (see
    // WindowThatAsks); starts following the active window.
    void SetFallbackParent(QWidget* parent);

    std::optional<std::string> OpenFile(const FileDialogSpec& request) override;
    std::optional<std::string> SaveFile(const FileDialogSpec& request) override;

private:
    std::optional<std::string> Run(const FileDialogSpec& request, bool saving);

    QPointer<QWidget> fallback_;
};

}  // namespace qtam
