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
    L"PATH=C:\\Windows\\system32\0\0";

// The work directory as the composition sees it, answered from a set.
class CFakeExtracted : public CExtractedFiles {
 public:
  explicit CFakeExtracted(std::set<std::wstring> names) : names_(std::move(names)) {}
  BOOL HasExtracted(const wchar_t* name) const override { return names_.count(name) != 0; }

 private:
  std::set<std::wstring> names_;
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
      {"batch form", {}, {L"run.bat"}, 0, L"C:\\Windows\\system32\\cmd.exe", 0},
      {"batch form, one ignored argument", {L"x"}, {L"run.bat"}, 0, L"C:\\Windows\\system32\\cmd.exe", 0},
      {"no run.bat extracted: nothing searched", {}, {L"setup.msi"}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"extracted program by its full path", {L"inst.exe", L"/S"}, {L"inst.exe"}, 0, L"C:\\T\\unpack\\inst.exe", 0},
      {"a system program by name", {L"msiexec.exe", L"/i"}, {}, 0, L"C:\\Windows\\system32\\msiexec.exe", 0},
      {"an absolute path as given", {L"D:\\tools\\x.exe", L"a"}, {}, 0, L"D:\\tools\\x.exe", 0},
      {"a UNC path as given", {L"\\\\srv\\s\\x.exe", L"a"}, {}, 0, L"\\\\srv\\s\\x.exe", 0},
      {"a relative path", {L"sub\\x.exe", L"a"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"a drive-relative path", {L"C:x.exe", L"a"}, {}, 0, nullptr, ERROR_FILE_NOT_FOUND},
      {"extraction failed: nothing runs", {L"D:\\x.exe", L"a"}, {}, ERROR_ACCESS_DENIED, nullptr, ERROR_ACCESS_DENIED},
      {"batch form after a failed extraction", {}, {L"run.bat"}, ERROR_HANDLE_EOF, nullptr, ERROR_HANDLE_EOF},
      {"no system environment: the user's would stay", {L"D:\\x.exe", L"a"}, {}, 0, nullptr, ERROR_ENVVAR_NOT_FOUND,
       nullptr},
  };
  for (const auto& row : table) {
    std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"setup.exe")};
    for (const wchar_t* arg : row.args) argv.push_back(const_cast<wchar_t*>(arg));
    CFakeExtracted extracted(row.extracted);
    CLaunchInputs in;
    in.argc = static_cast<int>(argv.size());
    in.argv = argv.data();
    in.heldDir = L"C:\\T\\unpack\\";
    in.systemDir = L"C:\\Windows\\system32";
    in.logPath = L"C:\\Windows\\Temp\\unpack.log";
    in.systemEnvironment = row.block;
    in.refusal = row.refusal;
    in.extracted = &extracted;
    CLaunchPlan plan;
    ComposeLaunch(in, &plan);

    EXPECT_EQ(plan.refusal, row.file ? 0u : row.reason) << row.what;
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
    // lacks are removed rather than left to the user. PATH is not one of them.
    std::map<std::wstring, std::wstring> set;
    for (int i = 0; i < kSystemDefinedVariableCount; ++i)
      if (plan.environment.values[i]) set[kSystemDefinedVariables[i]] = plan.environment.values[i];
    EXPECT_EQ(set, (std::map<std::wstring, std::wstring>{{L"SystemRoot", L"C:\\Windows"},
                                                          {L"windir", L"C:\\Windows"},
                                                          {L"ComSpec", L"C:\\Windows\\system32\\cmd.exe"}}))
        << row.what;
  }
}

}  // namespace
