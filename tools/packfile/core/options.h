// Command-line options, declared once per command: the parser, the usage
// text and the commands read them from the same declarations.
#pragma once

#include <map>
#include <set>
#include <string>
#include <vector>

enum class OptionKind {
  kFlag,      // --replace
  kValued,    // --out FILE, at most once
  kRepeated,  // --exclude GLOB, any number of times
};

struct COptionDecl {
  const char* name;   // "--out"
  OptionKind kind;
  const char* value;  // what the value is, e.g. "FILE"; empty for a flag
  const char* help;   // one or more lines ('\n' between them)
};

struct CParsedArgs {
  std::set<std::string> flags;                            // e.g. "--replace"
  std::map<std::string, std::string> values;              // e.g. "--out" -> "setup.exe"
  std::map<std::string, std::vector<std::string>> lists;  // repeated options, e.g. "--exclude"
  std::vector<std::string> operands;                      // everything else, in order
  // The value of `option`, or `fallback` when it was not given.
  std::string Value(const std::string& option, const std::string& fallback = "") const;
  // The values of a repeated option, in the order given.
  std::vector<std::string> List(const std::string& option) const;
  bool Has(const std::string& option) const {
    return flags.count(option) || values.count(option) || lists.count(option);
  }
};

// Parses `args` ("--name value", "--name=value", "--" ends options) by
// `decls`. False with `error` naming the argument for an unknown option, a
// missing value, a value given to a flag, or a valued option given twice.
bool ParseOptions(const std::vector<std::string>& args, const std::vector<COptionDecl>& decls, CParsedArgs* parsed,
                  std::string* error);

// The option lines of a usage text: "  --out FILE   the installer to write",
// help columns aligned, continuation lines indented under the first.
std::string OptionsHelp(const std::vector<COptionDecl>& decls);
