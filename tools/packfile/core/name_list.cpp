#include "tools/packfile/core/name_list.h"

#include <algorithm>
#include <map>

#include "format/reading_rules.h"
#include "tools/packfile/core/entry_name.h"
#include "tools/packfile/core/shown_name.h"

namespace {

bool IsAscii(const std::string& name) {
  for (char c : name) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

// NAME~1.EXT: up to six characters, a tilde and digits, an extension of up to
// three, the shape Windows gives the short alias of a long name.
bool LooksLikeShortAlias(const std::string& name) {
  std::string::size_type tilde = name.find('~');
  if (tilde == std::string::npos || tilde == 0 || tilde > 6) return false;
  std::string::size_type dot = name.find('.', tilde);
  std::string digits = name.substr(tilde + 1, dot == std::string::npos ? std::string::npos : dot - tilde - 1);
  if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return false;
  return dot == std::string::npos || name.size() - dot - 1 <= 3;
}

}  // namespace

std::vector<CNameIssue> CheckNameList(const std::vector<std::string>& names) {
  std::vector<CNameIssue> issues;
  std::map<std::string, std::size_t> seen;
  for (std::size_t k = 0; k < names.size(); ++k) {
    NameProblem problem = CheckEntryName(names[k]);
    if (problem != NameProblem::kNone) {
      issues.push_back(CNameIssue{k, true, DescribeNameProblem(problem), ""});
      continue;
    }
    if (names[k].size() > kLongNameWarning) {
      issues.push_back(CNameIssue{k, false,
                                  "is over " + std::to_string(kLongNameWarning) +
                                      " characters: a long user name can push the path past 259",
                                  kAllowLongName});
    }
    if (!IsAscii(names[k])) {
      issues.push_back(CNameIssue{k, false,
                                  "has characters outside ASCII: the launcher decodes names with the target "
                                  "machine's ANSI code page, so outside Windows-1252 the file gets another name",
                                  kAllowNonAsciiName});
    }
    if (LooksLikeShortAlias(names[k])) {
      issues.push_back(CNameIssue{k, false,
                                  "looks like a short-name alias (NAME~1.EXT): on a volume with short names it "
                                  "can stand for another file's long name",
                                  kAllowShortNameAlias});
    }
    auto inserted = seen.emplace(NameKey(names[k]), k);
    if (!inserted.second) {
      std::size_t first = inserted.first->second;
      issues.push_back(CNameIssue{k, true, "is the same file name to Windows as entry " + std::to_string(first + 1) +
                                               " (" + ShownName(names[first]) + ")", ""});
    }
  }
  return issues;
}

bool IsRunBat(const std::string& name) { return NameKey(name) == NameKey(UNPACK_BATCH_FILE_NAME); }

bool HasRunBat(const std::vector<std::string>& names) {
  return std::any_of(names.begin(), names.end(), IsRunBat);
}
