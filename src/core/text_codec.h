#pragma once
// Texts inside songs and banks are Windows-1252 bytes; everything shown or typed is UTF-8.

#include <string>

namespace qtam {

std::string Cp1252ToUtf8(const std::string& bytes);
// Characters Windows-1252 cannot hold become '?'.
std::string Utf8ToCp1252(const std::string& text);

// A bank text without the blanks that pad it to its field.
std::string WithoutTrailingBlanks(std::string text);

// The Windows-1252 byte of a code point, or -1 when the code page has none. The five bytes the
// code page leaves undefined have no code point here either.
int Cp1252ByteOf(char32_t cp);
// The code point of a Windows-1252 byte; 0 for the five undefined bytes 0x81, 0x8D, 0x8F,
// 0x90 and 0x9D.
char32_t CodePointOfCp1252(unsigned char byte);

}  // namespace qtam
