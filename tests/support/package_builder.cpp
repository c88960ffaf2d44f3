#include "tests/support/package_builder.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include <gtest/gtest.h>

#include "format/package_writer.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "tests/support/memory_bytes.h"

namespace test_support {

std::size_t CPatternSource::ReadAt(std::uint64_t offset, void* buffer, std::size_t length) {
  if (offset >= size_) return 0;
  std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
  auto* out = static_cast<std::uint8_t*>(buffer);
  for (std::size_t k = 0; k < n; ++k) out[k] = At(offset + k);
  return n;
}

std::string PatternBytes(std::uint64_t size, std::uint8_t seed) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  if (!bytes.empty()) CPatternSource(size, seed).ReadAt(0, &bytes[0], bytes.size());
  return bytes;
}

namespace {

// The package of image and entries (name, data) as the writer writes it.
Bytes Write(const Bytes& image, const std::vector<std::pair<std::string, std::unique_ptr<CByteSource>>>& entries,
            const std::string& launcherName, bool fillCheckSum) {
  CMemorySource imageSource(image);
  CPeImage pe;
  std::string error;
  EXPECT_TRUE(ReadPeImage(imageSource, &pe, &error)) << error;
  CPackageContents contents;
  contents.image = &imageSource;
  contents.launcherName = launcherName;
  if (fillCheckSum) contents.checkSumOffset = pe.checkSumOffset;
  for (const auto& [name, source] : entries) contents.entries.push_back(CPackEntry{name, source.get()});
  CMemorySink sink;
  EXPECT_TRUE(WritePackage(contents, sink, nullptr, &error)) << error;
  return sink.Bytes();
}

}  // namespace

Bytes BuildPackage(const Bytes& image, const std::vector<CTestEntry>& entries, const std::string& launcherName,
                   bool fillCheckSum) {
  std::vector<std::pair<std::string, std::unique_ptr<CByteSource>>> sources;
  for (std::size_t k = 0; k < entries.size(); ++k)
    sources.emplace_back(entries[k].name, std::make_unique<CPatternSource>(entries[k].size, static_cast<std::uint8_t>(k)));
  return Write(image, sources, launcherName, fillCheckSum);
}

Bytes BuildPackageOf(const Bytes& image, const std::vector<CTestFile>& files, const std::string& launcherName,
                   bool fillCheckSum) {
  std::vector<std::pair<std::string, std::unique_ptr<CByteSource>>> sources;
  for (const CTestFile& file : files)
    sources.emplace_back(file.name, std::make_unique<CMemorySource>(file.bytes.data(), file.bytes.size()));
  return Write(image, sources, launcherName, fillCheckSum);
}

void SetSecurityEntry(Bytes* file, std::uint32_t offset, std::uint32_t size) {
  CMemorySource source(*file);
  CPeImage image;
  std::string error;
  ASSERT_TRUE(ReadPeImage(source, &image, &error)) << error;
  std::memcpy(file->data() + image.securityEntryOffset, &offset, 4);
  std::memcpy(file->data() + image.securityEntryOffset + 4, &size, 4);
}

void FixCheckSum(Bytes* file) {
  CMemorySource source(*file);
  CPeImage image;
  std::string error;
  ASSERT_TRUE(ReadPeImage(source, &image, &error)) << error;
  std::uint32_t sum = 0;
  ASSERT_TRUE(ComputePeChecksum(source, image.checkSumOffset, &sum));
  std::memcpy(file->data() + image.checkSumOffset, &sum, 4);
}

void AppendCertificate(Bytes* file, std::uint32_t size) {
  std::uint32_t offset = static_cast<std::uint32_t>(file->size());
  file->resize(file->size() + size, 0x5A);
  std::uint16_t revision = 0x0200, type = 2;  // WIN_CERT_REVISION_2_0, WIN_CERT_TYPE_PKCS_SIGNED_DATA
  std::memcpy(file->data() + offset, &size, 4);
  std::memcpy(file->data() + offset + 4, &revision, 2);
  std::memcpy(file->data() + offset + 6, &type, 2);
  SetSecurityEntry(file, offset, size);
}

}  // namespace test_support
