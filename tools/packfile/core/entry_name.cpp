#include "tools/packfile/core/entry_name.h"

#include "format/reading_rules.h"
#include "tools/packfile/core/cp1252.h"

// The launcher's own rules first (format/reading_rules.h): a name they refuse
// is one the launcher skips. Then the rules a builder adds, for names that a
// launcher would write but under another name or not on every machine.
NameProblem CheckEntryName(const std::string& name) {
  switch (CheckEntryNameRules(name.data(), name.size())) {
    case EntryNameFault::kNone: break;
    case EntryNameFault::kEmpty: return NameProblem::kEmpty;
    case EntryNameFault::kSeparator: return NameProblem::kSeparator;
    case EntryNameFault::kControlCharacter: return NameProblem::kControlCharacter;
    // Such a name always ends with a dot or a blank.
    case EntryNameFault::kDotsAndBlanks:
      return name == "." || name == ".." ? NameProblem::kDotName : NameProblem::kTrailingDotOrSpace;
    case EntryNameFault::kDeviceName: return NameProblem::kDeviceName;
  }
  if (HasReservedNameUnit(name.data(), name.size())) return NameProblem::kReservedCharacter;
  if (name.back() == '.' || name.back() == ' ') return NameProblem::kTrailingDotOrSpace;
  if (name.size() >= kPackNameSize) return NameProblem::kTooLong;
  if (kTypicalWorkDirLength + name.size() >= 260) return NameProblem::kPathTooLong;
  return NameProblem::kNone;
}

const char* DescribeNameProblem(NameProblem problem) {
  switch (problem) {
    case NameProblem::kNone: return "is a valid name";
    case NameProblem::kEmpty: return "is empty";
    case NameProblem::kDotName: return "is \".\" or \"..\"";
    case NameProblem::kSeparator: return "contains a path separator (\\ / :)";
    case NameProblem::kReservedCharacter: return "contains a character Windows forbids in file names (< > \" | ? *)";
    case NameProblem::kControlCharacter: return "contains a control character";
    case NameProblem::kTrailingDotOrSpace: return "ends with a dot or a space, which Windows drops";
    case NameProblem::kDeviceName: return "is a Windows device name";
    case NameProblem::kTooLong: return "is longer than 259 bytes";
    case NameProblem::kPathTooLong: return "is too long: %TEMP%\\unpack.0123abcd\\ plus the name reaches 260 characters";
  }
  return "is invalid";
}

std::string NameKey(const std::string& name) {
  // Names the launcher creates as one file are one name.
  std::string key = name.substr(0, CreatedNameLength(name.data(), name.size()));
  for (char& c : key) c = Cp1252Upper(c);
  return key;
}
