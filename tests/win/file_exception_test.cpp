#include "framework/file_exception.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// The mapping as the product's documentation tables it, written out here
// independently of the code under test.
const std::map<int, std::vector<long>> kListedCodes = {
    {0, {0}},
    {2, {2, 6, 18, 107}},
    {3, {3, 15, 17, 34, 52, 53, 55, 67, 70, 85, 111, 123, 124, 125, 144, 154, 161, 206, 208, 267}},
    {4, {4, 36, 68, 113}},
    {5, {5, 12, 19, 29, 54, 58, 64, 65, 71, 80, 82, 86, 170, 183, 999}},
    {6, {11, 26, 60, 66, 114, 182, 191, 193}},
    {7, {16, 145}},
    {8, {62}},
    {9, {24, 25, 27, 30, 131, 132}},
    {10, {20, 21, 22, 23, 57, 59, 88, 117, 995, 996, 997}},
    {11, {32}},
    {12, {33, 108, 167}},
    {13, {39, 112}},
    {14, {38}},
};

TEST(FileExceptionTest, EveryListedCodeMapsToItsCause) {
  for (const auto& [cause, codes] : kListedCodes) {
    for (long code : codes) EXPECT_EQ(CFileException::OsErrorToException(code), cause) << "OS error " << code;
  }
}

TEST(FileExceptionTest, EveryOtherCodeIsAnUnknownError) {
  std::map<long, int> listed;
  for (const auto& [cause, codes] : kListedCodes)
    for (long code : codes) listed[code] = cause;
  for (long code = -300; code <= 20000; ++code) {
    if (listed.count(code)) continue;
    ASSERT_EQ(CFileException::OsErrorToException(code), CFileException::UnknownError) << "OS error " << code;
  }
  for (long code : {63L, 69L, 1000L, -1L, 0x7FFFFFFFL, -0x7FFFFFFFL - 1, 65536L + 2})
    EXPECT_EQ(CFileException::OsErrorToException(code), CFileException::UnknownError) << "OS error " << code;
}

std::wstring Message(int cause, const wchar_t* name, UINT capacity = 1024) {
  CFileException e(cause, -1, name);
  std::wstring buffer(capacity, L'#');
  EXPECT_TRUE(e.GetErrorMessage(&buffer[0], capacity));
  return buffer.c_str();
}

TEST(FileExceptionTest, EachCauseHasItsSentence) {
  const wchar_t* name = L"C:\\x\\setup.exe";
  const std::vector<std::wstring> expected = {
      L"No error occurred.",
      L"An unknown error occurred while accessing C:\\x\\setup.exe.",
      L"C:\\x\\setup.exe was not found.",
      L"C:\\x\\setup.exe contains an incorrect path.",
      L"Could not open C:\\x\\setup.exe because there are too many open files.",
      L"Access to C:\\x\\setup.exe was denied.",
      L"An incorrect file handle was associated with C:\\x\\setup.exe.",
      L"Could not remove C:\\x\\setup.exe because it is the current directory.",
      L"Could not create C:\\x\\setup.exe because the directory is full.",
      L"Seek failed on C:\\x\\setup.exe",
      L"Encountered a hardware I/O error while accessing C:\\x\\setup.exe.",
      L"Encountered a sharing violation while accessing C:\\x\\setup.exe.",
      L"Encountered a locking violation while accessing C:\\x\\setup.exe.",
      L"Disk full while accessing C:\\x\\setup.exe.",
      L"Attempted to access C:\\x\\setup.exe past its end.",
  };
  for (int cause = 0; cause < 15; ++cause) EXPECT_EQ(Message(cause, name), expected[cause]) << "cause " << cause;
}

TEST(FileExceptionTest, OsErrorsReachTheirSentences) {
  CFileException e;
  e.SetOsError(2, L"C:\\x\\setup.exe");
  wchar_t buffer[256] = {};
  ASSERT_TRUE(e.GetErrorMessage(buffer, 256));
  EXPECT_STREQ(buffer, L"C:\\x\\setup.exe was not found.");
  EXPECT_EQ(e.m_lOsError, 2);
  e.SetOsError(32, L"f");
  ASSERT_TRUE(e.GetErrorMessage(buffer, 256));
  EXPECT_STREQ(buffer, L"Encountered a sharing violation while accessing f.");
  for (long code : {5L, 183L}) {
    e.SetOsError(code, L"f");
    ASSERT_TRUE(e.GetErrorMessage(buffer, 256));
    EXPECT_STREQ(buffer, L"Access to f was denied.");
  }
  for (long code : {63L, 69L, 1000L}) {
    e.SetOsError(code, L"f");
    ASSERT_TRUE(e.GetErrorMessage(buffer, 256));
    EXPECT_STREQ(buffer, L"An unknown error occurred while accessing f.");
  }
}

TEST(FileExceptionTest, AnEmptyNameIsAnUnnamedFile) {
  EXPECT_EQ(Message(CFileException::AccessDenied, L""), L"Access to an unnamed file was denied.");
  EXPECT_EQ(Message(CFileException::AccessDenied, nullptr), L"Access to an unnamed file was denied.");
}

TEST(FileExceptionTest, AFreshRecordSaysNoError) {
  CFileException e;
  EXPECT_EQ(e.m_cause, 0);
  EXPECT_EQ(e.m_lOsError, -1);
  wchar_t buffer[64];
  ASSERT_TRUE(e.GetErrorMessage(buffer, 64));
  EXPECT_STREQ(buffer, L"No error occurred.");
}

TEST(FileExceptionTest, MessageIsCutToCapacityAndAlwaysTerminated) {
  EXPECT_EQ(Message(CFileException::NotFound, L"abcdef", 5), L"abcd");
  EXPECT_EQ(Message(CFileException::NotFound, L"abcdef", 1), L"");
  // A name containing "%1" is not expanded a second time.
  EXPECT_EQ(Message(CFileException::NotFound, L"100%1.txt"), L"100%1.txt was not found.");
}

TEST(FileExceptionTest, NoBufferOrNoCapacityWritesNothing) {
  CFileException e(CFileException::NotFound, 2, L"x");
  wchar_t buffer[4] = {L'q', L'q', L'q', 0};
  EXPECT_FALSE(e.GetErrorMessage(nullptr, 10));
  EXPECT_FALSE(e.GetErrorMessage(buffer, 0));
  EXPECT_STREQ(buffer, L"qqq");
}

}  // namespace
