#include "launcher/launch_plan.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// The machine's block as the system would give it (names in any case).
const wchar_t kSystemBlock[] =
    L"SystemRoot=C:\\Windows\0WINDIR=C:\\Windows\0ComSpec=C:\\Windows\\system32\\cmd.exe\0"
    L"PATHEXT=.com;.exe;.bat\0PATH=C:\\Windows\\system32\0\0";

// What exists where, as the launcher's probes would find it.
class CFakeDisk : public CExtractedFiles, public CPathProbe {
 public:
  CFakeDisk(std::set<std::wstring> extracted, std::map<std::wstring, int> elsewhere)
      : extracted_(std::move(extracted)), elsewhere_(std::move(elsewhere)) {}
  BOOL HasExtracted(const wchar_t* name) const override { return extracted_.count(name) != 0; }
  int KindOf(const wchar_t* path) const override {
    auto found = elsewhere_.find(path);
    return found == elsewhere_.end() ? kNothing : found->second;
  }

 private:
  std::set<std::wstring> extracted_;
  std::map<std::wstring, int> elsewhere_;
};

const std::map<std::wstring, int> kMachine = {
    {L"C:\\Windows\\system32\\msiexec.exe", kPlainFile},
    {L"C:\\Windows\\system32\\hostname.exe", kPlainFile},
    {L"C:\\Windows\\notepad.exe", kPlainFile},
    {L"C:\\Windows\\system32\\cmd.exe", kPlainFile},
    {L"C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe", kPlainFile},
    {L"C:\\Tools\\mytool.exe", kPlainFile},
    {L"C:rel\\reltool.exe", kPlainFile},
    {L"C:\\Windows", kOther},
    {L"C:\\Windows\\system32\\child.exe", kPlainFile},
    {L"C:\\T\\x.exe", kPlainFile},
    {L"C:\\Users\\n\\bin\\usertool.exe", kPlainFile},
    {L"C:\\Windows\\system32\\tool.bat", kPlainFile},
};

