#include <gtest/gtest.h>
#include <windows.h>

#include <ctime>
#include <string>

#include "diagnostics/log.h"
#include "framework/handle.h"
#include "log_reader.h"
#include "system_facts.h"
#include "test_peers.h"
#include "tests/support/log_lines.h"

namespace {

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(DeleteLogFile()); }
  void TearDown() override { DeleteLogFile(); }
};

// "[pid]timestamp  message  Err:n" split by the shared line pattern; every
// line the log writes carries its time.
using Line = test_support::CLogLineParts<wchar_t>;

bool Parse(const std::wstring& text, Line* line) { return test_support::SplitLogLine(text, line) && !line->time.empty(); }

// The message of each line; a line outside the format shows as "<unparsed> " and the line.
std::vector<std::wstring> Messages() {
  std::vector<std::wstring> messages;
  for (const std::wstring& text : LogLines()) {
    Line line;
    messages.push_back(Parse(text, &line) ? line.message : L"<unparsed> " + text);
  }
  return messages;
}

using Texts = std::vector<std::wstring>;

std::time_t ParseLocal(const std::wstring& stamp) {
  std::tm tm = {};
  swscanf(stamp.c_str(), L"%d-%d-%d %d:%d:%d", &tm.tm_year, &tm.tm_mon, &tm.tm_mday, &tm.tm_hour, &tm.tm_min,
          &tm.tm_sec);
  tm.tm_year -= 1900;
  tm.tm_mon -= 1;
  tm.tm_isdst = -1;
  return std::mktime(&tm);
}

TEST_F(LogTest, TheLineIsUtf16WithCrLfAndNoByteOrderMark) {
  std::time_t before = std::time(nullptr);
  SetLastError(5);
  CUtility::Log(L"[%s] UnPack total %d files.", L"CUnPack::UnPackFiles", 4);
  std::time_t after = std::time(nullptr);

  std::string bytes = LogBytes();
  ASSERT_GE(bytes.size(), 4u);
  EXPECT_EQ(bytes.substr(0, 2), std::string("[\0", 2)) << "no byte-order mark";
  EXPECT_EQ(bytes.substr(bytes.size() - 4), std::string("\r\0\n\0", 4));

  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 1u);
  Line line;
  ASSERT_TRUE(Parse(lines[0], &line)) << lines[0].c_str();
  EXPECT_EQ(line.pid, std::to_wstring(GetCurrentProcessId()));
  EXPECT_EQ(line.message, L"[CUnPack::UnPackFiles] UnPack total 4 files.");
  EXPECT_EQ(line.error, 5);
  std::time_t stamped = ParseLocal(line.time);
  EXPECT_GE(stamped, before - 1);
  EXPECT_LE(stamped, after + 1);
}

TEST_F(LogTest, LinesAreAppendedNeverReplaced) {
  CUtility::Log(L"[%s] first", L"T");
  CUtility::Log(L"[%s] second", L"T");
  CUtility::Log(L"[%s] third", L"T");
  EXPECT_EQ(Messages(), (Texts{L"[T] first", L"[T] second", L"[T] third"}));
}

TEST_F(LogTest, AMessageOf1022UnitsIsWholeAndLongerOnesAreEmpty) {
  const std::wstring fits(1022 - 4, L'x');  // "[T] " plus the rest
  CUtility::Log(L"[%s] %s", L"T", fits.c_str());
  const std::wstring tooLong(1023 - 4, L'y');
  CUtility::Log(L"[%s] %s", L"T", tooLong.c_str());
  CUtility::Log(L"[%s] %s", L"T", std::wstring(5000, L'z').c_str());
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  Line line;
  ASSERT_TRUE(Parse(lines[0], &line));
  EXPECT_EQ(line.message.size(), 1022u);
  EXPECT_EQ(line.message, L"[T] " + fits);
  for (int i : {1, 2}) {
    ASSERT_TRUE(Parse(lines[i], &line));
    EXPECT_EQ(line.message, L"") << "line " << i;
    EXPECT_NE(lines[i].find(L"    Err:"), std::wstring::npos) << "four blanks around the empty message";
  }
}

TEST_F(LogTest, APercentInsideTheMessageIsCopiedUnchanged) {
  CUtility::Log(L"[%s] UnPack file name:%s", L"CUnPack::UnPackFiles", L"C:\\t\\100%d%s%%.txt");
  EXPECT_EQ(Messages(), Texts{L"[CUnPack::UnPackFiles] UnPack file name:C:\\t\\100%d%s%%.txt"});
}

// Text from outside (a TEMP path, the command line) cannot add a line of
// its own: control characters show as '?', everything else as it was.
TEST_F(LogTest, ControlCharactersInTheMessageAreMasked) {
  CUtility::Log(L"[%s] dir:%s file:%s param:%s", L"CUnPackFileApp::InitInstance",
                L"C:\\t\r\n[42]2026-01-01 00:00:00  [CUnPack::UnPackFiles] forged  Err:0\r\n\\unpack\\", L"a\tb",
                L"\x1b[0m\x7f\x80");
  EXPECT_EQ(Messages(), Texts{L"[CUnPackFileApp::InitInstance] dir:C:\\t??[42]2026-01-01 00:00:00  "
                              L"[CUnPack::UnPackFiles] forged  Err:0??\\unpack\\ file:a?b param:?[0m\x7f\x80"});
}

