#include "format/package_reader.h"

#include <cstring>

#include "format/package_layout.h"
#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "tests/support/memory_bytes.h"

namespace {

void PutInt32(Bytes* file, std::size_t offset, std::int32_t value) { std::memcpy(file->data() + offset, &value, 4); }

// MakePeImage puts the PE headers at 0x40.
constexpr std::size_t kMagic = 0x40 + pe::kOptionalHeaderAt;
constexpr std::size_t kPe32SecuritySize = 0x40 + kSecuritySizeAtPe32;          // what a launcher reads as C in PE32
constexpr std::size_t kPe32PlusSecuritySize = 0x40 + kSecuritySizeAtPe32Plus;  // and in PE32+

TEST(LocatorTest, FindsTheStubBeforeTheCertificateTable) {
  CPeImageShape shape;
  shape.fileSize = 233472;
  Bytes file = BuildPackage(MakePeImage(shape), {{"setup.exe", 16599144}, {"run.bat", 15}, {"readme.txt", 1135},
                                                {"helper.exe", 167272}});
  {
    CMemorySource unsigned_(file);
    CLocatorRead read = LocateLikeLauncher(unsigned_);
    EXPECT_TRUE(read.found);
    EXPECT_EQ(read.certificateSize, 0);
    EXPECT_EQ(read.stubOffset, 17002180u);
    EXPECT_EQ(read.headerOffset, 233472u);
  }
  AppendCertificate(&file, 5992);
  ASSERT_EQ(file.size(), 17008456u);
  CMemorySource signed_(file);
  CLocatorRead read = LocateLikeLauncher(signed_);
  EXPECT_TRUE(read.found);
  EXPECT_EQ(read.certificateSize, 5992);
  EXPECT_EQ(read.stubOffset, file.size() - 6276);
  EXPECT_EQ(read.headerOffset, 233472u);
}

TEST(LocatorTest, HandlesOddHeadersAsTheLauncherDoes) {
  const Bytes good = BuildPackage(MakePeImage(CPeImageShape()), {{"run.bat", 10}});
  struct CCase {
    const char* what;
    void (*edit)(Bytes*);
    bool found;
    std::uint64_t stubFromEnd;  // the stub read this far before the end
  };
  const CCase cases[] = {
      {"unsigned", [](Bytes*) {}, true, 284},
      {"certificate size with the top bit set counts as none",
       [](Bytes* f) { PutInt32(f, kPe32SecuritySize, INT32_MIN + 8); }, true, 284},
      {"certificate size larger than the file",
       [](Bytes* f) { PutInt32(f, kPe32SecuritySize, 1 << 30); }, false, 0},
      {"negative PE offset", [](Bytes* f) { PutInt32(f, pe::kPeOffsetAt, -4); }, false, 0},
      {"PE offset past the end", [](Bytes* f) { PutInt32(f, pe::kPeOffsetAt, static_cast<std::int32_t>(f->size() + 1)); },
       false, 0},
      {"PE offset at the very end passes and reads C as 0",
       [](Bytes* f) { PutInt32(f, pe::kPeOffsetAt, static_cast<std::int32_t>(f->size())); }, true, 284},
      {"stub size 0 means no package", [](Bytes* f) { std::memset(f->data() + f->size() - 276, 0, 8); }, false, 284},
  };
  for (const CCase& c : cases) {
    Bytes file = good;
    c.edit(&file);
    CMemorySource source(file);
    CLocatorRead read = LocateLikeLauncher(source);
    EXPECT_EQ(read.found, c.found) << c.what;
    if (c.stubFromEnd != 0) {
      EXPECT_EQ(read.stubOffset, file.size() - c.stubFromEnd) << c.what;
    }
    if (c.found) {
      EXPECT_EQ(read.headerOffset, 1024u) << c.what;
    } else {
      EXPECT_FALSE(read.failure.empty()) << c.what;
    }
  }
}

TEST(LocatorTest, APe32PlusImageIsReadAtItsOwnSecurityEntry) {
  CPeImageShape shape;
  shape.pe32plus = true;
  shape.resourceSize = 0x321;  // sits where a PE32 reading would look
  Bytes file = BuildPackage(MakePeImage(shape), {{"run.bat", 10}});
  {
    CMemorySource unsigned_(file);
    CLocatorRead read = LocateLikeLauncher(unsigned_);
    EXPECT_TRUE(read.found) << read.failure;
    EXPECT_EQ(read.magic, pe::kPe32PlusMagic);
    EXPECT_EQ(read.certificateSizeAt, kSecuritySizeAtPe32Plus);
    EXPECT_EQ(read.certificateSize, 0);
    EXPECT_EQ(read.stubOffset, file.size() - 284);
    EXPECT_EQ(read.headerOffset, 1024u);
  }
  AppendCertificate(&file, 1032);
  CMemorySource signed_(file);
  CLocatorRead read = LocateLikeLauncher(signed_);
  EXPECT_TRUE(read.found) << read.failure;
  EXPECT_EQ(read.certificateSize, 1032);
  EXPECT_EQ(read.stubOffset, file.size() - 284 - 1032);
  EXPECT_EQ(read.headerOffset, 1024u);
}

TEST(LocatorTest, TheMagicChoosesTheByteThatIsRead) {
  // Distinct values at the two layouts' security sizes show which one the reading took.
  struct CCase {
    const char* what;
    bool pe32plus;
    std::uint16_t magic;
    std::size_t readAt;
  };
  const CCase cases[] = {
      {"PE32", false, pe::kPe32Magic, kSecuritySizeAtPe32},
      {"PE32+", true, pe::kPe32PlusMagic, kSecuritySizeAtPe32Plus},
      {"a PE32+ layout with an unknown magic is read as PE32", true, 0x107, kSecuritySizeAtPe32},
      {"a PE32 layout marked PE32+ is read as PE32+", false, pe::kPe32PlusMagic, kSecuritySizeAtPe32Plus},
  };
  for (const CCase& c : cases) {
    CPeImageShape shape;
    shape.pe32plus = c.pe32plus;
    Bytes file = BuildPackage(MakePeImage(shape), {{"run.bat", 10}});
    std::memcpy(file.data() + kMagic, &c.magic, 2);
    PutInt32(&file, kPe32SecuritySize, 0x111);
    PutInt32(&file, kPe32PlusSecuritySize, 0x222);
    CMemorySource source(file);
    CLocatorRead read = LocateLikeLauncher(source);
    EXPECT_EQ(read.magic, c.magic) << c.what;
    EXPECT_EQ(read.certificateSizeAt, c.readAt) << c.what;
    const std::int32_t expected = c.readAt == kSecuritySizeAtPe32 ? 0x111 : 0x222;
    EXPECT_EQ(read.certificateSize, expected) << c.what;
    EXPECT_EQ(read.stubOffset, file.size() - 284 - expected) << c.what;
  }
}

TEST(LocatorTest, APe32PlusImageFollowsTheSameRulesForOddSizes) {
  CPeImageShape shape;
  shape.pe32plus = true;
  shape.resourceSize = 0x800;
  const Bytes good = BuildPackage(MakePeImage(shape), {{"run.bat", 10}});
  {
    Bytes file = good;
    PutInt32(&file, kPe32PlusSecuritySize, INT32_MIN + 8);
    CMemorySource source(file);
    CLocatorRead read = LocateLikeLauncher(source);
    EXPECT_TRUE(read.found);
    EXPECT_EQ(read.stubOffset, file.size() - 284);
  }
  {
    Bytes file = good;
    PutInt32(&file, kPe32PlusSecuritySize, 1 << 30);
    CMemorySource source(file);
    EXPECT_FALSE(LocateLikeLauncher(source).found);
  }
}

TEST(WalkTest, StopsOnTheStubCountWhenThereIsNoFiller) {
  // 1,024 + 284 + 8 ends at remainder 4: the stub header follows directly.
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()), {{"run.bat", 8}});
  ASSERT_EQ(FillerLength(1024 + 284 + 8), 0u);
  CMemorySource source(file);
  CLauncherWalk walk = WalkLikeLauncher(source, 1024);
  ASSERT_EQ(walk.entries.size(), 1u);
  EXPECT_EQ(walk.stopOffset, 1024u + 284 + 8);
  EXPECT_EQ(walk.stopCount, 0);
}

