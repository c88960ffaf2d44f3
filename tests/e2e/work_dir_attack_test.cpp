// The neighbour of the elevated launcher steers it through %TEMP%: TEMP and
// TMP set in HKCU\Environment (reg add in the test prefix) to a folder j that
// is a link the neighbour repoints (a host symlink stands in for a junction),
// PATH naming a folder of the neighbour's, files held open by a separate
// process. Each row is one attack or one ordinary run that the hardening
// must not refuse; each checks that the neighbour's code did not run, that
// nothing outside the work directory changed, that the directory the
// launcher held is gone and that the exit code is 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <iostream>
#include <map>

#include "installer.h"
#include "launch_log.h"
#include "tests/support/wait.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

// A line a TEMP could try to add to the log.
const char kForged[] = "[4242]2026-01-01 00:00:00  [CUnPackFileApp::InitInstance] forged  Err:0";

void SetUserVariable(const std::string& name, const std::string& value) {
  int code = e2e::SetUserVariable(name, value);
  if (!value.empty()) {
    ASSERT_EQ(code, 0) << name;
  }
}

bool Appeared(const std::string& path) {
  return test_support::WaitUntil([&] { return fs::exists(path); }, std::chrono::seconds(60));
}

class WorkDirAttackTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const auto& dir : {real_, evil_ + "/unpack", deleting_, neighbour_}) fs::create_directories(dir);
    ASSERT_TRUE(e2e::WriteWholeFile(neighbour_ + "/run.bat", "@echo off\r\necho ran > \"" + W(marker_) + "\"\r\n"));
    fs::copy_file(neighbour_ + "/run.bat", evil_ + "/unpack/run.bat");
    fs::copy_file(e2e::TestChild(), neighbour_ + "/inst.exe");
    fs::create_directory_symlink(victim_, deleting_ + "/unpack");
    SetUserVariable("PATH", W(neighbour_));
  }
  void TearDown() override {
    Release();
    for (const char* name : {"TEMP", "TMP"}) SetUserVariable(name, WorkDirTemp());
    SetUserVariable("PATH", "");
    e2e::DeleteLog();
  }
  // Ends the child's wait and the neighbour's holds.
  void Release() {
    e2e::WriteWholeFile(release_, "");
    for (int holder : holders_) e2e::WaitWindows(holder, std::chrono::seconds(30));
    holders_.clear();
  }
  static std::string W(const std::string& host) { return e2e::WindowsPath(host); }
  static std::string WorkDirTemp() {
    std::string work = e2e::WorkDirWindows();
    return work.substr(0, work.size() - std::string("\\unpack\\").size());
  }
  // j leads to the real temp folder, then wherever the neighbour points it.
  void Point(const std::string& target) {
    fs::remove(link_);
    fs::create_directory_symlink(target, link_);
  }
  // The neighbour's process, holding path until the case ends.
  void Hold(const std::string& path, const std::string& share) {
    std::string ready = scratch_ / ("held-" + fs::path(path).filename().string());
    fs::remove(ready);
    holders_.push_back(e2e::StartWindows(e2e::TestChild(), {"hold-file", W(path), W(ready), W(release_), "120000", share}));
    ASSERT_TRUE(Appeared(ready));
  }
  std::string RunBatch(const std::string& body) { return "@echo off\r\n" + body + "\r\necho installed\r\n"; }

  e2e::HostScratch scratch_{"attack"};
  std::string link_ = scratch_ / "j", real_ = scratch_ / "realtemp", evil_ = scratch_ / "eviltemp";
  std::string deleting_ = scratch_ / "evil-delete";  // its unpack leads to the victim's folder
  std::string victim_ = scratch_ / "VictimVendor", neighbour_ = scratch_ / "neighbour";
  std::string marker_ = scratch_ / "neighbour-ran.txt", release_ = scratch_ / "release";
  std::string started_ = scratch_ / "started", setup_ = neighbour_ + "/setup.exe";
  std::string output_ = e2e::LogPath() + ".txt";
  std::vector<int> holders_;
};

