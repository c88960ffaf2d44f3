// Appends a package to a launcher image: the one writer of the layout.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"

struct CPackEntry {
  std::string name;              // Windows-1252, checked by the caller
  CByteSource* data = nullptr;   // the entry's bytes, all of them copied
};

struct CPackageContents {
  CByteSource* image = nullptr;               // the launcher image, copied as is
  std::vector<CPackEntry> entries;            // in package order
  std::string launcherName;                   // the stub header's name, Windows-1252
  std::optional<std::uint64_t> checkSumOffset;  // the PE CheckSum field to fill in
};

// Called as bytes go out: bytes written so far and the package's total.
using PackProgress = std::function<void(std::uint64_t written, std::uint64_t total)>;

// The length of the file WritePackage writes for `contents`.
std::uint64_t PackageFileLength(const CPackageContents& contents);

// Writes image, entry records and data, filler and stub header to `out`, then
// patches the CheckSum when asked. Returns false with `error` set when a source
// delivers fewer bytes than its size or a write fails; `out` then holds a
// partial file that the caller must discard.
bool WritePackage(const CPackageContents& contents, CByteSink& out, const PackProgress& progress, std::string* error);