TEST(WalkTest, AnEntryCutShortDeliversWhatIsThereAndEndsTheWalk) {
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()), {{"a.bin", 100}, {"run.bat", 10}});
  file.resize(1024 + 284 + 100 + 284 + 4);
  CMemorySource source(file);
  CLauncherWalk walk = WalkLikeLauncher(source, 1024);
  ASSERT_EQ(walk.entries.size(), 2u);
  EXPECT_EQ(walk.entries[1].delivered, 4u);
  EXPECT_EQ(walk.entries[1].record.size, 10u);
  EXPECT_EQ(walk.stop, WalkStep::kEndOfFile);
  EXPECT_EQ(walk.stopOffset, file.size());
}

// Completed with the earlier record's bytes, the cut record would name
// "runst-name.bin": the launcher writes no entry for it.
TEST(WalkTest, ARecordCutShortEndsTheWalk) {
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()), {{"first-name.bin", 0}, {"run.bat", 0}});
  // Cut the second record after its 24 bytes of numbers and 3 of its name.
  file.resize(1024 + 284 + 27);
  CMemorySource source(file);
  CLauncherWalk walk = WalkLikeLauncher(source, 1024);
  ASSERT_EQ(walk.entries.size(), 1u);
  EXPECT_EQ(walk.written, 1u);
  EXPECT_EQ(walk.stop, WalkStep::kShortRecord);
  EXPECT_EQ(walk.stopOffset, 1024u + 284);
}

TEST(WalkTest, HugeSizesCannotWrapTheOffset) {
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()), {{"run.bat", 10}});
  std::uint64_t huge = UINT64_MAX - 100;
  std::memcpy(file.data() + 1024 + 8, &huge, 8);
  CMemorySource source(file);
  CLauncherWalk walk = WalkLikeLauncher(source, 1024);
  ASSERT_EQ(walk.entries.size(), 1u);
  EXPECT_EQ(walk.entries[0].delivered, file.size() - 1024 - 284);
  EXPECT_EQ(walk.stopOffset, file.size());
}

// A damaged package can name what the builder refuses; the launcher then
// writes whatever the rules let through and the system accepts.
TEST(WalkTest, PredictsTheNamesTheLauncherCanCreate) {
  const struct {
    const char* name;
    bool written;
  } kCases[] = {{"run.bat", true}, {"a+b=c,d;[e].txt", true}, {"caf\xE9 \x80.txt", true},
                {"a<b", false},    {"a>b", false},           {"say\"hi\"", false},
                {"a|b", false},    {"why?", false},          {"*.txt", false},
                {"a:b", false},    {"nul.txt", false}};
  for (const auto& c : kCases) {
    PACKFILE_HEADER record{};
    std::memcpy(record.name, c.name, std::strlen(c.name));
    EXPECT_EQ(LauncherWritesName(record), c.written) << c.name;
  }
}

}  // namespace
