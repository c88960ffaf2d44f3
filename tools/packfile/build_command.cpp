#include <cstdint>
#include <memory>

#include "package/byte_views.h"
#include "package/cp1252.h"
#include "package/file_bytes.h"
#include "package/packfile_header.h"
#include "package/package_writer.h"
#include "tools/packfile/args.h"
#include "tools/packfile/commands.h"
#include "tools/packfile/deferred_file_source.h"
#include "tools/packfile/exit_codes.h"
#include "tools/packfile/inputs.h"
#include "tools/packfile/launcher_image.h"
#include "tools/packfile/name_list.h"
#include "tools/packfile/progress_posix.h"
#include "tools/packfile/sign_posix.h"
#include "tools/packfile/temp_output_posix.h"

namespace {

constexpr char kBuildHelp[] =
    "usage: packfile build --launcher UnPackFile.exe --out setup.exe [options] PATH...\n"
    "\n"
    "Appends the files to the launcher image as a package and writes the installer.\n"
    "Each PATH is a file, or a folder whose files (not subfolders) are added sorted\n"
    "by name. Entries keep the order given. The same inputs give the same bytes.\n"
    "\n"
    "  --launcher FILE    the launcher image (a PE file without package or signature)\n"
    "  --out FILE         the installer to write (replaced only when complete)\n"
    "  --replace          take a launcher that carries a package or a signature,\n"
    "                     and build from its image without them\n"
    "  --no-run-bat       allow a package without run.bat (program form only)\n"
    "  --sign             sign the result with osslsigncode (after the package is\n"
    "                     appended, so the signature covers it), with:\n";
struct CBuildRequest {
  std::string launcher;
  std::string out;
  bool replace = false;
  bool noRunBat = false;
  bool sign = false;
  CSignOptions signing;
  std::vector<std::string> paths;
};

bool ParseBuild(const CParsedArgs& parsed, CBuildRequest* request, std::string* error) {
  request->launcher = parsed.Value("--launcher");
  request->out = parsed.Value("--out");
  request->replace = parsed.Has("--replace");
  request->noRunBat = parsed.Has("--no-run-bat");
  request->sign = parsed.Has("--sign");
  request->paths = parsed.operands;
  CSignOptions& s = request->signing;
  bool signOptionGiven = false;
  for (const std::string& option : SignValuedOptions()) signOptionGiven = signOptionGiven || parsed.Has(option);
  if (request->launcher.empty() || request->out.empty()) {
    *error = "build needs --launcher and --out";
  } else if (!request->sign && signOptionGiven) {
    *error = "the signing options need --sign";
  } else {
    return !request->sign || ParseSignOptions(parsed, &s, error);
  }
  return false;
}

std::string BaseName(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Every check that can refuse the build, before anything is written.
void CheckInputs(const CBuildRequest& request, const std::vector<CInputFile>& files, std::vector<std::string>* errors,
                 std::vector<std::string>* warnings) {
  std::vector<std::string> names;
  for (const CInputFile& file : files) names.push_back(file.name);
  for (const CNameIssue& issue : CheckNameList(names)) {
    std::string line = files[issue.index].path + ": the name " + issue.text;
    (issue.error ? errors : warnings)->push_back(line);
  }
  if (!request.noRunBat && !HasRunBat(names)) {
    errors->push_back("no run.bat among the files: the launcher runs it when started without arguments "
                      "(--no-run-bat builds a package for the program form only)");
  }
  if (files.size() > static_cast<std::size_t>(INT32_MAX)) errors->push_back("too many files for one package");
}

int Report(const std::vector<std::string>& lines, const char* prefix, std::ostream& err) {
  for (const std::string& line : lines) err << "packfile: " << prefix << line << "\n";
  return lines.empty() ? kExitOk : kExitFailed;
}

// Writes the package to a temporary file, signs it if asked, and renames it.
int WriteInstaller(const CBuildRequest& request, CByteSource& launcherFile, const CLauncherImage& launcher,
                   const std::string& launcherName, const std::vector<CInputFile>& files, std::ostream& err) {
  CPrefixSource prefix(launcherFile, launcher.length);
  CPatchedSource image(prefix);
  if (launcher.hadSignature) image.Overlay(launcher.pe.securityEntryOffset, std::vector<std::uint8_t>(8, 0));
  CPackageContents contents;
  contents.image = &image;
  contents.launcherName = launcherName;
  contents.checkSumOffset = launcher.pe.checkSumOffset;
  std::vector<std::unique_ptr<CDeferredFileSource>> sources;
  for (const CInputFile& file : files) {
    sources.push_back(std::make_unique<CDeferredFileSource>(file.path, file.size));
    contents.entries.push_back(CPackEntry{file.name, sources.back().get()});
  }

  std::string error;
  // A wrong password or a key that does not fit shows before the package is written.
  if (request.sign && !TrialSign(request.signing, image, launcher.length, &error)) {
    return Report({error}, "", err);
  }
  CTempOutput temp(request.out);
  if (!temp.Ok()) return Report({temp.Error()}, "", err);
  {
    CFileSink sink(temp.Path());
    CTerminalProgress progress(PackageFileLength(contents));
    bool written = sink.IsOpen() && WritePackage(contents, sink, progress.Callback(), &error);
    if (!sink.Close() && written) error = "write failed";
    if (!written || !error.empty()) return Report({request.out + ": " + (error.empty() ? "cannot write" : error)}, "", err);
  }
  if (!request.sign) return temp.Commit() ? kExitOk : Report({temp.Error()}, "", err);
  std::vector<std::string> notes, errors;
  bool signedOk = SignInto(request.signing, temp.Path(), PackageFileLength(contents), request.out, &notes, &errors);
  Report(notes, "note: ", err);
  return signedOk ? kExitOk : Report(errors, "", err);
}

}  // namespace

int RunBuild(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  std::string error;
  CBuildRequest request;
  std::set<std::string> valued = SignValuedOptions();
  valued.insert({"--launcher", "--out"});
  if (!ParseArgs(args, {"--help", "--replace", "--no-run-bat", "--sign"}, valued, &parsed, &error) ||
      (!parsed.Has("--help") && !ParseBuild(parsed, &request, &error))) {
    err << "packfile: " << error << "\n" << kBuildHelp << kSignOptionsHelp;
    return kExitUsage;
  }
  if (parsed.Has("--help")) {
    out << kBuildHelp << kSignOptionsHelp;
    return kExitOk;
  }

  std::vector<std::string> errors, warnings;
  CFileSource launcherFile(request.launcher);
  CLauncherImage launcher;
  std::string launcherName;
  if (!launcherFile.IsOpen()) {
    errors.push_back(request.launcher + ": cannot open");
  } else if (!ExamineLauncher(launcherFile, request.replace, &launcher, &error)) {
    errors.push_back(request.launcher + ": " + error);
  } else if (!Utf8ToCp1252(BaseName(request.launcher), &launcherName) || launcherName.size() >= kPackNameSize) {
    errors.push_back(request.launcher + ": the file name does not fit the stub header as Windows-1252");
  }
  std::vector<CInputFile> files;
  CollectInputs(request.paths, &files, &errors);
  CheckInputs(request, files, &errors, &warnings);
  if (request.sign) CheckSignInputs(request.signing, &errors);
  Report(warnings, "warning: ", err);
  if (!errors.empty()) return Report(errors, "", err);
  return WriteInstaller(request, launcherFile, launcher, launcherName, files, err);
}