TEST(LaunchPlanTest, WhatStartsIsOnlyWhatThisRunExtractedOrTheSystemHolds) {
  const struct {
    const char* what;
    std::vector<const wchar_t*> args;  // after the launcher's own name
    std::set<std::wstring> extracted;
    DWORD refusal;
    const wchar_t* file;  // null: refused with the row's reason
    DWORD reason;
    const wchar_t* block = kSystemBlock;
  } table[] = {
      // How the program is named, where it lies, whether it runs.
      {"an extracted program without its extension", {L"child", L"x"}, {L"child.exe"}, 0, L"C:\\T\\unpack\\child.exe", 0},
      {"an extracted program as .\\name", {L".\\child.exe", L"x"}, {L"child.exe"}, 0, L"C:\\T\\unpack\\child.exe", 0},
      {"an extracted program as ./name, no extension", {L"./child", L"x"}, {L"child.exe"}, 0,
       L"C:\\T\\unpack\\child.exe", 0},
      {"the work directory before the system's", {L"child.exe", L"x"}, {L"child.exe"}, 0,
       L"C:\\T\\unpack\\child.exe", 0},
      {"a system program without its extension", {L"hostname", L"x"}, {}, 0, L"C:\\Windows\\system32\\hostname.exe", 0},
      {"the extensions in PATHEXT's order", {L"tool", L"x"}, {}, 0, L"C:\\Windows\\system32\\tool.bat", 0},
      {"a program of the Windows directory", {L"notepad", L"x"}, {}, 0, L"C:\\Windows\\notepad.exe", 0},
      {"a program in a folder of the machine's PATH", {L"powershell.exe", L"-File"}, {}, 0,
       L"C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe", 0},
      {"a program in the machine's quoted PATH folder", {L"mytool", L"x"}, {}, 0, L"C:\\Tools\\mytool.exe", 0},
      {"an absolute path with forward slashes", {L"C:/Tools/mytool.exe", L"x"}, {}, 0, L"C:\\Tools\\mytool.exe", 0},
      {"a program in a drive-relative PATH folder", {L"reltool", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a program in the user's own Path only", {L"usertool", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a name that leaves the work directory", {L"..\\x.exe", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a name that leaves it on the way", {L".\\sub\\..\\..\\x.exe", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a root-relative name", {L"\\x.exe", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a blank", {L" ", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a dot", {L".", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"two dots", {L"..", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a folder by its absolute path", {L"C:\\Windows", L"x"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a program the package lacks is not taken from the work directory", {L"inst.exe", L"x"}, {}, 0, nullptr,
       ERROR_FILE_NOT_FOUND},
      {"batch form", {}, {L"run.bat"}, 0, L"C:\\Windows\\system32\\cmd.exe", 0},
      {"batch form, one ignored argument", {L"x"}, {L"run.bat"}, 0, L"C:\\Windows\\system32\\cmd.exe", 0},
      {"no run.bat extracted: nothing searched", {}, {L"setup.msi"}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"extracted program by its full path", {L"inst.exe", L"/S"}, {L"inst.exe"}, 0, L"C:\\T\\unpack\\inst.exe", 0},
      {"a system program by name", {L"msiexec.exe", L"/i"}, {}, 0, L"C:\\Windows\\system32\\msiexec.exe", 0},
      {"an absolute path as given", {L"D:\\tools\\x.exe", L"a"}, {}, 0, L"D:\\tools\\x.exe", 0},
      {"a UNC path as given", {L"\\\\srv\\s\\x.exe", L"a"}, {}, 0, L"\\\\srv\\s\\x.exe", 0},
      {"a relative path", {L"sub\\x.exe", L"a"}, {L"x.exe"}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a drive-relative path", {L"C:x.exe", L"a"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"extraction failed: nothing runs", {L"D:\\x.exe", L"a"}, {}, ERROR_ACCESS_DENIED, nullptr, ERROR_ACCESS_DENIED},
      {"batch form after a failed extraction", {}, {L"run.bat"}, ERROR_HANDLE_EOF, nullptr, ERROR_HANDLE_EOF},
      {"no system environment: the user's would stay", {L"D:\\x.exe", L"a"}, {}, 0, nullptr, ERROR_ENVVAR_NOT_FOUND,
       nullptr},
  };
  for (const auto& row : table) {
    std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"setup.exe")};
    for (const wchar_t* arg : row.args) argv.push_back(const_cast<wchar_t*>(arg));
    CFakeDisk disk(row.extracted, kMachine);
    CLaunchInputs in;
    in.argc = static_cast<int>(argv.size());
    in.argv = argv.data();
    in.heldDir = L"C:\\T\\unpack\\";
    in.systemDir = L"C:\\Windows\\system32";
    in.machinePath = L"relative;C:rel;C:\\Windows\\system32\\WindowsPowerShell\\v1.0\\;\"C:\\Tools\"";
    in.logPath = L"C:\\Windows\\Temp\\unpack.log";
    in.systemEnvironment = row.block;
    in.refusal = row.refusal;
    in.extracted = &disk;
    in.probe = &disk;
    CLaunchPlan plan;
    ComposeLaunch(in, &plan);

    EXPECT_EQ(plan.refusal, row.file ? 0u : row.reason) << row.what;
    EXPECT_EQ(plan.notFound != FALSE, !row.file && row.reason == ERROR_FILE_NOT_FOUND && !plan.batch) << row.what;
    if (row.file) EXPECT_STREQ(plan.file, row.file) << row.what;
    EXPECT_STREQ(plan.directory, L"C:\\T\\unpack\\") << row.what;
    EXPECT_EQ(plan.batch != FALSE, row.args.size() < 2) << row.what;
    if (plan.batch) {
      EXPECT_STREQ(plan.shownFile, L"cmd.exe") << row.what << ": the log names the interpreter as before";
      EXPECT_STREQ(plan.parameters, L"/D /c run.bat > C:\\Windows\\Temp\\unpack.log.txt") << row.what;
    } else {
      EXPECT_STREQ(plan.shownFile, row.args[0]) << row.what << ": the log names the program as given";
    }
    if (!row.block) continue;
    // The system-defined variables come from the machine's block; those it
    // lacks are removed rather than left to the user.
    std::map<std::wstring, std::wstring> set;
    for (int i = 0; i < kSystemDefinedVariableCount; ++i)
      if (plan.environment.values[i]) set[kSystemDefinedVariables[i]] = plan.environment.values[i];
    EXPECT_EQ(set, (std::map<std::wstring, std::wstring>{{L"SystemRoot", L"C:\\Windows"},
                                                          {L"windir", L"C:\\Windows"},
                                                          {L"ComSpec", L"C:\\Windows\\system32\\cmd.exe"},
                                                          {L"PATHEXT", L".com;.exe;.bat"},
                                                          {L"Path", L"C:\\Windows\\system32"}}))
        << row.what;
  }
}

}  // namespace
