// The log decoder on lines in the launcher's formats, as UTF-16LE bytes.
#include "gtest/gtest.h"
#include "packfile_harness.h"
#include "tools/packfile/core/log_decoder.h"

namespace {

std::string Utf16Le(const std::u16string& text) {
  std::string bytes;
  for (char16_t unit : text) {
    bytes.push_back(static_cast<char>(unit & 0xFF));
    bytes.push_back(static_cast<char>(unit >> 8));
  }
  return bytes;
}

std::u16string Line(const char16_t* pid, const std::u16string& message, const char16_t* err = u"0") {
  return u"[" + std::u16string(pid) + u"]2026-01-02 03:04:05  " + message + u"  Err:" + err + u"\r\n";
}

TEST(LogDecoderTest, SplitsLinesAndRejectsOthers) {
  struct {
    const char* text;
    bool ok;
    const char* source;
    const char* message;
    long long error;
  } cases[] = {
      {"[12]2026-01-02 03:04:05  [A::B] x  y  Err:18", true, "A::B", "x  y", 18},
      {"[12]  [A::B] no time  Err:-2147467259", true, "A::B", "no time", -2147467259LL},
      {"[12]2026-01-02 03:04:05    Err:0", true, "", "", 0},
      {"12]2026-01-02 03:04:05  [A::B] x  Err:0", false, "", "", 0},
      {"[12]2026-01-02 03:04:05  [A::B] x  Err:", false, "", "", 0},
      {"[1a]2026-01-02 03:04:05  [A::B] x  Err:0", false, "", "", 0},
      {"[12]2026-01-02  [A::B] x  Err:0", false, "", "", 0},
  };
  for (const auto& c : cases) {
    CLogLine line;
    ASSERT_EQ(ParseLogLine(c.text, &line), c.ok) << c.text;
    if (!c.ok) continue;
    EXPECT_EQ(line.source, c.source) << c.text;
    EXPECT_EQ(line.message, c.message) << c.text;
    EXPECT_EQ(line.lastError, c.error) << c.text;
  }
}

// Two runs of one pid apart, a third interleaved with a second instance's
// lines, a file that failed with its file error, and non-ASCII paths.
TEST(LogDecoderTest, GroupsRunsAndFindsWhatFailed) {
  std::u16string log =
      Line(u"7", u"[CUtility::OSInfo] OS 10.0(19045)  x64:1") +
      Line(u"7", u"[CUnPack::FindHeader] Name:C:\\d\\setup.exe") +
      Line(u"7", u"[CUnPack::FindHeader] Sign Size:5992") +
      Line(u"7", u"[CUnPack::FindHeader] Header offset:233472") +
      Line(u"7", u"[CUnPack::UnPackFiles] UnPack file name:C:\\w\\caf\u00E9.txt") +
      Line(u"7", u"[CUnPack::UnPackFiles] UnPack count:1 len:4 File:C:\\w\\caf\u00E9.txt") +
      Line(u"7", u"[CUnPack::UnPackFiles] UnPack file name:C:\\w\\b.txt") +
      Line(u"7", u"[CUtility::FileException] Encountered a sharing violation while accessing C:\\w\\b.txt.", u"32") +
      Line(u"7", u"[CUnPack::UnPackFiles] UnPack total 1 files.") +
      Line(u"7", u"[CUnPackFileApp::InitInstance] dir:C:\\w\\ file:cmd.exe param:/c run.bat > C:\\T\\unpack.log.txt") +
      Line(u"7", u"[CUnPackFileApp::InitInstance] execute ok 0x000000A4") +
      Line(u"7", u"[CUnPackFileApp::InitInstance] execute wait pid:99") +
      Line(u"9", u"[CUtility::OSInfo] OS 10.0(19045)  x64:1") +
      Line(u"7", u"[CUnPackFileApp::InitInstance] execute done code:1603", u"18") +
      Line(u"9", u"[CUnPack::FindHeader] Name:C:\\d\\Setup.exe") +
      Line(u"9", u"[CUtility::FileException] C:\\d\\setup.exe was not found.", u"2") +
      Line(u"9", u"[CUnPack::FindHeader] Fail") +
      Line(u"7", u"[CUtility::OSInfo] OS 10.0(19045)  x64:1") +
      Line(u"7", u"[CUnPackFileApp::InitInstance] execute fail", u"2");
  CLogDecoded decoded = DecodeLog(Utf16Le(log) + "garbage");
  ASSERT_EQ(decoded.runs.size(), 3u);
  EXPECT_EQ(decoded.malformed.size(), 1u);
  const CLogRun& first = decoded.runs[0];
  EXPECT_EQ(first.pid, "7");
  EXPECT_EQ(first.headerOffset, 233472);
  EXPECT_EQ(first.certificateSize, 5992);
  EXPECT_EQ(first.expected.size(), 2u);
  EXPECT_EQ(first.written, std::vector<std::string>{"C:\\w\\caf\xC3\xA9.txt"});
  ASSERT_EQ(first.failed.size(), 1u);
  EXPECT_EQ(first.failed[0].file, "C:\\w\\b.txt");
  EXPECT_EQ(first.failed[0].reason, "Encountered a sharing violation while accessing C:\\w\\b.txt.");
  ASSERT_EQ(first.fileErrors.size(), 1u);
  EXPECT_EQ(first.fileErrors[0].kind, FileErrorKind::kFile);
  EXPECT_EQ(first.fileErrors[0].path, "C:\\w\\b.txt");
  EXPECT_EQ(first.fileErrors[0].reason, "ERROR_SHARING_VIOLATION (32): another process holds it open");
  EXPECT_EQ(first.file, "cmd.exe");
  EXPECT_EQ(first.param, "/c run.bat > C:\\T\\unpack.log.txt");
  EXPECT_EQ(first.childPid, 99);
  EXPECT_TRUE(first.childDone);
  EXPECT_EQ(first.childExitCode, 1603);
  EXPECT_EQ(decoded.runs[1].pid, "9");
  EXPECT_FALSE(decoded.runs[1].packageFound);
  // The locator could not open its own image: no program was refused.
  EXPECT_EQ(decoded.runs[1].fileErrors.at(0).kind, FileErrorKind::kFile);
  EXPECT_EQ(decoded.runs[1].refusal, "");
  EXPECT_TRUE(decoded.runs[2].executeFailed);
  EXPECT_FALSE(decoded.runs[2].childDone);

  CScratchFolder dir;
  WriteWholeFile(dir / "unpack.log", Utf16Le(log));
  CRun json = RunPackfile({"log", "--json", dir / "unpack.log"});
  EXPECT_EQ(json.code, 0) << json.err;
  std::string why;
  EXPECT_TRUE(MatchesJsonSchema(json.out, std::string(PACKFILE_SCHEMAS) + "/log.schema.json", &why))
      << why << json.out;
  WriteWholeFile(dir / "empty.log", std::string("not a log\n"));
  EXPECT_EQ(RunPackfile({"log", dir / "empty.log"}).code, 1);
}

}  // namespace
