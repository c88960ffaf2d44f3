#include "framework/winapp.h"

#include <gtest/gtest.h>

namespace {

class RecordingApp : public CWinApp {
 public:
  explicit RecordingApp(BOOL init) : init_(init) {}
  BOOL InitInstance() override {
    ++initCalls;
    errorModeSeen = GetErrorMode();
    return init_;
  }
  int ExitInstance() override {
    ++exitCalls;
    return CWinApp::ExitInstance();
  }
  int initCalls = 0;
  int exitCalls = 0;
  UINT errorModeSeen = 0;

 private:
  BOOL init_;
};

TEST(CWinAppTest, FalseFromInitInstanceEndsWithExitInstancesZero) {
  SetErrorMode(0);
  RecordingApp app(FALSE);
  EXPECT_EQ(AfxGetApp(), &app);
  EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOWNORMAL), 0);
  EXPECT_EQ(app.initCalls, 1);
  EXPECT_EQ(app.exitCalls, 1);
  EXPECT_EQ(app.errorModeSeen & 0x8001u, 0x8001u) << "the error mode is set before InitInstance";
}

TEST(CWinAppTest, TrueFromInitInstanceEndsTheSameWay) {
  RecordingApp app(TRUE);
  EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOWNORMAL), 0);
  EXPECT_EQ(app.exitCalls, 1);
}

TEST(CWinAppTest, TheErrorModeKeepsWhatWasThere) {
  SetErrorMode(SEM_NOGPFAULTERRORBOX);
  RecordingApp app(FALSE);
  AfxWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOWNORMAL);
  EXPECT_EQ(app.errorModeSeen, 0x8001u | SEM_NOGPFAULTERRORBOX);
}

TEST(CWinAppTest, WithoutAnApplicationObjectTheEntryFails) {
  {
    RecordingApp gone(FALSE);
  }
  EXPECT_EQ(AfxGetApp(), nullptr);
  EXPECT_EQ(AfxWinMain(GetModuleHandleW(nullptr), nullptr, GetCommandLineW(), SW_SHOWNORMAL), -1);
}

}  // namespace
