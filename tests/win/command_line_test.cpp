#include "launcher/command_line.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

TEST(CommandLineTest, ProgramParametersAreTheArgumentsEachFollowedByOneBlank) {
  const struct {
    const char* what;
    std::vector<const wchar_t*> args;  // argument 2 and up
    const wchar_t* parameters;
  } table[] = {
      {"plain arguments", {L"/S", L"/D=C:\\x"}, L"/S /D=C:\\x "},
      {"a blank inside", {L"/D=C:\\Program Files\\App", L"/S"}, L"/D=C:\\Program Files\\App /S "},
      {"an empty argument", {L"a", L"", L"b"}, L"a  b "},
      {"quotes and backslashes", {L"c\"d", L"\"C:\\x y\\a.msi\"", L"C:\\dir\\"},
       L"c\"d \"C:\\x y\\a.msi\" C:\\dir\\ "},
      {"a single parameter", {L"/quiet"}, L"/quiet "},
  };
  for (const auto& row : table) {
    std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"UnPackFile.exe"), const_cast<wchar_t*>(L"setup.exe")};
    for (const wchar_t* arg : row.args) argv.push_back(const_cast<wchar_t*>(arg));
    EXPECT_STREQ(ComposeProgramParameters(static_cast<int>(argv.size()), argv.data()), row.parameters) << row.what;
  }
}

TEST(CommandLineTest, OnlyA32BitLauncherOnVistaOrLaterTakesTheNativeInterpreter) {
  struct {
    BOOL preVista, wow64, native;
  } table[] = {{FALSE, FALSE, FALSE}, {FALSE, TRUE, TRUE}, {TRUE, FALSE, FALSE}, {TRUE, TRUE, FALSE}};
  for (const auto& row : table)
    EXPECT_EQ(UseNativeInterpreter(row.preVista, row.wow64) != FALSE, row.native != FALSE)
        << "preVista " << row.preVista << " wow64 " << row.wow64;
}

TEST(CommandLineTest, TheNativeInterpreterLivesUnderSysnative) {
  wchar_t buffer[MAX_PATH + 1];
  ComposeInterpreterPath(FALSE, buffer);
  EXPECT_STREQ(buffer, L"cmd.exe");
  ComposeInterpreterPath(TRUE, buffer);
  wchar_t windows[MAX_PATH + 1] = {};
  GetSystemWindowsDirectoryW(windows, MAX_PATH);
  EXPECT_EQ(std::wstring(buffer), std::wstring(windows) + L"\\sysnative\\cmd.exe");
}

TEST(CommandLineTest, BatchOutputGoesBesideTheLog) {
  EXPECT_STREQ(ComposeBatchParameters(L"C:\\Windows\\Temp\\unpack.log"),
               L"/D /c run.bat > C:\\Windows\\Temp\\unpack.log.txt");
}

}  // namespace
