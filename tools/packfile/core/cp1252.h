// Windows-1252, the code page entry names are stored in: the launcher turns
// them back into UTF-16 with the ANSI code page of a Western-European system.
#pragma once

#include <cstdint>
#include <string>

// Converts UTF-8 to Windows-1252; false (out unchanged) when the text is not
// valid UTF-8 or holds a character the code page lacks.
bool Utf8ToCp1252(const std::string& utf8, std::string* out);

// Converts Windows-1252 to UTF-8; the five undefined bytes become U+FFFD.
std::string Cp1252ToUtf8(const std::string& text);

// Appends one Unicode code point to `out` as UTF-8.
void AppendUtf8(std::uint32_t codePoint, std::string* out);

// Uppercases one Windows-1252 character the way the file system compares
// names: ASCII and the Latin letters that have an uppercase form in the page.
char Cp1252Upper(char c);
