#include "ui/qt/file_dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QRegularExpression>

#include "ui/qt/keyboard_return.h"
#include "ui/qt/text.h"
#include "ui/qt/window_placement.h"

namespace qtam {

namespace {

QString ExtensionOf(const std::string& defaultExtension) {
    QString ext = QString::fromStdString(defaultExtension);
    while (ext.startsWith('*') || ext.startsWith('.')) ext.remove(0, 1);
    return ext.toLower();
}

}  // namespace

QStringList QtNameFilters(const std::string& filter) {
    const QStringList parts = QString::fromStdString(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString name = parts[i];
        const int open = name.indexOf('(');
        if (open >= 0) name = name.left(open);
        name = name.trimmed();
        QStringList patterns;
        for (const QString& p : parts[i + 1].split(';', Qt::SkipEmptyParts)) {
            const QString pattern = p.trimmed();
            if (pattern == "*.*" || pattern == "*") {
                patterns << "*";
                continue;
            }
            patterns << pattern.toLower();
            if (pattern.toUpper() != pattern.toLower()) patterns << pattern.toUpper();
        }
        patterns.removeDuplicates();
        filters << name + " (" + patterns.join(' ') + ")";
    }
    return filters;
}

QString WithDialogExtension(const QString& path, const std::string& defaultExtension) {
    const QString ext = ExtensionOf(defaultExtension);
    if (ext.isEmpty() || QFileInfo(path).fileName().contains('.')) return path;
    return path + "." + ext;
}

void QtFileDialogs::SetFallbackParent(QWidget* parent) {
    fallback_ = parent;
    FollowActiveWindows();
    ReturnKeyboardAfterDialogs();
}

std::optional<std::string> QtFileDialogs::OpenFile(const FileDialogSpec& request) {
    return Run(request, false);
}

std::optional<std::string> QtFileDialogs::SaveFile(const FileDialogSpec& request) {
    return Run(request, true);
}

std::optional<std::string> QtFileDialogs::Run(const FileDialogSpec& request, bool saving) {
    QWidget* parent = WindowThatAsks(fallback_.data());
    QString folder = FromPath(request.initialFolder);
    // Never the program's own folder (the current one when started from there), and nothing
    // is saved into a folder that cannot take it (an installed kit's or the examples'): home.
    if (folder.isEmpty() || !QDir(folder).exists()) folder = QDir::homePath();
    if (saving && !QFileInfo(folder).isWritable()) folder = QDir::homePath();

    QFileDialog dialog(parent, QString::fromStdString(request.title), folder);
    // Qt's own dialog: the same filters, extension and behaviour on every desktop.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // Over the window that asked (its owner), never above other programs; the splash goes.
    ClearWindowsKeptOnTop();
    dialog.setNameFilters(QtNameFilters(request.filter));
    dialog.setDefaultSuffix(ExtensionOf(request.defaultExtension));
    // A filter of one kind of file gives a name typed without extension that kind's extension.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&](const QString& filter) {
        const QRegularExpressionMatch kind = QRegularExpression("\\*\\.(\\w+)").match(filter);
        dialog.setDefaultSuffix(kind.hasMatch() ? kind.captured(1).toLower()
                                                : ExtensionOf(request.defaultExtension));
    });
    if (!request.fileName.empty()) dialog.selectFile(FromPath(request.fileName));
    if (saving) {
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        // The program asks itself before it replaces a file.
        dialog.setOption(QFileDialog::DontConfirmOverwrite);
    } else {
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
    }
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const bool chosen = dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty();
    QApplication::restoreOverrideCursor();
    if (!chosen) return std::nullopt;
    return ToPath(
        WithDialogExtension(dialog.selectedFiles().first(), dialog.defaultSuffix().toStdString()));
}

}  // namespace qtam
