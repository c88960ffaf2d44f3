// The elevated launcher among neighbours: an unelevated program of the same
// user can plant, link, hold open and rename in the user's temp folder, the
// Windows Temp folder and the folder the installer starts from. Each case
// plays that neighbour for real, through the host file system or a separate
// Windows process, and checks that the neighbour's code did not run, that
// nothing outside the work directory changed, and that the exit code is 0.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>

#include <filesystem>
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

  // The run refused to start anything: the dir line, then the fail line
  // with its reason, and neither the neighbour's nor the package's code ran.
  void ExpectRefused(const e2e::RunResult& run,
                     const std::string& why = "Access to " + e2e::WorkDirWindows() + " was denied.") {
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(fs::exists(marker_)) << "the neighbour's run.bat ran elevated";
    EXPECT_EQ(e2e::Snapshot(neighbour_), before_) << "a file outside the work directory changed";
    auto lines = e2e::LogMessages();
    ASSERT_GE(lines.size(), 2u) << e2e::Dump(lines);
    EXPECT_NE(lines[lines.size() - 2].message.find("] dir:"), std::string::npos) << e2e::Dump(lines);
    EXPECT_EQ(lines.back().message, "[CUnPackFileApp::InitInstance] execute fail") << e2e::Dump(lines);
    EXPECT_NE(lines.back().error, 0) << "the fail line carries the reason";
    EXPECT_TRUE(e2e::LogHas("[CUtility::FileException] " + why)) << e2e::Dump(lines);
  }

  std::string neighbour_ = scratch_ / "neighbour";
  std::string marker_ = scratch_ / "neighbour-ran.txt";
  std::string setup_ = scratch_ / "setup.exe";
  std::map<std::string, std::string> before_;
};

TEST_F(NeighbourTest, ALinkAtTheWorkDirectoryPathIsNeitherExtractedIntoNorRunFrom) {
  for (const auto& args : kBothForms) {
    SCOPED_TRACE(args.size());
    fs::create_directory_symlink(neighbour_, e2e::WorkDirHost());
    ExpectRefused(Run(args));
    EXPECT_TRUE(fs::is_symlink(e2e::WorkDirHost()));
    fs::remove(e2e::WorkDirHost());
  }
}

TEST_F(NeighbourTest, ALeftoverHeldOpenIsNeverReused) {
  for (const auto& args : kBothForms) {
    SCOPED_TRACE(args.size());
    fs::create_directories(e2e::WorkDirHost());
    std::string planted = e2e::WorkDirHost() + "/run.bat";
    fs::copy_file(neighbour_ + "/run.bat", planted);
    std::string ready = scratch_ / "ready", release = scratch_ / "release";
    fs::remove(ready);
    fs::remove(release);
    // Shared for reading: the interpreter could still read it, nobody delete it.
    int holder = e2e::StartWindows(e2e::TestChild(), {"hold-file", e2e::WindowsPath(planted), e2e::WindowsPath(ready),
                                                      e2e::WindowsPath(release), "60000", "read"});
    ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(ready); }, std::chrono::seconds(30)));
    // The line names the leftover to remove and why it could not go.
    ExpectRefused(Run(args), "Encountered a sharing violation while accessing " + e2e::WorkDirWindows() + ".");
    e2e::WriteWholeFile(release, "");
    EXPECT_EQ(e2e::WaitWindows(holder, std::chrono::seconds(30)).exitCode, 0);
    fs::remove_all(e2e::WorkDirHost());
  }
}

TEST_F(NeighbourTest, AFileAtTheWorkDirectoryPathLeavesNothingToRunInTheStartingFolder) {
  // The folder the installer is started from (Downloads) is the user's too.
  std::string startFolder = neighbour_;
  for (const auto& args : kBothForms) {
    SCOPED_TRACE(args.size());
    ASSERT_TRUE(e2e::WriteWholeFile(e2e::WorkDirHost(), "a file where the directory goes"));
    ExpectRefused(Run(args, startFolder));
    EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost()), "a file where the directory goes");
    fs::remove(e2e::WorkDirHost());
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
  // The installation still ran: its output went to a new file of its own.
  EXPECT_EQ(fs::hard_link_count(output), 1u);
  EXPECT_NE(e2e::ReadWholeFile(output).find("installed"), std::string::npos) << e2e::ReadWholeFile(output);
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
