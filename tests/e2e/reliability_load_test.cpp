// Many installations started at the same moment on one desktop, as when a
// user double-clicks an installer repeatedly: the system-wide mutex must let
// exactly one through and refuse every other one with the box.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>

#include "clean_machine_test.h"
#include "reliability_support.h"

namespace fs = std::filesystem;

namespace {

const char kCaption[] = "Quillon\xC2\xAE Vantor";
const int kLaunchers = 8;

// X windows captioned kCaption, each with the host process id that owns it
// (Wine sets _NET_WM_PID to the process's own pid).
std::map<std::string, int> RefusalBoxes() {
  std::map<std::string, int> boxes;
  for (const std::string& window : e2e::FindWindowsByCaption(kCaption)) boxes[window] = e2e::WindowProcessId(window);
  return boxes;
}

class LoadTest : public e2e::CleanMachineTest {
 protected:
  LoadTest() : CleanMachineTest("reliability-load") {}
  void SetUp() override {
    ASSERT_TRUE(e2e::UseVirtualDisplay()) << "no virtual desktop: the xvfb.start fixture did not run";
    e2e::ClearMachineState();
  }
  // A failed case must not leave launchers holding the mutex for the next.
  void TearDown() override {
    e2e::WriteWholeFile(scratch_ / "release", "go");
    for (int pid : pids_) e2e::Reap(pid);
  }
  std::vector<int> pids_;
};

// Proves that of eight launchers started together exactly one runs its
// sequence (one process id in the whole log), that the seven others each
// show the refusal box and exit 0 once it is dismissed, and that the running
// one's work directory and files stay untouched throughout.
TEST_F(LoadTest, EightLaunchersAtOnceOneRunsTheOthersAreRefused) {
  std::vector<std::string> setups;
  for (int k = 0; k < kLaunchers; ++k) {
    setups.push_back(scratch_ / ("setup" + std::to_string(k) + ".exe"));
    ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"launcher" + std::to_string(k) + ".txt", "payload of " + std::to_string(k)}},
                                  setups.back(), {"--no-run-bat"}),
              0);
  }
  // The one that runs keeps its child waiting until the others are done.
  std::string release = scratch_ / "release";
  std::vector<std::string> args = {e2e::WindowsPath(e2e::TestChild()), "wait-for", e2e::WindowsPath(release), "300000"};
  std::vector<int>& pids = pids_;
  for (const auto& setup : setups) pids.push_back(e2e::StartWindows(setup, args));
  for (int pid : pids) ASSERT_GT(pid, 0);

  // Every launcher either runs (its process id shows in the log) or shows a box.
  auto logPids = [] {
    std::set<std::string> ids;
    for (const auto& line : e2e::LogMessages()) ids.insert(line.pid);
    return ids;
  };
  std::map<std::string, int> boxes;
  ASSERT_TRUE(e2e::WaitUntil([&] { return (boxes = RefusalBoxes()).size() + logPids().size() >= kLaunchers; },
                             std::chrono::seconds(120), std::chrono::milliseconds(500)))
      << boxes.size() << " refusal boxes and " << logPids().size() << " running launchers, of " << kLaunchers;
  EXPECT_EQ(logPids().size(), 1u) << "more than one launcher ran its sequence\n" << e2e::Dump(e2e::LogMessages());
  EXPECT_EQ(boxes.size(), static_cast<size_t>(kLaunchers - 1)) << "one box per refused launcher, no more";
  ASSERT_TRUE(e2e::WaitUntil([] { return e2e::LogHas("execute wait pid:"); }, std::chrono::seconds(120)))
      << "the running launcher did not reach its wait\n" << e2e::Dump(e2e::LogMessages());

  // The winner is the launcher whose file was extracted; every other one owns a box.
  auto log = e2e::LogMessages();
  int winner = -1;
  for (int k = 0; k < kLaunchers; ++k)
    if (e2e::LogHas("\\unpack\\launcher" + std::to_string(k) + ".txt")) winner = winner == -1 ? k : -2;
  ASSERT_GE(winner, 0) << "not exactly one launcher extracted its files\n" << e2e::Dump(log);
  std::set<int> boxOwners;
  for (const auto& [window, pid] : boxes) boxOwners.insert(pid);
  for (int k = 0; k < kLaunchers; ++k)
    EXPECT_EQ(boxOwners.count(pids[k]), k == winner ? 0u : 1u) << "launcher " << k << " (pid " << pids[k] << ")";

  auto winnerFiles = [&] {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(e2e::WorkDirHost())) names.insert(entry.path().filename().string());
    return names;
  };
  std::string winnerFile = "launcher" + std::to_string(winner) + ".txt";
  EXPECT_EQ(winnerFiles(), std::set<std::string>{winnerFile});

  // Dismiss every box as a user would; each refused launcher then exits 0.
  for (const auto& [window, pid] : boxes) {
    int k = static_cast<int>(std::find(pids.begin(), pids.end(), pid) - pids.begin());
    if (k == kLaunchers) continue;
    EXPECT_TRUE(e2e::DismissBox(window, pid, std::chrono::seconds(30)))
        << "launcher " << k << " did not end after its box was dismissed";
    auto refused = e2e::WaitWindows(pid, std::chrono::seconds(5));
    EXPECT_EQ(refused.exitCode, 0) << "launcher " << k;
  }
  EXPECT_TRUE(RefusalBoxes().empty());

  // Seven refusals later, the running one's files are as it wrote them and
  // nobody else wrote a line.
  EXPECT_EQ(winnerFiles(), std::set<std::string>{winnerFile});
  EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost() + "/" + winnerFile), "payload of " + std::to_string(winner));
  EXPECT_EQ(e2e::LogMessages().size(), log.size()) << "a refused launcher wrote a line";

  e2e::WriteWholeFile(release, "go");
  auto done = e2e::WaitWindows(pids[winner], std::chrono::seconds(60));
  EXPECT_FALSE(done.timedOut);
  EXPECT_EQ(done.exitCode, 0);
  log = e2e::LogMessages();
  EXPECT_EQ(logPids().size(), 1u) << "exactly one process ran its sequence\n" << e2e::Dump(log);
  ASSERT_FALSE(log.empty());
  EXPECT_EQ(log.front().message.rfind("[CUtility::OSInfo] OS ", 0), 0u) << e2e::Dump(log);
  EXPECT_EQ(log.back().message, "[CUnPackFileApp::InitInstance] execute done code:0") << e2e::Dump(log);
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost())) << "the winner cleans up after its child";
}

}  // namespace
