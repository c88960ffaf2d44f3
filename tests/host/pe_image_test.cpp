#include "pe/pe_image.h"

#include <cstring>

#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "pe/pe_checksum.h"
#include "tests/support/memory_bytes.h"
#include "tests/support/pe_writer.h"

namespace {

TEST(PeImageTest, ReadsTheFieldsOfBothLayouts) {
  for (bool wide : {false, true}) {
    CPeImageShape shape;
    shape.pe32plus = wide;
    shape.fileSize = 0x1000;
    shape.resourceSize = 0x40;
    Bytes bytes = MakePeImage(shape);
    CMemorySource source(bytes);
    CPeImage image;
    std::string error;
    ASSERT_TRUE(ReadPeImage(source, &image, &error)) << error;
    EXPECT_EQ(image.pe32plus, wide);
    EXPECT_EQ(image.machine, wide ? kPeMachineAmd64 : kPeMachineI386);
    EXPECT_EQ(image.imageBase, wide ? 0x140000000ull : 0x400000ull);
    EXPECT_EQ(image.subsystem, 2);
    EXPECT_EQ(image.majorOsVersion, 5);
    EXPECT_EQ(image.majorSubsystemVersion, 5);
    EXPECT_EQ(image.dllCharacteristics, 0x8000);
    EXPECT_EQ(image.stackReserve, 0x100000u);
    EXPECT_EQ(image.heapCommit, 0x1000u);
    EXPECT_EQ(image.sizeOfHeaders, 0x200u);
    EXPECT_EQ(image.directories.size(), 16u);
    EXPECT_EQ(PeDirectory(image, kPeResourceDirectory).size, 0x40u);
    EXPECT_EQ(PeDirectory(image, 16).size, 0u);
    EXPECT_EQ(image.checkSumOffset, 0x40u + 24 + 64);
    // The reader's security entry is the one whose Size the locator reads.
    EXPECT_EQ(image.securityEntryOffset + 4, 0x40u + (wide ? kSecuritySizeAtPe32Plus : kSecuritySizeAtPe32));
    ASSERT_EQ(image.sections.size(), 1u);
    EXPECT_EQ(image.sections[0].name, ".text");
    EXPECT_EQ(PeImageDataEnd(image), 0x1000u);
    std::uint64_t offset = 0;
    EXPECT_TRUE(PeRvaToFileOffset(image, 0x1010, &offset));
    EXPECT_EQ(offset, 0x210u);
    EXPECT_FALSE(PeRvaToFileOffset(image, 0x10, &offset));
  }
}

TEST(PeImageTest, RefusesWhatIsNotAnImage) {
  const Bytes good = MakePeImage(CPeImageShape());
  struct CCase {
    const char* what;
    void (*edit)(Bytes*);
  };
  const CCase cases[] = {
      {"empty", [](Bytes* b) { b->clear(); }},
      {"shorter than a DOS header", [](Bytes* b) { b->resize(40); }},
      {"no MZ", [](Bytes* b) { (*b)[0] = 'Z'; }},
      {"negative PE offset", [](Bytes* b) { std::int32_t v = -1; std::memcpy(b->data() + pe::kPeOffsetAt, &v, 4); }},
      {"PE offset past the end", [](Bytes* b) { std::int32_t v = 1 << 20; std::memcpy(b->data() + pe::kPeOffsetAt, &v, 4); }},
      {"no PE signature", [](Bytes* b) { (*b)[0x41] = 'X'; }},
      {"unknown magic", [](Bytes* b) { (*b)[0x40 + 24] = 0x07; }},
      {"headers cut short", [](Bytes* b) { b->resize(0x40 + 100); }},
      {"optional header too short", [](Bytes* b) { (*b)[0x40 + 20] = 20; }},
  };
  for (const CCase& c : cases) {
    Bytes bytes = good;
    c.edit(&bytes);
    CMemorySource source(bytes);
    CPeImage image;
    std::string error;
    EXPECT_FALSE(ReadPeImage(source, &image, &error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

std::uint32_t Sum(const Bytes& bytes, std::uint64_t field) {
  CPeChecksum sum(field);
  sum.Add(bytes.data(), bytes.size());
  return sum.Value();
}

TEST(PeChecksumTest, SumsWordsWithCarriesPlusTheLength) {
  const std::uint64_t none = UINT64_MAX;
  EXPECT_EQ(Sum({}, none), 0u);
  EXPECT_EQ(Sum({0x01, 0x00, 0x02, 0x00}, none), 3u + 4);
  EXPECT_EQ(Sum({0x34, 0x12}, none), 0x1234u + 2);
  EXPECT_EQ(Sum({0xFF, 0xFF, 0x02, 0x00}, none), 2u + 4);      // 0x10001 folds to 2
  EXPECT_EQ(Sum({0x01, 0x00, 0x07}, none), 8u + 3);            // an odd last byte is a low byte
  EXPECT_EQ(Sum({0x01, 0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0x02, 0x00}, 2), 3u + 8);  // the field counts as 0
}

TEST(PeChecksumTest, PiecesOfAnySizeGiveTheWholeFilesSum) {
  CPatternSource pattern(300001, 9);
  Bytes bytes(pattern.Size());
  pattern.ReadAt(0, bytes.data(), bytes.size());
  for (std::uint64_t field : {std::uint64_t{152}, std::uint64_t{153}, std::uint64_t{299999}}) {
    std::uint32_t whole = Sum(bytes, field);
    for (std::size_t piece : {1, 3, 7, 8, 9, 4096, 65537}) {
      CPeChecksum sum(field);
      for (std::size_t k = 0; k < bytes.size(); k += piece) {
        sum.Add(bytes.data() + k, std::min(piece, bytes.size() - k));
      }
      EXPECT_EQ(sum.Value(), whole) << "field " << field << " piece " << piece;
    }
    // The bytes of the field never change the sum.
    Bytes edited = bytes;
    for (std::uint64_t k = field; k < std::min<std::uint64_t>(field + 4, edited.size()); ++k) edited[k] ^= 0x5A;
    EXPECT_EQ(Sum(edited, field), whole);
  }
}

}  // namespace
