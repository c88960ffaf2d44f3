#include "tools/packfile/cli/commands.h"
#include "tools/packfile/cli/exit_codes.h"

#ifndef PACKFILE_VERSION
#define PACKFILE_VERSION "unknown"
#endif
#ifndef PACKFILE_COMMIT
#define PACKFILE_COMMIT "unknown"
#endif

namespace {

constexpr char kHelp[] =
    "usage: packfile COMMAND [options] ...\n"
    "\n"
    "Builds UnPackFile installers and reads them back: a launcher image with a package\n"
    "of files appended, optionally signed.\n"
    "\n"
    "  build    append files to a launcher image and write the installer\n"
    "  sign     sign an installer built earlier\n"
    "  list     show the package as a launcher reads it\n"
    "  verify   check every layout rule and what a launcher would extract\n"
    "  extract  write the entries into a folder\n"
    "\n"
    "  log      decode the launcher's unpack.log, run by run\n"
    "\n"
    "packfile COMMAND --help describes each command; packfile --version prints\n"
    "the tool's version and the commit it was built from.\n"
    "\n"
    "Exit codes, the same for every command:\n"
    "  0  done; for verify: nothing failed\n"
    "  1  refused or failed: a check refused the inputs, verify found a fault,\n"
    "     the file is not a consistent installer, signing failed\n"
    "  2  the command line itself is wrong\n";

}  // namespace

int PackfileMain(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  if (args.empty()) {
    err << kHelp;
    return kExitUsage;
  }
  const std::string& command = args[0];
  std::vector<std::string> rest(args.begin() + 1, args.end());
  if (command == "build") return RunBuild(rest, out, err);
  if (command == "sign") return RunSign(rest, out, err);
  if (command == "list") return RunList(rest, out, err);
  if (command == "verify") return RunVerify(rest, out, err);
  if (command == "extract") return RunExtract(rest, out, err);
  if (command == "log") return RunLog(rest, out, err);
  if (command == "--version") {
    out << "packfile " PACKFILE_VERSION " (commit " PACKFILE_COMMIT ")\n";
    return kExitOk;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    out << kHelp;
    return kExitOk;
  }
  err << "packfile: unknown command " << command << "\n" << kHelp;
  return kExitUsage;
}
