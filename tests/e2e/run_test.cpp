// The whole job, as a user's machine runs it: an installer packed by packfile
// runs under Wine, unpacks, runs its command, waits, cleans up and exits 0.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "clean_machine_test.h"
#include "installer.h"
#include "launch_log.h"
#include "tests/support/argument_quoting.h"
#include "wine_prefix.h"

namespace fs = std::filesystem;

namespace {

class RunTest : public e2e::CleanMachineTest {
 protected:
  RunTest() : CleanMachineTest("run") {}
};

const std::map<std::string, std::string> kBatchPackage = {
    {"run.bat",
     "@echo off\r\n"
     "echo ran in %CD%\r\n"
     "dir /b /on\r\n"
     "copy /y payload.txt \"%WINDIR%\\Temp\\e2e-payload-copy.txt\" > nul\r\n"
     "exit /b 0\r\n"},
    {"payload.txt", "payload bytes\r\n"},
};

TEST_F(RunTest, BatchFormRunsRunBatInTheWorkDirectoryAndCleansUp) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, kBatchPackage, setup), 0);
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, std::vector<std::string>{"ignored arg"}}) {
    e2e::DeleteLog();
    std::remove((e2e::WindowsDir() + "/temp/e2e-payload-copy.txt").c_str());
    auto run = e2e::RunWindows(setup, args);
    ASSERT_FALSE(run.timedOut);
    EXPECT_EQ(run.exitCode, 0);
    auto patterns = e2e::ExtractionPatterns({"payload.txt", "run.bat"});
    for (const auto& p : e2e::LaunchPatterns("cmd.exe", e2e::kBatchParam)) patterns.push_back(p);
    e2e::ExpectLines(e2e::LogMessages(), patterns);

    std::string output = e2e::ReadWholeFile(e2e::LogPath() + ".txt");
    EXPECT_NE(output.find("ran in " + e2e::WorkDirWindows().substr(0, e2e::WorkDirWindows().size() - 1)),
              std::string::npos)
        << output;
    EXPECT_NE(output.find("payload.txt"), std::string::npos) << output;
    EXPECT_EQ(e2e::ReadWholeFile(e2e::WindowsDir() + "/temp/e2e-payload-copy.txt"), "payload bytes\r\n");
    EXPECT_FALSE(fs::exists(e2e::WorkDirHost())) << "the work directory is removed after the child";
  }
}

// The arguments are joined as they stand, each followed by one blank: a
// blank inside an argument splits it for the child, and a quote reaches the
// child raw, where its own parser takes it as the start of a quoted part.
TEST_F(RunTest, ProgramFormJoinsTheArgumentsWithoutQuoting) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"data.bin", "x"}}, setup, {"--no-run-bat"}), 0);
  std::string record = scratch_ / "argv.txt";
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "record", e2e::WindowsPath(record), "a b",
                                     "", "c\"d", "/x"});
  ASSERT_FALSE(run.timedOut);
  EXPECT_EQ(run.exitCode, 0);
  std::string workDir = e2e::WorkDirWindows();
  EXPECT_EQ(e2e::ReadWholeFile(record), "cwd:" + workDir.substr(0, workDir.size() - 1) + "\narg:a\narg:b\narg:cd /x \n");

  auto lines = e2e::LogMessages();
  ASSERT_GE(lines.size(), 4u);
  EXPECT_EQ(lines[lines.size() - 4].message, "[CUnPackFileApp::InitInstance] dir:" + workDir + " file:" +
                                                 e2e::WindowsPath(e2e::TestChild()) + " param:record " +
                                                 e2e::WindowsPath(record) + R"( a b  c"d /x )");
  EXPECT_EQ(lines.back().message, "[CUnPackFileApp::InitInstance] execute done code:0");
}

TEST_F(RunTest, TheChildsExitCodeShowsOnlyInTheDoneLine) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"data.bin", "x"}}, setup, {"--no-run-bat"}), 0);
  const struct {
    const char* code;
    const char* shown;
  } table[] = {{"3", "3"}, {"0xC0000005", "-1073741819"}};
  for (const auto& row : table) {
    e2e::DeleteLog();
    auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", row.code});
    EXPECT_EQ(run.exitCode, 0) << row.code;
    auto lines = e2e::LogMessages();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().message, std::string("[CUnPackFileApp::InitInstance] execute done code:") + row.shown);
  }
}

TEST_F(RunTest, AChildThatEndsAtOnceIsNoticedAfterAboutThreeSeconds) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"data.bin", "x"}}, setup, {"--no-run-bat"}), 0);
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", "0"});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_GE(run.elapsed, std::chrono::milliseconds(3000));
  std::printf("the run took %lld ms\n", static_cast<long long>(run.elapsed.count()));
}

