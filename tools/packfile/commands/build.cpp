#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>

#include "bytes/file_bytes.h"
#include "format/package_writer.h"
#include "format/packfile_header.h"
#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/byte_views.h"
#include "tools/packfile/core/cp1252.h"
#include "tools/packfile/core/deferred_file_source.h"
#include "tools/packfile/core/entry_digest.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/inputs.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/launcher_image.h"
#include "tools/packfile/core/name_list.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/output/progress.h"
#include "tools/packfile/core/temp_output.h"
#include "tools/packfile/signing/signer.h"

namespace fs = std::filesystem;

namespace {

constexpr char kSchema[] = "packfile-build/1";

// Each entry costs the target two log lines and a file creation; beyond this
// many a run takes noticeably long and its log grows by thousands of lines.
constexpr std::size_t kManyEntries = 1000;

// The stub header's name when neither --stub-name nor the launcher's version
// block gives one: the name the launcher is shipped under.
constexpr char kDefaultStubName[] = "UnPackFile.exe";

// The ids of the warnings raised here, for --allow.
constexpr char kAllowRunBatBom[] = "run-bat-bom";
constexpr char kAllowRunBatLf[] = "run-bat-lf";
constexpr char kAllowManyEntries[] = "many-entries";

struct CBuildRequest : CSigningRequest {
  std::string ReportFile() const override { return out; }
  std::string launcher;
  std::string out;
  std::optional<std::string> filesFrom;
  std::vector<std::string> excludes;
  std::optional<std::string> stubName;
  bool progress = false;
  bool replace = false;
  bool noRunBat = false;
  bool sign = false;
  bool signOptionGiven = false;  // any of the signing options, which need --sign
};

// The inputs once read and checked: what WriteInstaller needs.
struct CBuildInputs {
  CLauncherImage launcher;
  CLauncherIdentity identity;
  std::string stubName;  // Windows-1252
  CCollectedInputs collected;
};

// Every warning's id, and the refusals --allow may accept on purpose.
std::vector<std::string> BuildAllowIds() {
  std::vector<std::string> ids = {kAllowUnknownLauncher, kAllowRunBatBom, kAllowRunBatLf, kAllowLongName,
                                  kAllowNonAsciiName, kAllowShortNameAlias, kAllowManyEntries, kAllowOutsideLink};
  ids.insert(ids.end(), SignAllowIds().begin(), SignAllowIds().end());
  return ids;
}

std::vector<COptionDecl> BuildCommandOptions() {
  std::vector<COptionDecl> decls = {
      {"--launcher", "FILE", "the launcher image (a PE file without package or\nsignature)",
       Bind(&CBuildRequest::launcher)},
      {"--out", "FILE",
       "the installer to write (replaced only when complete);\nnot the launcher, an input, or a new file in an input\n"
       "folder",
       Bind(&CBuildRequest::out)},
      {"--files-from", "FILE", "more ITEMs, one per line (- reads standard input)", Bind(&CBuildRequest::filesFrom)},
      {"--exclude", "GLOB", "leave out files whose name matches (repeatable)", Bind(&CBuildRequest::excludes)},
      {"--stub-name", "NAME",
       "the name in the stub header (default: the launcher's\nOriginalFilename, else UnPackFile.exe), never the\n"
       "launcher file's own name",
       Bind(&CBuildRequest::stubName)},
      {"--allow", "ID",
       "accept warning ID (shown with it), even with --strict;\nunknown-launcher: build on an image that is not\n"
       "this project's launcher (a custom stub); with --sign\nalso a certificate refusal: certificate-expired,\n"
       "certificate-not-yet-valid, certificate-purpose",
       Bind(&CRequest::allowed)},
      {"--strict", "", "treat every warning not accepted by --allow as an error", Bind(&CSigningRequest::strict)},
      {"--progress", "",
       "report progress on standard error even when it is not a\nterminal (one line per 10%, for CI logs)",
       Bind(&CBuildRequest::progress)},
      {"--replace", "", "take a launcher carrying a package or a signature,\nand build from its image without them",
       Bind(&CBuildRequest::replace)},
      {"--no-run-bat", "", "allow a package without run.bat (program form only)", Bind(&CBuildRequest::noRunBat)},
      {"--json", "", "one JSON document on standard output (schema\npackfile-build/1)", Bind(&CRequest::json)},
      {"--sign", "",
       "sign the result with osslsigncode (after the package\nis appended, so the signature covers it), with:",
       Bind(&CBuildRequest::sign)},
  };
  // Each signing option also notes that it was given: alone they need --sign.
  for (COptionDecl decl : SignOptionDecls()) {
    auto fill = decl.target.fill;
    decl.target.fill = [fill](CRequest& request, const std::string& value) {
      fill(request, value);
      dynamic_cast<CBuildRequest&>(request).signOptionGiven = true;
    };
    decls.push_back(decl);
  }
  return decls;
}

// A usage error's text, or empty when the request holds together.
std::string CheckBuild(CBuildRequest& request) {
  std::string error;
  if (request.launcher.empty() || request.out.empty()) {
    error = "build needs --launcher and --out";
  } else if (!request.sign && request.signOptionGiven) {
    error = "the signing options need --sign";
  } else if (request.sign) {
    CompleteSignOptions(request, &error);
  }
  return error;
}

bool SameFile(const std::string& a, const std::string& b) {
  std::error_code ec;
  return fs::equivalent(a, b, ec) && !ec;
}

// The output must not destroy an input, nor the next build pack this one:
// also refused when it does not exist yet but would land in an input folder.
void CheckOutput(const CBuildRequest& request, const CCollectedInputs& inputs, CDiagnostics& diagnostics) {
  if (SameFile(request.out, request.launcher)) {
    diagnostics.Error("--out " + request.out + " is the launcher: the build would overwrite it");
  }
  fs::path outFolder = fs::path(request.out).parent_path();
  if (outFolder.empty()) outFolder = ".";
  std::string outName = fs::path(request.out).filename().string();
  bool outExcluded = false;
  for (const std::string& glob : request.excludes) outExcluded = outExcluded || MatchesGlob(glob, outName);
  std::error_code ec;
  for (const std::string& folder : inputs.folders) {
    // Once written it is caught below as an input; before, only its folder tells.
    if (!fs::exists(request.out, ec) && !outExcluded && SameFile(outFolder.string(), folder)) {
      diagnostics.Error("--out " + request.out + " lies in the input folder " + folder +
                        ": the next build would pack this installer; write it elsewhere or --exclude its name");
    }
  }
  for (const CInputFile& file : inputs.files) {
    if (SameFile(file.path, request.out)) {
      diagnostics.Error(file.path + " is the output (--out): the previous installer would be packed "
                        "into the next; keep the output out of the input folders or --exclude it");
      continue;
    }
    CFileSource source(file.path);
    CLauncherImage image;
    std::string ignored;
    if (source.IsOpen() && ExamineLauncher(source, true, &image, &ignored) && image.hadPackage) {
      diagnostics.Error(file.path + " is an installer carrying a package: an installer packed into "
                        "another is usually a mistake (an earlier build's output); --exclude it");
    }
  }
}

// run.bat as cmd.exe reads it: a byte-order mark becomes part of the first
// command, and lines ended by LF alone break labels and long lines. Its
// first MiB of what is packed (the size collected) is read; a file that no
// longer opens warns of nothing.
void CheckRunBat(const CInputFile& file, std::vector<CWarning>* warnings) {
  std::string text, ignored;
  ReadInput(file.path, &text, &ignored, static_cast<std::size_t>(std::min<std::uint64_t>(file.size, 1 << 20)));
  if (text.compare(0, 3, "\xEF\xBB\xBF") == 0 || text.compare(0, 2, "\xFF\xFE") == 0) {
    warnings->push_back({kAllowRunBatBom, file.path + ": starts with a byte-order mark, which cmd.exe runs as part "
                                            "of the first command; save it without one"});
  }
  for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1)) {
    if (at == 0 || text[at - 1] != '\r') {
      warnings->push_back({kAllowRunBatLf, file.path + ": has lines ended by LF alone; cmd.exe expects CR LF "
                                             "(labels and GOTO misbehave otherwise)"});
      break;
    }
  }
}

