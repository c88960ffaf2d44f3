// The application object: the whole run of the launcher happens in its
// InitInstance, which always returns FALSE so that no message loop runs.
#pragma once

#include "framework/winapp.h"

class CUnPackFileApp : public CWinApp {
 public:
  CUnPackFileApp() = default;
  ~CUnPackFileApp() override = default;

  // The run sequence. Returns FALSE on every path; the process exit code is
  // then ExitInstance's 0.
  BOOL InitInstance() override;
};
