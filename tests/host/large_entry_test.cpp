// Entries over 4 GiB, without 4 GiB of disk or memory: the bytes that are not
// zero are kept, the rest is known to be zero.
#include <cstring>
#include <map>

#include "format/package_layout.h"
#include "format/package_reader.h"
#include "format/package_writer.h"
#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "pe/pe_image.h"
#include "tests/support/memory_bytes.h"
#include "tools/packfile/core/verify.h"

namespace {

constexpr std::uint64_t kFourGiB = 1ull << 32;

// Zeros of any length.
class CZeroSource : public CByteSource {
 public:
  explicit CZeroSource(std::uint64_t size) : size_(size) {}
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= size_) return 0;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    std::memset(buffer, 0, n);
    return n;
  }

 private:
  std::uint64_t size_;
};

// Keeps written pieces that hold a non-zero byte; reads the rest as zeros.
class CSparseFile : public CByteSink, public CByteSource {
 public:
  bool Write(const void* data, std::size_t length) override {
    static const std::vector<std::uint8_t> zeros(1 << 20, 0);
    const auto* p = static_cast<const std::uint8_t*>(data);
    bool allZero = length <= zeros.size() && std::memcmp(p, zeros.data(), length) == 0;
    if (!allZero) pieces_[size_] = std::vector<std::uint8_t>(p, p + length);
    size_ += length;
    return true;
  }
  bool Patch(std::uint64_t offset, const void* data, std::size_t length) override {
    for (auto& [start, bytes] : pieces_) {
      if (offset >= start && offset + length <= start + bytes.size()) {
        std::memcpy(bytes.data() + (offset - start), data, length);
        return true;
      }
    }
    return false;
  }
  std::uint64_t Size() const override { return size_; }
  std::size_t ReadAt(std::uint64_t offset, void* buffer, std::size_t length) override {
    if (offset >= size_) return 0;
    std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(length, size_ - offset));
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::memset(out, 0, n);
    for (const auto& [start, bytes] : pieces_) {
      std::uint64_t begin = std::max(offset, start), end = std::min(offset + n, start + bytes.size());
      if (begin < end) std::memcpy(out + (begin - offset), bytes.data() + (begin - start), end - begin);
    }
    return n;
  }

 private:
  std::map<std::uint64_t, std::vector<std::uint8_t>> pieces_;
  std::uint64_t size_ = 0;
};

TEST(LargeEntryTest, EntriesOver4GiBKeepTheir64BitSizesAndOffsets) {
  const Bytes image = MakePeImage(CPeImageShape());
  CMemorySource imageSource(image);
  CZeroSource big(kFourGiB + 7), small(300);
  CPatternSource runBat(20, 1);
  CPackageContents contents;
  contents.image = &imageSource;
  contents.launcherName = "UnPackFile.exe";
  contents.checkSumOffset = 0x40 + 24 + 64;
  contents.entries = {{"big.bin", &big}, {"run.bat", &runBat}, {"small.bin", &small}};
  CSparseFile file;
  std::string error;
  ASSERT_TRUE(WritePackage(contents, file, nullptr, &error)) << error;

  const std::uint64_t second = 1024 + 284 + kFourGiB + 7;
  CLocatorRead located = LocateLikeLauncher(file);
  ASSERT_TRUE(located.found);
  EXPECT_EQ(located.headerOffset, 1024u);
  CLauncherWalk walk = WalkLikeLauncher(file, located.headerOffset);
  ASSERT_EQ(walk.entries.size(), 3u);
  EXPECT_EQ(walk.entries[0].record.size, kFourGiB + 7);
  EXPECT_EQ(walk.entries[0].delivered, kFourGiB + 7);
  EXPECT_EQ(walk.entries[1].recordOffset, second);
  EXPECT_EQ(RecordName(walk.entries[1].record), "run.bat");
  EXPECT_EQ(walk.entries[1].record.total, kFourGiB + 27);
  EXPECT_EQ(walk.entries[2].record.total, kFourGiB + 327);
  EXPECT_EQ(walk.stopOffset, second + 284 + 20 + 284 + 300);

  CVerifyReport report = VerifyPackage(file);
  std::string failures;
  for (const CFinding& finding : report.findings) {
    if (finding.severity == Severity::kFailure) failures += finding.text + "\n";
  }
  EXPECT_TRUE(report.Passed()) << failures;
}

}  // namespace