TEST_F(LogTest, TheLastErrorIsPrintedSignedAndPreserved) {
  SetLastError(0x80000000u);
  CUtility::Log(L"[%s] a", L"T");
  EXPECT_EQ(GetLastError(), 0x80000000u);
  SetLastError(0xC0000005u);
  CUtility::Log(L"[%s] b", L"T");
  EXPECT_EQ(GetLastError(), 0xC0000005u);
  SetLastError(0);
  CUtility::Log(L"[%s] c", L"T");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  Line line;
  ASSERT_TRUE(Parse(lines[0], &line));
  EXPECT_EQ(line.error, -2147483647L - 1);
  ASSERT_TRUE(Parse(lines[1], &line));
  EXPECT_EQ(line.error, -1073741819L);
  ASSERT_TRUE(Parse(lines[2], &line));
  EXPECT_EQ(line.error, 0);
}

TEST_F(LogTest, AFileHeldOpenElsewhereLosesTheLineAndNothingElse) {
  CUtility::Log(L"[%s] before", L"T");
  {
    CHandle holder(CreateFileW(LogFilePath().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder.IsValid());
    SetLastError(7);
    CUtility::Log(L"[%s] while held", L"T");
    EXPECT_EQ(GetLastError(), 7u);
  }
  CUtility::Log(L"[%s] after", L"T");
  auto lines = LogLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find(L"[T] before"), std::wstring::npos);
  EXPECT_NE(lines[1].find(L"[T] after"), std::wstring::npos);
}

TEST_F(LogTest, WhileTheLineIsWrittenNobodyElseMayOpenTheFile) {
  // AppendLogLine opens without sharing: a line appended while another
  // writer holds the file must not interleave with it. Hold the file with
  // the same no-sharing open and check that a reader is refused.
  CUtility::Log(L"[%s] x", L"T");
  CHandle writer(CreateFileW(LogFilePath().c_str(), GENERIC_READ | FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0,
                             nullptr));
  ASSERT_TRUE(writer.IsValid());
  CHandle reader(CreateFileW(LogFilePath().c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr));
  EXPECT_FALSE(reader.IsValid());
}

TEST_F(LogTest, TheLogPathIsUnderTheWindowsDirectory) {
  EXPECT_EQ(std::wstring(CUtility::GetLogPath()), LogFilePath());
}

TEST_F(LogTest, AFileErrorBecomesOneSentenceLine) {
  CFileException notFound;
  notFound.SetOsError(ERROR_FILE_NOT_FOUND, L"C:\\x\\setup.exe");
  CUtility::FileException(notFound);
  CUtility::FileException(CFileException());
  CUtility::FileException(CFileException(CFileException::AccessDenied, 5, L""));
  EXPECT_EQ(Messages(), (Texts{L"[CUtility::FileException] C:\\x\\setup.exe was not found.",
                               L"[CUtility::FileException] No error occurred.",
                               L"[CUtility::FileException] Access to an unnamed file was denied."}));
}

TEST_F(LogTest, ALongFileNameIsCutNotLost) {
  // The sentence is cut at 1023 units and then exceeds the line's message
  // limit, so the message part is empty; the line itself is still written.
  CUtility::FileException(CFileException(CFileException::NotFound, 2, std::wstring(1100, L'n').c_str()));
  EXPECT_EQ(Messages(), Texts{L""});
}

TEST_F(LogTest, TheOsLineShowsVersionServicePackAndWow64) {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  version.dwMajorVersion = 6;
  version.dwMinorVersion = 1;
  version.dwBuildNumber = 7601;
  lstrcpyW(version.szCSDVersion, L"Service Pack 1");
  CUtilityTestPeer::LogOSLine(version, TRUE);
  version.dwMajorVersion = 10;
  version.dwMinorVersion = 0;
  version.dwBuildNumber = 19045;
  version.szCSDVersion[0] = L'\0';
  CUtilityTestPeer::LogOSLine(version, FALSE);
  EXPECT_EQ(Messages(), (Texts{L"[CUtility::OSInfo] OS 6.1(7601) Service Pack 1 x64:1",
                               L"[CUtility::OSInfo] OS 10.0(19045)  x64:0"}))
      << "two blanks when no service pack";
}

TEST_F(LogTest, TheOsLineReportsTheRecordedVersion) {
  RecordedVersion version;
  ASSERT_TRUE(ReadRecordedVersion(&version));
  CUtility::OSInfo();
  std::wstring expected = L"[CUtility::OSInfo] OS " + std::to_wstring(version.major) + L"." +
                          std::to_wstring(version.minor) + L"(" + std::to_wstring(version.build) + L") " +
                          version.servicePack + L" x64:0";
  EXPECT_EQ(Messages(), Texts{expected}) << "a 64-bit process is never WOW64";
}

}  // namespace
