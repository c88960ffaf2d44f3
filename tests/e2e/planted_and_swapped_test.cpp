// The elevated launcher and its own file and DLLs among unelevated
// neighbours, who can write, rename and replace files in the folder the
// installer was started from. Each case plays the neighbour for real, from
// the host file system, and checks that the neighbour's code and package did
// not run.
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <future>
#include <iostream>
#include <thread>

#include "clean_machine_test.h"
#include "installer.h"
#include "reliability_support.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

// A batch file that leaves marker (a host path) behind when it runs.
std::string MarkingBatch(const std::string& marker) {
  return "@echo off\r\necho ran> \"" + e2e::WindowsPath(marker) + "\"\r\n";
}

class PlantedAndSwappedTest : public e2e::CleanMachineTest {
 protected:
  PlantedAndSwappedTest() : CleanMachineTest("planted-swapped") {}
  void SetUp() override {
    e2e::ClearMachineState();
    fs::create_directories(folder_);
  }
  // The folder the user starts the installer from, Downloads say.
  std::string folder_ = scratch_ / "downloads";
};

TEST_F(PlantedAndSwappedTest, DllsPlantedBesideTheInstallerAreNotLoaded) {
  // The planted DLL does leave its marker when something loads it.
  ASSERT_EQ(e2e::LoadPlantedDll(scratch_ / "control", "rundll32.exe"), std::vector<std::string>{"planted.dll.loaded"});

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

// Counts the opens of a file that inotify has queued so far.
int QueuedOpens(int fd) {
  alignas(inotify_event) char events[4096];
  int opens = 0;
  for (ssize_t got; (got = read(fd, events, sizeof(events))) > 0;)
    for (char* at = events; at < events + got; at += sizeof(inotify_event) + reinterpret_cast<inotify_event*>(at)->len)
      opens += (reinterpret_cast<inotify_event*>(at)->mask & IN_OPEN) != 0;
  return opens;
}

// Renames path away and puts substitute in its place delay after anyone
// first opens path (the system starting the installer), as a neighbour who
// watches the folder would. Returns whether path had been opened again by
// then (the launcher holding it) and whether the swap was done.
std::future<std::pair<bool, bool>> SwapOnFirstOpen(const std::string& path, const std::string& substitute,
                                                   std::chrono::milliseconds delay) {
  int fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  EXPECT_GE(inotify_add_watch(fd, path.c_str(), IN_OPEN), 0) << path;
  return std::async(std::launch::async, [=] {
    pollfd watch = {fd, POLLIN, 0};
    poll(&watch, 1, 60000);
    int opens = QueuedOpens(fd);
    std::this_thread::sleep_for(delay);
    opens += QueuedOpens(fd);
    bool swapped = std::rename(path.c_str(), (path + ".away").c_str()) == 0 &&
                   std::rename(substitute.c_str(), path.c_str()) == 0;
    close(fd);
    return std::make_pair(opens >= 2, swapped);
  });
}

TEST_F(PlantedAndSwappedTest, AnInstallerSwappedAfterTheSystemOpenedItIsNotRead) {
  std::string genuineRan = scratch_ / "genuine.txt";
  std::string substituteRan = scratch_ / "substitute.txt";
  std::string setup = folder_ + "/setup.exe";
  std::string substitute = folder_ + "/substitute.exe";
  // 30 ms: the launcher holds its file first and the rename reaches only a
  // name. At once: the launcher opens the substitute by the image's name,
  // and must see that it is not the file the system started.
  const int delays[] = {30, 30, 0};
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
    auto neighbour = SwapOnFirstOpen(setup, substitute, std::chrono::milliseconds(delays[attempt]));
    auto run = e2e::WaitWindows(e2e::StartWindows(setup, {}), std::chrono::seconds(120));
    auto [heldFirst, swapped] = neighbour.get();
    ASSERT_TRUE(swapped) << "the neighbour could not swap the installer";
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
    std::cout << "attempt " << attempt << ", swap " << delays[attempt] << " ms after the first open: " << (ranOwn ? "ran its own package" : "refused the file at its path")
              << (heldFirst ? ", held its file before the swap\n" : ", did not hold its file before the swap\n");
  }
}

}  // namespace
