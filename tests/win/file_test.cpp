#include "framework/file.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "test_peers.h"
#include "tests/support/package_builder.h"
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

// The buffer must be invisible: every read, seek, length and failure is
// what direct system calls would give.
const UINT kBuffer = CFile::kBufferSize;

// Bytes whose value tells their offset, so a misplaced byte shows.
std::string Pattern(size_t size) { return test_support::PatternBytes(size, 0); }

TEST(CFileBufferTest, ReadsThatStraddleTheBufferEdgeDeliverEveryByteOnce) {
  CScratchFolder dir;
  std::wstring path = dir / L"in.bin";
  const std::string data = Pattern(3 * kBuffer + 123);
  ASSERT_TRUE(WriteWholeFile(path, data));
  for (UINT chunk : {1u, 1000u, 1024u, kBuffer - 1, kBuffer, kBuffer + 1, 2 * kBuffer + 5}) {
    CFile in;
    CFileException error;
    ASSERT_TRUE(in.Open(path.c_str(), kReadShared, &error));
    std::string got, buffer(chunk, '\0');
    UINT n = 0;
    do {
      ASSERT_TRUE(in.Read(&buffer[0], chunk, &n, &error));
      // A read delivers fewer bytes than asked only at the end of the file.
      if (n < chunk) EXPECT_EQ(got.size() + n, data.size()) << "chunk " << chunk;
      got.append(buffer, 0, n);
    } while (n > 0);
    EXPECT_TRUE(got == data) << "chunk " << chunk;
  }
}

TEST(CFileBufferTest, SeeksInsideAndOutsideTheBufferLandExactly) {
  CScratchFolder dir;
  std::wstring path = dir / L"seek.bin";
  const std::string data = Pattern(2 * kBuffer + 999);
  ASSERT_TRUE(WriteWholeFile(path, data));
  CFile in;
  CFileException error;
  ASSERT_TRUE(in.Open(path.c_str(), kReadShared, &error));
  char b[16];
  UINT n = 0;
  ULONGLONG pos = 0;
  ASSERT_TRUE(in.Read(b, 10, &n, &error));  // fills the buffer
  struct {
    LONGLONG offset;
    UINT from;
    ULONGLONG expected;
  } table[] = {
      {5, CFile::begin, 5},                         // inside the buffer, backwards
      {100, CFile::current, 5 + 16 + 100},          // inside, forwards (16 read below)
      {kBuffer + 7, CFile::begin, kBuffer + 7},     // outside
      {-20, CFile::current, kBuffer + 7 + 16 - 20}, // back across the edge
      {-16, CFile::end, data.size() - 16},          // from the end
      {0, CFile::begin, 0},
  };
  for (const auto& row : table) {
    ASSERT_TRUE(in.Seek(row.offset, row.from, &pos, &error));
    EXPECT_EQ(pos, row.expected);
    ASSERT_TRUE(in.Read(b, 16, &n, &error));
    ASSERT_EQ(n, 16u);
    EXPECT_EQ(std::string(b, 16), data.substr(row.expected, 16)) << "seek to " << row.expected;
  }
  // After a failed seek the position is where it was.
  ASSERT_TRUE(in.Seek(40, CFile::begin, &pos, &error));
  ASSERT_TRUE(in.Read(b, 4, &n, &error));
  EXPECT_FALSE(in.Seek(-1000, CFile::current, &pos, &error));
  EXPECT_EQ(error.m_cause, CFileException::SeekFailed);
  ASSERT_TRUE(in.Read(b, 4, &n, &error));
  EXPECT_EQ(std::string(b, 4), data.substr(44, 4));
}

TEST(CFileBufferTest, LengthAndContentIncludeWhatIsStillBuffered) {
  CScratchFolder dir;
  std::wstring path = dir / L"out.bin";
  const std::string data = Pattern(kBuffer + 3000);
  CFile out;
  CFileException error;
  ASSERT_TRUE(out.Open(path.c_str(), kCreateWrite, &error));
  ULONGLONG length = 0;
  ASSERT_TRUE(out.Write(data.data(), 1024, &error));
  ASSERT_TRUE(out.GetLength(&length, &error));
  EXPECT_EQ(length, 1024u);
  for (size_t at = 1024; at < data.size(); at += 1024)
    ASSERT_TRUE(out.Write(data.data() + at, static_cast<UINT>(std::min<size_t>(1024, data.size() - at)), &error));
  ASSERT_TRUE(out.GetLength(&length, &error));
  EXPECT_EQ(length, data.size());
  ASSERT_TRUE(out.Close(&error));
  EXPECT_TRUE(ReadWholeFile(path) == data);
}