TEST_F(WorkDirAttackTest, TheNeighbourCannotSteerTheLauncherThroughTemp) {
  const std::string child = "\"" + W(e2e::TestChild()) + "\"";
  const std::string waitInChild = "echo started > \"" + W(started_) + "\"\r\n" + child + " wait-for \"" + W(release_) +
                                  "\" 60000";
  // With its backslash and "unpack\", past the 260 units of a current directory.
  const std::string longTemp = real_ + "/" + std::string(255 - W(real_).size(), 'd');
  const std::string envRecord = scratch_ / "env.txt";
  const std::map<std::string, std::string> plain = {{"run.bat", RunBatch("")}};
  const struct {
    const char* what;
    std::map<std::string, std::string> package;
    std::vector<std::string> args;
    std::function<void()> before, during, after;
    bool runs;  // the package's run.bat ran to the done line; else the fail line
  } table[] = {
      {"1: j repointed while the child runs: the clean-up stays in the held directory",
       {{"run.bat", RunBatch(waitInChild)}, {"payload.txt", "p"}}, {}, {},
       [&] {
         ASSERT_TRUE(Appeared(started_));
         Point(deleting_);
         e2e::WriteWholeFile(release_, "");
       },
       {}, true},
      {"2: j repointed as extraction runs, the neighbour's run.bat held there",
       {{"big.bin", std::string(64 << 20, 'b')}, {"run.bat", RunBatch("")}}, {},
       [&] { Hold(evil_ + "/unpack/run.bat", "read"); },
       [&] {
         ASSERT_TRUE(test_support::WaitUntil([&] { return fs::exists(real_ + "/unpack"); }, std::chrono::seconds(60)));
         Point(evil_);
       },
       {}, true},
      {"3: no run.bat in the package: none is searched for on PATH", {{"data.txt", "d"}}, {}, {}, {}, {}, false},
      {"3: a program the package lacks is not searched for beside the installer", plain,
       {"inst.exe", "record", W(marker_)}, {}, {}, {}, false},
      {"3: the installer held for deletion: nothing extracted, nothing runs", plain, {},
       [&] { Hold(setup_, "delete"); }, {}, {}, false},
      {"4: a TEMP too long for the current directory installs through the Windows directory's Temp", plain, {},
       [&] {
         fs::create_directories(longTemp);
         for (const char* name : {"TEMP", "TMP"}) SetUserVariable(name, W(longTemp));
       },
       {},
       [&] {
         EXPECT_FALSE(fs::exists(longTemp + "/unpack"));
         EXPECT_TRUE(e2e::LogHas("] dir:C:\\windows\\Temp\\unpack\\ file:")) << e2e::Dump(e2e::LogMessages());
       },
       true},
      {"4: a TEMP holding CR LF and a line of its own adds no line to the log", plain, {},
       [&] {
         for (const char* name : {"TEMP", "TMP"}) SetUserVariable(name, W(real_) + "\r\n" + kForged + "\r\n");
       },
       {},
       [&] {
         for (const auto& line : e2e::LogMessages()) EXPECT_EQ(line.pid.find("4242"), std::string::npos) << line.message;
         EXPECT_FALSE(e2e::LogHas("forged"));
       },
       true},
      {"1: another product's unpack tree under a TEMP the neighbour chose stays whole", plain, {},
       [&] { Point(victim_); }, {},
       [&] {
         EXPECT_TRUE(e2e::LogHas("[CUtility::FileException] Access to " + W(link_) + "\\unpack\\ was denied.  Err:183"));
         EXPECT_TRUE(e2e::LogHas("] dir:" + W(link_) + "\\unpack."));
         EXPECT_EQ((fs::status(victim_ + "/unpack/read-only.txt").permissions() & fs::perms::owner_write), fs::perms::none);
       },
       true},
      {"5: unpack.log.txt planted as a folder: the output goes beside it", plain, {},
       [&] { fs::create_directories(output_ + "/planted"); }, {},
       [&] {
         EXPECT_TRUE(fs::is_directory(output_ + "/planted"));
         fs::remove_all(output_);
       },
       true},
      {"5: unpack.log.txt held without write sharing: the output goes beside it", plain, {},
       [&] {
         e2e::WriteWholeFile(output_, "held");
         Hold(output_, "read");
       },
       {}, {}, true},
      {"the child's environment is the machine's, with /D, and without the user's PATH",
       {{"run.bat", RunBatch("set > \"" + W(envRecord) + "\"")}}, {},
       [&] {
         SetUserVariable("windir", W(neighbour_));
         SetUserVariable("NoDefaultCurrentDirectoryInExePath", "1");
       },
       {},
       [&] {
         std::string env = e2e::ReadWholeFile(envRecord);
         EXPECT_NE(env.find("windir=C:\\windows\r\n"), std::string::npos) << env;
         EXPECT_EQ(env.find("NoDefaultCurrentDirectoryInExePath"), std::string::npos) << env;
         EXPECT_EQ(env.find(W(neighbour_)), std::string::npos) << "the user's own PATH entry: " << env;
         EXPECT_TRUE(e2e::LogHas("] dir:" + W(link_) + "\\unpack\\ file:")) << "the log shows TEMP's path";
         EXPECT_TRUE(e2e::LogHas(std::string(" param:") + e2e::kBatchParam));
         for (const char* name : {"windir", "NoDefaultCurrentDirectoryInExePath"}) SetUserVariable(name, "");
       },
       true},
      {"5: a run after one whose run.bat made a subfolder runs normally", plain, {},
       [&] {
         std::string first = scratch_ / "first.exe";
         ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", RunBatch("mkdir sub\r\necho x > sub\\x.txt")}}, first), 0);
         ASSERT_EQ(e2e::RunWindows(first, {}).exitCode, 0);
       },
       {}, {}, true},
      {"5: a reader holding the batch output file does not stop the run", plain, {},
       [&] { Hold(output_, "reader"); }, {}, {}, true},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.what);
    std::cout << row.what << "\n";
    e2e::DeleteLog();
    for (const std::string& path : {release_, started_, marker_, real_ + "/unpack"}) fs::remove_all(path);
    fs::create_directories(victim_);
    ASSERT_TRUE(e2e::WriteWholeFile(victim_ + "/keep.txt", "the victim's file"));
    // Another product's work folder, made by an administrator: subfolders
    // and a read-only file.
    fs::create_directories(victim_ + "/unpack/sub");
    ASSERT_TRUE(e2e::WriteWholeFile(victim_ + "/unpack/sub/data.txt", "the product's data"));
    if (!fs::exists(victim_ + "/unpack/read-only.txt")) {
      ASSERT_TRUE(e2e::WriteWholeFile(victim_ + "/unpack/read-only.txt", "read-only"));
      fs::permissions(victim_ + "/unpack/read-only.txt", fs::perms::owner_write, fs::perm_options::remove);
    }
    Point(real_);
    for (const char* name : {"TEMP", "TMP"}) SetUserVariable(name, W(link_));
    std::vector<std::string> options;
    if (!row.package.count("run.bat")) options.push_back("--no-run-bat");
    ASSERT_EQ(e2e::BuildInstaller(scratch_, row.package, setup_, options), 0);
    auto victimBefore = e2e::Snapshot(victim_), neighbourBefore = e2e::Snapshot(neighbour_);
    if (row.before) row.before();
    int launcher = e2e::StartWindows(setup_, row.args);
    if (row.during) row.during();
    auto run = e2e::WaitWindows(launcher, std::chrono::seconds(120));
    Release();

    EXPECT_EQ(run.exitCode, 0);
    EXPECT_FALSE(fs::exists(marker_)) << "the neighbour's code ran elevated";
    EXPECT_EQ(e2e::Snapshot(victim_), victimBefore) << "the victim's folder changed";
    EXPECT_EQ(e2e::Snapshot(neighbour_), neighbourBefore) << "the neighbour's folder changed";
    EXPECT_FALSE(fs::exists(real_ + "/unpack")) << "the held directory was left behind";
    auto lines = e2e::LogMessages();
    ASSERT_FALSE(lines.empty());
    const char* last = row.runs ? "execute done code:0" : "execute fail";
    EXPECT_EQ(lines.back().message, std::string("[CUnPackFileApp::InitInstance] ") + last) << e2e::Dump(lines);
    if (row.runs) {
      std::string output = e2e::BatchOutputOfParamLine();
      EXPECT_NE(e2e::ReadWholeFile(output).find("installed"), std::string::npos) << "the package's own run.bat ran";
      if (output != output_) std::remove(output.c_str());
    } else {
      EXPECT_NE(lines.back().error, 0) << "the fail line says why";
    }
    if (row.after) row.after();
  }
}

}  // namespace
