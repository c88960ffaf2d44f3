// The running image's file held from the start, the check that the held file
// is the running image, and system DLLs loaded by path.
#include "hardening/image_file.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "framework/system_dlls.h"
#include "test_peers.h"
#include "tests/support/scratch_folder.h"

using test_support::CScratchFolder;
using test_support::ReadWholeFile;
using test_support::WriteWholeFile;

namespace {

// The name the system reports for a mapped file, in the \??\ form Wine gives.
std::wstring MappedForm(const std::wstring& path) { return L"\\??\\" + path; }

std::wstring RunningImagePath() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return path;
}

class ImageFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(WriteWholeFile(held_, "held bytes"));
    ASSERT_TRUE(WriteWholeFile(other_, "other bytes"));
  }
  void TearDown() override { CImageFile::Hold(L""); }

  CScratchFolder dir_;
  std::wstring held_ = dir_ / L"setup.exe";
  std::wstring other_ = dir_ / L"other.exe";
};

TEST_F(ImageFileTest, TheHeldFileCanBeReadButNotWrittenRenamedOrDeleted) {
  CImageFile::Hold(held_.c_str());
  const struct {
    const char* what;
    bool done;
  } neighbour[] = {
      {"rename", MoveFileExW(held_.c_str(), (dir_ / L"away.exe").c_str(), 0) != FALSE},
      {"delete", DeleteFileW(held_.c_str()) != FALSE},
      {"open for writing", [&] {
         HANDLE h = CreateFileW(held_.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, 0, nullptr);
         if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
         return h != INVALID_HANDLE_VALUE;
       }()},
  };
  for (const auto& attempt : neighbour) EXPECT_FALSE(attempt.done) << attempt.what;
  EXPECT_EQ(ReadWholeFile(held_), "held bytes");
}

TEST_F(ImageFileTest, NamesFileAcceptsOnlyANameOfTheHeldFile) {
  HANDLE held = CreateFileW(held_.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(CreateHardLinkW((dir_ / L"link.exe").c_str(), held_.c_str(), nullptr));
  const struct {
    const char* what;
    std::wstring mapped;
    BOOL names;
  } cases[] = {
      {"the held file", MappedForm(held_), TRUE},
      {"another link to it", MappedForm(dir_ / L"link.exe"), TRUE},
      {"another file", MappedForm(other_), FALSE},
      {"no file there", MappedForm(dir_ / L"missing.exe"), FALSE},
      {"a path, not a system name", held_, FALSE},
      {"a device that is not there", L"\\Device\\NoSuchVolume" + held_.substr(2), FALSE},
      {"empty", L"", FALSE},
  };
  for (const auto& c : cases) EXPECT_EQ(CImageFileTestPeer::NamesFile(c.mapped.c_str(), held), c.names) << c.what;
  EXPECT_FALSE(CImageFileTestPeer::NamesFile(nullptr, held));
  EXPECT_FALSE(CImageFileTestPeer::NamesFile(MappedForm(held_).c_str(), INVALID_HANDLE_VALUE));
  CloseHandle(held);
}

TEST_F(ImageFileTest, MapsRunningImageTellsTheImageFromAnExactCopy) {
  std::wstring self = RunningImagePath();
  std::wstring copy = dir_ / L"copy.exe";
  ASSERT_TRUE(CopyFileW(self.c_str(), copy.c_str(), FALSE));
  for (const auto& [path, same] : {std::pair{self, TRUE}, std::pair{copy, FALSE}}) {
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(CImageFileTestPeer::MapsRunningImage(held), same);
    CloseHandle(held);
  }
}

TEST_F(ImageFileTest, OpenReadsTheRunningImageThroughTheHeldFile) {
  std::wstring self = RunningImagePath();
  CImageFile::Hold(self.c_str());
  // The first open reads ahead; the handles share one position, yet the
  // second open starts at the beginning too.
  for (int open = 0; open < 2; ++open) {
    CFile file;
    CFileException error;
    ASSERT_TRUE(CImageFile::Open(file, self.c_str(), &error));
    char mz[2] = {};
    UINT got = 0;
    ASSERT_TRUE(file.Read(mz, 2, &got, &error));
    EXPECT_EQ(std::string(mz, got), "MZ");
    EXPECT_STREQ(file.GetFilePath(), self.c_str());
  }
}

TEST_F(ImageFileTest, OpenRefusesAFileThatIsNotTheRunningImage) {
  const struct {
    const char* what;
    std::wstring held;
    int cause;
    LONG osError;
  } cases[] = {
      {"a file other than the image", held_, CFileException::AccessDenied, ERROR_ACCESS_DENIED},
      {"nothing could be held", dir_ / L"missing.exe", CFileException::NotFound, ERROR_FILE_NOT_FOUND},
  };
  for (const auto& c : cases) {
    CImageFile::Hold(c.held.c_str());
    CFile file;
    CFileException error;
    SetLastError(0);
    EXPECT_FALSE(CImageFile::Open(file, L"C:\\the\\module\\path.exe", &error)) << c.what;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(c.osError)) << c.what;
    EXPECT_FALSE(CFileTestPeer::IsOpen(file)) << c.what;
    EXPECT_EQ(error.m_cause, c.cause) << c.what;
    EXPECT_EQ(error.m_lOsError, c.osError) << c.what;
    EXPECT_STREQ(error.m_strFileName, L"C:\\the\\module\\path.exe") << c.what;
  }
}

TEST(SystemDllsTest, LoadSystemLibraryTakesTheSystemDirectorysCopy) {
  wchar_t system[MAX_PATH + 1] = {};
  ASSERT_NE(GetSystemDirectoryW(system, MAX_PATH), 0u);
  HMODULE version = LoadSystemLibrary(L"version.dll");
  ASSERT_NE(version, nullptr);
  wchar_t loaded[MAX_PATH + 1] = {};
  GetModuleFileNameW(version, loaded, MAX_PATH);
  EXPECT_EQ(std::wstring(loaded), std::wstring(system) + L"\\version.dll");
  FreeLibrary(version);
  EXPECT_EQ(LoadSystemLibrary(L"no-such-library.dll"), nullptr);
}

}  // namespace
