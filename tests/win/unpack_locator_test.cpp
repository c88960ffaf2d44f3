#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "format/reading_rules.h"
#include "log_reader.h"
#include "package/unpack.h"
#include "package_files.h"
#include "tests/support/scratch_folder.h"

using test_support::CScratchFolder;
using test_support::WriteWholeFile;

namespace {

const std::uint32_t kImageSize = 0x1000;
const std::uint64_t kStubSizeField = 8;  // within the stub header

class UnPackLocatorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DeleteLogFile()); }
  void TearDown() override { DeleteLogFile(); }

  // Writes the file and runs the locator on it.
  std::uint64_t Locate(const std::string& file) {
    EXPECT_TRUE(WriteWholeFile(path_, file));
    CUnPack unpack(path_.c_str(), dir_.FolderW().c_str());
    return unpack.FindHeader();
  }
  // The expected locator lines, "%p" standing for the file's path.
  std::vector<std::wstring> Lines(std::vector<std::wstring> lines) const {
    for (std::wstring& line : lines) {
      auto at = line.find(L"%p");
      if (at != std::wstring::npos) line.replace(at, 2, path_);
    }
    return lines;
  }

  CScratchFolder dir_;
  std::wstring path_ = dir_ / L"setup.exe";
};

TestPackage Package(bool pe32plus, std::uint32_t certificateSize) {
  TestPackage package;
  package.image.pe32plus = pe32plus;
  package.image.fileSize = kImageSize;
  // A resource table size where a PE32 reader would look for the security
  // size of a PE32+ image.
  package.image.resourceSize = 0x777;
  package.entries = {{"run.bat", 15}, {"setup.msi", 3000}};
  package.certificateSize = certificateSize;
  return package;
}

struct LocatorCase {
  const char* what;
  bool pe32plus;
  std::uint32_t certificateSize;
  std::function<void(std::string*)> damage;  // applied to the built file
  std::uint64_t result;
  std::vector<std::wstring> lines;
};

TEST_F(UnPackLocatorTest, FindsTheStubHeaderBeforeTheCertificateTable) {
  const std::wstring name = L"[CUnPack::FindHeader] Name:%p";
  const std::wstring noPackage = L"[CUnPack::FindHeader] Header offset:0";
  const std::wstring offset = L"[CUnPack::FindHeader] Header offset:4096";
  auto securitySize = [](std::uint32_t size) {
    return [size](std::string* file) { Put32(file, 0x40 + kSecuritySizeAtPe32, size); };
  };
  auto stubSize = [](std::uint64_t size) {
    return [size](std::string* file) { Put64(file, file->size() - kPackHeaderSize + kStubSizeField, size); };
  };
  const std::vector<LocatorCase> cases = {
      {"unsigned PE32", false, 0, nullptr, kImageSize, {name, L"[CUnPack::FindHeader] Sign Size:0", offset}},
      {"signed PE32", false, 5992, nullptr, kImageSize, {name, L"[CUnPack::FindHeader] Sign Size:5992", offset}},
      {"signed PE32+ reads the size 16 bytes further on", true, 5992, nullptr, kImageSize,
       {name, L"[CUnPack::FindHeader] Sign Size:5992", offset}},
      {"unsigned PE32+", true, 0, nullptr, kImageSize, {name, L"[CUnPack::FindHeader] Sign Size:0", offset}},
      {"a size with the top bit set counts as no table", false, 0, securitySize(0x80001000u), kImageSize,
       {name, L"[CUnPack::FindHeader] Sign Size:-2147479552", offset}},
      {"stub size 0 is no package", false, 0, stubSize(0), 0,
       {name, L"[CUnPack::FindHeader] Sign Size:0", noPackage}},
      {"whatever the stub holds is the offset, logged as its low 32 bits", false, 5992,
       [](std::string* file) { Put64(file, file->size() - 5992 - kPackHeaderSize + kStubSizeField, 0x100000005ull); },
       0x100000005ull, {name, L"[CUnPack::FindHeader] Sign Size:5992", L"[CUnPack::FindHeader] Header offset:5"}},
      {"a table longer than the file is a seek before its start", false, 0, securitySize(0x7FFFFFF0), 0,
       {name, L"[CUnPack::FindHeader] Sign Size:2147483632", L"[CUtility::FileException] Seek failed on %p"}},
      {"a negative PE header offset", false, 0, [](std::string* file) { Put32(file, pe::kPeOffsetAt, 0x80000000u); }, 0, {name}},
      {"a PE header offset past the end", false, 0,
       [](std::string* file) { Put32(file, pe::kPeOffsetAt, static_cast<std::uint32_t>(file->size() + 1)); }, 0, {name}},
  };
  for (const LocatorCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::string file = BuildPackage(Package(c.pe32plus, c.certificateSize));
    if (c.damage) c.damage(&file);
    EXPECT_EQ(Locate(file), c.result);
    EXPECT_EQ(LogMessages(), Lines(c.lines));
    DeleteLogFile();
  }
}

TEST_F(UnPackLocatorTest, AFileThatCannotBeOpenedIsReportedAndYieldsNoPackage) {
  CUnPack unpack(path_.c_str(), dir_.FolderW().c_str());
  EXPECT_EQ(unpack.FindHeader(), 0u);
  EXPECT_EQ(LogMessages(), Lines({L"[CUnPack::FindHeader] Name:%p", L"[CUnPack::FindHeader] Fail",
                                  L"[CUtility::FileException] %p was not found."}));
}

TEST_F(UnPackLocatorTest, AnOffsetEqualToTheLengthPassesAndTheTailIsStillRead) {
  std::string file = BuildPackage(Package(false, 0));
  Put32(&file, pe::kPeOffsetAt, static_cast<std::uint32_t>(file.size()));  // PE headers read as zeros
  EXPECT_EQ(Locate(file), kImageSize);
  EXPECT_EQ(LogMessages(), Lines({L"[CUnPack::FindHeader] Name:%p", L"[CUnPack::FindHeader] Sign Size:0",
                                  L"[CUnPack::FindHeader] Header offset:4096"}));
}

}  // namespace
