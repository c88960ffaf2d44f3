// A launcher killed in the middle of a large extraction (power loss, the
// task manager, a logoff): it leaves files behind, and the next installation
// must start from a clean work directory and succeed.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <filesystem>

#include "clean_machine_test.h"
#include "reliability_support.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kHuge = 1ull << 30;

class InterruptTest : public e2e::CleanMachineTest {
 protected:
  InterruptTest() : CleanMachineTest("reliability-interrupt") {}
  void TearDown() override {
    e2e::Reap(pid_);
    std::error_code ignored;
    fs::remove_all(e2e::WorkDirHost(), ignored);
  }
  int pid_ = -1;
};

// Proves that a launcher killed while it writes a 1 GiB entry leaves the
// files it had written and a partial one, and no process behind; that the
// next launcher is not refused (the dead one's mutex is gone), clears those
// leftovers before its command runs (which then sees only the new package)
// and completes with exit code 0.
TEST_F(InterruptTest, AKilledExtractionLeavesFilesThatTheNextRunClears) {
  // The big entry is a sparse file: packing it costs no disk for the input.
  std::string folder = scratch_ / "package";
  fs::create_directories(folder);
  ASSERT_TRUE(e2e::WriteWholeFile(folder + "/a-first.txt", "first"));
  ASSERT_TRUE(e2e::WriteWholeFile(folder + "/b-huge.bin", "start of a huge file"));
  fs::resize_file(folder + "/b-huge.bin", kHuge);
  ASSERT_TRUE(e2e::WriteWholeFile(folder + "/c-last.txt", "last"));
  std::string name = "interrupted-" + std::to_string(getpid()) + ".exe";
  std::string setup = scratch_ / name;
  ASSERT_EQ(e2e::PackFolder(folder, setup, {"--no-run-bat"}), 0);

  pid_ = e2e::StartWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", "0"});
  ASSERT_GT(pid_, 0);
  // Killed once the big entry has bytes on disk, so that the kill lands in
  // the middle of its data rather than between its creation and first write.
  std::string huge = e2e::WorkDirHost() + "/b-huge.bin";
  ASSERT_TRUE(e2e::WaitUntil([&] {
    std::error_code missing;
    auto written = fs::file_size(huge, missing);
    return !missing && written > 0;
  }, std::chrono::seconds(60), std::chrono::milliseconds(2)))
      << "the launcher never began the big entry\n" << e2e::Dump(e2e::LogMessages());
  ASSERT_EQ(kill(pid_, SIGKILL), 0);
  auto killed = e2e::WaitWindows(pid_, std::chrono::seconds(30));
  EXPECT_FALSE(killed.timedOut);
  EXPECT_TRUE(e2e::WaitUntil([&] { return e2e::CountProcessesWith(name) == 0; }, std::chrono::seconds(10)))
      << "a process of the killed launcher is still running";

  std::string work = e2e::WorkDirHost();
  EXPECT_EQ(e2e::ReadWholeFile(work + "/a-first.txt"), "first");
  ASSERT_LT(fs::file_size(huge), kHuge) << "the extraction ended before the kill: nothing was interrupted";
  EXPECT_FALSE(fs::exists(work + "/c-last.txt"));
  EXPECT_FALSE(e2e::LogHas("execute")) << "the killed launcher got as far as its command";
  fs::remove(setup);

  // The next installation.
  e2e::DeleteLog();
  std::string next = scratch_ / "next.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"fresh.txt", "fresh"}}, next, {"--no-run-bat"}), 0);
  std::string listing = scratch_ / "listing.txt";
  auto run = e2e::RunWindows(next, {e2e::WindowsPath(e2e::TestChild()), "list", e2e::WindowsPath(listing)},
                             std::chrono::seconds(60));
  ASSERT_FALSE(run.timedOut) << "the next launcher did not finish (refused, with its box open?)";
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(e2e::ReadListing(listing), (std::vector<e2e::ListedFile>{{"fresh.txt", 5, 0}}));
  auto log = e2e::LogMessages();
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.back().message, "[CUnPackFileApp::InitInstance] execute done code:0") << e2e::Dump(log);
  // The killed run's directory is cleared only when it is known for a
  // launcher's own (never under Wine, which keeps no access lists); else it
  // stays whole and the next run went beside it. Never half of it.
  if (fs::exists(work)) {
    EXPECT_EQ(e2e::ReadWholeFile(work + "/a-first.txt"), "first");
    EXPECT_TRUE(e2e::LogHas("[CUtility::FileException] Access to " + e2e::WorkDirWindows() + " was denied.  Err:183"));
  }
}

}  // namespace
