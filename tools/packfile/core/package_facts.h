// The package as its builder laid it out, found through the image's own
// security entry and followed by entry sizes alone: what verify compares the
// launcher's reading against, and how build recognises an old package.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"
#include "format/packfile_header.h"
#include "pe/pe_image.h"

struct CLaidEntry {
  std::uint64_t recordOffset = 0;
  PACKFILE_HEADER record{};
};

struct CPackageFacts {
  std::uint64_t fileLength = 0;
  CPeDataDirectory security;          // the image's own security entry
  std::uint64_t contentEnd = 0;       // start of the certificate table, or the file's end
  bool hasStub = false;               // the file holds 284 bytes before contentEnd
  std::uint64_t stubOffset = 0;
  PACKFILE_HEADER stub{};
  std::vector<CLaidEntry> entries;    // laid from the stub's size up to the stub
  std::uint64_t entriesEnd = 0;       // just after the last entry's data
  bool overrun = false;               // the last entry's data runs past the stub offset
};

// Reads the certificate table's place, the stub header and the entries laid
// by their sizes. Never fails: what cannot be read is left empty.
CPackageFacts ReadPackageFacts(CByteSource& file, const CPeImage& image);

// True when `stub`, read at `stubOffset`, is a stub header this layout writes
// for an image whose data ends at `imageEnd`.
bool LooksLikeStub(const PACKFILE_HEADER& stub, std::uint64_t stubOffset, std::uint64_t imageEnd);
