// Packages for the tests, written by the one package writer: a PE image,
// entries of pattern data, optionally a certificate table; and the pattern
// itself, so that a test can say which bytes an entry must hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "bytes/byte_stream.h"

namespace test_support {

using Bytes = std::vector<std::uint8_t>;

// Bytes computed from their offset and a seed, so any misplaced or swapped
// copy shows: the offset / 251 term makes no shift by a power of two (a
// buffer's size) give the same bytes.
class CPatternSource : public CByteSource {
 public:
  CPatternSource(std::uint64_t size, std::uint8_t seed) : size_(size), seed_(seed) {}
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override;
  // The byte this source holds at offset.
  std::uint8_t At(std::uint64_t offset) const { return static_cast<std::uint8_t>(offset * 7 + seed_ + offset / 251); }

 private:
  std::uint64_t size_;
  std::uint8_t seed_;
};

// The whole of a pattern: the data of entry `seed` of BuildPackage.
std::string PatternBytes(std::uint64_t size, std::uint8_t seed);

struct CTestEntry {
  std::string name;  // Windows-1252, as the writer stores it
  std::uint64_t size;
};

// The launcher image with entries appended (entry k holds the pattern of
// seed k); the CheckSum filled in unless fillCheckSum is false. A failure of
// the writer fails the current test.
Bytes BuildPackage(const Bytes& image, const std::vector<CTestEntry>& entries,
                   const std::string& launcherName = "UnPackFile.exe", bool fillCheckSum = true);

// An entry whose bytes are given.
struct CTestFile {
  std::string name;  // Windows-1252, as the writer stores it, unchecked
  std::string bytes;
};

// The same with entries of given bytes.
Bytes BuildPackageOf(const Bytes& image, const std::vector<CTestFile>& files,
                   const std::string& launcherName = "UnPackFile.exe", bool fillCheckSum = true);

// Points the security entry of a PE image held in memory at offset, size.
void SetSecurityEntry(Bytes* file, std::uint32_t offset, std::uint32_t size);
// Rewrites the CheckSum of a PE image held in memory after a hand edit.
void FixCheckSum(Bytes* file);
// Appends a certificate table of size bytes (a revision 2.0 PKCS #7 header,
// then filler) and points the security entry at it; the CheckSum is left as is.
void AppendCertificate(Bytes* file, std::uint32_t size);

}  // namespace test_support
