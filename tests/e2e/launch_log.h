// The launcher's log lines as the end-to-end tests read them: one parser for
// "[pid]timestamp  message  Err:n", and the message patterns of a run, so
// that every build the tests run is held to the same lines.
#pragma once

#include <string>
#include <vector>

#include "tests/support/log_lines.h"

namespace e2e {

// A launcher line split into its fields.
struct LaunchLine {
  std::string pid;
  std::string message;
  long error = 0;
};

// Splits a line "[pid]timestamp  message  Err:n"; false when malformed.
bool ParseLine(const std::string& text, LaunchLine* line);
// The log file's lines, split; a malformed line fails the current test.
std::vector<LaunchLine> LogMessages();
// True when a line of the log file contains fragment.
bool LogHas(const std::string& fragment);
// All messages, one per line, for failure output.
std::string Dump(const std::vector<LaunchLine>& lines);

using test_support::RegexLiteral;

// Checks that the messages match the patterns one to one, in order.
void ExpectLines(const std::vector<LaunchLine>& lines, const std::vector<std::string>& patterns);

// What a run's lines depend on besides the packaged names.
struct RunFacts {
  bool wow64 = false;                 // a 32-bit launcher on 64-bit Windows
  std::string signSize = "0";         // pattern of the certificate table's size
  std::string headerOffset = R"(\d+)";  // pattern of the first record's offset
};

// The patterns of the OS, locator and extraction lines of a run that unpacks
// `names` (in package order) into the work directory.
std::vector<std::string> ExtractionPatterns(const std::vector<std::string>& names, const RunFacts& facts = {});

// The batch form's parameters: run.bat's output beside the log.
extern const char kBatchParam[];
// The batch output file on the host, as the log's param line names it (it
// may have gone beside the usual one); the usual one when no line names any.
std::string BatchOutputOfParamLine();

// The patterns of the dir, ok, wait and done lines of a launch of `file` with
// `param` (both literal text) whose child ends with code 0.
std::vector<std::string> LaunchPatterns(const std::string& file, const std::string& param);

}  // namespace e2e
