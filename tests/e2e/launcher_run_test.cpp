// The built 64-bit launcher as a user's machine runs it: a process under
// Wine, judged by its exit code and the lines it appends to the log.
#include <gtest/gtest.h>

#include <regex>

#include "clean_machine_test.h"
#include "launch_log.h"
#include "wine_prefix.h"

namespace {

class LauncherRunTest : public e2e::CleanMachineTest {
 protected:
  LauncherRunTest() : CleanMachineTest("launcher-run") {}
};

TEST_F(LauncherRunTest, AnUnpackedLauncherLogsTheOsLineAndExitsZero) {
  auto run = e2e::RunWindows(UNPACK_E2E_LAUNCHER, {});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  auto lines = e2e::LogMessages();
  ASSERT_FALSE(lines.empty()) << "the launcher wrote no log";
  EXPECT_TRUE(std::regex_match(lines[0].message, std::regex(e2e::ExtractionPatterns({})[0]))) << lines[0].message;
}

TEST_F(LauncherRunTest, EachRunAppendsToTheLogOfTheRunsBefore) {
  ASSERT_EQ(e2e::RunWindows(UNPACK_E2E_LAUNCHER, {}).exitCode, 0);
  auto first = e2e::LogLines();
  ASSERT_EQ(e2e::RunWindows(UNPACK_E2E_LAUNCHER, {"ignored"}).exitCode, 0);
  auto both = e2e::LogLines();
  ASSERT_EQ(both.size(), 2 * first.size());
  for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(both[i], first[i]);
  e2e::LaunchLine a, b;
  ASSERT_TRUE(e2e::ParseLine(e2e::Narrow(first[0]), &a));
  ASSERT_TRUE(e2e::ParseLine(e2e::Narrow(both[first.size()]), &b));
  EXPECT_NE(a.pid, b.pid) << "two runs, two processes";
}

}  // namespace
