#include "framework/file.h"

#include <gtest/gtest.h>

#include <string>

#include "test_peers.h"
#include "tests/support/scratch_folder.h"

using test_support::CCurrentDirectoryScope;
using test_support::CScratchFolder;
using test_support::ReadWholeFile;
using test_support::WriteWholeFile;

namespace {

const UINT kReadShared = CFile::modeRead | CFile::typeBinary | CFile::shareDenyNone;
const UINT kCreateWrite = CFile::modeWrite | CFile::typeBinary | CFile::modeCreate | CFile::shareExclusive;

TEST(CFileTest, MissingFileFillsTheRecordWithTheNameAsPassed) {
  CScratchFolder dir;
  CCurrentDirectoryScope inside(dir.FolderW());
  ASSERT_TRUE(inside.Entered());
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(L"missing.bin", kReadShared, &error));
  EXPECT_FALSE(CFileTestPeer::IsOpen(file));
  EXPECT_EQ(error.m_cause, CFileException::NotFound);
  EXPECT_EQ(error.m_lOsError, ERROR_FILE_NOT_FOUND);
  EXPECT_STREQ(error.m_strFileName, L"missing.bin");
  EXPECT_FALSE(file.Open((dir / L"no\\such\\dir.bin").c_str(), kReadShared, &error));
  EXPECT_EQ(error.m_cause, CFileException::IncorrectPath);
  EXPECT_EQ(error.m_lOsError, ERROR_PATH_NOT_FOUND);
}

TEST(CFileTest, NamesOf260UnitsOrMoreAreAnIncorrectPath) {
  CScratchFolder dir;
  std::wstring name = dir.FolderW() + std::wstring(260 - dir.FolderW().size(), L'a');
  ASSERT_EQ(name.size(), 260u);
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(name.c_str(), kCreateWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::IncorrectPath);
  EXPECT_EQ(error.m_lOsError, -1) << "the OS error stays as it was";
  EXPECT_EQ(std::wstring(error.m_strFileName), name);

  // 259 units fit the name check, and the file can be created.
  name.pop_back();
  EXPECT_TRUE(file.Open(name.c_str(), kCreateWrite, &error));
  EXPECT_EQ(std::wstring(file.GetFilePath()), name);
}

TEST(CFileTest, ARelativeNameWhoseFullPathIsTooLongIsAnIncorrectPath) {
  CScratchFolder dir;
  CCurrentDirectoryScope inside(dir.FolderW());
  ASSERT_TRUE(inside.Entered());
  std::wstring name(258 - 2, L'b');  // short enough alone, too long after the folder
  CFile file;
  CFileException error;
  EXPECT_FALSE(file.Open(name.c_str(), kCreateWrite, &error));
  EXPECT_EQ(error.m_cause, CFileException::IncorrectPath);
  EXPECT_EQ(std::wstring(error.m_strFileName), name);
}

TEST(CFileTest, SuccessLeavesTheRecordAloneAndResolvesTheFullPath) {
  CScratchFolder dir;
  CCurrentDirectoryScope inside(dir.FolderW());
  ASSERT_TRUE(inside.Entered());
  CFile file;
  CFileException error(CFileException::DiskFull, 77, L"kept");
  ASSERT_TRUE(file.Open(L"out.bin", kCreateWrite, &error));
  EXPECT_EQ(std::wstring(file.GetFilePath()), dir / L"out.bin");
  EXPECT_EQ(error.m_cause, CFileException::DiskFull);
  EXPECT_EQ(error.m_lOsError, 77);
  EXPECT_STREQ(error.m_strFileName, L"kept");
  file.Close();
  EXPECT_TRUE(file.GetFilePath().IsEmpty());
}

