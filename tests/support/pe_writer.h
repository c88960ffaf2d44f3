// Writes small but well-formed PE images: launcher stand-ins for tests that
// must not depend on a Windows compiler. Portable.
#pragma once

#include <cstdint>
#include <vector>

#include "format/reading_rules.h"
#include "pe/pe_image.h"

struct CPeImageShape {
  bool pe32plus = false;            // x86-64 (PE32+) instead of x86 (PE32)
  std::uint32_t fileSize = 0x400;   // whole image; a multiple of 0x200, at least 0x400
  std::uint32_t resourceSize = 0;   // Size given to the resource directory entry
  std::uint16_t subsystem = 2;      // Windows GUI
  // A version block naming this project's launcher (kTestLauncherVersion), as
  // the real launcher carries, laid in the code section after its first byte;
  // false for an image that is some other program.
  bool versionBlock = true;
};

// The file version the synthetic launcher's version block gives.
constexpr char kTestLauncherVersion[] = "2.0.9.1";

// An image of one code section filling the file after 0x200 bytes of headers;
// its CheckSum is 0 and its security entry empty. An invalid `fileSize` is
// rounded up to the next valid one.
std::vector<std::uint8_t> MakePeImage(const CPeImageShape& shape);
