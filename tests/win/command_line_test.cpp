#include "launcher/command_line.h"

#include <gtest/gtest.h>
#include <shellapi.h>
#include <windows.h>

#include <string>
#include <vector>

namespace {

// Splits a command line the way a started program's runtime does.
std::vector<std::wstring> Split(const std::wstring& commandLine) {
  int argc = 0;
  wchar_t** argv = CommandLineToArgvW(commandLine.c_str(), &argc);
  std::vector<std::wstring> out(argv, argv + argc);
  LocalFree(argv);
  return out;
}

TEST(CommandLineTest, ArgumentsKeepTheirBoundaries) {
  const std::vector<std::vector<std::wstring>> cases = {
      {L"plain"},
      {L"two words"},
      {L""},
      {L"", L"", L"x"},
      {L"tab\there"},
      {L"say \"hi\""},
      {L"C:\\Program Files\\"},
      {L"trailing\\\\"},
      {L"a\\\"b"},
      {L"\\\\server\\share\\x y"},
      {L"\""},
      {L"\\"},
      {L"/quiet", L"INSTALLDIR=C:\\My Apps\\Q", L"--log=\"x y\\\""},
  };
  for (const auto& args : cases) {
    CString parameters;
    for (const auto& a : args) AppendArgument(parameters, a.c_str());
    auto split = Split(L"child.exe " + std::wstring(parameters.GetString()));
    ASSERT_EQ(split.size(), args.size() + 1) << "parameters: " << testing::PrintToString(std::wstring(parameters));
    for (size_t i = 0; i < args.size(); ++i) EXPECT_EQ(split[i + 1], args[i]);
  }
}

TEST(CommandLineTest, PlainArgumentsGoThroughUnchangedEachWithOneBlank) {
  wchar_t* argv[] = {const_cast<wchar_t*>(L"UnPackFile.exe"), const_cast<wchar_t*>(L"setup.exe"),
                     const_cast<wchar_t*>(L"/S"), const_cast<wchar_t*>(L"/D=C:\\x")};
  EXPECT_STREQ(ComposeProgramParameters(4, argv), L"/S /D=C:\\x ");
  EXPECT_STREQ(ComposeProgramParameters(3, argv), L"/S ");
  EXPECT_STREQ(ComposeProgramParameters(2, argv), L"");
  CString quoted;
  AppendArgument(quoted, L"a b");
  AppendArgument(quoted, L"");
  EXPECT_STREQ(quoted, L"\"a b\" \"\" ");
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
               L"/c run.bat > C:\\Windows\\Temp\\unpack.log.txt");
}

}  // namespace
