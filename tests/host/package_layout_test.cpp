#include <cstring>

#include "format/package_layout.h"
#include "format/package_reader.h"
#include "format/package_writer.h"
#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "pe/pe_checksum.h"
#include "pe/pe_image.h"
#include "tests/support/memory_bytes.h"

namespace {

PACKFILE_HEADER RecordAt(const Bytes& file, std::uint64_t offset) { return DecodeRecord(file.data() + offset); }

std::uint32_t StoredCheckSum(const Bytes& file) {
  CMemorySource source(file);
  CPeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(source, &image, &error));
  return image.checkSum;
}

std::uint32_t ComputedCheckSum(const Bytes& file) {
  CMemorySource source(file);
  CPeImage image;
  std::string error;
  EXPECT_TRUE(ReadPeImage(source, &image, &error));
  std::uint32_t sum = 0;
  EXPECT_TRUE(ComputePeChecksum(source, image.checkSumOffset, &sum));
  return sum;
}

TEST(FillerTest, EndsTheStubOnAMultipleOfEightWithNeverOneToThreeBytes) {
  // Last entry's data ending at remainder r (mod 8) -> filler length.
  const std::pair<int, std::uint64_t> table[] = {{0, 4}, {1, 11}, {2, 10}, {3, 9},
                                                 {4, 0}, {5, 7},  {6, 6},  {7, 5}};
  for (auto [remainder, filler] : table) {
    for (std::uint64_t base : {std::uint64_t{0}, std::uint64_t{4096}, std::uint64_t{5} << 32}) {
      std::uint64_t end = base + remainder;
      EXPECT_EQ(FillerLength(end), filler) << "end " << end;
      EXPECT_EQ((end + FillerLength(end) + kPackHeaderSize) % 8, 0u) << "end " << end;
    }
  }
}

TEST(FillerTest, EveryRemainderStopsAfterTheLastEntry) {
  const Bytes image = MakePeImage(CPeImageShape());  // 1,024 bytes
  for (std::uint64_t size = 100; size < 108; ++size) {
    Bytes file = BuildPackage(image, {{"run.bat", size}});
    std::uint64_t end = 1024 + kPackHeaderSize + size;
    std::uint64_t filler = FillerLength(end);
    ASSERT_EQ(file.size(), end + filler + kPackHeaderSize);
    EXPECT_EQ(file.size() % 8, 0u);
    for (std::uint64_t k = 0; k < filler; ++k) EXPECT_EQ(file[end + k], kFillerByte) << size;
    std::int32_t next;
    std::memcpy(&next, file.data() + end, 4);
    EXPECT_EQ(next, filler == 0 ? 0 : -1) << "size " << size;
    CMemorySource source(file);
    CLauncherWalk walk = WalkLikeLauncher(source, 1024);
    EXPECT_EQ(walk.entries.size(), 1u);
    EXPECT_EQ(walk.stopOffset, end);
    EXPECT_EQ(walk.stop, WalkStep::kCount);
  }
}

