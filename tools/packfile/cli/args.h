// A small command-line parser: flags, options with a value, and operands.
#pragma once

#include <map>
#include <ostream>
#include <set>
#include <string>
#include <vector>

struct CParsedArgs {
  std::set<std::string> flags;                 // e.g. "--replace"
  std::map<std::string, std::string> values;   // e.g. "--out" -> "setup.exe"
  std::map<std::string, std::vector<std::string>> lists;  // repeatable options, e.g. "--exclude"
  std::vector<std::string> operands;           // everything else, in order
  // The value of `option`, or `fallback` when it was not given.
  std::string Value(const std::string& option, const std::string& fallback = "") const;
  bool Has(const std::string& option) const {
    return flags.count(option) || values.count(option) || lists.count(option);
  }
};

// Parses `args` ("--name value", "--name=value", "--" ends options). Returns
// false with `error` naming the argument for an unknown option, a missing
// value, or an option given twice. Options in `repeatable` may be given
// any number of times; their values go to `lists`.
bool ParseArgs(const std::vector<std::string>& args, const std::set<std::string>& flags,
               const std::set<std::string>& valued, CParsedArgs* parsed, std::string* error,
               const std::set<std::string>& repeatable = {});

// The common start of a command that takes `flags` and exactly `operands`
// operands: parses them into `parsed`. Returns true when the command goes on;
// false after printing the help (for --help, *exitCode 0) or the usage error
// with the help (*exitCode 2). `expected` words the operands for the error,
// e.g. "list takes one FILE".
bool ParseCommandArgs(const std::vector<std::string>& args, const std::set<std::string>& flags,
                      std::size_t operands, const char* expected, const char* help, std::ostream& out,
                      std::ostream& err, CParsedArgs* parsed, int* exitCode);
