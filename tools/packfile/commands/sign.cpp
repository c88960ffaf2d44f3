#include <sys/stat.h>

#include <optional>

#include "bytes/file_bytes.h"
#include "pe/pe_image.h"
#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/locate_package.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/core/temp_output.h"
#include "tools/packfile/signing/signer.h"

namespace {

constexpr char kSchema[] = "packfile-sign/1";

struct CSignRequest : CSigningRequest {
  std::string ReportFile() const override { return out.value_or(operands[0]); }
  std::optional<std::string> out;  // the signed file; FILE itself when not given
};

std::vector<COptionDecl> SignCommandOptions() {
  std::vector<COptionDecl> decls = {
      {"--out", "SIGNED", "write the signed file here instead of replacing FILE", Bind(&CSignRequest::out)},
      {"--allow", "ID",
       "sign although the certificate is refused for ID:\n"
       "certificate-expired, certificate-not-yet-valid,\ncertificate-purpose (a deliberate test certificate);\n"
       "or accept warning ID (chain-incomplete)",
       Bind(&CRequest::allowed)},
      {"--strict", "", "treat every warning not accepted by --allow as an error", Bind(&CSigningRequest::strict)},
      {"--json", "", "one JSON document on standard output (schema\npackfile-sign/1)", Bind(&CRequest::json)}};
  decls.insert(decls.end(), SignOptionDecls().begin(), SignOptionDecls().end());
  return decls;
}

std::string CheckSign(CSignRequest& request) {
  std::string error;
  CompleteSignOptions(request, &error);
  return error;
}

std::string JsonReport(const std::string& target, const CSignOptions& options, const CSigned& result) {
  const CSignatureFacts& facts = result.facts;
  return "{\"schema\":\"" + std::string(kSchema) + "\",\"file\":" + JsonString(target) +
         ",\"hash\":" + JsonString(options.hash) + ",\"subject\":" + JsonStringOrNull(facts.subject) +
         ",\"issuer\":" + JsonStringOrNull(facts.issuer) + ",\"signingTime\":" + JsonStringOrNull(facts.signingTime) +
         ",\"timestamped\":" + (facts.timestamped ? "true" : "false") +
         ",\"timestampTime\":" + JsonStringOrNull(facts.timestampTime) +
         ",\"timestampService\":" + JsonStringOrNull(result.timestampService) + ",\"chainVerified\":" +
         (options.caFile.empty() ? "null" : "true") + "}\n";
}

// Reads FILE and checks it can be signed; false after saying why.
bool CheckUnsigned(const std::string& path, std::uint64_t* length, CDiagnostics& diagnostics) {
  CFileSource file(path);
  if (!file.IsOpen()) {
    diagnostics.CannotOpen(path, file.OpenError());
    return false;
  }
  CPeImage image;
  std::string error;
  if (ReadPeImage(file, &image, &error) && PeDirectory(image, kPeSecurityDirectory).size != 0) {
    diagnostics.Error(path + ": already signed; sign the unsigned build instead");
    return false;
  }
  CLocatorRead located;
  if (!LocatePackageOrSay(file, path, diagnostics, &located)) return false;
  *length = file.Size();
  if (*length % 8 != 0) {
    diagnostics.Error(path + ": its stub header does not end on a multiple of 8, so the signer would pad "
                      "between it and the certificate table and a launcher would miss the package");
    return false;
  }
  return true;
}

int RunSign(CSignRequest& request, const CCommandRun& run) {
  CDiagnostics& diagnostics = run.diagnostics;
  const std::string& path = request.operands[0];
  const std::string target = request.ReportFile();
  const CSignOptions& options = request.signing;
  CheckSignInputs(options, diagnostics);
  std::uint64_t length = 0;
  if (diagnostics.HasErrors() || !CheckUnsigned(path, &length, diagnostics)) return diagnostics.ExitCode();
  ReportLeftoverOutputs(target, diagnostics);
  // The signed file keeps the mode of the file it replaces (an executable stays executable).
  struct stat before;
  bool keepMode = target == path && stat(path.c_str(), &before) == 0;
  CSigned result;
  if (!SignInto(options, path, length, target, diagnostics, &result)) return diagnostics.ExitCode();
  if (keepMode) chmod(target.c_str(), before.st_mode & 07777);
  if (request.json) {
    run.out << JsonReport(target, options, result);
  } else {
    run.out << ShownText(target) << ": signed (" << options.hash << ")\n";
  }
  return kExitOk;
}

}  // namespace

const CCommand kSignCommand = {
    "sign",
    "sign an installer built earlier",
    "sign [options] [--out SIGNED] FILE",
    "Signs an installer built earlier (by build without --sign, or elsewhere):\n"
    "FILE must carry a package that passes verify's layout checks and no\n"
    "signature. The signed file replaces FILE (keeping its mode), or is written\n"
    "to --out, only when its certificate table lies directly after the stub\n"
    "header and, with --ca, its chain as embedded verifies. The certificate is\n"
    "judged now, as Windows judges it; --sign-time sets the attribute only.\n",
    SignCommandOptions(),
    1,
    1,
    "sign takes one FILE",
    RunsOn(RunSign, CheckSign),
    kSchema,
    SignAllowIds(),
};
