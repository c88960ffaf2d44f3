// The application object: the whole run of the launcher happens in its
// InitInstance, which always returns FALSE so that no message loop runs.
#pragma once

#include "framework/winapp.h"
#include "launcher/instance_guard.h"

class CUnPackFileApp : public CWinApp {
 public:
  // guard may be constructed after the application object (it is, in the
  // launcher): it is asked only once InitInstance runs.
  explicit CUnPackFileApp(const CInstanceGuard& guard) : m_guard(guard) {}
  ~CUnPackFileApp() override = default;

  // The run sequence (RunSequence) with the launcher's own steps. Returns
  // FALSE on every path; the process exit code is then ExitInstance's 0.
  BOOL InitInstance() override;

 private:
  const CInstanceGuard& m_guard;
};
