// The log file out of reach: held open by another program without sharing
// (a log viewer, an antivirus scan), or its folder missing altogether. The
// log is only a diagnostic: the installation must go on, and the lines must
// still reach the debugger output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "clean_machine_test.h"
#include "reliability_support.h"

namespace fs = std::filesystem;

namespace {

const long kErrorPathNotFound = 3;  // the Windows system error

const char kLogWindows[] = "C:\\windows\\Temp\\unpack.log";

// The launcher lines a full program-form run of a one-file package sends,
// in order, as message prefixes; the child ends with code 7.
const std::vector<std::string> kRunPrefixes = {
    "[CUtility::OSInfo] OS ",
    "[CUnPack::FindHeader] Name:",
    "[CUnPack::FindHeader] Sign Size:0",
    "[CUnPack::FindHeader] Header offset:",
    "[CUnPack::UnPackFiles] UnPack file name:",
    "[CUnPack::UnPackFiles] UnPack count:1 len:4 File:",
    "[CUnPack::UnPackFiles] UnPack total 1 files.",
    "[CUnPackFileApp::InitInstance] dir:",
    "[CUnPackFileApp::InitInstance] execute ok 0x",
    "[CUnPackFileApp::InitInstance] execute wait pid:",
    "[CUnPackFileApp::InitInstance] execute done code:7",
};

// Splits debugger strings into process ids and messages; a string Wine
// shortened keeps its message start, which is all the prefixes need.
void ExpectDebuggerRun(const std::vector<std::string>& strings, const std::vector<std::string>& prefixes) {
  std::string all;
  for (const auto& s : strings) all += s + "\n";
  ASSERT_EQ(strings.size(), prefixes.size()) << all;
  std::string firstPid;
  for (size_t i = 0; i < strings.size(); ++i) {
    e2e::LaunchLine line;
    bool shortened = strings[i].size() >= 3 && strings[i].compare(strings[i].size() - 3, 3, "...") == 0;
    if (shortened) {
      size_t close = strings[i].find(']'), message = strings[i].find("  ");
      ASSERT_NE(message, std::string::npos) << strings[i];
      line.pid = strings[i].substr(1, close - 1);
      line.message = strings[i].substr(message + 2);
    } else {
      ASSERT_TRUE(e2e::ParseLine(strings[i], &line)) << "malformed debugger line: " << strings[i];
    }
    EXPECT_EQ(line.message.rfind(prefixes[i], 0), 0u) << "line " << i << ": " << line.message;
    if (i == 0) firstPid = line.pid;
    EXPECT_EQ(line.pid, firstPid) << "one process wrote them all";
  }
}

// Moves a folder away for the life of the object and always puts it back,
// so that a failing case cannot leave the prefix without it.
class MovedAway {
 public:
  explicit MovedAway(std::string path) : path_(std::move(path)), away_(path_ + ".reliability-away-" + std::to_string(getpid())) {
    std::error_code error;
    fs::rename(path_, away_, error);
    moved_ = !error;
  }
  ~MovedAway() {
    if (!moved_) return;
    std::error_code ignored;
    // Whatever appeared in its place during the case is the case's own.
    fs::remove_all(path_, ignored);
    fs::rename(away_, path_, ignored);
  }
  bool moved() const { return moved_; }

