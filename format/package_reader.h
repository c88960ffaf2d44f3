// Reads a package the way the launcher does: its locator's reads at fixed
// header offsets, then its walk over the records. What list, verify, extract
// and the tests report is therefore what a launcher would do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "format/byte_stream.h"
#include "format/packfile_header.h"

// The launcher reads 248 bytes of PE headers and takes the certificate table
// length from the security entry's Size, whose place depends on the optional
// header's magic: the data directories of a PE32+ image start 16 bytes later.
// An unknown magic is read as PE32.
constexpr std::size_t kLauncherPeHeaderRead = 248;
constexpr std::size_t kLauncherMagicAt = 24;
constexpr std::size_t kLauncherCertificateSizeAt = 156;      // PE32
constexpr std::size_t kLauncherCertificateSizeAtPlus = 172;  // PE32+

struct CLocatorRead {
  bool found = false;                 // false: no package, or the reads failed
  std::int32_t peOffset = 0;          // the int32 at byte 60
  std::uint16_t magic = 0;            // the uint16 at PE offset + 24
  std::size_t certificateSizeAt = kLauncherCertificateSizeAt;  // 156 or 172, after the PE offset
  std::int32_t certificateSize = 0;   // the int32 read there
  std::uint64_t stubOffset = 0;       // where the stub header was read
  std::uint64_t headerOffset = 0;     // the stub header's size; 0 when none
  std::string failure;                // why nothing was found, when not found
};

// Where the launcher takes the certificate length for an optional header magic.
std::size_t LauncherCertificateSizeAt(std::uint16_t magic);

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
  std::uint64_t recordBytesRead = 0; // 284 unless the file ended inside the record
  std::uint64_t delivered = 0;       // data bytes the file supplied, at most size
};

struct CLauncherWalk {
  std::vector<CWalkEntry> entries;   // every entry the launcher would write
  std::uint64_t stopOffset = 0;      // where the record that ended the walk was read
  bool stoppedByCount = false;       // false: the read there delivered nothing
  std::int32_t stopCount = 0;        // the count read there, when stopped by count
};

// Walks from `headerOffset` as the extractor does: read a record, stop on an
// empty read or when the entries so far reach its count, else copy `size`.
// Always ends: every step consumes the file.
CLauncherWalk WalkLikeLauncher(CByteSource& file, std::uint64_t headerOffset);
