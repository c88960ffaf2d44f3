#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "diagnostics/utility.h"
#include "scratch_dir.h"

namespace {

TEST(ProbesTest, PreVistaFollowsTheMajorVersion) {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ASSERT_TRUE(GetVersionExW(&version));
  EXPECT_EQ(CUtility::IsPreVista() != FALSE, version.dwMajorVersion < 6);
}

TEST(ProbesTest, A64BitProcessIsNotWow64) { EXPECT_FALSE(CUtility::IsWow64()); }

TEST(ProbesTest, TheModulePathIsThisExecutable) {
  wchar_t expected[MAX_PATH + 1] = {};
  ASSERT_NE(GetModuleFileNameW(nullptr, expected, MAX_PATH), 0u);
  EXPECT_STREQ(CUtility::GetModulePath(), expected);
}

TEST(ProbesTest, FileExistsForFilesAndDirectoriesOnly) {
  ScratchDir dir;
  ASSERT_TRUE(WriteWholeFile(dir / L"f.txt", "x"));
  EXPECT_TRUE(CUtility::FileExists((dir / L"f.txt").c_str()));
  EXPECT_TRUE(CUtility::FileExists(dir.path().c_str()));
  EXPECT_FALSE(CUtility::FileExists((dir / L"missing.txt").c_str()));
  EXPECT_FALSE(CUtility::FileExists((dir / L"missing\\deeper").c_str()));
}

}  // namespace
