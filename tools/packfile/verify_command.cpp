#include "package/file_bytes.h"
#include "tools/packfile/args.h"
#include "tools/packfile/commands.h"
#include "tools/packfile/exit_codes.h"
#include "tools/packfile/verify.h"

namespace {

constexpr char kVerifyHelp[] =
    "usage: packfile verify FILE\n"
    "\n"
    "Checks every rule of the package layout, the PE CheckSum, and what a launcher\n"
    "would extract; prints one line per check (ok, warn, FAIL). Exits 0 only when\n"
    "nothing failed, so that a launcher extracts exactly the entries laid out.\n";

const char* Tag(Severity severity) {
  switch (severity) {
    case Severity::kOk: return "ok    ";
    case Severity::kWarning: return "warn  ";
    case Severity::kFailure: return "FAIL  ";
  }
  return "";
}

}  // namespace

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  int exitCode = kExitOk;
  if (!ParseCommandArgs(args, {"--help"}, 1, "verify takes one FILE", kVerifyHelp, out, err, &parsed, &exitCode)) return exitCode;
  const std::string& path = parsed.operands[0];
  CFileSource file(path);
  if (!file.IsOpen()) {
    err << "packfile: " << path << ": cannot open\n";
    return kExitFailed;
  }
  CVerifyReport report = VerifyPackage(file);
  for (const CFinding& finding : report.findings) out << Tag(finding.severity) << finding.text << "\n";
  if (report.Passed()) {
    out << path << ": a launcher extracts exactly its " << report.launcherEntries << " entries\n";
    return kExitOk;
  }
  out << path << ": FAILED\n";
  return kExitFailed;
}