// Every check of the entries that can refuse the build, before anything is written.
// `complete`: every item was found (else a missing run.bat may only be missing input).
void CheckInputNames(const CBuildRequest& request, const std::vector<CInputFile>& files, bool complete,
                  CDiagnostics& diagnostics, std::vector<CWarning>* warnings) {
  std::vector<std::string> names;
  for (const CInputFile& file : files) names.push_back(file.name);
  for (const CNameIssue& issue : CheckNameList(names)) {
    std::string line = files[issue.index].path + ": the name " + issue.text;
    if (issue.error) {
      diagnostics.Error(line);
    } else {
      warnings->push_back({issue.id, line});
    }
  }
  for (const CInputFile& file : files) {
    if (IsRunBat(file.name)) CheckRunBat(file, warnings);
  }
  if (complete && !request.noRunBat && !HasRunBat(names)) {
    diagnostics.Error("no run.bat among the files: the launcher runs it when started without arguments "
                      "(--no-run-bat builds a package for the program form only)");
  }
  if (files.size() > static_cast<std::size_t>(INT32_MAX)) {
    diagnostics.Error("too many files for one package");
  } else if (files.size() > kManyEntries) {
    warnings->push_back({kAllowManyEntries, std::to_string(files.size()) +
                                                " entries: each costs the target two log lines and a file creation; "
                                                "an archive among fewer entries extracts faster"});
  }
}

