#include <filesystem>
#include <fstream>
#include <vector>

#include "package/cp1252.h"
#include "package/file_bytes.h"
#include "package/package_layout.h"
#include "tools/packfile/args.h"
#include "tools/packfile/commands.h"
#include "tools/packfile/exit_codes.h"
#include "tools/packfile/locate_package.h"
#include "tools/packfile/name_list.h"

namespace fs = std::filesystem;

namespace {

constexpr char kExtractHelp[] =
    "usage: packfile extract [--force] FILE DIR\n"
    "\n"
    "Writes the entries a launcher would extract from FILE into DIR (created if\n"
    "missing). Names are checked as build checks them; nothing is written when\n"
    "one is unsafe or an entry is cut short.\n"
    "  --force   overwrite files that already exist in DIR\n";

std::string Label(std::size_t k, const CWalkEntry& entry) {
  return "entry " + std::to_string(k + 1) + " (" + Cp1252ToUtf8(RecordName(entry.record)) + ")";
}

// Everything that refuses the extraction, found before anything is written.
std::vector<std::string> CheckEntries(const CLauncherWalk& walk, std::uint64_t stubOffset, const fs::path& dir,
                                      bool force) {
  std::vector<std::string> errors;
  std::vector<std::string> names;
  for (std::size_t k = 0; k < walk.entries.size(); ++k) {
    const CWalkEntry& entry = walk.entries[k];
    names.push_back(RecordName(entry.record));
    std::uint64_t dataStart = entry.recordOffset + kPackHeaderSize;
    if (entry.recordBytesRead != kPackHeaderSize || entry.delivered != entry.record.size ||
        dataStart > stubOffset || entry.record.size > stubOffset - dataStart) {
      errors.push_back(Label(k, entry) + ": the file or the package ends inside it");
    }
    if (!RecordNameTerminated(entry.record)) errors.push_back(Label(k, entry) + ": the name has no terminating zero");
  }
  for (const CNameIssue& issue : CheckNameList(names)) {
    if (issue.error) errors.push_back(Label(issue.index, walk.entries[issue.index]) + ": the name " + issue.text);
  }
  if (!errors.empty() || force) return errors;
  for (std::size_t k = 0; k < names.size(); ++k) {
    std::error_code ec;
    if (fs::exists(dir / Cp1252ToUtf8(names[k]), ec)) {
      errors.push_back((dir / Cp1252ToUtf8(names[k])).string() + ": exists (--force overwrites)");
    }
  }
  return errors;
}

bool WriteEntry(CByteSource& file, const CWalkEntry& entry, const fs::path& target, std::string* error) {
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  std::vector<char> buffer(1 << 20);
  std::uint64_t offset = entry.recordOffset + kPackHeaderSize;
  for (std::uint64_t left = entry.record.size; out && left > 0;) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left));
    std::size_t got = file.ReadAt(offset, buffer.data(), want);
    if (got == 0) break;
    out.write(buffer.data(), static_cast<std::streamsize>(got));
    offset += got;
    left -= got;
  }
  out.close();
  if (out.fail() || offset != entry.recordOffset + kPackHeaderSize + entry.record.size) {
    *error = target.string() + ": cannot write";
    return false;
  }
  return true;
}

}  // namespace

int RunExtract(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  int exitCode = kExitOk;
  if (!ParseCommandArgs(args, {"--help", "--force"}, 2, "extract takes FILE and DIR", kExtractHelp, out, err, &parsed, &exitCode)) return exitCode;
  const std::string& path = parsed.operands[0];
  fs::path dir(parsed.operands[1]);
  CFileSource file(path);
  if (!file.IsOpen()) {
    err << "packfile: " << path << ": cannot open\n";
    return kExitFailed;
  }
  CLocatorRead located;
  if (!LocatePackageOrSay(file, path, err, &located)) return kExitFailed;
  CLauncherWalk walk = WalkLikeLauncher(file, located.headerOffset);
  std::vector<std::string> errors = CheckEntries(walk, located.stubOffset, dir, parsed.Has("--force"));
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (ec) errors.push_back(dir.string() + ": " + ec.message());
  for (const std::string& line : errors) err << "packfile: " << path << ": " << line << "\n";
  if (!errors.empty()) return kExitFailed;
  std::string error;
  for (const CWalkEntry& entry : walk.entries) {
    if (!WriteEntry(file, entry, dir / Cp1252ToUtf8(RecordName(entry.record)), &error)) {
      err << "packfile: " << error << "\n";
      return kExitFailed;
    }
  }
  out << walk.entries.size() << " entries written to " << dir.string() << "\n";
  return kExitOk;
}
