#include "package_files.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include "format/package_writer.h"
#include "gtest/gtest.h"
#include "pe/pe_image.h"
#include "tests/support/memory_bytes.h"

namespace {

class CPatternSource : public CByteSource {
 public:
  CPatternSource(std::size_t k, std::uint64_t size) : k_(k), size_(size) {}
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= size_) return 0;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    for (std::size_t i = 0; i < n; ++i, ++offset) out[i] = static_cast<std::uint8_t>(offset * 7 + k_ * 31 + (offset >> 10));
    return n;
  }

 private:
  std::size_t k_;
  std::uint64_t size_;
};

}  // namespace

std::string EntryData(std::size_t k, std::uint64_t size) {
  std::string bytes(static_cast<std::size_t>(size), '\0');
  CPatternSource(k, size).ReadAt(0, &bytes[0], bytes.size());
  return bytes;
}

std::string BuildPackage(const TestPackage& package) {
  std::vector<std::uint8_t> image = MakePeImage(package.image);
  CMemorySource imageSource(image);
  CPeImage pe;
  std::string error;
  EXPECT_TRUE(ReadPeImage(imageSource, &pe, &error)) << error;

  std::vector<std::unique_ptr<CPatternSource>> sources;
  CPackageContents contents;
  contents.image = &imageSource;
  contents.launcherName = "setup.exe";
  for (std::size_t k = 0; k < package.entries.size(); ++k) {
    sources.push_back(std::make_unique<CPatternSource>(k, package.entries[k].size));
    contents.entries.push_back(CPackEntry{package.entries[k].name, sources.back().get()});
  }
  CMemorySink sink;
  EXPECT_TRUE(WritePackage(contents, sink, nullptr, &error)) << error;
  std::string file(sink.Bytes().begin(), sink.Bytes().end());
  if (package.certificateSize != 0) {
    std::uint64_t table = file.size();
    Put32(&file, pe.securityEntryOffset, static_cast<std::uint32_t>(table));
    Put32(&file, pe.securityEntryOffset + 4, package.certificateSize);
    file.resize(file.size() + package.certificateSize, '\xA5');
    Put32(&file, table, package.certificateSize);  // dwLength, then revision 2.0, PKCS #7
    Put32(&file, table + 4, 0x00020200);
  }
  return file;
}

std::uint64_t RecordOffset(const TestPackage& package, std::size_t k) {
  std::uint64_t offset = MakePeImage(package.image).size();
  for (std::size_t i = 0; i < k; ++i) offset += kPackHeaderSize + package.entries[i].size;
  return offset;
}

void Put32(std::string* file, std::uint64_t offset, std::uint32_t value) {
  std::memcpy(&(*file)[offset], &value, sizeof(value));
}

void Put64(std::string* file, std::uint64_t offset, std::uint64_t value) {
  std::memcpy(&(*file)[offset], &value, sizeof(value));
}
