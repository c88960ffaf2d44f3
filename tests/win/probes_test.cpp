#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "diagnostics/log.h"
#include "tests/support/scratch_folder.h"
#include "system_facts.h"

using test_support::CScratchFolder;
using test_support::WriteWholeFile;

namespace {

TEST(ProbesTest, PreVistaFollowsTheRecordedMajorVersion) {
  RecordedVersion version;
  ASSERT_TRUE(ReadRecordedVersion(&version));
  EXPECT_EQ(CUtility::IsPreVista() != FALSE, version.major < 6) << version.major;
}

TEST(ProbesTest, A64BitProcessIsNotWow64) { EXPECT_FALSE(CUtility::IsWow64()); }

TEST(ProbesTest, TheModulePathIsThisExecutable) {
  EXPECT_EQ(std::wstring(CUtility::GetModulePath()), BuiltProgramPath());
}

TEST(ProbesTest, FileExistsForFilesAndDirectoriesOnly) {
  CScratchFolder dir;
  ASSERT_TRUE(WriteWholeFile(dir / L"f.txt", "x"));
  EXPECT_TRUE(CUtility::FileExists((dir / L"f.txt").c_str()));
  EXPECT_TRUE(CUtility::FileExists(dir.FolderW().c_str()));
  EXPECT_FALSE(CUtility::FileExists((dir / L"missing.txt").c_str()));
  EXPECT_FALSE(CUtility::FileExists((dir / L"missing\\deeper").c_str()));
}

}  // namespace
