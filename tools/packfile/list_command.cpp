#include <cstdio>

#include "package/cp1252.h"
#include "package/file_bytes.h"
#include "package/package_layout.h"
#include "tools/packfile/args.h"
#include "tools/packfile/commands.h"
#include "tools/packfile/exit_codes.h"
#include "tools/packfile/locate_package.h"

namespace {

constexpr char kListHelp[] =
    "usage: packfile list FILE\n"
    "\n"
    "Shows the header offset, the certificate table size and one row per entry\n"
    "(record offset, data size, name), read the way the launcher reads them:\n"
    "the certificate size from byte 156 of the PE headers (byte 172 in a PE32+\n"
    "image), the stub header before that table, then the records until one's\n"
    "count stops the walk.\n";

std::string Row(unsigned long long offset, unsigned long long size, const std::string& name) {
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), "%14llu  %14llu  ", offset, size);
  return numbers + name;
}

}  // namespace

int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  int exitCode = kExitOk;
  if (!ParseCommandArgs(args, {"--help"}, 1, "list takes one FILE", kListHelp, out, err, &parsed, &exitCode)) return exitCode;
  const std::string& path = parsed.operands[0];
  CFileSource file(path);
  if (!file.IsOpen()) {
    err << "packfile: " << path << ": cannot open\n";
    return kExitFailed;
  }
  CLocatorRead located;
  if (!LocatePackageOrSay(file, path, err, &located)) return kExitFailed;
  CLauncherWalk walk = WalkLikeLauncher(file, located.headerOffset);
  out << "header offset: " << located.headerOffset << "\n"
      << "certificate table: " << (located.certificateSize > 0 ? located.certificateSize : 0) << " bytes\n"
      << "entries: " << walk.entries.size() << "\n"
      << "        offset            size  name\n";
  for (const CWalkEntry& entry : walk.entries) {
    out << Row(entry.recordOffset, entry.record.size, Cp1252ToUtf8(RecordName(entry.record))) << "\n";
  }
  out << "a launcher stops at offset " << walk.stopOffset
      << (walk.stoppedByCount ? ", reading count " + std::to_string(walk.stopCount) : ", at the end of the file")
      << "\n";
  return kExitOk;
}
