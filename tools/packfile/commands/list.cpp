#include <cstdio>

#include "bytes/file_bytes.h"
#include "format/package_layout.h"
#include "tools/packfile/commands/commands.h"
#include "tools/packfile/core/cp1252.h"
#include "tools/packfile/core/entry_digest.h"
#include "tools/packfile/core/exit_codes.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/launcher_image.h"
#include "tools/packfile/core/locate_package.h"
#include "tools/packfile/core/shown_name.h"

namespace {

constexpr char kSchema[] = "packfile-list/3";

std::string Row(unsigned long long offset, unsigned long long size, const std::string& name) {
  char numbers[64];
  std::snprintf(numbers, sizeof(numbers), "%14llu  %14llu  ", offset, size);
  return numbers + name;
}

std::string DataSha256(CByteSource& file, const CWalkEntry& entry) {
  return Sha256Hex(file, entry.recordOffset + kPackHeaderSize, entry.record.size);
}

void PrintJson(CByteSource& file, const std::string& path, const CLocatorRead& located, const CLauncherWalk& walk,
               const CLauncherIdentity& launcher, bool sha256, std::ostream& out) {
  out << "{\"schema\":\"" << kSchema << "\",\"file\":" << JsonString(path) << LauncherJson(launcher)
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

void PrintText(CByteSource& file, const CLocatorRead& located, const CLauncherWalk& walk,
               const CLauncherIdentity& launcher, bool sha256, std::ostream& out) {
  out << "launcher: " << DescribeLauncher(launcher) << "\n"
      << "header offset: " << located.headerOffset << "\n"
      << "certificate table: " << (located.certificateSize > 0 ? located.certificateSize : 0) << " bytes\n"
      << "entries: " << walk.entries.size() << "\n"
      << "        offset            size  name" << (sha256 ? "  (sha256)" : "") << "\n";
  for (const CWalkEntry& entry : walk.entries) {
    out << Row(entry.recordOffset, entry.record.size, ShownName(RecordName(entry.record)));
    if (sha256) out << "  " << DataSha256(file, entry);
    out << "\n";
  }
  out << "a launcher stops at offset " << walk.stopOffset << ", " << DescribeWalkStop(walk) << "\n";
}

struct CListRequest : CRequest {
  bool sha256 = false;
};

int RunList(CListRequest& request, const CCommandRun& run) {
  const std::string& path = request.operands[0];
  CFileSource file(path);
  CLocatorRead located;
  CLauncherIdentity launcher;
  if (!file.IsOpen()) {
    run.diagnostics.CannotOpen(path, file.OpenError());
  } else if (LocatePackageOrSay(file, path, run.diagnostics, &located, &launcher)) {
    // Headers and records only: the entries' data is read for --sha256 alone.
    CLauncherWalk walk = WalkLikeLauncher(file, located.headerOffset);
    if (request.json) {
      PrintJson(file, path, located, walk, launcher, request.sha256, run.out);
    } else {
      PrintText(file, located, walk, launcher, request.sha256, run.out);
    }
    return kExitOk;
  }
  return run.diagnostics.ExitCode();
}

}  // namespace

const CCommand kListCommand = {
    "list",
    "show the package as a launcher reads it",
    "list [--json] [--sha256] FILE",
    "Shows the launcher (version, architecture), the header offset, the\n"
    "certificate table size and one row per entry (record offset, data size,\n"
    "name), read the way the launcher reads them:\n"
    "the certificate size from byte 156 of the PE headers (byte 172 in a PE32+\n"
    "image), the stub header before that table, then the records until one's\n"
    "count stops the walk. Only headers and records are read. A file whose\n"
    "layout verify would fail (a cut download, say) is refused with the reasons\n"
    "and exit code 1.\n",
    {{"--sha256", "", "add each entry's SHA-256 (reads the data)", Bind(&CListRequest::sha256)},
     {"--json", "",
      "one JSON document (schema packfile-list/3, see the README),\n"
      "with an \"error\" member when the file is refused",
      Bind(&CRequest::json)}},
    1,
    1,
    "list takes one FILE",
    RunsOn(RunList),
    kSchema,
    {},
};
