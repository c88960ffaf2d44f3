// The running image's file held from the start, the check that the held file
// is the running image, and the system DLLs loaded by hand.
#include "framework/image_file.h"

#include <gtest/gtest.h>

#include <string>

#include "framework/system_dlls.h"
#include "scratch_dir.h"

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

  ScratchDir dir_;
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
  for (const auto& c : cases) EXPECT_EQ(CImageFile::NamesFile(c.mapped.c_str(), held), c.names) << c.what;
  EXPECT_FALSE(CImageFile::NamesFile(nullptr, held));
  EXPECT_FALSE(CImageFile::NamesFile(MappedForm(held_).c_str(), INVALID_HANDLE_VALUE));
  CloseHandle(held);
}

TEST_F(ImageFileTest, OpenReadsTheRunningImageThroughTheHeldFile) {
  std::wstring self = RunningImagePath();
  CImageFile::Hold(self.c_str());
  CFile file;
  CFileException error;
  ASSERT_TRUE(CImageFile::Open(file, self.c_str(), &error));
  char mz[2] = {};
  UINT got = 0;
  ASSERT_TRUE(file.Read(mz, 2, &got, &error));
  EXPECT_EQ(std::string(mz, got), "MZ");
  EXPECT_STREQ(file.GetFilePath(), self.c_str());
  // Read to the end once: a second open still starts at the beginning.
  file.Close();
  ASSERT_TRUE(CImageFile::Open(file, self.c_str(), &error));
  ASSERT_TRUE(file.Read(mz, 2, &got, &error));
  EXPECT_EQ(std::string(mz, got), "MZ");
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
    EXPECT_FALSE(file.IsOpen()) << c.what;
    EXPECT_EQ(error.m_cause, c.cause) << c.what;
    EXPECT_EQ(error.m_lOsError, c.osError) << c.what;
    EXPECT_STREQ(error.m_strFileName, L"C:\\the\\module\\path.exe") << c.what;
  }
}

TEST(CFileDuplicateTest, ReadsFromTheStartAndLeavesTheSourceOpen) {
  ScratchDir dir;
  std::wstring path = dir / L"source.bin";
  ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
  HANDLE source = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(source, INVALID_HANDLE_VALUE);
  char skip[4] = {};
  DWORD skipped = 0;
  ASSERT_TRUE(ReadFile(source, skip, 4, &skipped, nullptr));
  {
    CFile file;
    CFileException error;
    ASSERT_TRUE(file.OpenDuplicate(source, path.c_str(), &error));
    char bytes[16] = {};
    UINT got = 0;
    ASSERT_TRUE(file.Read(bytes, sizeof(bytes), &got, &error));
    EXPECT_EQ(std::string(bytes, got), "0123456789");
    EXPECT_STREQ(file.GetFilePath(), path.c_str());
    EXPECT_FALSE(file.Write("x", 1, &error)) << "read only";
    EXPECT_EQ(error.m_cause, CFileException::AccessDenied);
  }
  BY_HANDLE_FILE_INFORMATION info = {};
  EXPECT_TRUE(GetFileInformationByHandle(source, &info)) << "the source stays open";
  CloseHandle(source);

  CFile file;
  CFileException error;
  EXPECT_FALSE(file.OpenDuplicate(nullptr, L"named.bin", &error));
  EXPECT_FALSE(file.IsOpen());
  EXPECT_EQ(error.m_lOsError, ERROR_INVALID_HANDLE);
  EXPECT_STREQ(error.m_strFileName, L"named.bin");
}

TEST(SystemDllsTest, TheTableHoldsEachFunctionOfItsDll) {
  const CSystemApi* api = SystemApi();
  ASSERT_NE(api, nullptr);
  const struct {
    const wchar_t* dll;
    const char* name;
    const void* entry;
  } table[] = {
      {L"user32.dll", "LoadStringW", reinterpret_cast<const void*>(api->LoadStringW)},
      {L"user32.dll", "MessageBoxW", reinterpret_cast<const void*>(api->MessageBoxW)},
      {L"shell32.dll", "ShellExecuteExW", reinterpret_cast<const void*>(api->ShellExecuteExW)},
      {L"advapi32.dll", "AddAccessAllowedAceEx", reinterpret_cast<const void*>(api->AddAccessAllowedAceEx)},
      {L"advapi32.dll", "CopySid", reinterpret_cast<const void*>(api->CopySid)},
      {L"advapi32.dll", "CreateWellKnownSid", reinterpret_cast<const void*>(api->CreateWellKnownSid)},
      {L"advapi32.dll", "EqualSid", reinterpret_cast<const void*>(api->EqualSid)},
      {L"advapi32.dll", "GetTokenInformation", reinterpret_cast<const void*>(api->GetTokenInformation)},
      {L"advapi32.dll", "InitializeAcl", reinterpret_cast<const void*>(api->InitializeAcl)},
      {L"advapi32.dll", "InitializeSecurityDescriptor",
       reinterpret_cast<const void*>(api->InitializeSecurityDescriptor)},
      {L"advapi32.dll", "OpenProcessToken", reinterpret_cast<const void*>(api->OpenProcessToken)},
      {L"advapi32.dll", "SetSecurityDescriptorControl",
       reinterpret_cast<const void*>(api->SetSecurityDescriptorControl)},
      {L"advapi32.dll", "SetSecurityDescriptorDacl", reinterpret_cast<const void*>(api->SetSecurityDescriptorDacl)},
  };
  static_assert(sizeof(table) / sizeof(table[0]) * sizeof(void*) == sizeof(CSystemApi), "every function listed");
  for (const auto& row : table) {
    HMODULE dll = GetModuleHandleW(row.dll);
    ASSERT_NE(dll, nullptr) << row.name;
    EXPECT_EQ(row.entry, reinterpret_cast<const void*>(GetProcAddress(dll, row.name))) << row.name;
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