TEST_F(RunTest, AFailedLaunchLeavesTheFilesForTheNextRunToClear) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"left.txt", "left behind"}}, setup, {"--no-run-bat"}), 0);
  auto run = e2e::RunWindows(setup, {"C:\\no\\such\\program.exe", "x"});
  EXPECT_EQ(run.exitCode, 0);
  auto lines = e2e::LogMessages();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines.back().message, "[CUnPackFileApp::InitInstance] execute fail");
  EXPECT_NE(lines.back().error, 0) << "the launch's own error code";
  EXPECT_EQ(e2e::ReadWholeFile(e2e::WorkDirHost() + "/left.txt"), "left behind");

  // A later run never extracts among them: it clears them when they are
  // certainly a launcher's own, else (always under Wine, which keeps no
  // access lists) it goes beside them.
  std::string other = scratch_ / "other.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {{"new.txt", "n"}}, other, {"--no-run-bat"}), 0);
  e2e::DeleteLog();
  EXPECT_EQ(e2e::RunWindows(other, {"C:\\no\\such\\program.exe", "x"}).exitCode, 0);
  std::string dirLine = e2e::LogMessages().at(e2e::LogMessages().size() - 2).message;
  std::size_t name = dirLine.find("\\unpack"), end = dirLine.find("\\ file:");
  ASSERT_LT(name, end) << dirLine;
  std::string used = fs::path(e2e::WorkDirHost()).parent_path().string() + "/" + dirLine.substr(name + 1, end - name - 1);
  EXPECT_FALSE(fs::exists(used + "/left.txt"));
  EXPECT_TRUE(fs::exists(used + "/new.txt"));
}

TEST_F(RunTest, AnEmptyPackageStillLaunchesTheCommand) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, {}, setup, {"--no-run-bat"}), 0);
  std::string record = scratch_ / "argv.txt";
  auto run = e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "record", e2e::WindowsPath(record)});
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(e2e::ReadWholeFile(record).find("cwd:"), std::string::npos) << "the child ran";
  auto lines = e2e::LogMessages();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[4].message, "[CUnPack::UnPackFiles] UnPack total 0 files.");
  EXPECT_EQ(lines.back().message, "[CUnPackFileApp::InitInstance] execute done code:0");
}

