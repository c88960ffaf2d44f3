#include "tools/packfile/core/verify.h"

#include <cstring>
#include <set>

#include "format/package_layout.h"
#include "format/reading_rules.h"
#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "tests/support/memory_bytes.h"

namespace {

std::set<CheckId> FailedChecks(const Bytes& file) {
  CMemorySource source(file);
  CVerifyReport report = VerifyPackage(source);
  std::set<CheckId> failed;
  for (const CFinding& finding : report.findings) {
    if (finding.severity == Severity::kFailure) failed.insert(finding.check);
  }
  EXPECT_EQ(report.Passed(), failed.empty());
  return failed;
}

std::string Describe(const Bytes& file) {
  CMemorySource source(file);
  std::string text;
  for (const CFinding& finding : VerifyPackage(source).findings) text += finding.text + "\n";
  return text;
}

// Four entries; the last entry's data ends at remainder 3, so the filler is nine 0xFF bytes.
Bytes GoodPackage() {
  return BuildPackage(MakePeImage(CPeImageShape()), {{"setup.exe", 2996}, {"run.bat", 15}, {"a.txt", 0}, {"b.txt", 8}});
}
constexpr std::uint64_t kFirst = 1024;
constexpr std::uint64_t kEnd = kFirst + 4 * 284 + 2996 + 15 + 0 + 8;

void SetCounts(Bytes* file, std::int32_t count) {
  std::uint64_t offset = kFirst;
  for (int k = 0; k < 4; ++k) {
    std::memcpy(file->data() + offset, &count, 4);
    std::uint64_t size;
    std::memcpy(&size, file->data() + offset + 8, 8);
    offset += 284 + size;
  }
}

TEST(VerifyTest, AWrittenPackagePassesEveryCheck) {
  ASSERT_EQ(FillerLength(kEnd), 9u);
  Bytes file = GoodPackage();
  EXPECT_EQ(FailedChecks(file), std::set<CheckId>()) << Describe(file);
  CMemorySource source(file);
  EXPECT_EQ(VerifyPackage(source).launcherEntries, 4u);
}

TEST(VerifyTest, PackagesOfManyShapesPass) {
  const std::vector<std::vector<CTestEntry>> shapes = {
      {},
      {{"run.bat", 0}},
      {{"run.bat", 1}, {"x", 1}},
      {{"a", 1023}, {"b", 1024}, {"c", 1025}, {"run.bat", 7}},
      {{"run.bat", 284}, {"y", 283}, {"z", 285}},
  };
  for (std::uint32_t imageSize : {0x400u, 0x600u}) {
    CPeImageShape shape;
    shape.fileSize = imageSize;
    for (const auto& entries : shapes) {
      Bytes file = BuildPackage(MakePeImage(shape), entries);
      EXPECT_EQ(FailedChecks(file), std::set<CheckId>()) << entries.size() << " entries\n" << Describe(file);
    }
  }
}

struct CBroken {
  const char* what;
  void (*edit)(Bytes*);
  std::set<CheckId> failed;
};

TEST(VerifyTest, FindsHandBrokenFiles) {
  const CBroken cases[] = {
      {"one 0xFF filler byte",
       [](Bytes* f) { f->erase(f->begin() + kEnd, f->begin() + kEnd + 8); },
       {CheckId::kStopAfterLast, CheckId::kLauncherWalk}},
      {"three 0xFF filler bytes",
       [](Bytes* f) { f->erase(f->begin() + kEnd, f->begin() + kEnd + 6); },
       {CheckId::kStopAfterLast, CheckId::kLauncherWalk}},
      {"count one too small", [](Bytes* f) { SetCounts(f, 3); }, {CheckId::kEntryCounts, CheckId::kLauncherWalk}},
      {"count zero", [](Bytes* f) { SetCounts(f, 0); }, {CheckId::kEntryCounts, CheckId::kLauncherWalk}},
      {"last entry claims 100 more bytes than it has",
       [](Bytes* f) {
         std::uint64_t size = 108;
         std::memcpy(f->data() + kEnd - 8 - 284 + 8, &size, 8);
       },
       {CheckId::kEntries, CheckId::kLauncherWalk}},
      {"file cut inside the last entry, stub header appended after it",
       [](Bytes* f) {
         Bytes stub(f->end() - 284, f->end());
         f->resize(kEnd - 4);
         f->insert(f->end(), stub.begin(), stub.end());
       },
       {CheckId::kEntries, CheckId::kLauncherWalk}},
      {"entry data changed after the CheckSum", [](Bytes* f) { (*f)[kFirst + 284 + 10] ^= 1; }, {CheckId::kCheckSum}},
      {"stub header offset 0", [](Bytes* f) { std::memset(f->data() + f->size() - 276, 0, 8); },
       {CheckId::kStubHeader}},
      {"stub header offset past the stub",
       [](Bytes* f) {
         std::uint64_t h = f->size();
         std::memcpy(f->data() + f->size() - 276, &h, 8);
       },
       {CheckId::kStubHeader}},
      {"stub header offset inside the image",
       [](Bytes* f) {
         std::uint64_t h = 512;
         std::memcpy(f->data() + f->size() - 276, &h, 8);
       },
       // The "entries" laid from there are the image's zero-filled code section.
       {CheckId::kStubHeader, CheckId::kEntries, CheckId::kEntryCounts, CheckId::kLauncherWalk, CheckId::kNames}},
      {"certificate table not at the end",
       [](Bytes* f) {
         f->resize(f->size() + 64, 0);
         SetSecurityEntry(f, static_cast<std::uint32_t>(f->size() - 64), 32);
       },
       {CheckId::kCertificateTable}},
      {"duplicate names", [](Bytes* f) { std::memcpy(f->data() + kFirst + 24, "B.TXT\0\0\0\0", 10); },
       {CheckId::kNames}},
      {"a name with a separator", [](Bytes* f) { std::memcpy(f->data() + kFirst + 24, "..\\x", 4); },
       {CheckId::kNames}},
      {"a name without its zero", [](Bytes* f) { std::memset(f->data() + kFirst + 24, 'n', 260); },
       {CheckId::kNames}},
      {"not a PE image", [](Bytes* f) { (*f)[0] = 0; }, {CheckId::kImage}},
  };
  for (const CBroken& c : cases) {
    Bytes file = GoodPackage();
    c.edit(&file);
    if (c.failed.count(CheckId::kCheckSum) == 0 && c.failed.count(CheckId::kImage) == 0) FixCheckSum(&file);
    EXPECT_EQ(FailedChecks(file), c.failed) << c.what << "\n" << Describe(file);
  }
}

TEST(VerifyTest, WarningsDoNotFail) {
  Bytes file = BuildPackage(MakePeImage(CPeImageShape()), {{"setup.exe", 10}, {std::string(201, 'n'), 1}});
  CMemorySource source(file);
  CVerifyReport report = VerifyPackage(source);
  EXPECT_TRUE(report.Passed()) << Describe(file);
  std::set<CheckId> warned;
  for (const CFinding& finding : report.findings) {
    if (finding.severity == Severity::kWarning) warned.insert(finding.check);
  }
  EXPECT_EQ(warned, (std::set<CheckId>{CheckId::kRunBat, CheckId::kNames}));
}

std::string SecuritySizeByte(bool wide) {
  return "at byte " + std::to_string(wide ? kSecuritySizeAtPe32Plus : kSecuritySizeAtPe32) + " of the PE headers (" +
         (wide ? "PE32+" : "PE32") + ")";
}

// The resource table's size sits where a PE32 image's certificate size does,
// so a non-zero one shows that a PE32+ image is read at its own entry.
TEST(VerifyTest, PE32AndPE32PlusLaunchersAreLocatedAndVerify) {
  for (bool wide : {false, true}) {
    CPeImageShape shape;
    shape.pe32plus = wide;
    shape.resourceSize = 0x800;
    const std::string where = SecuritySizeByte(wide);
    Bytes file = BuildPackage(MakePeImage(shape), {{"run.bat", 10}, {"a.txt", 300}});
    EXPECT_EQ(FailedChecks(file), std::set<CheckId>()) << wide << "\n" << Describe(file);
    EXPECT_NE(Describe(file).find("certificate size 0 " + where), std::string::npos) << Describe(file);

    AppendCertificate(&file, 1032);
    FixCheckSum(&file);
    EXPECT_EQ(FailedChecks(file), std::set<CheckId>()) << wide << "\n" << Describe(file);
    EXPECT_NE(Describe(file).find("certificate size 1032 " + where), std::string::npos)
        << Describe(file);
    CMemorySource source(file);
    EXPECT_EQ(VerifyPackage(source).launcherEntries, 2u);
  }
}

// An image that declares only four data directories has no security entry, so
// its stub header ends the file; the bytes where the launcher still reads the
// certificate size were edited to 16, and the launcher misses the stub header.
TEST(VerifyTest, FailsWhenTheLaunchersReadingMissesTheStubHeader) {
  for (bool wide : {false, true}) {
    CPeImageShape shape;
    shape.pe32plus = wide;
    shape.resourceSize = 0x800;
    Bytes file = BuildPackage(MakePeImage(shape), {{"run.bat", 10}, {"a.txt", 300}});
    const std::size_t optional = 0x40 + pe::kOptionalHeaderAt;
    std::uint32_t four = 4;
    std::memcpy(file.data() + optional + (wide ? 108 : 92), &four, 4);
    std::int32_t size = 16;
    std::memcpy(file.data() + 0x40 + (wide ? kSecuritySizeAtPe32Plus : kSecuritySizeAtPe32), &size, 4);
    FixCheckSum(&file);
    EXPECT_EQ(FailedChecks(file), std::set<CheckId>{CheckId::kLocator}) << wide << "\n" << Describe(file);
    std::string expected = "certificate size 16 " + SecuritySizeByte(wide) + ", but the image's security entry gives 0";
    EXPECT_NE(Describe(file).find(expected), std::string::npos) << Describe(file);
  }
}

TEST(VerifyTest, SurvivesGarbage) {
  for (std::size_t size : {0, 1, 63, 64, 300, 5000}) {
    Bytes junk(size, 0xFF);
    EXPECT_EQ(FailedChecks(junk), std::set<CheckId>{CheckId::kImage}) << size;
  }
}

}  // namespace
