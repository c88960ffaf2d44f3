// The launcher image a package is appended to: checks that the given file is a
// PE image and finds an old package or signature that must not be kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"
#include "pe/pe_image.h"

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

struct CLauncherIdentity {
  bool ours = false;          // its version block names this project's product
  std::string fileVersion;    // e.g. "2.0.3.352", from the fixed part of the block
  std::string architecture;   // e.g. "32-bit x86"
  std::string originalName;   // the block's OriginalFilename (UTF-8), when it has one
  std::string why;            // when not ours: what is missing
};

// The value of string `key` in a version block's bytes (a String structure:
// lengths and type, the key, padding to 4 bytes from the block's start, the
// value), as UTF-8; empty when the block has no such string.
std::string VersionString(const std::vector<std::uint8_t>& block, const std::u16string& key);

// Reads the launcher's version block (resource 16, id 1) through the PE
// resource reader: an image without it, or whose block does not name the
// product, is some other program, and a package appended to it would never
// be extracted.
CLauncherIdentity IdentifyLauncher(CByteSource& file, const CPeImage& pe);

// The identity as one phrase for reports: "UnPackFile launcher 2.0.3.352,
// 32-bit x86", or "not an UnPackFile launcher (why), 32-bit x86".
std::string DescribeLauncher(const CLauncherIdentity& identity);

// The identity as JSON members for list and verify, each led by a comma:
// "launcherKnown", "launcherVersion" (null without a version block) and
// "launcherArchitecture".
std::string LauncherJson(const CLauncherIdentity& identity);

// The --allow id that accepts an image which is not this project's launcher
// (a deliberate custom stub).
constexpr char kAllowUnknownLauncher[] = "unknown-launcher";
