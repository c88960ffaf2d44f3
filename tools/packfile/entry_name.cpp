#include "tools/packfile/entry_name.h"

#include <cstring>

#include "tools/packfile/cp1252.h"
#include "format/packfile_header.h"

namespace {

bool IsDeviceName(const std::string& name) {
  // The device is reached whatever extension follows the base name.
  std::string base = NameKey(name.substr(0, name.find('.')));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  static const char* const kDevices[] = {"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"};
  for (const char* device : kDevices) {
    if (base == device) return true;
  }
  if (base.size() == 4 && (base.compare(0, 3, "COM") == 0 || base.compare(0, 3, "LPT") == 0)) {
    return base[3] >= '1' && base[3] <= '9';
  }
  return false;
}

}  // namespace

NameProblem CheckEntryName(const std::string& name) {
  if (name.empty()) return NameProblem::kEmpty;
  if (name == "." || name == "..") return NameProblem::kDotName;
  for (char c : name) {
    if (c == '\\' || c == '/' || c == ':') return NameProblem::kSeparator;
  }
  for (char c : name) {
    if (std::strchr("<>\"|?*", c) != nullptr && c != '\0') return NameProblem::kReservedCharacter;
    if (static_cast<unsigned char>(c) < 0x20) return NameProblem::kControlCharacter;
  }
  if (name.back() == '.' || name.back() == ' ') return NameProblem::kTrailingDotOrSpace;
  if (IsDeviceName(name)) return NameProblem::kDeviceName;
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
    case NameProblem::kPathTooLong: return "is too long: %TEMP%\\unpack\\ plus the name reaches 260 characters";
  }
  return "is invalid";
}

std::string NameKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) c = Cp1252Upper(c);
  return key;
}
