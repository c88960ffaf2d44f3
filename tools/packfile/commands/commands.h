// packfile's commands, each declared once: its name, summary, usage, options
// and operands, and the function that runs it. cli/ dispatches through the
// table of these, and builds each command's help and parses its options from
// the same declaration.
#pragma once

#include <cstddef>
#include <istream>
#include <ostream>
#include <string>
#include <vector>

#include "tools/packfile/core/diagnostics.h"
#include "tools/packfile/core/options.h"

// What a command runs with: its parsed arguments, standard input, its report
// stream and the diagnostics sink. The command returns an ExitCode.
struct CCommandRun {
  const CParsedArgs& args;
  std::istream& in;
  std::ostream& out;
  CDiagnostics& diagnostics;
};

struct CCommand {
  const char* name;         // "build"
  const char* summary;      // one line for `packfile --help`
  const char* usage;        // after "usage: packfile ", e.g. "list [--json] [--sha256] FILE"
  const char* description;  // paragraphs between the usage line and the options
  std::vector<COptionDecl> options;  // --help is added to every command
  std::size_t minOperands;
  std::size_t maxOperands;  // SIZE_MAX: no limit
  const char* operands;     // the usage error for a wrong count, e.g. "list takes one FILE"
  int (*run)(const CCommandRun& run);
  const char* jsonSchema;   // the schema of its --json document; nullptr without --json
  // What its --allow accepts; any other id is a usage error, so that a
  // misspelt id cannot pass for an accepted one.
  std::vector<std::string> allowIds;
};

extern const CCommand kBuildCommand;
extern const CCommand kSignCommand;
extern const CCommand kListCommand;
extern const CCommand kVerifyCommand;
extern const CCommand kExtractCommand;
extern const CCommand kLogCommand;