// The example package: four entries after a 233,472-byte image.
TEST(PackageWriterTest, RebuildsTheExampleLayout) {
  CPeImageShape shape;
  shape.fileSize = 233472;
  const Bytes image = MakePeImage(shape);
  Bytes file = BuildPackage(image, {{"setup.exe", 16599144}, {"run.bat", 15}, {"readme.txt", 1135},
                                    {"helper.exe", 167272}});
  ASSERT_EQ(file.size(), 17002464u);
  // The image is copied as is, apart from its CheckSum at bytes 152 to 155.
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 152, file.begin()));
  EXPECT_TRUE(std::equal(image.begin() + 156, image.end(), file.begin() + 156));

  struct CExpected {
    std::uint64_t offset;
    std::uint32_t sequence;
    std::uint64_t size, total;
    const char* name;
  };
  const CExpected expected[] = {{233472, 2, 16599144, 16599144, "setup.exe"},
                                {16832900, 3, 15, 16599159, "run.bat"},
                                {16833199, 4, 1135, 16600294, "readme.txt"},
                                {16834618, 5, 167272, 16767566, "helper.exe"}};
  for (std::size_t k = 0; k < 4; ++k) {
    PACKFILE_HEADER record = RecordAt(file, expected[k].offset);
    EXPECT_EQ(record.count, 4) << k;
    EXPECT_EQ(record.sequence, expected[k].sequence) << k;
    EXPECT_EQ(record.size, expected[k].size) << k;
    EXPECT_EQ(record.total, expected[k].total) << k;
    EXPECT_EQ(RecordName(record), expected[k].name) << k;
    EXPECT_TRUE(RecordNameZeroFilled(record)) << k;
    CPatternSource data(expected[k].size, static_cast<std::uint8_t>(k));
    std::uint64_t start = expected[k].offset + kPackHeaderSize;
    for (std::uint64_t at : {std::uint64_t{0}, expected[k].size / 2, expected[k].size - 1}) {
      EXPECT_EQ(file[start + at], data.At(at)) << "entry " << k << " byte " << at;
    }
  }
  for (std::uint64_t k = 17002174; k < 17002180; ++k) EXPECT_EQ(file[k], 0xFF) << k;
  PACKFILE_HEADER stub = RecordAt(file, 17002180);
  EXPECT_EQ(stub.count, 0);
  EXPECT_EQ(stub.sequence, 1u);
  EXPECT_EQ(stub.size, 233472u);
  EXPECT_EQ(stub.total, 233472u);
  EXPECT_EQ(RecordName(stub), "UnPackFile.exe");
  EXPECT_TRUE(RecordNameZeroFilled(stub));
  EXPECT_EQ(StoredCheckSum(file), ComputedCheckSum(file));
  EXPECT_NE(StoredCheckSum(file), 0u);
}

TEST(PackageWriterTest, ZeroEntriesLeaveOnlyFillerAndStub) {
  const Bytes image = MakePeImage(CPeImageShape());
  Bytes file = BuildPackage(image, {});
  ASSERT_EQ(file.size(), 1024u + 4 + kPackHeaderSize);
  EXPECT_EQ(RecordAt(file, 1028).size, 1024u);
  CMemorySource source(file);
  CLocatorRead located = LocateLikeLauncher(source);
  ASSERT_TRUE(located.found);
  EXPECT_EQ(located.headerOffset, 1024u);
  CLauncherWalk walk = WalkLikeLauncher(source, located.headerOffset);
  EXPECT_TRUE(walk.entries.empty());
  EXPECT_EQ(walk.stop, WalkStep::kCount);
  EXPECT_EQ(walk.stopCount, -1);
}

TEST(PackageWriterTest, AnEmptyFileIsARecordWithNoData) {
  const Bytes image = MakePeImage(CPeImageShape());
  Bytes file = BuildPackage(image, {{"empty.txt", 0}, {"run.bat", 5}});
  EXPECT_EQ(RecordAt(file, 1024).size, 0u);
  PACKFILE_HEADER second = RecordAt(file, 1024 + kPackHeaderSize);
  EXPECT_EQ(RecordName(second), "run.bat");
  EXPECT_EQ(second.total, 5u);
  CMemorySource source(file);
  EXPECT_EQ(WalkLikeLauncher(source, 1024).entries.size(), 2u);
}

TEST(PackageWriterTest, SameInputsGiveTheSameBytes) {
  const Bytes image = MakePeImage(CPeImageShape());
  std::vector<CTestEntry> entries = {{"x.bin", 5000}, {"run.bat", 17}};
  EXPECT_EQ(BuildPackage(image, entries), BuildPackage(image, entries));
  EXPECT_NE(BuildPackage(image, entries), BuildPackage(image, entries, "other.exe"));
}

// A source that says it is longer than it is, like a file cut while packing.
class CShrunkSource : public CPatternSource {
 public:
  CShrunkSource() : CPatternSource(100, 1) {}
  std::uint64_t Size() const override { return 200; }
};

TEST(PackageWriterTest, FailsWhenAnEntryDeliversLessThanItsSize) {
  const Bytes image = MakePeImage(CPeImageShape());
  CMemorySource imageSource(image);
  CShrunkSource shrunk;
  CPackageContents contents;
  contents.image = &imageSource;
  contents.entries.push_back(CPackEntry{"cut.bin", &shrunk});
  CMemorySink sink;
  std::string error;
  EXPECT_FALSE(WritePackage(contents, sink, nullptr, &error));
  EXPECT_NE(error.find("cut.bin"), std::string::npos) << error;
}

}  // namespace
