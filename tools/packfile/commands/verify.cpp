#include <optional>

#include "bytes/file_bytes.h"
#include "pe/pe_image.h"
#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/core/verify.h"
#include "tools/packfile/signing/signature.h"

namespace {

constexpr char kSchema[] = "packfile-verify/3";

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

std::string SignatureJson(const CSignatureFacts& facts) {
  if (!facts.checked) return "null";
  return "{\"subject\":" + JsonStringOrNull(facts.subject) + ",\"issuer\":" + JsonStringOrNull(facts.issuer) +
         ",\"signingTime\":" + JsonStringOrNull(facts.signingTime) +
         ",\"digestAlgorithm\":" + JsonString(facts.digestAlgorithm) +
         ",\"digestMatches\":" + (facts.digestMatches ? "true" : "false") +
         ",\"timestamped\":" + (facts.timestamped ? "true" : "false") +
         ",\"timestampTime\":" + JsonStringOrNull(facts.timestampTime) + ",\"chainVerified\":" +
         (facts.chainVerified < 0 ? "null" : facts.chainVerified ? "true" : "false") + "}";
}

void PrintJson(const std::string& path, const CVerifyReport& report, bool isSigned, const CSignatureFacts& signature,
               std::ostream& out) {
  out << "{\"schema\":\"" << kSchema << "\",\"file\":" << JsonString(path)
      << ",\"passed\":" << (report.Passed() ? "true" : "false") << ",\"signed\":" << (isSigned ? "true" : "false")
      << ",\"launcherEntries\":" << report.launcherEntries << LauncherJson(report.launcher)
      << ",\"signature\":" << SignatureJson(signature)
      << ",\"checks\":[";
  for (std::size_t k = 0; k < report.findings.size(); ++k) {
    const CFinding& finding = report.findings[k];
    out << (k ? "," : "") << "\n  {\"id\":" << JsonString(CheckName(finding.check))
        << ",\"status\":" << JsonString(Status(finding.severity)) << ",\"message\":" << JsonString(finding.text)
        << "}";
  }
  out << "]}\n";
}

struct CVerifyRequest : CRequest {
  std::optional<std::string> ca;
};

int RunVerify(CVerifyRequest& request, const CCommandRun& run) {
  const std::string& path = request.operands[0];
  const std::string ca = request.ca.value_or("");
  // A chain that cannot be checked must not look like a bad artefact: --ca is read before anything else.
  if (request.ca) CheckCaFile(ca, run.diagnostics);
  CFileSource file(path);
  if (!file.IsOpen()) run.diagnostics.CannotOpen(path, file.OpenError());
  if (run.diagnostics.HasErrors()) return run.diagnostics.ExitCode();

  CVerifyReport report = VerifyPackage(file, true, !request.allowed.empty());
  std::string error;
  CPeImage image;
  bool isImage = ReadPeImage(file, &image, &error);
  CPeDataDirectory table = isImage ? PeDirectory(image, kPeSecurityDirectory) : CPeDataDirectory();
  bool isSigned = table.size != 0;
  CSignatureFacts signature;
  if (isImage && !isSigned) {
    // Asking for a chain check means a signature is expected.
    bool expected = request.ca.has_value();
    report.findings.push_back(CFinding{CheckId::kSignature, expected ? Severity::kFailure : Severity::kOk,
                                       expected ? "not signed, but --ca expects a signature" : "not signed"});
  } else if (isSigned && !report.Failed(CheckId::kCertificateTable)) {
    signature = CheckSignature(path, table.virtualAddress, table.size, ca);
    report.findings.insert(report.findings.end(), signature.findings.begin(), signature.findings.end());
  }
  // Only a missing signing tool leaves the artefact unjudged; every other failure is the file's.
  bool onlyUnchecked = signature.toolMissing;
  for (const CFinding& finding : report.findings) {
    if (finding.severity == Severity::kFailure && finding.check != CheckId::kSignature) onlyUnchecked = false;
  }
  int code = report.Passed() ? kExitOk : onlyUnchecked ? kExitCannotCheck : kExitBad;
  if (request.json) {
    PrintJson(path, report, isSigned, signature, run.out);
    return code;
  }
  for (const CFinding& finding : report.findings) run.out << Tag(finding.severity) << finding.text << "\n";
  if (report.Passed()) {
    run.out << ShownText(path) << ": a launcher extracts exactly its " << report.launcherEntries << " entries"
            << (isSigned ? ", and the signature matches the file" : "") << "\n";
  } else {
    // A file a launcher refuses says so first: it installs nothing at all.
    SignatureDamage damage = report.tableDamage != SignatureDamage::kNone ? report.tableDamage
                             : signature.launcherRefuses                  ? signature.damage
                                                                          : SignatureDamage::kNone;
    run.out << ShownText(path)
            << (code == kExitCannotCheck           ? std::string(": NOT CHECKED\n")
                : damage != SignatureDamage::kNone ? ": FAILED: " + LauncherRefusalText(damage) + "\n"
                                                   : std::string(": FAILED\n"));
  }
  return code;
}

}  // namespace

const CCommand kVerifyCommand = {
    "verify",
    "check every layout rule and what a launcher would extract",
    "verify [--json] [--ca FILE] FILE",
    "Checks every rule of the package layout, the PE CheckSum, what a launcher\n"
    "would extract and, in a signed file, the signature (through osslsigncode\n"
    "verify: digest algorithm, whether the digest matches the file, signer, time\n"
    "stamp). Prints one line per check (ok, warn, FAIL). Exits 0 only when\n"
    "nothing failed, 1 when the file is bad, 3 when it could not be checked (FILE\n"
    "or --ca unreadable, osslsigncode missing for a signed file).\n",
    {{"--ca", "FILE", "also check the signer's chain against FILE (PEM);\nan unsigned file then fails",
      Bind(&CVerifyRequest::ca)},
     {"--allow", "ID",
      "unknown-launcher: pass an image that is not this\nproject's launcher (a deliberate custom stub)",
      Bind(&CRequest::allowed)},
     {"--json", "", "one JSON document (schema packfile-verify/3, see the README)", Bind(&CRequest::json)}},
    1,
    1,
    "verify takes one FILE",
    RunsOn(RunVerify),
    kSchema,
    {kAllowUnknownLauncher},
};