// Reads and checks the launcher; the stub name never comes from its file name.
void ReadLauncher(const CBuildRequest& request, CFileSource& file, CBuildInputs* inputs,
                  CDiagnostics& diagnostics) {
  std::string error;
  if (!file.IsOpen()) {
    diagnostics.CannotOpen(request.launcher, file.OpenError());
    return;
  }
  if (!ExamineLauncher(file, request.replace, &inputs->launcher, &error)) {
    diagnostics.Error(request.launcher + ": " + error);
    return;
  }
  inputs->identity = IdentifyLauncher(file, inputs->launcher.pe);
  if (!inputs->identity.ours) {
    std::string text = request.launcher + ": " + DescribeLauncher(inputs->identity) +
                       ": a package appended to it is never extracted";
    if (IsAllowed(request.allowed, kAllowUnknownLauncher)) {
      diagnostics.Note(text + "; built all the same for a custom stub (--allow " + kAllowUnknownLauncher + ")");
    } else {
      diagnostics.Error(text + "; --allow " + kAllowUnknownLauncher + " builds on a deliberate custom stub");
    }
  }
  std::string name = request.stubName.value_or(inputs->identity.originalName);
  if (name.empty()) name = kDefaultStubName;
  if (!Utf8ToCp1252(name, &inputs->stubName) || inputs->stubName.size() >= kPackNameSize) {
    diagnostics.Error("the stub name " + name + " does not fit the stub header as Windows-1252");
  }
}

// Shows the warnings, or with --strict turns those not accepted into errors.
void ReportWarnings(const std::vector<CWarning>& warnings, const CBuildRequest& request, CDiagnostics& diagnostics) {
  for (const CWarning& warning : warnings) {
    ReportWarning(warning.id, warning.text, request.allowed, request.strict, diagnostics);
  }
}

std::string Summary(const CBuildRequest& request, const CBuildInputs& inputs, std::uint64_t length) {
  std::uint64_t bytes = 0;
  for (const CInputFile& file : inputs.collected.files) bytes += file.size;
  std::size_t excluded = inputs.collected.excluded;
  const CLauncherIdentity& identity = inputs.identity;
  return ShownText(request.out) + ": " + std::to_string(inputs.collected.files.size()) + " entries, " +
         std::to_string(bytes) + " bytes of files" +
         (excluded ? " (" + std::to_string(excluded) + " excluded)" : "") + ", " + std::to_string(length) +
         "-byte installer, " +
         (request.sign ? "signed (" + request.signing.hash + ")" : std::string("unsigned")) + "; launcher " +
         (identity.fileVersion.empty() ? std::string("of unknown version") : identity.fileVersion) + ", " +
         identity.architecture + "\n";
}

std::string JsonReport(const CBuildRequest& request, const CBuildInputs& inputs, std::uint64_t length) {
  CFileSource written(request.out);
  std::string sha256 = Sha256Hex(written, 0, written.Size());
  const CLauncherIdentity& identity = inputs.identity;
  return "{\"schema\":\"" + std::string(kSchema) + "\",\"file\":" + JsonString(request.out) +
         ",\"size\":" + std::to_string(length) + ",\"sha256\":" + JsonString(sha256) +
         ",\"entries\":" + std::to_string(inputs.collected.files.size()) +
         ",\"excluded\":" + std::to_string(inputs.collected.excluded) +
         ",\"signed\":" + (request.sign ? "true" : "false") + ",\"stubName\":" +
         JsonString(Cp1252ToUtf8(inputs.stubName)) + ",\"launcherVersion\":" +
         JsonStringOrNull(identity.fileVersion) + ",\"launcherArchitecture\":" + JsonString(identity.architecture) +
         "}\n";
}

