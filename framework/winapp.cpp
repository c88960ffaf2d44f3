#include "framework/winapp.h"

namespace {

CWinApp* g_currentApp = nullptr;

// SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX: no system error box may
// stop an unattended install; started commands inherit the mode.
const UINT kErrorModeAdded = 0x8001;

}  // namespace

CWinApp::CWinApp() { g_currentApp = this; }

CWinApp::~CWinApp() {
  if (g_currentApp == this) g_currentApp = nullptr;
}

BOOL CWinApp::InitInstance() { return TRUE; }

int CWinApp::ExitInstance() { return 0; }

CWinApp* AfxGetApp() { return g_currentApp; }

int AfxWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  ::SetErrorMode(::SetErrorMode(0) | kErrorModeAdded);
  CWinApp* app = AfxGetApp();
  if (!app) return -1;
  app->InitInstance();
  return app->ExitInstance();
}
