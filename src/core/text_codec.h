#pragma once
// Texts inside songs and banks are Windows-1252 bytes; everything shown or typed is UTF-8.

#include <string>

namespace qtam {

std::string Cp1252ToUtf8(const std::string& bytes);
// Characters Windows-1252 cannot hold become '?'.
std::string Utf8ToCp1252(const std::string& text);

}  // namespace qtam
