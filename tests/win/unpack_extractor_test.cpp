#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "log_reader.h"
#include "package/unpack.h"
#include "package_files.h"
#include "package_links.h"
#include "tests/support/scratch_folder.h"

using test_support::CScratchFolder;
using test_support::ReadWholeFile;
using test_support::WriteWholeFile;

namespace {

using Lines = std::vector<std::wstring>;

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

Lines Join(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class UnPackExtractTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(DeleteLogFile());
    ASSERT_TRUE(CreateDirectoryW(parent_.c_str(), nullptr));
  }
  void TearDown() override { DeleteLogFile(); }

  int Extract(const std::string& file) {
    DeleteLogFile();
    EXPECT_TRUE(WriteWholeFile(source_, file));
    return unpack_.UnPackFiles();
  }
  Lines Locator(std::uint32_t certificateSize, std::uint64_t offset) const {
    return {L"[CUnPack::FindHeader] Name:" + source_,
            L"[CUnPack::FindHeader] Sign Size:" + std::to_wstring(certificateSize),
            L"[CUnPack::FindHeader] Header offset:" + std::to_wstring(offset)};
  }
  Lines Named(const std::string& name) const {
    return {L"[CUnPack::UnPackFiles] UnPack file name:" + work_ + Wide(name)};
  }
  Lines Written(const std::string& name, int count, std::uint64_t len) const {
    return Join({Named(name), {L"[CUnPack::UnPackFiles] UnPack count:" + std::to_wstring(count) + L" len:" +
                               std::to_wstring(len) + L" File:" + work_ + Wide(name)}});
  }
  static Lines Total(int files) { return {L"[CUnPack::UnPackFiles] UnPack total " + std::to_wstring(files) + L" files."}; }
  std::string Output(const std::string& name) const { return ReadWholeFile(work_ + Wide(name)); }
  bool WorkDirExists() const { return GetFileAttributesW(work_.c_str()) != INVALID_FILE_ATTRIBUTES; }

  CScratchFolder dir_;
  std::wstring source_ = dir_ / L"setup.exe";
  std::wstring parent_ = dir_ / L"temp\\";
  std::wstring work_ = parent_ + L"unpack\\";
  CUnPack unpack_{source_.c_str(), parent_.c_str()};
};

TEST_F(UnPackExtractTest, WritesEveryEntryWholeFromSignedAndUnsignedPackages) {
  for (std::uint32_t certificateSize : {0u, 5992u}) {
    SCOPED_TRACE(certificateSize);
    TestPackage package;
    package.entries = {{"empty.txt", 0}, {"short.bin", 1023}, {"chunk.bin", 1024}, {"run.bat", 15},
                       {"chunks.bin", 3 * 1024 + 1}};
    package.certificateSize = certificateSize;
    EXPECT_EQ(Extract(BuildPackage(package)), 1);
    Lines lines = Locator(certificateSize, RecordOffset(package, 0));
    for (std::size_t k = 0; k < package.entries.size(); ++k) {
      const TestEntry& entry = package.entries[k];
      lines = Join({lines, Written(entry.name, static_cast<int>(k + 1), entry.size)});
      EXPECT_TRUE(Output(entry.name) == EntryData(k, entry.size)) << entry.name;
    }
    EXPECT_EQ(LogMessages(), Join({lines, Total(5)}));
  }
}

TEST_F(UnPackExtractTest, ThePackageOfTheLayoutExampleAsItStands) {
  TestPackage package;
  package.image.fileSize = 233472;
  package.entries = {{"setup.exe", 16599144}, {"run.bat", 15}, {"readme.txt", 1135}, {"helper.exe", 167272}};
  package.certificateSize = 5992;
  std::string file = BuildPackage(package);
  ASSERT_EQ(file.size(), 17008456u);
  EXPECT_EQ(Extract(file), 1);
  EXPECT_EQ(LogMessages(), Join({Locator(5992, 233472), Written("setup.exe", 1, 16599144), Written("run.bat", 2, 15),
                                 Written("readme.txt", 3, 1135), Written("helper.exe", 4, 167272), Total(4)}));
  // 16,210 whole chunks and 104 bytes: any chunk lost or doubled shows here.
  EXPECT_TRUE(Output("setup.exe") == EntryData(0, 16599144));
  EXPECT_TRUE(Output("helper.exe") == EntryData(3, 167272));
}

