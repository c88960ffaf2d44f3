// The elevated launcher among neighbours: an unelevated program of the same
// user can plant, link, hold open and rename in the user's temp folder, the
// Windows Temp folder and the folder the installer starts from. Each case
// plays that neighbour for real, through the host file system or a separate
// Windows process, and checks that the neighbour's code did not run, that
// nothing outside the work directory changed, and that the exit code is 0.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>

#include "clean_machine_test.h"
#include "reliability_support.h"

namespace fs = std::filesystem;

namespace {

// The argument vectors of the two forms that would start a run.bat found in
// the work directory or, failing that, in the current directory.
const std::vector<std::vector<std::string>> kBothForms = {{}, {"run.bat", "x"}};

class NeighbourTest : public e2e::CleanMachineTest {
 protected:
  NeighbourTest() : CleanMachineTest("neighbour") {}
  void SetUp() override {
    e2e::ClearMachineState();
    fs::create_directories(neighbour_);
    ASSERT_TRUE(e2e::WriteWholeFile(neighbour_ + "/keep.txt", "the neighbour's own file"));
    // The neighbour's batch file: if it ever runs, it leaves the marker.
    ASSERT_TRUE(e2e::WriteWholeFile(neighbour_ + "/run.bat",
                               "@echo off\r\necho ran > \"" + e2e::WindowsPath(marker_) + "\"\r\n"));
    ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", "@echo off\r\necho installed\r\n"}}, setup_), 0);
    before_ = e2e::Snapshot(neighbour_);
  }
  void TearDown() override {
    std::error_code ignored;
    if (fs::is_symlink(e2e::WorkDirHost()) || fs::is_regular_file(e2e::WorkDirHost()))
      fs::remove(e2e::WorkDirHost(), ignored);
  }

  e2e::RunResult Run(const std::vector<std::string>& args, const std::string& workingDir = "") {
    e2e::DeleteLog();
    e2e::SpawnOptions options;
    options.workingDir = workingDir;
    return e2e::RunWindowsWith(setup_, args, options);
  }

  // The run stepped around what was at the work directory's name: one line
  // names it (Err 183 for a thing merely there), the install ran in a fresh
  // directory beside it, which is gone again, and the neighbour's code did not run.
  void ExpectSteppedAround(const e2e::RunResult& run) {
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(fs::exists(marker_)) << "the neighbour's run.bat ran elevated";
    EXPECT_EQ(e2e::Snapshot(neighbour_), before_) << "a file outside the work directory changed";
    auto lines = e2e::LogMessages();
    ASSERT_GE(lines.size(), 3u) << e2e::Dump(lines);
    auto stepped = std::find_if(lines.begin(), lines.end(), [](const e2e::LaunchLine& line) {
      return line.message == "[CUtility::FileException] Access to " + e2e::WorkDirWindows() + " was denied.";
    });
    ASSERT_NE(stepped, lines.end()) << e2e::Dump(lines);
    EXPECT_EQ(stepped->error, 183);
    std::string beside = e2e::WorkDirWindows();
    beside.back() = '.';
    EXPECT_TRUE(e2e::LogHas("] dir:" + beside)) << "the dir line names the directory used: " << e2e::Dump(lines);
    EXPECT_EQ(lines.back().message, "[CUnPackFileApp::InitInstance] execute done code:0") << e2e::Dump(lines);
    for (const auto& entry : fs::directory_iterator(fs::path(e2e::WorkDirHost()).parent_path()))
      EXPECT_NE(entry.path().filename().string().rfind("unpack.", 0), 0u) << "left behind: " << entry.path();
  }

