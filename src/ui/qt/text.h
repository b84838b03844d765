#pragma once
// Song and bank texts are Windows-1252 bytes; Qt shows and edits Unicode. Conversions happen
// here, at the windows' boundary, and nowhere else.

#include <QString>
#include <string>

namespace qtam {

QString FromCp1252(const std::string& bytes);
// Characters Windows-1252 cannot hold become '?'; CanHoldInCp1252 tells beforehand.
std::string ToCp1252(const QString& text);
bool CanHoldInCp1252(const QString& text);

// File names: the file system's bytes, shown as the desktop shows them.
QString FromPath(const std::string& path);
std::string ToPath(const QString& path);

}  // namespace qtam