TEST_F(UnPackExtractTest, NoEntriesOrNoPackageLeaveTheWorkDirectoryUncreated) {
  TestPackage empty;
  EXPECT_EQ(Extract(BuildPackage(empty)), 1);
  EXPECT_EQ(LogMessages(), Join({Locator(0, RecordOffset(empty, 0)), Total(0)}));

  TestPackage package;
  package.entries = {{"run.bat", 15}};
  std::string file = BuildPackage(package);
  Put64(&file, file.size() - kPackHeaderSize + 8, 0);  // the stub's size
  EXPECT_EQ(Extract(file), 0);
  EXPECT_EQ(LogMessages(), Locator(0, 0));
  EXPECT_FALSE(WorkDirExists());
}

TEST_F(UnPackExtractTest, APackageThatEndsInsideAnEntryOrARecordKeepsWhatItHolds) {
  TestPackage package;
  package.entries = {{"first.bin", 2000}, {"second.bin", 5000}};
  std::string cutRecord = BuildPackage(package);
  const std::uint64_t sizeField = RecordOffset(package, 1) + 8;
  const std::uint64_t claimed = cutRecord.size() - 10 - (RecordOffset(package, 1) + kPackHeaderSize);
  // The second entry claims data up to 10 bytes before the end, where a
  // record begins that the file cannot complete; its count would go on.
  Put64(&cutRecord, sizeField, claimed);
  Put32(&cutRecord, cutRecord.size() - 10, 1000);
  // Or it claims 1 MiB more than the file holds.
  std::string cutData = cutRecord;
  Put64(&cutData, sizeField, claimed + (1 << 20));

  for (const auto& [file, length] : {std::pair(cutRecord, claimed), std::pair(cutData, claimed + 10)}) {
    SCOPED_TRACE(length);
    EXPECT_EQ(Extract(file), 1);
    EXPECT_EQ(LogMessages(), Join({Locator(0, RecordOffset(package, 0)), Written("first.bin", 1, 2000),
                                   Written("second.bin", 2, length), Total(2)}));
    std::string second = Output("second.bin");
    ASSERT_EQ(second.size(), length) << "the cut record must not reopen (and empty) the last file";
    EXPECT_TRUE(second.substr(0, 5000) == EntryData(1, 5000));
  }
}

TEST_F(UnPackExtractTest, ALaterEntryOfTheSameNameReplacesTheFile) {
  TestPackage package;
  package.entries = {{"same.txt", 3000}, {"same.txt", 10}, {"kept.txt", 2000}};
  unpack_.GetUnPackDir();
  ASSERT_TRUE(WriteWholeFile(work_ + L"kept.txt", std::string(9000, 'x')));  // an existing, longer file
  EXPECT_EQ(Extract(BuildPackage(package)), 1);
  EXPECT_EQ(LogMessages(), Join({Locator(0, RecordOffset(package, 0)), Written("same.txt", 1, 3000),
                                 Written("same.txt", 2, 10), Written("kept.txt", 3, 2000), Total(3)}));
  EXPECT_TRUE(Output("same.txt") == EntryData(1, 10));
  EXPECT_TRUE(Output("kept.txt") == EntryData(2, 2000));
}

TEST_F(UnPackExtractTest, NamesThatAreNotBareFileNamesAreSkipped) {
  const std::string unterminated(kPackNameSize, 'A');
  // Each name, and how the error line shows it when not as it is.
  const std::vector<std::pair<std::string, std::wstring>> names = {
      {"..\\evil.txt", L""}, {"sub/evil.txt", L""}, {"C:evil.txt", L""}, {"evil.txt:stream", L""},
      {".", L""}, {"..", L""}, {"...", L""}, {". .", L""}, {"", L"an unnamed file"},
      {"CON", L""}, {"nul.txt", L""}, {"Com1", L""}, {"LPT9.log", L""}, {"conout$", L""},
      {"forged\r\n[1]line.txt", L"forged??[1]line.txt"}, {unterminated, L""}};
  for (const auto& [name, shown] : names) {
    SCOPED_TRACE(name);
    TestPackage package;
    package.entries = {{"first.txt", 5}, {name, 1500}, {"last.txt", 7}};
    std::string file = BuildPackage(package);
    if (name == unterminated) file.replace(RecordOffset(package, 1) + 24, kPackNameSize, unterminated);
    EXPECT_EQ(Extract(file), 1);
    std::wstring error = L"[CUtility::FileException] " + (shown.empty() ? Wide(name) : shown) + L" contains an incorrect path.";
    EXPECT_EQ(LogMessages(), Join({Locator(0, RecordOffset(package, 0)), Written("first.txt", 1, 5), {error},
                                   Written("last.txt", 2, 7), Total(2)}));
    EXPECT_TRUE(Output("last.txt") == EntryData(2, 7)) << "the skipped data was not taken as a record";
  }
  WIN32_FIND_DATAW found;
  HANDLE find = FindFirstFileW((dir_.FolderW() + L"*").c_str(), &found);
  ASSERT_NE(find, INVALID_HANDLE_VALUE);
  Lines top;
  do top.push_back(found.cFileName); while (FindNextFileW(find, &found));
  FindClose(find);
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (Lines{L".", L"..", L"setup.exe", L"temp"})) << "nothing beside the work directory";
}