  std::string neighbour_ = scratch_ / "neighbour";
  std::string marker_ = scratch_ / "neighbour-ran.txt";
  std::string setup_ = scratch_ / "setup.exe";
  std::map<std::string, std::string> before_;
  int holder_ = -1;
};

// Whatever is at the work directory's name stays as it is, and the install
// runs beside it: a link to the neighbour's folder, a leftover a running
// program holds, a file (with the installer started from the neighbour's
// folder, which holds a run.bat of its own).
TEST_F(NeighbourTest, WhateverIsInTheWayStaysAndTheInstallRunsBesideIt) {
  std::string ready = scratch_ / "ready", release = scratch_ / "release";
  const struct {
    const char* what;
    std::function<void()> plant;
    std::function<void()> check;
    std::string startFolder;
  } table[] = {
      {"a link", [&] { fs::create_directory_symlink(neighbour_, e2e::WorkDirHost()); },
       [&] { EXPECT_TRUE(fs::is_symlink(e2e::WorkDirHost())); }, ""},
      {"a leftover held open",
       [&] {
         fs::create_directories(e2e::WorkDirHost());
         fs::copy_file(neighbour_ + "/run.bat", e2e::WorkDirHost() + "/run.bat");
         fs::remove(ready);
         fs::remove(release);
         // Shared for reading: the interpreter could still read it, nobody delete it.
         holder_ = e2e::StartWindows(e2e::TestChild(), {"hold-file", e2e::WindowsPath(e2e::WorkDirHost() + "/run.bat"),
                                                        e2e::WindowsPath(ready), e2e::WindowsPath(release), "60000",
                                                        "read"});
         ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(ready); }, std::chrono::seconds(30)));
       },
       [&] {
         e2e::WriteWholeFile(release, "");
         EXPECT_EQ(e2e::WaitWindows(holder_, std::chrono::seconds(30)).exitCode, 0);
         EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost() + "/run.bat"), e2e::ReadWholeFile(neighbour_ + "/run.bat"));
       },
       ""},
      {"a file", [&] { ASSERT_TRUE(e2e::WriteWholeFile(e2e::WorkDirHost(), "a file where the directory goes")); },
       [&] { EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost()), "a file where the directory goes"); }, neighbour_},
  };
  for (const auto& row : table) {
    for (const auto& args : kBothForms) {
      SCOPED_TRACE(std::string(row.what) + ", arguments: " + std::to_string(args.size()));
      ASSERT_NO_FATAL_FAILURE(row.plant());
      ExpectSteppedAround(Run(args, row.startFolder));
      row.check();
      std::error_code ignored;
      if (fs::is_symlink(e2e::WorkDirHost())) fs::remove(e2e::WorkDirHost());
      fs::remove_all(e2e::WorkDirHost(), ignored);
    }
  }
}

TEST_F(NeighbourTest, HardLinksInTheWindowsTempFolderAreNotWrittenThrough) {
  std::string log = e2e::LogPath(), output = e2e::LogPath() + ".txt";
  std::string victimLog = neighbour_ + "/victim-log.txt", victimOutput = neighbour_ + "/victim-output.txt";
  ASSERT_TRUE(e2e::WriteWholeFile(victimLog, "not the launcher's log"));
  ASSERT_TRUE(e2e::WriteWholeFile(victimOutput, "not the batch file's output"));
  before_ = e2e::Snapshot(neighbour_);
  e2e::DeleteLog();
  fs::create_hard_link(victimLog, log);
  fs::create_hard_link(victimOutput, output);

  auto run = e2e::RunWindows(setup_, {});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(e2e::Snapshot(neighbour_), before_) << "a write went through a hard link";
  EXPECT_EQ(fs::hard_link_count(log), 2u) << "the planted log is left alone";
  EXPECT_EQ(fs::hard_link_count(output), 2u) << "the neighbour's output name is left alone";
  // The installation still ran: its output went to a new file of its own
  // beside it (the planted log holds no line to name it).
  std::string fresh;
  for (const auto& entry : fs::directory_iterator(fs::path(log).parent_path())) {
    std::string name = entry.path().filename().string();
    if (name.rfind("unpack.log.", 0) == 0 && name.size() == 23) fresh = entry.path().string();
  }
  ASSERT_FALSE(fresh.empty()) << "no output file beside the planted one";
  EXPECT_EQ(fs::hard_link_count(fresh), 1u);
  EXPECT_NE(e2e::ReadWholeFile(fresh).find("installed"), std::string::npos) << e2e::ReadWholeFile(fresh);
  fs::remove(fresh);
  e2e::DeleteLog();
}

