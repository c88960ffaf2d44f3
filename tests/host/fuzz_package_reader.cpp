// libFuzzer target: the reader behind list, verify and extract must take any
// bytes without crashing, and a file that verify passes must be one that the
// launcher's own reading extracts exactly as reported.
#include <cstddef>
#include <cstdint>

#include "format/package_layout.h"
#include "format/package_reader.h"
#include "tests/support/memory_bytes.h"
#include "tools/packfile/core/entry_name.h"
#include "tools/packfile/core/verify.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  CMemorySource file(data, size);
  CLocatorRead located = LocateLikeLauncher(file);
  if (located.found) WalkLikeLauncher(file, located.headerOffset);
  CVerifyReport report = VerifyPackage(file);
  if (!report.Passed()) return 0;
  if (!located.found) __builtin_trap();
  CLauncherWalk walk = WalkLikeLauncher(file, located.headerOffset);
  if (walk.written != report.launcherEntries || walk.written != walk.entries.size() ||
      walk.stop != WalkStep::kCount) {
    __builtin_trap();
  }
  for (const CWalkEntry& entry : walk.entries) {
    if (entry.delivered != entry.record.size) __builtin_trap();
    if (CheckEntryName(RecordName(entry.record)) != NameProblem::kNone) __builtin_trap();
  }
  return 0;
}
