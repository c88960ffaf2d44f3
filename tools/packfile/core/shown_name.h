// Names as packfile prints them. An entry name comes from the file being read,
// so a control character in it could move the cursor, clear the screen or
// forge a row of a listing; each such byte is shown as \xNN instead.
#pragma once

#include <cstddef>
#include <string>

// A Windows-1252 entry name as UTF-8, control characters and backslashes
// escaped (a backslash is escaped so that an escape cannot be forged).
std::string ShownName(const std::string& cp1252);

// A host path or other UTF-8 text, C0 and C1 control characters escaped.
std::string ShownText(const std::string& utf8);

// "entry N (NAME)": how a message names the entry at `index` (from 0), its
// Windows-1252 name shown as ShownName shows it.
std::string EntryLabel(std::size_t index, const std::string& cp1252);
