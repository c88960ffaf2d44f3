#include <cstdio>

#include "bytes/file_bytes.h"
#include "format/package_layout.h"
#include "tools/packfile/cli/args.h"
#include "tools/packfile/cli/commands.h"
#include "tools/packfile/core/cp1252.h"
#include "tools/packfile/core/entry_digest.h"
#include "tools/packfile/cli/exit_codes.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/locate_package.h"
#include "tools/packfile/core/shown_name.h"

namespace {

constexpr char kListHelp[] =
    "usage: packfile list [--json] [--sha256] FILE\n"
    "\n"
    "Shows the header offset, the certificate table size and one row per entry\n"
    "(record offset, data size, name), read the way the launcher reads them:\n"
    "the certificate size from byte 156 of the PE headers (byte 172 in a PE32+\n"
    "image), the stub header before that table, then the records until one's\n"
    "count stops the walk. A file whose layout verify would fail (a cut\n"
    "download, say) is refused with the reasons and exit code 1.\n"
    "  --sha256   add each entry's SHA-256\n"
    "  --json     one JSON document (schema packfile-list/1, see the README)\n";

std::string Row(unsigned long long offset, unsigned long long size, const std::string& name) {
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), "%14llu  %14llu  ", offset, size);
  return numbers + name;
}

std::string DataSha256(CByteSource& file, const CWalkEntry& entry) {
  return Sha256Hex(file, entry.recordOffset + kPackHeaderSize, entry.record.size);
}

void PrintJson(CByteSource& file, const std::string& path, const CLocatorRead& located, const CLauncherWalk& walk,
               bool sha256, std::ostream& out) {
  out << "{\"schema\":\"packfile-list/1\",\"file\":" << JsonString(path)
      << ",\"headerOffset\":" << located.headerOffset
      << ",\"certificateTableSize\":" << (located.certificateSize > 0 ? located.certificateSize : 0)
      << ",\"entries\":[";
  for (std::size_t k = 0; k < walk.entries.size(); ++k) {
    const CWalkEntry& entry = walk.entries[k];
    out << (k ? "," : "") << "\n  {\"index\":" << k + 1
        << ",\"name\":" << JsonString(Cp1252ToUtf8(RecordName(entry.record)))
        << ",\"size\":" << entry.record.size << ",\"offset\":" << entry.recordOffset;
    if (sha256) out << ",\"sha256\":" << JsonString(DataSha256(file, entry));
    out << "}";
  }
  out << "],\n \"stopOffset\":" << walk.stopOffset << "}\n";
}

}  // namespace

int RunList(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
  CParsedArgs parsed;
  int exitCode = kExitOk;
  if (!ParseCommandArgs(args, {"--help", "--json", "--sha256"}, 1, "list takes one FILE", kListHelp, out, err,
                        &parsed, &exitCode)) {
    return exitCode;
  }
  const std::string& path = parsed.operands[0];
  CFileSource file(path);
  if (!file.IsOpen()) {
    err << "packfile: " << ShownText(path) << ": cannot open\n";
    return kExitFailed;
  }
  CLocatorRead located;
  if (!LocatePackageOrSay(file, path, err, &located)) return kExitFailed;
  CLauncherWalk walk = WalkLikeLauncher(file, located.headerOffset);
  bool sha256 = parsed.Has("--sha256");
  if (parsed.Has("--json")) {
    PrintJson(file, path, located, walk, sha256, out);
    return kExitOk;
  }
  out << "header offset: " << located.headerOffset << "\n"
      << "certificate table: " << (located.certificateSize > 0 ? located.certificateSize : 0) << " bytes\n"
      << "entries: " << walk.entries.size() << "\n"
      << "        offset            size  name" << (sha256 ? "  (sha256)" : "") << "\n";
  for (const CWalkEntry& entry : walk.entries) {
    out << Row(entry.recordOffset, entry.record.size, ShownName(RecordName(entry.record)));
    if (sha256) out << "  " << DataSha256(file, entry);
    out << "\n";
  }
  out << "a launcher stops at offset " << walk.stopOffset << ", " << DescribeWalkStop(walk) << "\n";
  return kExitOk;
}