// Writes the package to a temporary file, signs it if asked, and renames it.
bool WriteInstaller(CBuildRequest& request, CByteSource& launcherFile, const CBuildInputs& inputs,
                    std::uint64_t* length, CDiagnostics& diagnostics) {
  const CLauncherImage& launcher = inputs.launcher;
  CPrefixSource prefix(launcherFile, launcher.length);
  CPatchedSource image(prefix);
  if (launcher.hadSignature) image.Overlay(launcher.pe.securityEntryOffset, std::vector<std::uint8_t>(8, 0));
  CPackageContents contents;
  contents.image = &image;
  contents.launcherName = inputs.stubName;
  contents.checkSumOffset = launcher.pe.checkSumOffset;
  std::vector<std::unique_ptr<CDeferredFileSource>> sources;
  for (const CInputFile& file : inputs.collected.files) {
    sources.push_back(std::make_unique<CDeferredFileSource>(file.path, file.size));
    contents.entries.push_back(CPackEntry{file.name, sources.back().get()});
  }
  // A wrong password or a key that does not fit shows before the package is written.
  if (request.sign && !TrialSign(request.signing, image, launcher.length, diagnostics)) return false;
  ReportLeftoverOutputs(request.out, diagnostics);
  CTempOutput temp(request.out);
  if (!temp.Ok()) {
    diagnostics.Error(temp.Error(), Fault::kCannotCheck);
    return false;
  }
  *length = PackageFileLength(contents);
  {
    std::string error;
    CFileSink sink(temp.Path(), CFileSink::CExistingEmpty());
    CProgress shown(*length, request.progress);
    bool written = sink.IsOpen() && WritePackage(contents, sink, shown.Callback(), &error);
    written = sink.Close() && written;
    if (!written) {
      // The sink's own failure carries the system's words (a full disk says so).
      diagnostics.Error(request.out + ": " +
                            (sink.Errno() != 0 ? "cannot write: " + SystemReason(sink.Errno()) : error),
                        Fault::kCannotCheck);
      return false;
    }
  }
  if (!request.sign) {
    if (temp.Commit()) return true;
    diagnostics.Error(temp.Error(), Fault::kCannotCheck);
    return false;
  }
  if (!SignInto(request.signing, temp.Path(), *length, request.out, diagnostics)) return false;
  CFileSource written(request.out);
  *length = written.Size();
  return true;
}

int RunBuild(CBuildRequest& request, const CCommandRun& run) {
  CDiagnostics& diagnostics = run.diagnostics;
  std::vector<CWarning> warnings;
  CBuildInputs inputs;
  CFileSource launcherFile(request.launcher);
  ReadLauncher(request, launcherFile, &inputs, diagnostics);
  std::string error;
  if (request.filesFrom && !ReadFileList(*request.filesFrom, run.in, &request.operands, &error)) {
    diagnostics.Error(error, Fault::kCannotCheck);
  }
  bool complete = CollectInputs(request.operands, request.excludes, &inputs.collected, diagnostics);
  warnings.insert(warnings.end(), inputs.collected.warnings.begin(), inputs.collected.warnings.end());
  CheckOutput(request, inputs.collected, diagnostics);
  CheckInputNames(request, inputs.collected.files, complete, diagnostics, &warnings);
  if (request.sign) CheckSignInputs(request.signing, diagnostics);
  ReportWarnings(warnings, request, diagnostics);
  if (diagnostics.HasErrors()) return diagnostics.ExitCode();
  std::uint64_t length = 0;
  if (!WriteInstaller(request, launcherFile, inputs, &length, diagnostics)) return diagnostics.ExitCode();
  run.out << (request.json ? JsonReport(request, inputs, length) : Summary(request, inputs, length));
  return kExitOk;
}

}  // namespace

const CCommand kBuildCommand = {
    "build",
    "append files to a launcher image and write the installer",
    "build --launcher UnPackFile.exe --out setup.exe [options] ITEM...",
    "Appends the files to the launcher image as a package and writes the installer.\n"
    "Each ITEM is a file, a folder whose files (not subfolders) are added sorted\n"
    "by name, or NAME=PATH to store the file PATH as NAME. Entries keep the order\n"
    "given. The same inputs give the same bytes, whatever the launcher file is\n"
    "called. On success one summary line goes to standard output. Each warning\n"
    "shows its id, e.g. \"warning [run-bat-lf]\".\n",
    BuildCommandOptions(),
    0,
    SIZE_MAX,
    "",
    RunsOn(RunBuild, CheckBuild),
    kSchema,
    BuildAllowIds(),
};
