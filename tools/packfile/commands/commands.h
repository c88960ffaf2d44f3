// packfile's commands, each declared once: its name, summary, usage, options
// and operands, and the function that runs it. cli/ dispatches through the
// table of these, and builds each command's help and parses its options from
// the same declaration.
#pragma once

#include <cstddef>
#include <functional>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "tools/packfile/core/message_sink.h"
#include "tools/packfile/core/options.h"

// What a command runs with besides its request: standard input, its report
// stream and the diagnostics sink. The command returns an ExitCode.
struct CCommandRun {
  std::istream& in;
  std::ostream& out;
  CDiagnostics& diagnostics;
};

// How a command makes its request for the parser to fill, checks it once
// filled (a usage error's text, or empty) and runs on it.
struct CCommandRunner {
  std::function<std::unique_ptr<CRequest>()> make;
  std::function<std::string(CRequest& request)> check;
  std::function<int(CRequest& request, const CCommandRun& run)> run;
};

// The runner of a command whose request is a `Request`.
template <class Request>
CCommandRunner RunsOn(int (*run)(Request&, const CCommandRun&), std::string (*check)(Request&) = nullptr) {
  return {[] { return std::unique_ptr<CRequest>(new Request()); },
          [check](CRequest& request) { return check ? check(static_cast<Request&>(request)) : std::string(); },
          [run](CRequest& request, const CCommandRun& commandRun) {
            return run(static_cast<Request&>(request), commandRun);
          }};
}

struct CCommand {
  const char* name;         // "build"
  const char* summary;      // one line for `packfile --help`
  const char* usage;        // after "usage: packfile ", e.g. "list [--json] [--sha256] FILE"
  const char* description;  // paragraphs between the usage line and the options
  std::vector<COptionDecl> options;  // --help is added to every command
  std::size_t minOperands;
  std::size_t maxOperands;  // SIZE_MAX: no limit
  const char* operands;     // the usage error for a wrong count, e.g. "list takes one FILE"
  CCommandRunner runner;
  // The schema of its --json document, nullptr without --json. A --json run
  // refused before its report prints the refusal document instead.
  const char* jsonSchema;
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

