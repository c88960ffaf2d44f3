#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>

#include "bytes/file_bytes.h"
#include "format/package_writer.h"
#include "format/packfile_header.h"
#include "tools/packfile/cli/args.h"
#include "tools/packfile/core/byte_views.h"
#include "tools/packfile/cli/commands.h"
#include "tools/packfile/core/cp1252.h"
#include "tools/packfile/core/deferred_file_source.h"
#include "tools/packfile/core/entry_name.h"
#include "tools/packfile/cli/exit_codes.h"
#include "tools/packfile/core/inputs.h"
#include "tools/packfile/core/launcher_image.h"
#include "tools/packfile/core/name_list.h"
#include "tools/packfile/output/progress.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/signing/signer.h"
#include "tools/packfile/output/temp_output.h"

namespace fs = std::filesystem;

namespace {

constexpr char kBuildHelp[] =
    "usage: packfile build --launcher UnPackFile.exe --out setup.exe [options] ITEM...\n"
    "\n"
    "Appends the files to the launcher image as a package and writes the installer.\n"
    "Each ITEM is a file, a folder whose files (not subfolders) are added sorted\n"
    "by name, or NAME=PATH to store the file PATH as NAME. Entries keep the order\n"
    "given. The same inputs give the same bytes. On success one summary line\n"
    "goes to standard output.\n"
    "\n"
    "  --launcher FILE    the launcher image (a PE file without package or signature)\n"
    "  --out FILE         the installer to write (replaced only when complete); not\n"
    "                     the launcher and not one of the inputs\n"
    "  --files-from FILE  more ITEMs, one per line (- reads standard input), for\n"
    "                     lists too long for a command line\n"
    "  --exclude GLOB     leave out files whose name matches (repeatable)\n"
    "  --strict           treat warnings as errors\n"
    "  --progress         report progress on standard error even when it is not a\n"
    "                     terminal (one line per 10%, for CI logs)\n"
    "  --replace          take a launcher that carries a package or a signature,\n"
    "                     and build from its image without them\n"
    "  --no-run-bat       allow a package without run.bat (program form only)\n"
    "  --sign             sign the result with osslsigncode (after the package is\n"
    "                     appended, so the signature covers it), with:\n";

// Each entry costs the target two log lines and a file creation; beyond this
// many a run takes noticeably long and its log grows by thousands of lines.
constexpr std::size_t kManyEntries = 1000;

struct CBuildRequest {
  std::string launcher;
  std::string out;
  bool replace = false;
  bool noRunBat = false;
  bool strict = false;
  bool progress = false;
  bool sign = false;
  CSignOptions signing;
  std::vector<std::string> items;
  std::vector<std::string> excludes;
};

bool ParseBuild(const CParsedArgs& parsed, CBuildRequest* request, std::string* error) {
  request->launcher = parsed.Value("--launcher");
  request->out = parsed.Value("--out");
  request->replace = parsed.Has("--replace");
  request->noRunBat = parsed.Has("--no-run-bat");
  request->strict = parsed.Has("--strict");
  request->progress = parsed.Has("--progress");
  request->sign = parsed.Has("--sign");
  request->items = parsed.operands;
  auto excludes = parsed.lists.find("--exclude");
  if (excludes != parsed.lists.end()) request->excludes = excludes->second;
  bool signOptionGiven = false;
  for (const std::string& option : SignValuedOptions()) signOptionGiven = signOptionGiven || parsed.Has(option);
  if (request->launcher.empty() || request->out.empty()) {
    *error = "build needs --launcher and --out";
  } else if (!request->sign && signOptionGiven) {
    *error = "the signing options need --sign";
  } else {
    return !request->sign || ParseSignOptions(parsed, &request->signing, error);
  }
  return false;
}

std::string BaseName(const std::string& path) {
  std::string::size_type slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// The output must not destroy an input, nor the next build pack this one.
void CheckOutput(const CBuildRequest& request, const std::vector<CInputFile>& files,
                 std::vector<std::string>* errors) {
  if (SameFile(request.out, request.launcher)) {
    errors->push_back("--out " + ShownText(request.out) + " is the launcher: the build would overwrite it");
  }
  for (const CInputFile& file : files) {
    if (SameFile(file.path, request.out)) {
      errors->push_back(ShownText(file.path) + " is the output (--out): the previous installer would be packed "
                        "into the next; keep the output out of the input folders or --exclude it");
      continue;
    }
    CFileSource source(file.path);
    CLauncherImage image;
    std::string ignored;
    if (source.IsOpen() && ExamineLauncher(source, true, &image, &ignored) && image.hadPackage) {
      errors->push_back(ShownText(file.path) + " is an installer carrying a package: an installer packed into "
                        "another is usually a mistake (an earlier build's output); --exclude it");
    }
  }
}

// run.bat as cmd.exe reads it: a byte-order mark becomes part of the first
// command, and lines ended by LF alone break labels and long lines.
void CheckRunBat(const CInputFile& file, std::vector<std::string>* warnings) {
  std::ifstream in(file.path, std::ios::binary);
  std::string text(static_cast<std::size_t>(std::min<std::uint64_t>(file.size, 1 << 20)), '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0 || text.compare(0, 2, "\xFF\xFE") == 0) {
    warnings->push_back(ShownText(file.path) + ": starts with a byte-order mark, which cmd.exe runs as part of "
                        "the first command; save it without one");
  }
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at == 0 || text[at - 1] != '\r') {
      warnings->push_back(ShownText(file.path) + ": has lines ended by LF alone; cmd.exe expects CR LF "
                          "(labels and GOTO misbehave otherwise)");
      break;
    }
  }
}

