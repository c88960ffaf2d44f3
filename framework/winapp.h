// The application base and the process entry. The one application object is
// a static derived from CWinApp; the entry calls its InitInstance once on the
// main thread and turns the outcome into the process exit code.
#pragma once

#include <windows.h>

class CWinApp {
 public:
  // Makes this object the current application. appName may be null.
  explicit CWinApp(const wchar_t* appName = nullptr);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;

  // Per-run work. TRUE would enter the message loop; FALSE ends the run.
  virtual BOOL InitInstance();
  // Shutdown after a FALSE InitInstance or the loop's end: the quit code,
  // which is 0 because no message was ever retrieved.
  virtual int ExitInstance();
  // The message loop. No window exists, so it only shuts down.
  virtual int Run();

  const wchar_t* m_pszAppName;
};

// The current application object, or null when none was constructed.
CWinApp* AfxGetApp();

// The framework entry: error mode, InitInstance, ExitInstance. Returns the
// process exit code; -1 when no application object exists.
int AfxWinMain(HINSTANCE instance, HINSTANCE previous, LPWSTR commandLine, int show);
