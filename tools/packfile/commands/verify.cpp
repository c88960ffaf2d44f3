#include "bytes/file_bytes.h"
#include "pe/pe_image.h"
#include "tools/packfile/cli/args.h"
#include "tools/packfile/cli/commands.h"
#include "tools/packfile/cli/exit_codes.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/signing/signature.h"
#include "tools/packfile/core/verify.h"

namespace {

constexpr char kVerifyHelp[] =
    "usage: packfile verify [--json] [--ca FILE] FILE\n"
    "\n"
    "Checks every rule of the package layout, the PE CheckSum, what a launcher\n"
    "would extract and, in a signed file, the signature (through osslsigncode\n"
    "verify: digest algorithm, whether the digest matches the file, signer, time\n"
    "stamp). Prints one line per check (ok, warn, FAIL). Exits 0 only when\n"
    "nothing failed.\n"
    "  --ca FILE   also check the signer's certificate chain against FILE (PEM);\n"
    "              an unsigned file then fails\n"
    "  --json      one JSON document (schema packfile-verify/1, see the README)\n";

const char* Tag(Severity severity) {
  switch (severity) {
    case Severity::kOk: return "ok    ";
    case Severity::kWarning: return "warn  ";
    case Severity::kFailure: return "FAIL  ";
  }
  return "";
}

const char* Status(Severity severity) {
  switch (severity) {
    case Severity::kOk: return "ok";
    case Severity::kWarning: return "warn";
    case Severity::kFailure: return "fail";
  }
  return "";
}

void PrintJson(const std::string& path, const CVerifyReport& report, bool isSigned, std::ostream& out) {
  out << "{\"schema\":\"packfile-verify/1\",\"file\":" << JsonString(path)
      << ",\"passed\":" << (report.Passed() ? "true" : "false") << ",\"signed\":" << (isSigned ? "true" : "false")
      << ",\"launcherEntries\":" << report.launcherEntries << ",\"checks\":[";
  for (std::size_t k = 0; k < report.findings.size(); ++k) {
    const CFinding& finding = report.findings[k];
    out << (k ? "," : "") << "\n  {\"name\":" << JsonString(CheckName(finding.check))
        << ",\"status\":" << JsonString(Status(finding.severity)) << ",\"message\":" << JsonString(finding.text)
        << "}";
  }
  out << "]}\n";
}

}  // namespace

int RunVerify(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  std::string error;
  if (!ParseArgs(args, {"--help", "--json"}, {"--ca"}, &parsed, &error) ||
      (!parsed.Has("--help") && parsed.operands.size() != 1)) {
    err << "packfile: " << (error.empty() ? "verify takes one FILE" : error) << "\n" << kVerifyHelp;
    return kExitUsage;
  }
  if (parsed.Has("--help")) {
    out << kVerifyHelp;
    return kExitOk;
  }
  const std::string& path = parsed.operands[0];
  CFileSource file(path);
  if (!file.IsOpen()) {
    err << "packfile: " << ShownText(path) << ": cannot open\n";
    return kExitFailed;
  }
  CVerifyReport report = VerifyPackage(file);
  CPeImage image;
  bool isImage = ReadPeImage(file, &image, &error);
  CPeDataDirectory table = isImage ? PeDirectory(image, kPeSecurityDirectory) : CPeDataDirectory();
  bool isSigned = table.size != 0;
  if (isImage && !isSigned) {
    // Asking for a chain check means a signature is expected.
    bool expected = parsed.Has("--ca");
    report.findings.push_back(CFinding{CheckId::kSignature, expected ? Severity::kFailure : Severity::kOk,
                                       expected ? "not signed, but --ca expects a signature" : "not signed"});
  } else if (isSigned && !report.Failed(CheckId::kCertificateTable)) {
    for (const CFinding& finding : CheckSignature(path, table.virtualAddress, table.size, parsed.Value("--ca"))) {
      report.findings.push_back(finding);
    }
  }
  if (parsed.Has("--json")) {
    PrintJson(path, report, isSigned, out);
    return report.Passed() ? kExitOk : kExitFailed;
  }
  for (const CFinding& finding : report.findings) out << Tag(finding.severity) << finding.text << "\n";
  if (report.Passed()) {
    out << ShownText(path) << ": a launcher extracts exactly its " << report.launcherEntries << " entries"
        << (isSigned ? ", and the signature matches the file" : "") << "\n";
    return kExitOk;
  }
  out << ShownText(path) << ": FAILED\n";
  return kExitFailed;
}
