#include "launcher/instance_guard.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace {

// A name no other test or launcher uses.
std::wstring UniqueName(const wchar_t* what) {
  return std::wstring(L"Local\\unpack-guard-test-") + what + L"-" + std::to_wstring(GetCurrentProcessId());
}

TEST(CInstanceGuardTest, TheFirstGuardIsAloneAndASecondOneIsNot) {
  std::wstring name = UniqueName(L"pair");
  CInstanceGuard first(name.c_str());
  EXPECT_FALSE(first.IsAnotherInstanceRunning());
  CInstanceGuard second(name.c_str());
  EXPECT_TRUE(second.IsAnotherInstanceRunning());
  // The refused guard's handle keeps the mutex alive after the first goes.
  first.Close();
  CInstanceGuard third(name.c_str());
  EXPECT_TRUE(third.IsAnotherInstanceRunning());
  second.Close();
  third.Close();
  CInstanceGuard fresh(name.c_str());
  EXPECT_FALSE(fresh.IsAnotherInstanceRunning()) << "once every handle is closed the name is free";
}

TEST(CInstanceGuardTest, RecreatingKeepsItsOwnMutex) {
  std::wstring name = UniqueName(L"recreate");
  CInstanceGuard guard(name.c_str());
  ASSERT_FALSE(guard.IsAnotherInstanceRunning());
  guard.Create();  // closes its handle first, so it is alone again
  EXPECT_FALSE(guard.IsAnotherInstanceRunning());
}

TEST(CInstanceGuardTest, AGuardWithoutANameNeverReportsAnotherInstance) {
  CInstanceGuard a(nullptr);
  CInstanceGuard b(nullptr);
  EXPECT_FALSE(a.IsAnotherInstanceRunning());
  EXPECT_FALSE(b.IsAnotherInstanceRunning());
}

TEST(CInstanceGuardTest, ANameHeldOnlyByAnotherProcessRefuses) {
  std::wstring name = UniqueName(L"other");
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  CHandle mutex(CreateMutexW(&inherit, FALSE, name.c_str()));
  ASSERT_TRUE(mutex.IsValid());
  // A suspended copy of this program inherits the handle and keeps it.
  wchar_t self[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring commandLine = L"\"" + std::wstring(self) + L"\" --gtest_list_tests";
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION child = {};
  ASSERT_TRUE(CreateProcessW(self, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr, nullptr,
                             &startup, &child));
  CHandle process(child.hProcess), thread(child.hThread);
  mutex.Reset();

  CInstanceGuard guard(name.c_str());
  EXPECT_TRUE(guard.IsAnotherInstanceRunning());

  TerminateProcess(process.Get(), 0);
  WaitForSingleObject(process.Get(), 10000);
  guard.Close();
  CInstanceGuard after(name.c_str());
  EXPECT_FALSE(after.IsAnotherInstanceRunning());
}

}  // namespace