TEST(CFileBufferTest, ReadingThenWritingThenReadingKeepsOnePosition) {
  CScratchFolder dir;
  std::wstring path = dir / L"rw.bin";
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  CFile f;
  CFileException error;
  ASSERT_TRUE(f.Open(path.c_str(), CFile::modeReadWrite | CFile::typeBinary | CFile::shareExclusive, &error));
  char b[4];
  UINT n = 0;
  ASSERT_TRUE(f.Read(b, 3, &n, &error));  // position 3, buffer read ahead to 10
  ASSERT_TRUE(f.Write("ab", 2, &error));  // lands at 3 and 4
  ASSERT_TRUE(f.Read(b, 2, &n, &error));
  EXPECT_EQ(std::string(b, n), "56");
  ASSERT_TRUE(f.Close(&error));
  EXPECT_EQ(ReadWholeFile(path), "012ab56789");
}

// A small file system the test run mounts (see the CTest fixture); without
// it the disk-full cases cannot be made and are skipped, saying so.
std::wstring SmallDir() {
  const char* dir = std::getenv("UNPACK_SMALL_FS");
  if (!dir || !*dir) return std::wstring();
  std::string s(dir);
  std::wstring path = std::wstring(s.begin(), s.end()) + L"\\";
  // The fixture leaves this marker only when the mount succeeded.
  if (GetFileAttributesW((path + L"mounted").c_str()) == INVALID_FILE_ATTRIBUTES) return std::wstring();
  return path;
}

TEST(CFileBufferTest, ADiskFullAtFlushOrCloseIsAWriteFailure) {
  std::wstring small = SmallDir();
  if (small.empty()) GTEST_SKIP() << "no small file system could be mounted (needs root and tmpfs): disk-full cases not run";
  std::wstring path = small + L"full.bin";
  DeleteFileW(path.c_str());
  const std::string block = Pattern(1024);
  CFile out;
  CFileException error;
  ASSERT_TRUE(out.Open(path.c_str(), kCreateWrite, &error));
  BOOL ok = TRUE;
  for (int i = 0; i < 4096 && ok; ++i) ok = out.Write(block.data(), 1024, &error);  // 4 MiB into a small disk
  if (ok) {
    ok = out.Close(&error);  // what is left in the buffer fails here
  } else {
    out.Close();
  }
  EXPECT_FALSE(ok) << "a full disk must not pass as success";
  EXPECT_EQ(error.m_cause, CFileException::DiskFull);
  EXPECT_EQ(std::wstring(error.m_strFileName), path);
  EXPECT_FALSE(CFileTestPeer::IsOpen(out));
  DeleteFileW(path.c_str());

  // Close alone reports it when everything else fit in the buffer.
  CFile last;
  ASSERT_TRUE(WriteWholeFile(small + L"filler.bin", std::string()));
  CHandle fill(CreateFileW((small + L"filler.bin").c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr));
  std::string big(64 * 1024, 'f');
  for (DWORD piece : {64u * 1024u, 1024u, 1u}) {  // down to the last free byte
    DWORD w = 0;
    while (WriteFile(fill.Get(), big.data(), piece, &w, nullptr) && w == piece) {
    }
  }
  fill.Reset();
  ASSERT_TRUE(last.Open(path.c_str(), kCreateWrite, &error));
  EXPECT_TRUE(last.Write(block.data(), 1024, &error)) << "buffered, not yet written";
  CFileException closeError;
  EXPECT_FALSE(last.Close(&closeError));
  EXPECT_EQ(closeError.m_cause, CFileException::DiskFull);
  DeleteFileW(path.c_str());
  DeleteFileW((small + L"filler.bin").c_str());
}

}  // namespace
