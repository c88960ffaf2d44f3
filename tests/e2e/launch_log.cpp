#include "launch_log.h"

#include <gtest/gtest.h>

#include <regex>

#include "installer.h"
#include "wine_prefix.h"

namespace e2e {

bool ParseLine(const std::string& text, LaunchLine* line) {
  test_support::CLogLineParts<char> parts;
  // A run's lines all carry their time.
  if (!test_support::SplitLogLine(text, &parts) || parts.time.empty()) return false;
  line->pid = parts.pid;
  line->message = parts.message;
  line->error = parts.error;
  return true;
}

std::vector<LaunchLine> LogMessages() {
  std::vector<LaunchLine> out;
  for (const auto& text : LogLines()) {
    LaunchLine line;
    EXPECT_TRUE(ParseLine(Narrow(text), &line)) << "malformed log line: " << Narrow(text);
    out.push_back(line);
  }
  return out;
}

bool LogHas(const std::string& fragment) {
  for (const auto& line : LogLines())
    if (Narrow(line).find(fragment) != std::string::npos) return true;
  return false;
}

std::string Dump(const std::vector<LaunchLine>& lines) {
  std::string all;
  for (const auto& l : lines) all += "[" + l.pid + "] " + l.message + "\n";
  return all;
}

void ExpectLines(const std::vector<LaunchLine>& lines, const std::vector<std::string>& patterns) {
  ASSERT_EQ(lines.size(), patterns.size()) << Dump(lines);
  for (size_t i = 0; i < patterns.size(); ++i)
    EXPECT_TRUE(std::regex_match(lines[i].message, std::regex(patterns[i])))
        << "line " << i << ": " << lines[i].message << "\n  pattern: " << patterns[i];
}

std::vector<std::string> ExtractionPatterns(const std::vector<std::string>& names, const RunFacts& facts) {
  std::vector<std::string> p = {
      R"(\[CUtility::OSInfo\] OS \d+\.\d+\(\d+\) .* x64:)" + std::string(facts.wow64 ? "1" : "0"),
      R"(\[CUnPack::FindHeader\] Name:Z:\\.*\\setup\.exe)",
      R"(\[CUnPack::FindHeader\] Sign Size:)" + facts.signSize,
      R"(\[CUnPack::FindHeader\] Header offset:)" + facts.headerOffset,
  };
  int count = 0;
  for (const auto& name : names) {
    std::string path = RegexLiteral(WorkDirWindows() + name);
    p.push_back(R"(\[CUnPack::UnPackFiles\] UnPack file name:)" + path);
    p.push_back(R"(\[CUnPack::UnPackFiles\] UnPack count:)" + std::to_string(++count) + R"( len:\d+ File:)" + path);
  }
  p.push_back(R"(\[CUnPack::UnPackFiles\] UnPack total )" + std::to_string(count) + R"( files\.)");
  return p;
}

const char kBatchParam[] = R"(/D /c run.bat > C:\windows\Temp\unpack.log.txt)";

std::string BatchOutputOfParamLine() {
  for (const auto& line : LogMessages()) {
    std::size_t end = line.message.find(".txt");
    std::size_t name = line.message.rfind('\\', end);
    if (line.message.find("] dir:") != std::string::npos && end != std::string::npos && name != std::string::npos)
      return LogPath().substr(0, LogPath().rfind('/') + 1) + line.message.substr(name + 1, end + 4 - name - 1);
  }
  return LogPath() + ".txt";
}

std::vector<std::string> LaunchPatterns(const std::string& file, const std::string& param) {
  return {
      R"(\[CUnPackFileApp::InitInstance\] dir:)" + RegexLiteral(WorkDirWindows()) + " file:" + RegexLiteral(file) +
          " param:" + RegexLiteral(param),
      R"(\[CUnPackFileApp::InitInstance\] execute ok 0x[0-9A-F]{8})",
      R"(\[CUnPackFileApp::InitInstance\] execute wait pid:\d+)",
      R"(\[CUnPackFileApp::InitInstance\] execute done code:0)",
  };
}

}  // namespace e2e