// How the program form finds its program: each row names it one way, with
// the program lying in one place, and either runs it (its exit code in the
// done line) or refuses it with a line that names it. A folder of the
// machine's own PATH (where a system's PowerShell lives), a user Path folder
// and a file type are set up in the test prefix for the table.
TEST_F(RunTest, TheProgramIsFoundAsTheSystemFindsItButOnlyWhereNoNeighbourWrites) {
  const std::string machineFolder = e2e::WindowsDir() + "/system32/WindowsPowerShell/v1.0";
  const std::string userFolder = e2e::WindowsDir() + "/../e2e-user-tools";
  fs::create_directories(machineFolder);
  fs::create_directories(userFolder);
  fs::copy_file(e2e::TestChild(), machineFolder + "/mtool.exe", fs::copy_options::overwrite_existing);
  fs::copy_file(e2e::TestChild(), userFolder + "/utool.exe", fs::copy_options::overwrite_existing);
  auto reg = [](const std::vector<std::string>& args) { return e2e::RunWindows("reg", args).exitCode; };
  std::string record = scratch_ / "record.txt";
  ASSERT_EQ(e2e::SetUserVariable("Path", "C:\\e2e-user-tools"), 0);
  ASSERT_EQ(reg({"add", "HKLM\\Software\\Classes\\.e2edoc", "/ve", "/d", "e2edoc.file", "/f"}), 0);
  ASSERT_EQ(reg({"add", "HKLM\\Software\\Classes\\e2edoc.file\\shell\\open\\command", "/ve", "/d",
                 "\"" + e2e::WindowsPath(e2e::TestChild()) + "\" record \"" + e2e::WindowsPath(record) + "\" \"%1\" %*",
                 "/f"}),
            0);

  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_,
                                {{"child.exe", e2e::ReadWholeFile(e2e::TestChild())}, {"doc.e2edoc", "d"},
                                 {"doc.none", "n"}},
                                setup, {"--no-run-bat"}),
            0);
  const struct {
    std::vector<std::string> args;
    const char* done;  // the done line's code; null: refused
  } table[] = {
      {{"child", "exit", "5"}, "5"},
      {{".\\child.exe", "exit", "6"}, "6"},
      {{"cmd", "/c", "exit 7"}, "7"},
      {{"C:/windows/system32/cmd.exe", "/c", "exit 8"}, "8"},
      {{"mtool", "exit", "9"}, "9"},
      {{"utool", "exit", "10"}, nullptr},
      {{"..\\child.exe", "exit", "11"}, nullptr},
      {{".", "x"}, nullptr},
      {{"C:\\windows", "x"}, nullptr},
      {{"doc.e2edoc", "p1", "p2"}, "0"},
      {{"doc.none", "x"}, nullptr},
  };
  for (const auto& row : table) {
    SCOPED_TRACE(row.args[0]);
    e2e::DeleteLog();
    auto run = e2e::RunWindows(setup, row.args);
    EXPECT_EQ(run.exitCode, 0);
    auto lines = e2e::LogMessages();
    ASSERT_FALSE(lines.empty());
    if (row.done) {
      EXPECT_EQ(lines.back().message, std::string("[CUnPackFileApp::InitInstance] execute done code:") + row.done)
          << e2e::Dump(lines);
      continue;
    }
    EXPECT_EQ(lines.back().message, "[CUnPackFileApp::InitInstance] execute fail") << e2e::Dump(lines);
    EXPECT_NE(lines.back().error, 0);
    // Refused by the launcher: the line says so and names the program.
    bool typeWithoutCommand = row.args[0] == "doc.none";
    EXPECT_EQ(e2e::LogHas("[CUtility::FileException] " + row.args[0] + " was not found."), !typeWithoutCommand)
        << e2e::Dump(lines);
    if (typeWithoutCommand) {
      EXPECT_EQ(lines.back().error, 1155) << "no association";
      EXPECT_TRUE(e2e::LogHas("[CUtility::FileException] An unknown error occurred while accessing " +
                              e2e::WorkDirWindows() + "doc.none."))
          << e2e::Dump(lines);
    }
  }
  // The type's machine command got the file and the parameters.
  std::string recorded = e2e::ReadWholeFile(record);
  EXPECT_NE(recorded.find("arg:" + e2e::WorkDirWindows() + "doc.e2edoc\narg:p1\narg:p2\n"), std::string::npos)
      << recorded;

  // A launcher that carries no package still runs what it finds.
  e2e::DeleteLog();
  EXPECT_EQ(e2e::RunWindows(UNPACK_E2E_LAUNCHER, {"C:\\windows\\system32\\cmd.exe", "/c", "exit 3"}).exitCode, 0);
  EXPECT_TRUE(e2e::LogHas("[CUnPackFileApp::InitInstance] execute done code:3")) << e2e::Dump(e2e::LogMessages());

  e2e::SetUserVariable("Path", "");
  fs::remove(machineFolder + "/mtool.exe");
  reg({"delete", "HKLM\\Software\\Classes\\.e2edoc", "/f"});
  reg({"delete", "HKLM\\Software\\Classes\\e2edoc.file", "/f"});
}

// packfile log on the log these runs really write: three runs in one file,
// one whole batch run, one child failing with its own code, one failed launch.
TEST_F(RunTest, PackfileLogTellsTheRunsApart) {
  std::string setup = scratch_ / "setup.exe";
  ASSERT_EQ(e2e::BuildInstaller(scratch_, kBatchPackage, setup), 0);
  EXPECT_EQ(e2e::RunWindows(setup, {}).exitCode, 0);
  EXPECT_EQ(e2e::RunWindows(setup, {e2e::WindowsPath(e2e::TestChild()), "exit", "3"}).exitCode, 0);
  EXPECT_EQ(e2e::RunWindows(setup, {"C:\\no\\such\\program.exe", "x"}).exitCode, 0);
  std::string report = scratch_ / "log.txt";
  std::string command = test_support::ShellQuote(UNPACK_E2E_PACKFILE) + " log " + test_support::ShellQuote(e2e::LogPath()) +
                        " > " + test_support::ShellQuote(report);
  ASSERT_EQ(e2e::Shell(command), 0);
  std::string text = e2e::ReadWholeFile(report);
  const std::vector<std::string> expectedParts = {
      ": 3 runs\n",
      "not a verdict",
      "\nrun 1: pid ",
      "  files:     2 expected, 2 written, 0 failed\n",
      "  command:   cmd.exe /D /c run.bat > C:\\windows\\Temp\\unpack.log.txt\n",
      "  work dir:  " + e2e::WorkDirWindows() + "\n",
      "  output:    run.bat's standard output went to C:\\windows\\Temp\\unpack.log.txt",
      ", exit code 0\n\nrun 2: pid ",
      ", exit code 3\n\nrun 3: pid ",
      "  child:     did not start (execute fail)\n",
  };
  for (const std::string& expected : expectedParts) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\n" << text;
  }
  // The last run's command did not start: log --check fails it.
  EXPECT_EQ(e2e::Shell(test_support::ShellQuote(UNPACK_E2E_PACKFILE) + " log --check " +
                       test_support::ShellQuote(e2e::LogPath()) + " >/dev/null 2>&1"),
            1);
}

}  // namespace
