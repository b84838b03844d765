#include "ui/qt/text.h"

#include <QFile>

#include "core/text_codec.h"

namespace qtam {

QString FromCp1252(const std::string& bytes) {
    return QString::fromStdString(Cp1252ToUtf8(bytes));
}

std::string ToCp1252(const QString& text) {
    return Utf8ToCp1252(text.toStdString());
}

bool CanHoldInCp1252(const QString& text) {
    // A character survives the round trip exactly when Windows-1252 holds it.
    return FromCp1252(ToCp1252(text)) == text;
}

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

std::string ToPath(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

}  // namespace qtam
