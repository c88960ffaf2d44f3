// The application base and the process entry. The one application object is
// a static derived from CWinApp; the entry calls its InitInstance once on the
// main thread, then its ExitInstance, whose result is the process exit code.
#pragma once

#include <windows.h>

class CWinApp {
 public:
  // Makes this object the current application.
  CWinApp();
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Per-run work. TRUE asks for a message loop, which with no window would
  // end at once: either result ends the run with ExitInstance.
  virtual BOOL InitInstance();
  // Shutdown after InitInstance: the quit code, which is 0 because no
  // message was ever retrieved.
  virtual int ExitInstance();
};

// The current application object, or null when none was constructed.
CWinApp* AfxGetApp();

// The framework entry: error mode, InitInstance, ExitInstance. Returns the
// process exit code; -1 when no application object exists.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
