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

std::string Line(const std::string& message, const std::string& err = "0") {
  return "[7]2026-01-02 03:04:05  " + message + "  Err:" + err + "\r\n";
}

std::string LoggedRun(const std::string& ending, const std::string& beforeCommand = "") {
  return Line("[CUtility::OSInfo] OS 10.0(19045)  x64:1") + Line("[CUnPack::FindHeader] Sign Size:5992") +
         beforeCommand +
         Line("[CUnPackFileApp::InitInstance] dir:C:\\w\\ file:cmd.exe param:/c run.bat > C:\\T\\unpack.log.txt") +
         ending;
}

std::string FileError(const std::string& sentence, const std::string& err) {
  return Line("[CUtility::FileException] " + sentence, err);
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
  const std::string done = Line("[CUnPackFileApp::InitInstance] execute done code:0");
  const std::string fail = Line("[CUnPackFileApp::InitInstance] execute fail", "2");
  const std::string image = "An unknown error occurred while accessing C:\\d\\setup.exe.";
  struct {
    std::string ending;
    int code;
    const char* why;
    std::string beforeCommand = "";
    const char* shown = "";  // the run's text also says this
  } cases[] = {
      {Line("[CUnPackFileApp::InitInstance] execute done code:0"), 0, ""},
      {FileError(image, "-2146869232"), 1,
       "the last run was refused: the signature no longer matches the file (TRUST_E_BAD_DIGEST): the launcher "
       "refused its own image",
       "", "[Err TRUST_E_BAD_DIGEST (0x80096010): the signature check's answer that refuses the image]"},
      {FileError(image, "-2146869244"), 1, "the signature block is damaged (TRUST_E_CERT_SIGNATURE)"},
      {FileError(image, "-2146885629"), 1, "the certificate table does not end the file (CRYPT_E_FILE_ERROR)"},
      {FileError(image, "-2146762487") + done, 0, "", "CERT_E_UNTRUSTEDROOT (0x800B0109): the signature check's answer "
                                                      "on trust, which refuses nothing"},
      {fail, 1, "the last run was refused: the program python was not found where no other user can write",
       FileError("python was not found.", "2")},
      {FileError("An unknown error occurred while accessing C:\\w\\notes.xyz.", "1155") + fail, 1,
       "the machine's own associations have no open command for C:\\w\\notes.xyz"},
      {done, 0, "", FileError("Access to C:\\T\\unpack was denied.", "183"),
       "  stepped:   C:\\T\\unpack was in the way (ERROR_ALREADY_EXISTS): the launcher left it alone"},
      {done, 0, "", FileError("Access to C:\\T\\unpack.0badf00d was denied.", "0"),
       "  stepped:   C:\\T\\unpack.0badf00d was a launcher's own leftover and was cleared"},
      {Line("[CUnPackFileApp::InitInstance] execute done code:1603"), 1, "command exited with code 1603"},
      {Line("[CUnPackFileApp::InitInstance] execute fail"), 1, "command did not start"},
      {Line("[CUnPackFileApp::InitInstance] execute wait pid:99"), 1, "logged no exit code"},
  };
  for (const auto& c : cases) {
    // An earlier failed run does not count: only the last one.
    WriteWholeFile(dir / "unpack.log", Utf16Le(LoggedRun(Line("[CUnPackFileApp::InitInstance] execute fail")) +
                                               LoggedRun(c.ending, c.beforeCommand)));
    CRun run = RunPackfile({"log", "--check", dir / "unpack.log"});
    EXPECT_EQ(run.code, c.code) << c.why << "\n" << run.err;
    EXPECT_NE(run.err.find(c.why), std::string::npos) << run.err;
    EXPECT_NE(run.out.find(c.shown), std::string::npos) << c.shown << "\n" << run.out;
    EXPECT_EQ(RunPackfile({"log", dir / "unpack.log"}).code, 0) << "without --check a log that decodes is fine";
    // The JSON carries every file error line, and the refusal by name.
    CRun json = RunPackfile({"log", "--json", dir / "unpack.log"});
    std::string last = json.out.substr(json.out.rfind("{\"pid\":"));
    bool refused = run.err.find("was refused: ") != std::string::npos;
    EXPECT_EQ(last.find("\"refusal\":null") == std::string::npos, refused) << last;
    EXPECT_EQ(last.find("\"kind\":\"signature\"") != std::string::npos,
              run.err.find("its own image") != std::string::npos)
        << last;
    std::string why;
    if (!c.beforeCommand.empty()) {
      EXPECT_TRUE(MatchesJsonSchema(json.out, std::string(PACKFILE_SCHEMAS) + "/log.schema.json", &why)) << why;
    }
  }
}

}  // namespace