TEST_F(NeighbourTest, TheWorkDirectoryCannotBeRenamedAwayWhileTheChildRuns) {
  std::string started = scratch_ / "started", release = scratch_ / "release", listing = scratch_ / "listing.txt";
  std::string child = "\"" + e2e::WindowsPath(e2e::TestChild()) + "\"";
  std::string batch = "@echo off\r\necho started > \"" + e2e::WindowsPath(started) + "\"\r\n" + child + " wait-for \"" +
                      e2e::WindowsPath(release) + "\" 60000\r\n" + child + " list \"" + e2e::WindowsPath(listing) +
                      "\"\r\n";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", batch}, {"payload.txt", "payload"}}, setup_), 0);
  int launcher = e2e::StartWindows(setup_, {});
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(started); }, std::chrono::seconds(60)));

  std::string work = e2e::WorkDirWindows();
  std::string moved = e2e::WorkDirHost() + "-moved";
  auto rename = e2e::RunWindows(e2e::TestChild(), {"rename", work.substr(0, work.size() - 1), e2e::WindowsPath(moved)});
  EXPECT_NE(rename.exitCode, 0) << "the neighbour renamed the held work directory away";
  EXPECT_FALSE(fs::exists(moved));
  e2e::WriteWholeFile(release, "");
  EXPECT_EQ(e2e::WaitWindows(launcher, std::chrono::seconds(60)).exitCode, 0);

  std::vector<e2e::ListedFile> files = e2e::ReadListing(listing);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].name, "payload.txt");
  EXPECT_EQ(files[1].name, "run.bat");
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost())) << "cleaned after the child";
  std::error_code ignored;
  fs::remove_all(moved, ignored);
}

// The neighbour's values in HKCU\Environment, one class of variable per row:
// the child of the batch form must see none of them, and what the caller set
// in the launcher's own environment still reaches it.
TEST_F(NeighbourTest, TheNeighboursEnvironmentNeverReachesTheChild) {
  const std::string record = scratch_ / "env.txt";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", "@echo off\r\nset > \"" + e2e::WindowsPath(record) + "\"\r\n"}},
                                setup_),
            0);
  const std::string folder = e2e::WindowsPath(neighbour_);
  const struct {
    const char* what;
    std::vector<std::pair<std::string, std::string>> values;  // set in HKCU\Environment
    std::vector<std::string> present;                         // lines of the child's set output, lower case
    bool removed;                                             // the names themselves are gone
  } table[] = {
      {"the system's own values",
       {{"SystemRoot", folder}, {"windir", folder}, {"ComSpec", folder + "\\cmd.exe"}},
       {"systemroot=c:\\windows", "windir=c:\\windows", "comspec=c:\\windows\\system32\\cmd.exe"}, false},
      {"the user's own Path", {{"Path", folder}}, {"path=c:\\windows\\system32;c:\\windows"}, false},
      {"variables that make a program load code",
       {{"COR_ENABLE_PROFILING", "1"},
        {"COR_PROFILER_PATH", folder + "\\hook.dll"},
        {"CORECLR_PROFILER_PATH_64", folder + "\\hook.dll"},
        {"DOTNET_STARTUP_HOOKS", folder + "\\hook.dll"}},
       {},
       true},
  };
  auto lower = [](std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
  };
  setenv("E2E_CALLER_VALUE", "kept", 1);
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    for (const auto& value : row.values) ASSERT_EQ(e2e::SetUserVariable(value.first, value.second), 0);
    std::remove(record.c_str());
    auto run = Run({});
    for (const auto& value : row.values) e2e::SetUserVariable(value.first, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_TRUE(e2e::LogHas("execute done code:0")) << e2e::Dump(e2e::LogMessages());
    std::string env = lower("\n" + e2e::ReadWholeFile(record));
    for (const auto& value : row.values) {
      if (row.removed) {
        EXPECT_EQ(env.find("\n" + lower(value.first) + "="), std::string::npos) << value.first << env;
      }
    }
    EXPECT_EQ(env.find(lower(folder)), std::string::npos) << "the neighbour's folder: " << env;
    for (const auto& line : row.present) EXPECT_NE(env.find("\n" + line), std::string::npos) << line << env;
    EXPECT_NE(env.find("\ne2e_caller_value=kept"), std::string::npos) << "the caller's own variable: " << env;
  }
  unsetenv("E2E_CALLER_VALUE");
}

}  // namespace
