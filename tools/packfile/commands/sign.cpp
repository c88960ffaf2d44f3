#include <sys/stat.h>

#include "bytes/file_bytes.h"
#include "pe/pe_image.h"
#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/locate_package.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/signing/signer.h"

namespace {

std::vector<COptionDecl> SignCommandOptions() {
  std::vector<COptionDecl> decls = {
      {"--out", OptionKind::kValued, "SIGNED", "write the signed file here instead of replacing FILE"},
      {"--allow", OptionKind::kRepeated, "ID",
       "sign although the certificate is refused for ID:\n"
       "certificate-expired, certificate-not-yet-valid,\ncertificate-purpose (a deliberate test certificate)"}};
  decls.insert(decls.end(), SignOptionDecls().begin(), SignOptionDecls().end());
  return decls;
}

int RunSign(const CCommandRun& run) {
  CDiagnostics& diagnostics = run.diagnostics;
  CSignOptions options;
  std::string error;
  if (!ParseSignOptions(run.args, &options, &error)) return diagnostics.Usage(error, "sign");
  const std::string& path = run.args.operands[0];
  const std::string target = run.args.Value("--out", path);
  CheckSignInputs(options, diagnostics);
  if (diagnostics.HasErrors()) return diagnostics.ExitCode();
  std::uint64_t length = 0;
  {
    CFileSource file(path);
    if (!file.IsOpen()) {
      diagnostics.CannotOpen(path, file.OpenError());
      return diagnostics.ExitCode();
    }
    CPeImage image;
    if (ReadPeImage(file, &image, &error) && PeDirectory(image, kPeSecurityDirectory).size != 0) {
      diagnostics.Error(path + ": already signed; sign the unsigned build instead");
      return diagnostics.ExitCode();
    }
    CLocatorRead located;
    if (!LocatePackageOrSay(file, path, diagnostics, &located)) return diagnostics.ExitCode();
    length = file.Size();
    if (length % 8 != 0) {
      diagnostics.Error(path + ": its stub header does not end on a multiple of 8, so the signer would pad "
                        "between it and the certificate table and a launcher would miss the package");
      return diagnostics.ExitCode();
    }
  }
  // The signed file keeps the mode of the file it replaces (an executable stays executable).
  struct stat before;
  bool keepMode = target == path && stat(path.c_str(), &before) == 0;
  if (!SignInto(options, path, length, target, diagnostics)) return diagnostics.ExitCode();
  if (keepMode) chmod(target.c_str(), before.st_mode & 07777);
  run.out << ShownText(target) << ": signed (" << options.hash << ")\n";
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
    "header.\n",
    SignCommandOptions(),
    1,
    1,
    "sign takes one FILE",
    RunSign,
    nullptr,
    SignAllowIds(),
};
