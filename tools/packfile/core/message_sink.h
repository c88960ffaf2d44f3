// The one way packfile reports problems on standard error: every line gets
// the "packfile: " prefix and its label, and is escaped here (a path or a
// name from a file read cannot move the cursor or forge a line), so callers
// write plain text. The sink also remembers the worst fault for the exit
// code and the errors for a JSON document's "error" member.
#pragma once

#include <ostream>
#include <string>
#include <vector>

// What an error says about the run's outcome.
// What begins every line packfile writes on standard error.
constexpr char kDiagnosticPrefix[] = "packfile: ";

enum class Fault {
  kBad,          // the artefact or the inputs are bad (exit code 1)
  kCannotCheck,  // a file missing or unreadable, a tool missing (exit code 3)
};

// A warning kept until every check has run: --strict may make it an error,
// and --allow ID accept it.
struct CWarning {
  std::string id;    // e.g. "run-bat-lf"
  std::string text;
};

class CDiagnostics {
 public:
  explicit CDiagnostics(std::ostream& err) : err_(err) {}

  // "packfile: TEXT", every control character in it escaped, a line break
  // included (a name holding one cannot forge a line); each of `details`
  // follows on a line of its own, indented, e.g. a tool's own messages.
  void Error(const std::string& text, Fault fault = Fault::kBad, const std::vector<std::string>& details = {});
  // "packfile: PATH: cannot open: REASON", a kCannotCheck error; `reason` is
  // the system's message (SystemReason()).
  void CannotOpen(const std::string& path, const std::string& reason);
  // "packfile: warning [ID]: TEXT".
  void Warning(const std::string& id, const std::string& text);
  // "packfile: note: TEXT": something corrected or worth knowing, not a fault.
  void Note(const std::string& text, const std::vector<std::string>& details = {});
  // A usage error of `command`: "packfile: TEXT" and "see `packfile COMMAND
  // --help`" (or `packfile --help` without a command). Returns kExitUsage.
  int Usage(const std::string& text, const std::string& command);
  // A line without label, for progress and the like: "packfile: TEXT".
  void Plain(const std::string& text);

  bool HasErrors() const { return !errors_.empty(); }
  // The errors reported so far, as shown, without the prefix; an error's
  // details follow it after real line breaks.
  const std::vector<std::string>& Errors() const { return errors_; }
  // kExitOk when nothing erred; kExitBad when something bad was found, else
  // kExitCannotCheck.
  int ExitCode() const;

 private:
  // The lines shown for one message, escaped, joined by line breaks.
  std::string Shown(const std::string& text, const std::vector<std::string>& details) const;
  void Line(const char* label, const std::string& text, const std::vector<std::string>& details = {});

  std::ostream& err_;
  std::vector<std::string> errors_;
  bool bad_ = false;
};

// True when `allowed` (--allow) names `id`.
bool IsAllowed(const std::vector<std::string>& allowed, const std::string& id);

// A warning of kind `id` as build and sign judge it: not shown when `allowed`
// (--allow) names it, an error under `strict` (--strict), else a warning.
void ReportWarning(const std::string& id, const std::string& text, const std::vector<std::string>& allowed,
                   bool strict, CDiagnostics& diagnostics);

// The system's message for the last failed call (errno), e.g. "No such file
// or directory"; read right after the call that failed.
std::string SystemReason();
// The system's message for the error number `code`.
std::string SystemReason(int code);
