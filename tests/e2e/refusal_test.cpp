// A second installation started beside a running one, on a real (virtual)
// desktop: it shows the refusal box, leaves no trace, and exits 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <utility>

#include "clean_machine_test.h"
#include "installer.h"
#include "launch_log.h"
#include "tests/support/argument_quoting.h"
#include "tests/support/wait.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

const char kCaption[] = "Quillon\xC2\xAE Vantor";
const char kText[] = "Another installation is in progress. You must complete that installation before starting this one.";

class RefusalTest : public e2e::CleanMachineTest {
 protected:
  RefusalTest() : CleanMachineTest("refusal") {}
  void SetUp() override {
    ASSERT_TRUE(e2e::UseVirtualDisplay()) << "no virtual desktop: the xvfb.start fixture did not run";
    e2e::ClearMachineState();
    fs::create_directories(UNPACK_E2E_ARTIFACTS);
  }
  // A failed case must not leave the first installation holding the mutex,
  // nor a box behind for the next case to find.
  void TearDown() override {
    e2e::WaitWindows(secondPid_, std::chrono::seconds(5));
    e2e::WriteWholeFile(release_, "go");
    e2e::WaitWindows(firstPid_, std::chrono::seconds(60));
  }
  std::string release_ = scratch_ / "release";
  int firstPid_ = -1;
  int secondPid_ = -1;
};

TEST_F(RefusalTest, ASecondLauncherShowsTheBoxLeavesNoTraceAndExitsZero) {
  std::string first = scratch_ / "first.exe";
  std::string second = scratch_ / "second.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"first.txt", "first"}}, first, {"--no-run-bat"}), 0);
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"second.txt", "second"}}, second, {"--no-run-bat"}), 0);
  // The box is drawn by DLLs that load more on demand: none from here.
  e2e::PlantDlls(scratch_.path());

  // The first installation: its child keeps running until released, so it
  // holds the mutex however long the box takes to go.
  firstPid_ = e2e::StartWindows(first, {e2e::WindowsPath(e2e::TestChild()), "wait-for", e2e::WindowsPath(release_),
                                        "300000"});
  ASSERT_TRUE(test_support::WaitUntil([] { return e2e::LogHas("execute wait pid:"); }, std::chrono::seconds(60)))
      << "the first launcher did not reach its wait";
  auto logBefore = e2e::ReadWholeFile(e2e::LogPath());

  // Started where nobody could answer a box (a service's window station):
  // it ends at once, without a line, and holds nothing that refuses the next.
  auto unseen = e2e::RunWindows(e2e::TestChild(), {"unseen", e2e::WindowsPath(second)}, std::chrono::seconds(60));
  EXPECT_FALSE(unseen.timedOut) << "a box nobody can see held the launcher";
  EXPECT_EQ(unseen.exitCode, 0);
  EXPECT_EQ(e2e::ReadWholeFile(e2e::LogPath()), logBefore) << "the unseen refusal wrote a log line";

  secondPid_ = e2e::StartWindows(second, {});
  std::string shot = std::string(UNPACK_E2E_ARTIFACTS) + "/refusal-box.png";
  std::string window = e2e::CaptureWindow(kCaption, shot, std::chrono::seconds(60));
  ASSERT_FALSE(window.empty()) << "no window captioned " << kCaption << " was drawn; the second launcher "
      << (test_support::HasEnded(secondPid_) ? "has ended" : "still runs") << ", the virtual display "
      << (e2e::Shell("xdotool getdisplaygeometry >/dev/null 2>&1") == 0 ? "answers" : "is gone") << "\n"
      << e2e::Dump(e2e::LogMessages());
  std::cout << "screenshot of the refusal box: " << shot << std::endl;

  // Its text, read through the window tree that Wine shares between processes.
  std::string texts = scratch_ / "texts.txt";
  auto read = e2e::RunWindows(e2e::TestChild(), {"window-text", kCaption, e2e::WindowsPath(texts)});
  EXPECT_EQ(read.exitCode, 0);
  EXPECT_NE(e2e::ReadWholeFile(texts).find(kText), std::string::npos) << e2e::ReadWholeFile(texts);

  // Dismiss it as a user would.
  EXPECT_TRUE(e2e::DismissBox(window, secondPid_, std::chrono::seconds(30))) << "the box was not dismissed";
  auto refused = e2e::WaitWindows(std::exchange(secondPid_, -1), std::chrono::seconds(5));
  EXPECT_EQ(refused.exitCode, 0);
  EXPECT_EQ(e2e::ReadWholeFile(e2e::LogPath()), logBefore) << "a refused launcher writes no log line";
  EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost() + "/first.txt"), "first") << "the first one's files are untouched";
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost() + "/second.txt"));
  EXPECT_EQ(e2e::LoadedMarkers(scratch_.path()), std::vector<std::string>{}) << "a planted DLL ran";

  e2e::WriteWholeFile(release_, "go");
  auto done = e2e::WaitWindows(std::exchange(firstPid_, -1), std::chrono::seconds(60));
  EXPECT_EQ(done.exitCode, 0);
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost()));

  // With the first installation over, a new launcher runs normally.
  e2e::DeleteLog();
  std::string record = scratch_ / "ran.txt";
  auto again = e2e::RunWindows(second, {e2e::WindowsPath(e2e::TestChild()), "record", e2e::WindowsPath(record)});
  EXPECT_EQ(again.exitCode, 0);
  EXPECT_TRUE(e2e::LogHas("execute done code:0"));
  EXPECT_FALSE(e2e::ReadWholeFile(record).empty());
}

}  // namespace
