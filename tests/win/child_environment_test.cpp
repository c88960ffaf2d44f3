// The child's machine values and Path, and the command line an open command
// makes, composed from their inputs alone.
#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <string>

#include "hardening/child_environment.h"
#include "launcher/process_start.h"

namespace {

BOOL LookUp(void* values, const CString& name, CString* value) {
  auto* map = static_cast<std::map<std::wstring, std::wstring>*>(values);
  auto found = map->find(name.GetString());
  if (found == map->end()) return FALSE;
  *value = found->second.c_str();
  return TRUE;
}

TEST(ChildEnvironmentTest, MachineValuesExpandOnceAgainstWhatTheyAreGiven) {
  std::map<std::wstring, std::wstring> values = {{L"SystemRoot", L"C:\\Windows"}, {L"Loop", L"%Loop%x"}};
  const struct {
    const wchar_t* text;
    const wchar_t* expanded;
  } table[] = {
      {L"%SystemRoot%\\system32\\cmd.exe", L"C:\\Windows\\system32\\cmd.exe"},
      {L"%Unknown%\\x", L"%Unknown%\\x"},
      {L"100%", L"100%"},
      {L"%%SystemRoot%", L"%C:\\Windows"},
      {L"%Loop%", L"%Loop%x"},
  };
  for (const auto& row : table) EXPECT_STREQ(ExpandMachineText(row.text, LookUp, &values), row.expanded) << row.text;
}

TEST(ChildEnvironmentTest, PathIsTheMachinesThenWhatTheCallerAddedButNeverTheUsersOwn) {
  const struct {
    const wchar_t* inherited;
    const wchar_t* user;
    const wchar_t* path;
  } table[] = {
      {L"C:\\W\\system32;C:\\W;C:\\Users\\n\\bin", L"C:\\Users\\n\\bin", L"C:\\W\\system32;C:\\W"},
      {L"C:\\W\\system32;c:\\users\\N\\BIN\\;C:\\Added", L"C:\\Users\\n\\bin", L"C:\\W\\system32;C:\\W;C:\\Added"},
      {L"C:\\Evil\\system32;C:\\W", L"", L"C:\\W\\system32;C:\\W;C:\\Evil\\system32"},
      {L"\"C:\\Users\\n\\bin\";;C:\\Added\\", L"C:\\Users\\n\\bin\\", L"C:\\W\\system32;C:\\W;C:\\Added\\"},
      {L"", L"C:\\x", L"C:\\W\\system32;C:\\W"},
  };
  for (const auto& row : table)
    EXPECT_STREQ(ComposeChildPath(L"C:\\W\\system32;C:\\W", row.inherited, row.user), row.path) << row.inherited;
  EXPECT_STREQ(ComposeChildPath(L"", L"C:\\Added", L""), L"C:\\Added");
}

TEST(ChildEnvironmentTest, AnOpenCommandGetsTheFileAndTheParametersAsTheShellPutsThem) {
  const struct {
    const wchar_t* command;
    const wchar_t* line;  // null: the command never names the file
    const wchar_t* program;
  } table[] = {
      {L"\"C:\\W\\system32\\msiexec.exe\" /i \"%1\" %*", L"\"C:\\W\\system32\\msiexec.exe\" /i \"C:\\T\\a b.msi\" /q x ",
       L"C:\\W\\system32\\msiexec.exe"},
      {L"C:\\W\\notepad.exe %L", L"C:\\W\\notepad.exe C:\\T\\a b.msi", L"C:\\W\\notepad.exe"},
      {L"\"%1\" %*", L"\"C:\\T\\a b.msi\" /q x ", L"C:\\T\\a b.msi"},
      {L"x.exe %2 100%% %1", L"x.exe  100% C:\\T\\a b.msi", L"x.exe"},
      {L"C:\\W\\x.exe /open", nullptr, nullptr},
  };
  for (const auto& row : table) {
    CString line;
    EXPECT_EQ(ComposeOpenCommand(row.command, L"C:\\T\\a b.msi", L"/q x ", &line) != FALSE, row.line != nullptr)
        << row.command;
    if (!row.line) continue;
    EXPECT_STREQ(line, row.line) << row.command;
    EXPECT_STREQ(OpenCommandProgram(line), row.program) << row.command;
  }
}

}  // namespace
