// packfile log as a support engineer runs it: logs re-saved by an editor, and
// --check as the gate after a test installation.
#include "gtest/gtest.h"
#include "packfile_harness.h"

namespace {

std::string Utf16Le(const std::string& ascii) {
  std::string bytes;
  for (char c : ascii) bytes += std::string{c, '\0'};
  return bytes;
}

std::string Line(const std::string& message) { return "[7]2026-01-02 03:04:05  " + message + "  Err:0\r\n"; }

std::string LoggedRun(const std::string& ending) {
  return Line("[CUtility::OSInfo] OS 10.0(19045)  x64:1") +
         Line("[CUnPackFileApp::InitInstance] dir:C:\\w\\ file:cmd.exe param:/c run.bat > C:\\T\\unpack.log.txt") +
         ending;
}

TEST(PackfileLogTest, ReadsALogThatAnEditorSavedAgain) {
  CScratchFolder dir;
  std::string log = LoggedRun(Line("[CUnPackFileApp::InitInstance] execute done code:0"));
  for (const std::string& bytes : {Utf16Le(log), "\xFF\xFE" + Utf16Le(log), "\xEF\xBB\xBF" + log, log}) {
    WriteWholeFile(dir / "unpack.log", bytes);
    CRun run = RunPackfile({"log", dir / "unpack.log"});
    EXPECT_EQ(run.code, 0) << run.err;
    EXPECT_NE(run.out.find(": 1 run\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("child:     exit code 0"), std::string::npos) << run.out;
  }
}

TEST(PackfileLogTest, CheckFailsWhenTheLastRunsCommandFailed) {
  CScratchFolder dir;
  struct {
    std::string ending;
    int code;
    const char* why;
  } cases[] = {
      {Line("[CUnPackFileApp::InitInstance] execute done code:0"), 0, ""},
      {Line("[CUnPackFileApp::InitInstance] execute done code:1603"), 1, "command exited with code 1603"},
      {Line("[CUnPackFileApp::InitInstance] execute fail"), 1, "command did not start"},
      {Line("[CUnPackFileApp::InitInstance] execute wait pid:99"), 1, "logged no exit code"},
  };
  for (const auto& c : cases) {
    // An earlier failed run does not count: only the last one.
    WriteWholeFile(dir / "unpack.log",
                   Utf16Le(LoggedRun(Line("[CUnPackFileApp::InitInstance] execute fail")) + LoggedRun(c.ending)));
    CRun run = RunPackfile({"log", "--check", dir / "unpack.log"});
    EXPECT_EQ(run.code, c.code) << c.why << "\n" << run.err;
    EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
    EXPECT_EQ(RunPackfile({"log", dir / "unpack.log"}).code, 0) << "without --check a log that decodes is fine";
  }
}

}  // namespace
