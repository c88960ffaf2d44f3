// The rules an entry name must meet so that the launcher can create the file
// it names directly inside its work directory.
#pragma once

#include <cstddef>
#include <string>

enum class NameProblem {
  kNone,
  kEmpty,
  kDotName,            // "." or ".."
  kSeparator,          // \ / or :
  kReservedCharacter,  // < > " | ? *
  kControlCharacter,   // bytes 0x00-0x1F
  kTrailingDotOrSpace, // Windows drops them, so the file would get another name
  kDeviceName,         // CON, nul.txt, COM0, LPT\xB9... open a device instead of a file
  kTooLong,            // does not fit the 260-byte field with its terminator
  kPathTooLong,        // the typical work directory plus the name reaches 260
};

// Names longer than this work on a typical machine but not with long user names.
constexpr std::size_t kLongNameWarning = 200;

// Checks a Windows-1252 name; returns the first problem found, kNone if none.
NameProblem CheckEntryName(const std::string& name);

// A short phrase for a problem, e.g. "contains a path separator".
const char* DescribeNameProblem(NameProblem problem);

// The name uppercased, for finding names that Windows takes as the same file.
std::string NameKey(const std::string& name);
