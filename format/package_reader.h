// Reads a package the way the launcher does: the launcher's own locate and
// walk sequence (format/package_walk.h) and reading rules, over a byte source
// instead of the launcher's file. What list, verify, extract and the tests
// report is therefore what a launcher does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"
#include "format/reading_rules.h"

struct CLocatorRead {
  bool found = false;                 // false: no package, or the reads failed
  std::int32_t peOffset = 0;          // the int32 at pe::kPeOffsetAt
  std::uint16_t magic = 0;            // the optional header's magic
  std::size_t certificateSizeAt = kSecuritySizeAtPe32;  // or kSecuritySizeAtPe32Plus, after the PE offset
  std::int32_t certificateSize = 0;   // the int32 read there
  std::uint64_t stubOffset = 0;       // where the stub header was read
  std::uint64_t headerOffset = 0;     // the stub header's size; 0 when none
  std::string failure;                // why nothing was found, when not found
};

// Finds the header offset as the launcher does. Never fails on malformed
// input: `found` is false and `failure` says why.
CLocatorRead LocateLikeLauncher(CByteSource& file);

// Finds the header offset from a given certificate table length, with the
// launcher's other rules: what list and extract compare the launcher's
// reading against when it disagrees with the image's own security entry.
CLocatorRead LocateWithCertificateSize(CByteSource& file, std::int32_t certificateSize);

struct CWalkEntry {
  std::uint64_t recordOffset = 0;
  PACKFILE_HEADER record{};          // as the launcher holds it after the read
  std::uint64_t delivered = 0;       // data bytes the file supplied, at most size
  bool written = false;              // the launcher writes the file: see LauncherWritesName
};

struct CLauncherWalk {
  std::vector<CWalkEntry> entries;   // every entry the walk reaches, written or skipped
  std::size_t written = 0;           // the entries a launcher writes
  std::uint64_t stopOffset = 0;      // where the record that ended the walk was read
  WalkStep stop = WalkStep::kEndOfFile;  // what ended it
  std::int32_t stopCount = 0;        // the count read there, when stopped by count
};

// Walks from `headerOffset` as the extractor does: read a record, then go on
// while NextWalkStep says kEntry, writing the entry when its name passes the
// rules and moving past `size` bytes of data either way (Windows-1252 names,
// which convert unit for unit). Always ends: every step consumes the file.
CLauncherWalk WalkLikeLauncher(CByteSource& file, std::uint64_t headerOffset);

// How the walk ended, e.g. "reading count -1" or "at the end of the file".
std::string DescribeWalkStop(const CLauncherWalk& walk);

// True when `record`'s name is one the launcher writes a file for: it passes
// the reading rules and holds none of < > " | ? *, for which the system
// refuses the launcher's open.
bool LauncherWritesName(const PACKFILE_HEADER& record);
