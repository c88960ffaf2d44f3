#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "package/work_directory.h"

// Remote volumes, paths too long for the current directory with the longer
// of the work directory's names, and anything but a folder are refused
// before anything is written; the volume's kind and the attributes come in
// as inputs.
TEST(WorkParentRefusalTest, LongRemoteAndMissingParentsAreRefused) {
  std::wstring longest(MAX_PATH - 17, L'x');  // with "unpack.12345678\" and the terminator: 260
  longest.replace(0, 3, L"C:\\");
  const DWORD folder = FILE_ATTRIBUTE_DIRECTORY;
  const struct {
    std::wstring parent;
    UINT driveType;
    DWORD attributes;
    DWORD refusal;
  } table[] = {
      {L"C:\\Users\\me\\AppData\\Local\\Temp\\", DRIVE_FIXED, folder, 0},
      {L"C:\\Users\\me\\Temp\\", DRIVE_FIXED, folder | FILE_ATTRIBUTE_REPARSE_POINT, 0},
      {longest, DRIVE_FIXED, folder, 0},
      {longest + L"y", DRIVE_FIXED, folder, ERROR_FILENAME_EXCED_RANGE},
      {L"Z:\\temp\\", DRIVE_REMOTE, folder, ERROR_BAD_NETPATH},
      {L"\\\\server\\share\\temp\\", DRIVE_UNKNOWN, folder, ERROR_BAD_NETPATH},
      {L"", DRIVE_UNKNOWN, folder, ERROR_PATH_NOT_FOUND},
      {L"C:\\gone\\", DRIVE_FIXED, INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND},
      {L"C:\\a-file\\", DRIVE_FIXED, FILE_ATTRIBUTE_ARCHIVE, ERROR_PATH_NOT_FOUND},
  };
  for (const auto& row : table)
    EXPECT_EQ(WorkParentRefusal(row.parent.c_str(), row.driveType, row.attributes), row.refusal) << row.parent.size();
}

TEST(WorkParentRefusalTest, OnlyTheLaunchersOwnNamesCountAsSiblings) {
  for (const wchar_t* name : {L"unpack.0123abcd", L"unpack.ffffffff"}) EXPECT_TRUE(IsWorkDirSiblingName(name)) << name;
  for (const wchar_t* name : {L"unpack", L"unpack.0123abc", L"unpack.0123abcde", L"unpack-0123abcd", L"UNPACK.0123abcd",
                              L"unpack.0123abcg", L"other.0123abcd"})
    EXPECT_FALSE(IsWorkDirSiblingName(name)) << name;
}