TEST(CFileTest, WritesReadsSeeksAndMeasures) {
  CScratchFolder dir;
  std::wstring path = dir / L"data.bin";
  CFileException error;
  {
    CFile out;
    ASSERT_TRUE(out.Open(path.c_str(), kCreateWrite, &error));
    ASSERT_TRUE(out.Write("0123456789", 10, &error));
    ULONGLONG length = 0;
    ASSERT_TRUE(out.GetLength(&length, &error));
    EXPECT_EQ(length, 10u);
  }
  CFile in;
  ASSERT_TRUE(in.Open(path.c_str(), kReadShared, &error));
  char buffer[16] = {};
  UINT got = 0;
  ULONGLONG position = 0;
  ASSERT_TRUE(in.Seek(-4, CFile::end, &position, &error));
  EXPECT_EQ(position, 6u);
  ASSERT_TRUE(in.Read(buffer, sizeof(buffer), &got, &error));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buffer, got), "6789");
  ASSERT_TRUE(in.Read(buffer, sizeof(buffer), &got, &error));
  EXPECT_EQ(got, 0u) << "end of file delivers nothing";
  ASSERT_TRUE(in.Seek(2, CFile::begin, &position, &error));
  ASSERT_TRUE(in.Read(buffer, 3, &got, &error));
  EXPECT_EQ(std::string(buffer, got), "234");

  // Positions are 64-bit: past 4 GiB without writing anything there.
  const ULONGLONG beyond4GiB = 5ull << 30;
  ASSERT_TRUE(in.Seek(static_cast<LONGLONG>(beyond4GiB), CFile::begin, &position, &error));
  EXPECT_EQ(position, beyond4GiB);
  ASSERT_TRUE(in.Read(buffer, 4, &got, &error));
  EXPECT_EQ(got, 0u);
}

TEST(CFileTest, SeekBeforeTheStartIsASeekFailureNamingTheFile) {
  CScratchFolder dir;
  std::wstring path = dir / L"short.bin";
  ASSERT_TRUE(WriteWholeFile(path, "abc"));
  CFile in;
  CFileException error;
  ASSERT_TRUE(in.Open(path.c_str(), kReadShared, &error));
  ULONGLONG position = 99;
  EXPECT_FALSE(in.Seek(-284, CFile::end, &position, &error));
  EXPECT_EQ(position, 99u);
  EXPECT_EQ(error.m_cause, CFileException::SeekFailed);
  EXPECT_EQ(error.m_lOsError, ERROR_NEGATIVE_SEEK);
  EXPECT_EQ(std::wstring(error.m_strFileName), path);
}

TEST(CFileTest, ReadAndWriteFailuresAreReportedNotThrown) {
  CScratchFolder dir;
  std::wstring path = dir / L"w.bin";
  CFile out;
  CFileException error;
  ASSERT_TRUE(out.Open(path.c_str(), kCreateWrite, &error));
  char buffer[8];
  UINT got = 7;
  EXPECT_FALSE(out.Read(buffer, sizeof(buffer), &got, &error));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(error.m_cause, CFileException::AccessDenied);
  EXPECT_EQ(std::wstring(error.m_strFileName), path);

  ASSERT_TRUE(WriteWholeFile(dir / L"r.bin", "x"));
  CFile in;
  ASSERT_TRUE(in.Open((dir / L"r.bin").c_str(), kReadShared, &error));
  EXPECT_FALSE(in.Write("abc", 3, &error));
  EXPECT_EQ(error.m_cause, CFileException::AccessDenied);
}

TEST(CFileTest, CreateTruncatesUnlessAskedNotTo) {
  CScratchFolder dir;
  std::wstring path = dir / L"t.bin";
  ASSERT_TRUE(WriteWholeFile(path, "old content"));
  CFileException error;
  {
    CFile keep;
    ASSERT_TRUE(keep.Open(path.c_str(), kCreateWrite | CFile::modeNoTruncate, &error));
  }
  EXPECT_EQ(ReadWholeFile(path), "old content");
  {
    CFile trunc;
    ASSERT_TRUE(trunc.Open(path.c_str(), kCreateWrite, &error));
    ASSERT_TRUE(trunc.Write("new", 3, &error));
  }
  EXPECT_EQ(ReadWholeFile(path), "new");
}

TEST(CFileTest, AnExclusiveOpenRefusesASecondOpen) {
  CScratchFolder dir;
  std::wstring path = dir / L"x.bin";
  CFile first;
  CFileException error;
  ASSERT_TRUE(first.Open(path.c_str(), kCreateWrite, &error));
  CFile second;
  EXPECT_FALSE(second.Open(path.c_str(), kReadShared, &error));
  EXPECT_EQ(error.m_cause, CFileException::SharingViolation);
  EXPECT_EQ(error.m_lOsError, ERROR_SHARING_VIOLATION);
  first.Close();
  EXPECT_TRUE(second.Open(path.c_str(), kReadShared, &error));
}

}  // namespace
