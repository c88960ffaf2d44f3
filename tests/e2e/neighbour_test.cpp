// The elevated launcher among unelevated neighbours: programs of the same
// user that can write, rename and replace files in the folder the installer
// was started from. Each case plays the neighbour for real, from the host
// file system, and checks that the neighbour's code and package did not run.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <thread>

#include "installer.h"
#include "reliability_support.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

// A batch file that leaves marker (a host path) behind when it runs.
std::string MarkingBatch(const std::string& marker) {
  return "@echo off\r\necho ran> \"" + e2e::WindowsPath(marker) + "\"\r\n";
}

class NeighbourTest : public ::testing::Test {
 protected:
  void SetUp() override {
    e2e::DeleteLog();
    fs::remove_all(e2e::WorkDirHost());
    fs::create_directories(folder_);
  }
  e2e::HostScratch scratch_{"neighbour"};
  // The folder the user starts the installer from, Downloads say.
  std::string folder_ = scratch_ / "downloads";
};

TEST_F(NeighbourTest, DllsPlantedBesideTheInstallerAreNotLoaded) {
  // The planted DLL does leave its marker when something loads it.
  std::string control = scratch_ / "control";
  fs::create_directories(control);
  fs::copy_file(UNPACK_E2E_PLANTED_DLL, control + "/planted.dll");
  e2e::RunWindows("rundll32.exe", {e2e::WindowsPath(control + "/planted.dll") + ",Nothing"});
  ASSERT_EQ(e2e::LoadedMarkers(control), std::vector<std::string>{"planted.dll.loaded"});

  std::string ran = scratch_ / "ran.txt";
  std::string setup = folder_ + "/setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", MarkingBatch(ran)}}, setup), 0);
  e2e::PlantDlls(folder_);
  auto run = e2e::RunWindows(setup, {});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(e2e::LoadedMarkers(folder_), std::vector<std::string>{}) << "the neighbour's DllMain ran in the launcher";
  EXPECT_TRUE(fs::exists(ran)) << "the installation still runs";
}

// Renames path away and puts substitute in its place, delay after anyone
// first opens path (the system starting the installer), as a neighbour who
// watches the folder would. Keeps watching the file it moved away, to tell
// when it was next opened (the launcher holding it, if that came first).
class SwapOnFirstOpen {
 public:
  using Clock = std::chrono::steady_clock;

  SwapOnFirstOpen(const std::string& path, const std::string& substitute, std::chrono::milliseconds delay)
      : fd_(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    EXPECT_GE(fd_, 0);
    EXPECT_GE(inotify_add_watch(fd_, path.c_str(), IN_OPEN), 0) << path;
    thread_ = std::thread([=] {
      Clock::time_point swapAt = Clock::time_point::max();
      while (!stop_) {
        pollfd watch = {fd_, POLLIN, 0};
        int timeout = swapAt == Clock::time_point::max() ? 50 : 1;
        if (poll(&watch, 1, timeout) > 0) Record();
        if (Clock::now() >= swapAt) {
          swapped_ = std::rename(path.c_str(), (path + ".away").c_str()) == 0 &&
                     std::rename(substitute.c_str(), path.c_str()) == 0;
          swapAt = Clock::time_point::max();
        } else if (opens_ > 0 && !swapped_ && swapAt == Clock::time_point::max()) {
          swapAt = firstOpen_ + delay;
        }
      }
    });
  }
  ~SwapOnFirstOpen() {
    Join();
    close(fd_);
  }
  // Stops watching; true when the swap was done.
  bool Join() {
    if (thread_.joinable()) {
      stop_ = true;
      thread_.join();
    }
    return swapped_;
  }
  // After Join: how long after the first open the file was opened again; -1 when it was not.
  long SecondOpenMilliseconds() const {
    return opens_ < 2 ? -1 : std::chrono::duration_cast<std::chrono::milliseconds>(secondOpen_ - firstOpen_).count();
  }

 private:
  void Record() {
    alignas(inotify_event) char events[4096];
    ssize_t got = read(fd_, events, sizeof(events));
    for (char* at = events; got > 0 && at < events + got;) {
      auto* event = reinterpret_cast<inotify_event*>(at);
      if (event->mask & IN_OPEN) {
        if (opens_ == 0) firstOpen_ = Clock::now();
        if (opens_ == 1) secondOpen_ = Clock::now();
        ++opens_;
      }
      at += sizeof(inotify_event) + event->len;
    }
  }

  int fd_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> swapped_{false};
  int opens_ = 0;
  Clock::time_point firstOpen_, secondOpen_;
  std::thread thread_;
};

TEST_F(NeighbourTest, AnInstallerSwappedAfterTheSystemOpenedItIsNotRead) {
  std::string genuineRan = scratch_ / "genuine.txt";
  std::string substituteRan = scratch_ / "substitute.txt";
  std::string setup = folder_ + "/setup.exe";
  std::string substitute = folder_ + "/substitute.exe";
  for (int attempt = 0; attempt < 3; ++attempt) {
    SCOPED_TRACE("attempt " + std::to_string(attempt));
    e2e::DeleteLog();
    fs::remove(genuineRan);
    fs::remove(setup + ".away");
    ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", MarkingBatch(genuineRan)}}, setup), 0);
    ASSERT_EQ(e2e::BuildInstaller(scratch_,
                                  {{"run.bat", MarkingBatch(substituteRan)}, {"from-substitute.txt", "x"}},
                                  substitute),
              0);
    SwapOnFirstOpen neighbour(setup, substitute, std::chrono::milliseconds(30));
    auto run = e2e::WaitWindows(e2e::StartWindows(setup, {}), std::chrono::seconds(120));
    ASSERT_TRUE(neighbour.Join()) << "the neighbour could not swap the installer";
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);

    EXPECT_FALSE(fs::exists(substituteRan)) << "the substitute's run.bat ran";
    EXPECT_FALSE(e2e::LogHas("from-substitute.txt")) << e2e::Dump(e2e::LogMessages());
    EXPECT_FALSE(fs::exists(e2e::WorkDirHost() + "/from-substitute.txt"));
    // Either the launcher read its own, held file before the check of its
    // name saw the swap, or it refused that file.
    bool refused = e2e::LogHas("Access to " + e2e::WindowsPath(setup) + " was denied.");
    bool ranOwn = fs::exists(genuineRan);
    EXPECT_TRUE(ranOwn || refused) << e2e::Dump(e2e::LogMessages());
    std::cout << "attempt " << attempt << ": " << (ranOwn ? "ran its own package" : "")
              << (refused ? "refused the file at its path" : "") << "; held its file "
              << neighbour.SecondOpenMilliseconds() << " ms after the system opened it\n";
  }
}

}  // namespace
