#include "tools/packfile/core/diagnostics.h"

#include <cerrno>
#include <cstring>

#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/shown_name.h"

void CDiagnostics::Line(const char* label, const std::string& text) {
  std::string::size_type end = text.find('\n');
  err_ << "packfile: " << label << ShownText(text.substr(0, end)) << "\n";
  while (end != std::string::npos) {
    std::string::size_type start = end + 1;
    end = text.find('\n', start);
    err_ << ShownText(text.substr(start, end == std::string::npos ? std::string::npos : end - start)) << "\n";
  }
}

void CDiagnostics::Error(const std::string& text, Fault fault) {
  Line("", text);
  errors_.push_back(ShownText(text));
  bad_ = bad_ || fault == Fault::kBad;
}

void CDiagnostics::CannotOpen(const std::string& path, const std::string& reason) {
  Error(path + ": cannot open: " + reason, Fault::kCannotCheck);
}

void CDiagnostics::Warning(const std::string& id, const std::string& text) {
  Line(("warning [" + id + "]: ").c_str(), text);
}

void CDiagnostics::Note(const std::string& text) { Line("note: ", text); }

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

std::string SystemReason() { return std::strerror(errno); }