// Every check that can refuse the build, before anything is written.
void CheckInputs(const CBuildRequest& request, const std::vector<CInputFile>& files, std::vector<std::string>* errors,
                 std::vector<std::string>* warnings) {
  std::vector<std::string> names;
  for (const CInputFile& file : files) names.push_back(file.name);
  for (const CNameIssue& issue : CheckNameList(names)) {
    std::string line = ShownText(files[issue.index].path) + ": the name " + issue.text;
    (issue.error ? errors : warnings)->push_back(line);
  }
  for (const CInputFile& file : files) {
    if (NameKey(file.name) == "RUN.BAT") CheckRunBat(file, warnings);
  }
  if (!request.noRunBat && !HasRunBat(names)) {
    errors->push_back("no run.bat among the files: the launcher runs it when started without arguments "
                      "(--no-run-bat builds a package for the program form only)");
  }
  if (files.size() > static_cast<std::size_t>(INT32_MAX)) {
    errors->push_back("too many files for one package");
  } else if (files.size() > kManyEntries) {
    warnings->push_back(std::to_string(files.size()) + " entries: each costs the target two log lines and a file "
                        "creation; an archive among fewer entries extracts faster");
  }
}

int Report(const std::vector<std::string>& lines, const char* prefix, std::ostream& err) {
  for (const std::string& line : lines) err << "packfile: " << prefix << line << "\n";
  return lines.empty() ? kExitOk : kExitFailed;
}

std::string Summary(const CBuildRequest& request, const std::vector<CInputFile>& files, std::size_t excluded,
                    std::uint64_t length, const CLauncherIdentity& identity) {
  std::uint64_t bytes = 0;
  for (const CInputFile& file : files) bytes += file.size;
  return ShownText(request.out) + ": " + std::to_string(files.size()) + " entries, " + std::to_string(bytes) +
         " bytes of files" + (excluded ? " (" + std::to_string(excluded) + " excluded)" : "") + ", " +
         std::to_string(length) + "-byte installer, " +
         (request.sign ? "signed (" + request.signing.hash + ")" : std::string("unsigned")) + "; launcher " +
         (identity.fileVersion.empty() ? std::string("of unknown version") : identity.fileVersion) + ", " +
         identity.architecture + "\n";
}

// Writes the package to a temporary file, signs it if asked, and renames it.
int WriteInstaller(const CBuildRequest& request, CByteSource& launcherFile, const CLauncherImage& launcher,
                   const std::string& launcherName, const std::vector<CInputFile>& files, std::uint64_t* length,
                   std::ostream& err) {
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
    return Report({"a trial signature of the launcher image failed, nothing was built: " + error}, "", err);
  }
  CTempOutput temp(request.out);
  if (!temp.Ok()) return Report({temp.Error()}, "", err);
  *length = PackageFileLength(contents);
  {
    CFileSink sink(temp.Path());
    CProgress progress(*length, request.progress);
    bool written = sink.IsOpen() && WritePackage(contents, sink, progress.Callback(), &error);
    if (!sink.Close() && written) error = "write failed";
    if (!written || !error.empty()) {
      return Report({ShownText(request.out) + ": " + (error.empty() ? "cannot write" : error)}, "", err);
    }
  }
  if (!request.sign) return temp.Commit() ? kExitOk : Report({temp.Error()}, "", err);
  std::vector<std::string> notes, errors;
  bool signedOk = SignInto(request.signing, temp.Path(), *length, request.out, &notes, &errors);
  Report(notes, "note: ", err);
  if (signedOk) {
    CFileSource written(request.out);
    *length = written.Size();
  }
  return signedOk ? kExitOk : Report(errors, "", err);
}

}  // namespace

int RunBuild(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  std::string error;
  CBuildRequest request;
  std::set<std::string> valued = SignValuedOptions();
  valued.insert({"--launcher", "--out", "--files-from"});
  if (!ParseArgs(args, {"--help", "--replace", "--no-run-bat", "--sign", "--strict", "--progress"}, valued, &parsed,
                 &error, {"--exclude"}) ||
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
  CLauncherIdentity identity;
  std::string launcherName;
  const std::string shownLauncher = ShownText(request.launcher);
  if (!launcherFile.IsOpen()) {
    errors.push_back(shownLauncher + ": cannot open");
  } else if (!ExamineLauncher(launcherFile, request.replace, &launcher, &error)) {
    errors.push_back(shownLauncher + ": " + error);
  } else if (!Utf8ToCp1252(BaseName(request.launcher), &launcherName) || launcherName.size() >= kPackNameSize) {
    errors.push_back(shownLauncher + ": the file name does not fit the stub header as Windows-1252");
  } else {
    identity = IdentifyLauncher(launcherFile, launcher.pe);
    if (!identity.ours) {
      warnings.push_back(shownLauncher + ": not an UnPackFile launcher (" + identity.why +
                         "): a package appended to it would never be extracted");
    }
  }
  if (parsed.Has("--files-from") && !ReadFileList(parsed.Value("--files-from"), std::cin, &request.items, &error)) {
    errors.push_back(error);
  }
  std::vector<CInputFile> files;
  std::size_t excluded = 0;
  CollectInputs(request.items, request.excludes, &files, &excluded, &errors);
  CheckOutput(request, files, &errors);
  CheckInputs(request, files, &errors, &warnings);
  if (request.sign) CheckSignInputs(request.signing, &errors);
  if (request.strict) {
    for (const std::string& warning : warnings) errors.push_back(warning + " (--strict)");
    warnings.clear();
  }
  Report(warnings, "warning: ", err);
  if (!errors.empty()) return Report(errors, "", err);
  std::uint64_t length = 0;
  int code = WriteInstaller(request, launcherFile, launcher, launcherName, files, &length, err);
  if (code == kExitOk) out << Summary(request, files, excluded, length, identity);
  return code;
}
