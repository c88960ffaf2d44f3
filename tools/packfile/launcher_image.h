// The launcher image a package is appended to: checks that the given file is a
// PE image and finds an old package or signature that must not be kept.
#pragma once

#include <cstdint>
#include <string>

#include "package/byte_stream.h"
#include "package/pe_image.h"

struct CLauncherImage {
  CPeImage pe;
  std::uint64_t length = 0;         // the leading bytes of the file that form the image
  bool hadSignature = false;        // a certificate table was dropped
  bool hadPackage = false;          // an old package was dropped
};

// Examines a launcher file. Returns false with `error` set when it is not a PE
// image, or carries a signature or a package and `replace` is false; with
// `replace` those are left out of `length` (the caller also clears the
// security entry when hadSignature is set).
bool ExamineLauncher(CByteSource& file, bool replace, CLauncherImage* launcher, std::string* error);
