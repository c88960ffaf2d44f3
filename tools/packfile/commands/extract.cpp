#include <unistd.h>

#include <vector>

#include "bytes/file_bytes.h"
#include "format/package_layout.h"
#include "pe/pe_image.h"
#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/cp1252.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/locate_package.h"
#include "tools/packfile/core/name_list.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/output/extract_output.h"
#include "tools/packfile/signing/signature.h"

namespace {

constexpr char kSchema[] = "packfile-extract/1";

// Names already standing in the folder are listed up to this many, then counted.
constexpr std::size_t kShownExisting = 5;

std::string Label(std::size_t k, const CWalkEntry& entry) {
  return EntryLabel(k, RecordName(entry.record));
}

// Everything that refuses the extraction, found before anything is written.
std::vector<std::string> CheckExtractable(const CLauncherWalk& walk, std::uint64_t stubOffset) {
  std::vector<std::string> errors;
  std::vector<std::string> names;
  for (std::size_t k = 0; k < walk.entries.size(); ++k) {
    const CWalkEntry& entry = walk.entries[k];
    names.push_back(RecordName(entry.record));
    std::uint64_t dataStart = entry.recordOffset + kPackHeaderSize;
    if (entry.delivered != entry.record.size ||
        dataStart > stubOffset || entry.record.size > stubOffset - dataStart) {
      errors.push_back(Label(k, entry) + ": the file or the package ends inside it");
    }
    if (!RecordNameTerminated(entry.record)) errors.push_back(Label(k, entry) + ": the name has no terminating zero");
  }
  for (const CNameIssue& issue : CheckNameList(names)) {
    if (issue.error) errors.push_back(Label(issue.index, walk.entries[issue.index]) + ": the name " + issue.text);
  }
  return errors;
}

// The names a plain extraction would replace: the first few, then how many more.
std::vector<std::string> ExistingNames(const CLauncherWalk& walk, const CExtractOutput& output, const std::string& dir) {
  std::vector<std::string> lines;
  std::size_t taken = 0;
  for (const CWalkEntry& entry : walk.entries) {
    std::string name = Cp1252ToUtf8(RecordName(entry.record));
    if (!output.Exists(name)) continue;
    if (++taken <= kShownExisting) lines.push_back(dir + "/" + name + ": exists (--force replaces it)");
  }
  if (taken > kShownExisting) {
    lines.push_back("... and " + std::to_string(taken - kShownExisting) + " more entries whose names exist in " + dir);
  }
  return lines;
}

bool WriteEntry(CByteSource& file, const CWalkEntry& entry, int fd) {
  std::vector<char> buffer(1 << 20);
  std::uint64_t offset = entry.recordOffset + kPackHeaderSize;
  for (std::uint64_t left = entry.record.size; left > 0;) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left));
    std::size_t got = file.ReadAt(offset, buffer.data(), want);
    if (got == 0) return false;
    for (std::size_t done = 0; done < got;) {
      ssize_t wrote = write(fd, buffer.data() + done, got - done);
      if (wrote <= 0) return false;
      done += static_cast<std::size_t>(wrote);
    }
    offset += got;
    left -= got;
  }
  return true;
}

// A launcher checks its own signature before it extracts anything: what it
// refuses is refused here too, unless --force, and said either way. A
// signature that cannot be checked is not taken for a good one.
void CheckSignatureLikeLauncher(const std::string& path, CByteSource& file, bool force, CDiagnostics& diagnostics) {
  CPeImage image;
  std::string error;
  if (!ReadPeImage(file, &image, &error)) return;
  CPeDataDirectory table = PeDirectory(image, kPeSecurityDirectory);
  if (table.size == 0) return;
  CSignatureFacts facts = CheckSignature(path, table.virtualAddress, table.size, "");
  std::string why;
  for (const CFinding& finding : facts.findings) {
    if (why.empty() && finding.severity == Severity::kFailure && (facts.launcherRefuses || facts.toolMissing)) {
      why = finding.text;
    }
  }
  if (why.empty()) return;
  if (force) {
    diagnostics.Note(path + ": " + why + "; extracted all the same (--force)");
  } else {
    diagnostics.Error(path + ": " + why + "; --force extracts it all the same",
                      facts.toolMissing ? Fault::kCannotCheck : Fault::kBad);
  }
}

