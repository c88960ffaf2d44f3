#include "tools/packfile/name_list.h"

#include <map>

#include "package/entry_name.h"
#include "tools/packfile/shown_name.h"

std::vector<CNameIssue> CheckNameList(const std::vector<std::string>& names) {
  std::vector<CNameIssue> issues;
  std::map<std::string, std::size_t> seen;
  for (std::size_t k = 0; k < names.size(); ++k) {
    NameProblem problem = CheckEntryName(names[k]);
    if (problem != NameProblem::kNone) {
      issues.push_back(CNameIssue{k, true, DescribeNameProblem(problem)});
      continue;
    }
    if (names[k].size() > kLongNameWarning) {
      issues.push_back(CNameIssue{k, false,
                                  "is over " + std::to_string(kLongNameWarning) +
                                      " characters: a long user name can push the path past 259"});
    }
    auto inserted = seen.emplace(NameKey(names[k]), k);
    if (!inserted.second) {
      std::size_t first = inserted.first->second;
      issues.push_back(CNameIssue{k, true, "is the same file name to Windows as entry " + std::to_string(first + 1) +
                                               " (" + ShownName(names[first]) + ")"});
    }
  }
  return issues;
}

bool HasRunBat(const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (NameKey(name) == "RUN.BAT") return true;
  }
  return false;
}
