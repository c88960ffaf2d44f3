#include "bytes/file_bytes.h"
#include "pe/pe_image.h"
#include "tools/packfile/cli/args.h"
#include "tools/packfile/cli/commands.h"
#include "tools/packfile/cli/exit_codes.h"
#include "tools/packfile/core/locate_package.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/signing/signer.h"

namespace {

constexpr char kSignHelp[] =
    "usage: packfile sign [options] [--out SIGNED] FILE\n"
    "\n"
    "Signs an installer built earlier (by build without --sign, or elsewhere):\n"
    "FILE must carry a package that passes verify's layout checks and no\n"
    "signature. The signed file replaces FILE, or is written to --out, only when\n"
    "its certificate table lies directly after the stub header.\n"
    "\n";

int Refuse(const std::vector<std::string>& lines, std::ostream& err) {
  for (const std::string& line : lines) err << "packfile: " << line << "\n";
  return kExitFailed;
}

}  // namespace

int RunSign(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  std::string error;
  CSignOptions options;
  std::set<std::string> valued = SignValuedOptions();
  valued.insert("--out");
  bool parsedOk = ParseArgs(args, {"--help"}, valued, &parsed, &error);
  if (parsedOk && !parsed.Has("--help")) {
    if (parsed.operands.size() != 1) error = "sign takes one FILE";
    parsedOk = error.empty() && ParseSignOptions(parsed, &options, &error);
  }
  if (!parsedOk) {
    err << "packfile: " << error << "\n" << kSignHelp << kSignOptionsHelp;
    return kExitUsage;
  }
  if (parsed.Has("--help")) {
    out << kSignHelp << kSignOptionsHelp;
    return kExitOk;
  }
  const std::string& path = parsed.operands[0];
  const std::string target = parsed.Value("--out", path);
  std::vector<std::string> errors;
  CheckSignInputs(options, &errors);
  if (!errors.empty()) return Refuse(errors, err);
  std::uint64_t length = 0;
  {
    CFileSource file(path);
    if (!file.IsOpen()) return Refuse({ShownText(path) + ": cannot open"}, err);
    CPeImage image;
    if (ReadPeImage(file, &image, &error) && PeDirectory(image, kPeSecurityDirectory).size != 0) {
      return Refuse({ShownText(path) + ": already signed; sign the unsigned build instead"}, err);
    }
    CLocatorRead located;
    if (!LocatePackageOrSay(file, path, err, &located)) return kExitFailed;
    length = file.Size();
    if (length % 8 != 0) {
      return Refuse({ShownText(path) + ": its stub header does not end on a multiple of 8, so the signer would pad "
                     "between it and the certificate table and a launcher would miss the package"}, err);
    }
  }
  std::vector<std::string> notes;
  bool signedOk = SignInto(options, path, length, target, &notes, &errors);
  for (const std::string& note : notes) err << "packfile: note: " << note << "\n";
  if (!signedOk) return Refuse(errors, err);
  out << ShownText(target) << ": signed (" << options.hash << ")\n";
  return kExitOk;
}
