#include <fstream>
#include <iterator>

#include "format/log_vocabulary.h"
#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/log_decoder.h"
#include "tools/packfile/core/shown_name.h"

namespace {

constexpr char kSchema[] = "packfile-log/3";

constexpr char kErrNote[] =
    "Err:n at the end of every log line is the thread's last system error when the line\n"
    "was written, left over from whatever call set it last: it is not a verdict, and a\n"
    "run that went well often shows Err:18 (no more files) or Err:183 (already exists).\n";

// The batch form sends run.bat's standard output to the log path plus ".txt".
std::string BatchOutput(const CLogRun& run) {
  const std::string redirect = UNPACK_LOG_BATCH_REDIRECT;
  std::string::size_type at = run.param.find(redirect);
  return at == std::string::npos ? "" : run.param.substr(at + redirect.size());
}

std::string Child(const CLogRun& run) {
  if (run.executeFailed) return "did not start (" UNPACK_LOG_EXECUTE_FAIL ")";
  if (run.childDone) {
    return (run.childPid >= 0 ? "pid " + std::to_string(run.childPid) + ", " : std::string()) + "exit code " +
           std::to_string(run.childExitCode);
  }
  if (run.childPid >= 0) return "pid " + std::to_string(run.childPid) + ", the log ends before it finished";
  return run.commandLogged ? "no wait logged" : "no command logged";
}

void PrintText(const std::string& path, const CLogDecoded& log, std::ostream& out) {
  out << ShownText(path) << ": " << log.runs.size() << (log.runs.size() == 1 ? " run" : " runs");
  if (!log.malformed.empty()) out << ", " << log.malformed.size() << " lines not in the launcher's format";
  out << "\n" << kErrNote;
  for (std::size_t k = 0; k < log.runs.size(); ++k) {
    const CLogRun& run = log.runs[k];
    out << "\nrun " << k + 1 << ": pid " << run.pid << ", " << ShownText(run.start) << " to " << ShownText(run.end)
        << "\n";
    if (!run.os.empty()) out << "  system:    " << ShownText(run.os) << "\n";
    if (!run.executable.empty()) out << "  launcher:  " << ShownText(run.executable) << "\n";
    if (!run.packageFound) {
      out << "  package:   not found (the locator logged " UNPACK_LOG_FIND_FAIL ")\n";
    } else if (run.headerOffset >= 0) {
      out << "  package:   header offset " << run.headerOffset << ", certificate table " << run.certificateSize
          << " bytes\n";
    }
    out << "  files:     " << run.expected.size() << " expected, " << run.written.size() << " written, "
        << run.failed.size() << " failed\n";
    for (const CFailedFile& failed : run.failed) {
      out << "  failed:    " << ShownText(failed.file)
          << (failed.reason.empty() ? "" : ": " + ShownText(failed.reason)) << "\n";
    }
    for (const CFileError& error : run.fileErrors) {
      out << "  error:     " << ShownText(error.message) << " [Err " << ShownText(error.reason) << "]\n";
      if (error.kind == FileErrorKind::kLeftover) out << "  stepped:   " << ShownText(error.meaning) << "\n";
      if (!error.meaning.empty() && error.kind != FileErrorKind::kLeftover) {
        out << "  refused:   " << ShownText(error.meaning) << "\n";
      }
    }
    if (run.commandLogged) {
      out << "  command:   " << ShownText(run.file) << " " << ShownText(run.param) << "\n"
          << "  work dir:  " << ShownText(run.dir) << "\n";
    }
    if (!BatchOutput(run).empty()) {
      out << "  output:    run.bat's standard output went to " << ShownText(BatchOutput(run))
          << " (replaced by the next run; standard error is not kept)\n";
    }
    out << "  child:     " << Child(run) << "\n";
    for (const std::string& line : run.unknown) out << "  other:     " << ShownText(line) << "\n";
  }
}

void PrintJson(const std::string& path, const CLogDecoded& log, std::ostream& out) {
  auto strings = [&](const std::vector<std::string>& items) {
    std::string text = "[";
    for (std::size_t k = 0; k < items.size(); ++k) text += (k ? "," : "") + JsonString(items[k]);
    return text + "]";
  };
  auto optional = [](std::int64_t value) { return value < 0 ? std::string("null") : std::to_string(value); };
  out << "{\"schema\":\"" << kSchema << "\",\"file\":" << JsonString(path) << ",\"malformedLines\":"
      << log.malformed.size() << ",\"runs\":[";
  for (std::size_t k = 0; k < log.runs.size(); ++k) {
    const CLogRun& run = log.runs[k];
    out << (k ? "," : "") << "\n  {\"pid\":" << run.pid << ",\"start\":" << JsonString(run.start)
        << ",\"end\":" << JsonString(run.end) << ",\"os\":" << JsonString(run.os)
        << ",\"launcher\":" << JsonString(run.executable)
        << ",\"packageFound\":" << (run.packageFound ? "true" : "false")
        << ",\"headerOffset\":" << optional(run.headerOffset)
        << ",\"certificateSize\":" << optional(run.certificateSize)
        << ",\"expected\":" << strings(run.expected) << ",\"written\":" << strings(run.written) << ",\"failed\":[";
    for (std::size_t f = 0; f < run.failed.size(); ++f) {
      out << (f ? "," : "") << "{\"file\":" << JsonString(run.failed[f].file)
          << ",\"reason\":" << JsonString(run.failed[f].reason) << "}";
    }
    out << "],\"fileErrors\":[";
    for (std::size_t f = 0; f < run.fileErrors.size(); ++f) {
      const CFileError& error = run.fileErrors[f];
      out << (f ? "," : "") << "{\"message\":" << JsonString(error.message)
          << ",\"path\":" << JsonString(error.path) << ",\"lastError\":" << error.lastError
          << ",\"reason\":" << JsonString(error.reason) << ",\"kind\":\"" << FileErrorKindName(error.kind)
          << "\",\"meaning\":" << JsonStringOrNull(error.meaning) << "}";
    }
    out << "],\"refusal\":" << JsonStringOrNull(run.refusal);
    out << ",\"command\":";
    if (run.commandLogged) {
      out << "{\"dir\":" << JsonString(run.dir) << ",\"file\":" << JsonString(run.file)
          << ",\"param\":" << JsonString(run.param) << "}";
    } else {
      out << "null";
    }
    out << ",\"executeFailed\":" << (run.executeFailed ? "true" : "false")
        << ",\"childPid\":" << optional(run.childPid)
        << ",\"childExitCode\":" << (run.childDone ? std::to_string(run.childExitCode) : "null")
        << ",\"other\":" << strings(run.unknown) << "}";
  }
  out << "]}\n";
}


// Why the last run's command counts as failed for --check; empty when it ran and exited 0.
std::string LastRunFailure(const CLogDecoded& log) {
  const CLogRun& run = log.runs.back();
  if (!run.refusal.empty()) return "the last run was refused: " + run.refusal;
  if (!run.packageFound) return "the last run found no package";
  if (run.executeFailed) return "the last run's command did not start";
  if (!run.childDone) return "the last run logged no exit code for its command (" + Child(run) + ")";
  if (run.childExitCode != 0) return "the last run's command exited with code " + std::to_string(run.childExitCode);
  if (!run.failed.empty()) return "the last run failed to write " + std::to_string(run.failed.size()) + " files";
  return "";
}

struct CLogRequest : CRequest {
  bool check = false;
};

int RunLog(CLogRequest& request, const CCommandRun& run) {
  const std::string& path = request.operands[0];
  std::ifstream file(path, std::ios::binary);
  std::string reason = file ? "" : SystemReason();
  std::string bytes;
  if (file) bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  if (file.bad()) reason = SystemReason();
  CLogDecoded log;
  if (!reason.empty()) {
    run.diagnostics.CannotOpen(path, reason);
  } else {
    log = DecodeLog(bytes);
    if (log.runs.empty()) run.diagnostics.Error(path + ": no line in the launcher's format");
  }
  if (run.diagnostics.HasErrors()) return run.diagnostics.ExitCode();
  if (request.json) {
    PrintJson(path, log, run.out);
  } else {
    PrintText(path, log, run.out);
  }
  if (request.check) {
    std::string failure = LastRunFailure(log);
    if (!failure.empty()) run.diagnostics.Error(path + ": " + failure);
  }
  return run.diagnostics.ExitCode();
}

}  // namespace

const CCommand kLogCommand = {
    "log",
    "decode the launcher's unpack.log, run by run",
    "log [--json] [--check] FILE",
    "Decodes the launcher's log (C:\\Windows\\Temp\\unpack.log: UTF-16LE, appended\n"
    "run after run; a byte-order mark added by an editor is skipped) and prints\n"
    "one summary per run: the system, the launcher and its package, the files\n"
    "expected, written and failed (with the file error), every file error line\n"
    "with its Err value in words and what the launcher did about it (refused a\n"
    "damaged signature, stepped around a leftover, found no program), the\n"
    "command, and the child's exit code. Exits 3 when FILE cannot be read, 1 when it holds no\n"
    "launcher line.\n",
    {{"--check", "",
      "exit 1 when the last run failed: the launcher refused\n"
      "it (a signature that no longer matches, a damaged\n"
      "signature block, a program not found), no package, a\n"
      "file not written, its command did not start, exited\n"
      "non-zero or was not waited for",
      Bind(&CLogRequest::check)},
     {"--json", "", "one JSON document (schema packfile-log/3, see the README)", Bind(&CRequest::json)}},
    1,
    1,
    "log takes one FILE",
    RunsOn(RunLog),
    kSchema,
    {},
};