std::string JsonReport(const std::string& path, const std::string& dir, const CLauncherWalk& walk) {
  std::string text = "{\"schema\":\"" + std::string(kSchema) + "\",\"file\":" + JsonString(path) +
                     ",\"directory\":" + JsonString(dir) + ",\"entries\":[";
  for (std::size_t k = 0; k < walk.entries.size(); ++k) {
    const CWalkEntry& entry = walk.entries[k];
    text += std::string(k ? "," : "") + "\n  {\"name\":" + JsonString(Cp1252ToUtf8(RecordName(entry.record))) +
            ",\"size\":" + std::to_string(entry.record.size) + "}";
  }
  return text + "]}\n";
}

struct CExtractRequest : CRequest {
  bool force = false;
};

int Extract(const CExtractRequest& request, const CCommandRun& run, CLauncherWalk* walk) {
  const std::string& path = request.operands[0];
  const std::string& dir = request.operands[1];
  CDiagnostics& diagnostics = run.diagnostics;
  CFileSource file(path);
  if (!file.IsOpen()) {
    diagnostics.CannotOpen(path, file.OpenError());
    return diagnostics.ExitCode();
  }
  // Headers and records only: the data is read once, when it is written.
  CLocatorRead located;
  if (!LocatePackageOrSay(file, path, diagnostics, &located)) return diagnostics.ExitCode();
  *walk = WalkLikeLauncher(file, located.headerOffset);
  for (const std::string& line : CheckExtractable(*walk, located.stubOffset)) diagnostics.Error(path + ": " + line);
  CheckSignatureLikeLauncher(path, file, request.force, diagnostics);
  if (diagnostics.HasErrors()) return diagnostics.ExitCode();
  CExtractOutput output(dir, request.force);
  if (!output.Ok()) {
    diagnostics.Error(output.Error(), Fault::kCannotCheck);
    return diagnostics.ExitCode();
  }
  if (!request.force) {
    for (const std::string& line : ExistingNames(*walk, output, dir)) diagnostics.Error(line);
    if (diagnostics.HasErrors()) return diagnostics.ExitCode();
  }
  for (std::size_t k = 0; k < walk->entries.size(); ++k) {
    const CWalkEntry& entry = walk->entries[k];
    int fd = output.Create(Cp1252ToUtf8(RecordName(entry.record)));
    bool written = fd >= 0 && WriteEntry(file, entry, fd);
    std::string reason = written ? "" : SystemReason();
    if (fd >= 0 && close(fd) != 0 && written) {
      reason = SystemReason();
      written = false;
    }
    if (!written) {
      diagnostics.Error(fd < 0 ? output.Error() : dir + ": cannot write " + Label(k, entry) + ": " + reason,
                        Fault::kCannotCheck);
      return diagnostics.ExitCode();
    }
  }
  if (!output.Commit()) {
    diagnostics.Error(output.Error() + "; nothing was extracted");
    return diagnostics.ExitCode();
  }
  return kExitOk;
}

int RunExtract(CExtractRequest& request, const CCommandRun& run) {
  CLauncherWalk walk;
  int code = Extract(request, run, &walk);
  const std::string& dir = request.operands[1];
  if (code != kExitOk) return code;
  if (request.json) {
    run.out << JsonReport(request.operands[0], dir, walk);
  } else {
    run.out << walk.entries.size() << " entries written to " << ShownText(dir) << "\n";
  }
  return kExitOk;
}

}  // namespace

const CCommand kExtractCommand = {
    "extract",
    "write the entries into a folder",
    "extract [--force] [--json] FILE DIR",
    "Writes the entries a launcher would extract from FILE into DIR (created if\n"
    "missing). Names are checked as build checks them; nothing is written when\n"
    "one is unsafe, an entry is cut short or the layout fails verify. Entries are\n"
    "written into a private folder inside DIR and moved into place only when all\n"
    "are complete; a link in DIR is never followed. FILE's data is read once.\n"
    "A signed FILE that a launcher refuses (changed after signing, a damaged\n"
    "signature block) is refused too, saying why.\n",
    {{"--force", "",
      "replace files or links that already stand at an entry's\n"
      "name, and extract a file a launcher refuses (saying so)",
      Bind(&CExtractRequest::force)},
     {"--json", "", "one JSON document (schema packfile-extract/1, see the README)", Bind(&CRequest::json)}},
    2,
    2,
    "extract takes FILE and DIR",
    RunsOn(RunExtract),
    kSchema,
    {},
};
