// The built 64-bit launcher as a user's machine runs it: a process under
// Wine, judged by its exit code and the lines it appends to the log.
#include <gtest/gtest.h>

#include <regex>

#include "wine_prefix.h"

namespace {

const std::wregex kLine(LR"(^\[(\d+)\]\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  (.*)  Err:-?\d+$)");

// The message part of a log line; empty when the line is malformed.
std::wstring MessageOf(const std::wstring& line) {
  std::wsmatch m;
  return std::regex_match(line, m, kLine) ? m[2].str() : std::wstring();
}

class LauncherRunTest : public ::testing::Test {
 protected:
  void SetUp() override { e2e::DeleteLog(); }
};

TEST_F(LauncherRunTest, AnUnpackedLauncherLogsTheOsLineAndExitsZero) {
  auto run = e2e::RunWindows(UNPACK_E2E_LAUNCHER64, {});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  auto lines = e2e::LogLines();
  ASSERT_FALSE(lines.empty()) << "the launcher wrote no log";
  std::wstring os = MessageOf(lines[0]);
  EXPECT_TRUE(std::regex_match(os, std::wregex(LR"(\[CUtility::OSInfo\] OS \d+\.\d+\(\d+\) .* x64:0)")))
      << e2e::Narrow(lines[0]);
  for (const auto& line : lines) EXPECT_FALSE(MessageOf(line).empty()) << e2e::Narrow(line);
}

TEST_F(LauncherRunTest, EachRunAppendsToTheLogOfTheRunsBefore) {
  ASSERT_EQ(e2e::RunWindows(UNPACK_E2E_LAUNCHER64, {}).exitCode, 0);
  auto first = e2e::LogLines();
  ASSERT_EQ(e2e::RunWindows(UNPACK_E2E_LAUNCHER64, {"ignored"}).exitCode, 0);
  auto both = e2e::LogLines();
  ASSERT_EQ(both.size(), 2 * first.size());
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(both[i], first[i]);
  std::wsmatch a, b;
  ASSERT_TRUE(std::regex_match(first[0], a, kLine));
  ASSERT_TRUE(std::regex_match(both[first.size()], b, kLine));
  EXPECT_NE(a[1].str(), b[1].str()) << "two runs, two processes";
}

}  // namespace
