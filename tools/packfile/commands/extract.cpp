#include <unistd.h>

#include <vector>

#include "bytes/file_bytes.h"
#include "format/package_layout.h"
#include "tools/packfile/cli/args.h"
#include "tools/packfile/cli/commands.h"
#include "tools/packfile/core/cp1252.h"
#include "tools/packfile/cli/exit_codes.h"
#include "tools/packfile/output/extract_output.h"
#include "tools/packfile/core/locate_package.h"
#include "tools/packfile/core/name_list.h"
#include "tools/packfile/core/shown_name.h"

namespace {

constexpr char kExtractHelp[] =
    "usage: packfile extract [--force] FILE DIR\n"
    "\n"
    "Writes the entries a launcher would extract from FILE into DIR (created if\n"
    "missing). Names are checked as build checks them; nothing is written when\n"
    "one is unsafe, an entry is cut short or the layout fails verify. Entries are\n"
    "written into a private folder inside DIR and moved into place only when all\n"
    "are complete; a link in DIR is never followed.\n"
    "  --force   replace files or links that already stand at an entry's name\n";

std::string Label(std::size_t k, const CWalkEntry& entry) {
  return "entry " + std::to_string(k + 1) + " (" + ShownName(RecordName(entry.record)) + ")";
}

// Everything that refuses the extraction, found before anything is written.
std::vector<std::string> CheckEntries(const CLauncherWalk& walk, std::uint64_t stubOffset) {
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

}  // namespace

int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  int exitCode = kExitOk;
  if (!ParseCommandArgs(args, {"--help", "--force"}, 2, "extract takes FILE and DIR", kExtractHelp, out, err, &parsed,
                        &exitCode)) {
    return exitCode;
  }
  const std::string& path = parsed.operands[0];
  const std::string& dir = parsed.operands[1];
  const std::string shownPath = ShownText(path);
  CFileSource file(path);
  if (!file.IsOpen()) {
    err << "packfile: " << shownPath << ": cannot open\n";
    return kExitFailed;
  }
  CLocatorRead located;
  if (!LocatePackageOrSay(file, path, err, &located)) return kExitFailed;
  CLauncherWalk walk = WalkLikeLauncher(file, located.headerOffset);
  std::vector<std::string> errors = CheckEntries(walk, located.stubOffset);
  CExtractOutput output(dir, parsed.Has("--force"));
  if (errors.empty() && !output.Ok()) errors.push_back(output.Error());
  bool check = errors.empty() && !parsed.Has("--force");
  for (std::size_t k = 0; check && k < walk.entries.size(); ++k) {
    std::string name = Cp1252ToUtf8(RecordName(walk.entries[k].record));
    if (output.Exists(name)) {
      errors.push_back(ShownText(dir) + "/" + ShownText(name) + ": exists (--force replaces it)");
    }
  }
  for (const std::string& line : errors) err << "packfile: " << shownPath << ": " << line << "\n";
  if (!errors.empty()) return kExitFailed;
  for (std::size_t k = 0; k < walk.entries.size(); ++k) {
    const CWalkEntry& entry = walk.entries[k];
    int fd = output.Create(Cp1252ToUtf8(RecordName(entry.record)));
    bool written = fd >= 0 && WriteEntry(file, entry, fd);
    if (fd >= 0 && close(fd) != 0) written = false;
    if (!written) {
      err << "packfile: " << (fd < 0 ? output.Error() : ShownText(dir) + ": cannot write " + Label(k, entry)) << "\n";
      return kExitFailed;
    }
  }
  if (!output.Commit()) {
    err << "packfile: " << output.Error() << "; nothing was extracted\n";
    return kExitFailed;
  }
  out << walk.entries.size() << " entries written to " << ShownText(dir) << "\n";
  return kExitOk;
}
