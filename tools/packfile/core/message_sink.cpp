#include "tools/packfile/core/message_sink.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/shown_name.h"

std::string CDiagnostics::Shown(const std::string& text, const std::vector<std::string>& details) const {
  std::string shown = ShownText(text);
  for (const std::string& detail : details) shown += "\n  " + ShownText(detail);
  return shown;
}

void CDiagnostics::Line(const char* label, const std::string& text, const std::vector<std::string>& details) {
  err_ << kDiagnosticPrefix << label << Shown(text, details) << "\n";
}

void CDiagnostics::Error(const std::string& text, Fault fault, const std::vector<std::string>& details) {
  Line("", text, details);
  errors_.push_back(Shown(text, details));
  bad_ = bad_ || fault == Fault::kBad;
}

void CDiagnostics::CannotOpen(const std::string& path, const std::string& reason) {
  Error(path + ": cannot open: " + reason, Fault::kCannotCheck);
}

void CDiagnostics::Warning(const std::string& id, const std::string& text) {
  Line(("warning [" + id + "]: ").c_str(), text);
}

void CDiagnostics::Note(const std::string& text, const std::vector<std::string>& details) {
  Line("note: ", text, details);
}

int CDiagnostics::Usage(const std::string& text, const std::string& command) {
  Line("", text);
  err_ << "see `packfile " << ShownText(command.empty() ? std::string() : command + " ") << "--help`\n";
  errors_.push_back(ShownText(text));
  return kExitUsage;
}

void CDiagnostics::Plain(const std::string& text) { Line("", text); }

int CDiagnostics::ExitCode() const {
  if (errors_.empty()) return kExitOk;
  return bad_ ? kExitBad : kExitCannotCheck;
}

bool IsAllowed(const std::vector<std::string>& allowed, const std::string& id) {
  return std::find(allowed.begin(), allowed.end(), id) != allowed.end();
}

void ReportWarning(const std::string& id, const std::string& text, const std::vector<std::string>& allowed,
                   bool strict, CDiagnostics& diagnostics) {
  if (IsAllowed(allowed, id)) return;
  if (strict) {
    diagnostics.Error(text + " (--strict; --allow " + id + " accepts it)");
  } else {
    diagnostics.Warning(id, text);
  }
}

std::string SystemReason() { return std::strerror(errno); }

std::string SystemReason(int code) { return std::strerror(code); }
