// Checks a package's entry names together: each name on its own, and names
// that Windows would take for the same file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

struct CNameIssue {
  std::size_t index = 0;  // the entry the issue is about
  bool error = false;     // false: a warning
  std::string text;       // e.g. "contains a path separator (\ / :)"
  std::string id;         // a warning's id for --allow, e.g. "long-name"
};

// The warnings' ids, for --allow.
constexpr char kAllowLongName[] = "long-name";
constexpr char kAllowNonAsciiName[] = "non-ascii-name";
constexpr char kAllowShortNameAlias[] = "short-name-alias";

// Issues of Windows-1252 names in package order; empty when all are fine.
std::vector<CNameIssue> CheckNameList(const std::vector<std::string>& names);

// True when `name` is run.bat as Windows compares names.
bool IsRunBat(const std::string& name);

// True when one of `names` is run.bat.
bool HasRunBat(const std::vector<std::string>& names);