 private:
  std::string path_, away_;
  bool moved_ = false;
};

class LogUnavailableTest : public e2e::CleanMachineTest {
 protected:
  LogUnavailableTest() : CleanMachineTest("reliability-log") {}
  void SetUp() override {
    RestoreTempLeftAway();
    e2e::ClearMachineState();
    debug_.environment = {std::string("UNPACK_WINEDEBUG=") + e2e::kDebuggerChannel};
    debug_.stderrPath = scratch_ / "stderr.txt";
  }
  void TearDown() override {
    e2e::WriteWholeFile(scratch_ / "release", "go");
    e2e::Reap(holder_);
  }
  // A run killed while the folder was away (a time-out) could not put it back.
  static void RestoreTempLeftAway() {
    std::string temp = e2e::WindowsDir() + "/temp";
    if (fs::exists(temp)) return;
    for (const auto& entry : fs::directory_iterator(e2e::WindowsDir())) {
      if (entry.path().filename().string().rfind("temp.reliability-away-", 0) == 0) {
        fs::rename(entry.path(), temp);
        return;
      }
    }
  }
  e2e::SpawnOptions debug_;
  int holder_ = -1;
};

// Proves that while another program holds the log open without sharing, a
// whole run leaves no line in the file, sends every line, in order and from
// one process, to the debugger output, runs the command, waits for it and
// exits 0.
TEST_F(LogUnavailableTest, ALogHeldWithoutSharingLosesItsLinesToTheDebuggerOnly) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"data.txt", "data"}}, setup, {"--no-run-bat"}), 0);
  std::string ready = scratch_ / "ready", release = scratch_ / "release";
  int holder = holder_ = e2e::StartWindows(e2e::TestChild(), {"hold-file", kLogWindows, e2e::WindowsPath(ready),
                                                    e2e::WindowsPath(release), "120000"});
  ASSERT_TRUE(e2e::WaitUntil([&] { return fs::exists(ready); }, std::chrono::seconds(60))) << "the log was not held";
  std::string before = e2e::ReadWholeFile(e2e::LogPath());

  auto run = e2e::RunWindowsWith(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", "7"}, debug_);
  std::string after = e2e::ReadWholeFile(e2e::LogPath());
  e2e::WriteWholeFile(release, "go");
  auto held = e2e::WaitWindows(holder, std::chrono::seconds(30));
  EXPECT_EQ(held.exitCode, 0) << "the holder could not hold the log";

  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(after, before) << "a line reached the file that was held";
  ExpectDebuggerRun(e2e::DebuggerStrings(debug_.stderrPath), kRunPrefixes);
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost()));
}

// Proves that without the Windows Temp folder the program form runs to its
// end, the batch form (whose output file cannot be made) refuses to start,
// both exit 0 with every line in the debugger output, and the launcher does
// not create the folder to write its log.
TEST_F(LogUnavailableTest, WithoutTheWindowsTempFolderTheProgramFormCompletesAndTheBatchFormRefuses) {
  std::string program = scratch_ / "program.exe", batch = scratch_ / "batch.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"data.txt", "data"}}, program, {"--no-run-bat"}), 0);
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"run.bat", "@exit /b 0\r\n"}}, batch), 0);
  std::string temp = e2e::WindowsDir() + "/temp";
  MovedAway away(temp);
  ASSERT_TRUE(away.moved()) << "could not move " << temp << " away";

  auto run = e2e::RunWindowsWith(program, {e2e::WindowsPath(e2e::TestChild()), "exit", "7"}, debug_);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  ExpectDebuggerRun(e2e::DebuggerStrings(debug_.stderrPath), kRunPrefixes);
  EXPECT_FALSE(fs::exists(e2e::WorkDirHost()));

  // The batch form would redirect into the missing folder: without an
  // output file of its own it starts nothing, saying why.
  run = e2e::RunWindowsWith(batch, {}, debug_);
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  auto strings = e2e::DebuggerStrings(debug_.stderrPath);
  ASSERT_FALSE(strings.empty());
  e2e::LaunchLine fail;
  ASSERT_TRUE(e2e::ParseLine(strings.back(), &fail)) << strings.back();
  EXPECT_EQ(fail.message, "[CUnPackFileApp::InitInstance] execute fail");
  EXPECT_EQ(fail.error, kErrorPathNotFound);
  fs::remove_all(e2e::WorkDirHost());

  EXPECT_FALSE(fs::exists(temp)) << "the launcher created the Temp folder";
}

}  // namespace
