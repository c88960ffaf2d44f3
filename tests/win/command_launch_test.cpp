#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "framework/handle.h"
#include "launcher/command_launch.h"
#include "tests/support/argument_quoting.h"

namespace {

// Starts the test child program that sits beside this test program.
CHandle StartChild(const std::wstring& arguments) {
  wchar_t self[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self);
  dir = dir.substr(0, dir.find_last_of(L'\\') + 1);
  std::wstring exe = dir + L"test_child.exe";
  std::wstring commandLine = test_support::QuoteArgument(exe) + L" " + arguments;
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
    return CHandle();
  CHandle thread(info.hThread);
  return CHandle(info.hProcess);
}

TEST(WaitForChildTest, ReturnsTheExitCodeOnceTheChildHasEnded) {
  struct {
    const wchar_t* args;
    DWORD code;
  } table[] = {{L"exit 0", 0}, {L"exit 3", 3}, {L"exit 0xC0000005", 0xC0000005u}, {L"sleep 400 7", 7}};
  for (const auto& row : table) {
    CHandle child = StartChild(row.args);
    ASSERT_TRUE(child.IsValid());
    EXPECT_EQ(WaitForChild(child.Get(), 50), row.code) << row.args;
    EXPECT_EQ(WaitForSingleObject(child.Get(), 0), WAIT_OBJECT_0) << "returned before the child ended";
  }
}

// A wait that never ended would hang here until CTest's time limit.
TEST(WaitForChildTest, AChildWhoseExitCodeIs259DoesNotHoldTheWaitForever) {
  CHandle child = StartChild(L"exit 259");
  ASSERT_TRUE(child.IsValid());
  EXPECT_EQ(WaitForChild(child.Get(), 50), 259u);
  EXPECT_EQ(WaitForSingleObject(child.Get(), 0), WAIT_OBJECT_0);
}

TEST(WaitForChildTest, AHandleThatCannotBeQueriedEndsTheWaitWithTheCodeUnknown) {
  // A handle without query or synchronize rights: both checks fail.
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE weak = nullptr;
  ASSERT_TRUE(DuplicateHandle(GetCurrentProcess(), event, GetCurrentProcess(), &weak, 0, FALSE, 0));
  CHandle a(event), b(weak);
  EXPECT_EQ(WaitForChild(weak, 10), 0u) << "no code was ever read";
  EXPECT_EQ(WaitForSingleObject(event, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "the object itself never ended";
}

}  // namespace