TEST_F(UnPackExtractTest, AnOutputThatCannotBeOpenedIsSkipped) {
  TestPackage package;
  package.entries = {{"blocked.txt", 3000}, {"after.txt", 20}};
  unpack_.GetUnPackDir();
  ASSERT_TRUE(CreateDirectoryW((work_ + L"blocked.txt").c_str(), nullptr));
  EXPECT_EQ(Extract(BuildPackage(package)), 1);
  EXPECT_EQ(LogMessages(), Join({Locator(0, RecordOffset(package, 0)), Named("blocked.txt"),
                                 {L"[CUtility::FileException] Access to " + work_ + L"blocked.txt was denied."},
                                 Written("after.txt", 1, 20), Total(1)}));
  EXPECT_TRUE(Output("after.txt") == EntryData(1, 20));
}

TEST_F(UnPackExtractTest, AFailedWriteEndsTheExtractionAndClosesEverything) {
  TestPackage package;
  package.entries = {{"full.bin", 5000}, {"after.txt", 20}};
  unpack_.GetUnPackDir();
  // Writing to /dev/full fails with "no space left", as a full disk does.
  if (!CUnixLink::Available()) GTEST_SKIP() << "needs Wine's /dev/full";
  CUnixLink full(work_ + L"full.bin", L"/dev/full");
  ASSERT_TRUE(full.Made());
  EXPECT_EQ(Extract(BuildPackage(package)), 1);
  EXPECT_EQ(LogMessages(), Join({Locator(0, RecordOffset(package, 0)), Named("full.bin"),
                                 {L"[CUtility::FileException] Disk full while accessing " + work_ + L"full.bin."},
                                 Total(0)}));
  EXPECT_EQ(GetFileAttributesW((work_ + L"after.txt").c_str()), INVALID_FILE_ATTRIBUTES);
  for (const std::wstring& path : {source_, work_ + L"full.bin"}) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_NE(h, INVALID_HANDLE_VALUE) << "left open: " << std::string(path.begin(), path.end());
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
}

TEST_F(UnPackExtractTest, AnOffsetBeyondTheSignedRangeIsASeekFailure) {
  TestPackage package;
  package.entries = {{"run.bat", 15}};
  std::string file = BuildPackage(package);
  Put64(&file, file.size() - kPackHeaderSize + 8, 0x8000000000000400ull);
  EXPECT_EQ(Extract(file), 1);
  EXPECT_EQ(LogMessages(), Join({Locator(0, 1024), {L"[CUtility::FileException] Seek failed on " + source_}, Total(0)}));
  EXPECT_FALSE(WorkDirExists());
}

TEST_F(UnPackExtractTest, RunExtractsOnAWorkerThreadAndCanRunAgain) {
  TestPackage package;
  package.entries = {{"run.bat", 15}};
  ASSERT_TRUE(WriteWholeFile(source_, BuildPackage(package)));
  unpack_.Run();
  ASSERT_TRUE(DeleteFileW((work_ + L"run.bat").c_str()));
  unpack_.Run();  // a held handle from the first run would skip this extraction
  EXPECT_TRUE(Output("run.bat") == EntryData(0, 15));
  Lines once = Join({Locator(0, RecordOffset(package, 0)), Written("run.bat", 1, 15), Total(1)});
  EXPECT_EQ(LogMessages(), Join({once, once}));

  EXPECT_EQ(CUnPack::ThreadProc(nullptr), 0u);
  EXPECT_EQ(CUnPack::ThreadProc(&unpack_), 1u);
  CUnPack missing((dir_ / L"missing.exe").c_str(), parent_.c_str());
  EXPECT_EQ(CUnPack::ThreadProc(&missing), 0u);
}

}  // namespace
