#include "launcher/unpackfile_app.h"

#include <stdlib.h>

#include "diagnostics/log.h"
#include "framework/system_dlls.h"
#include "launcher/run_sequence.h"
#include "launcher/command_launch.h"
#include "package/unpack.h"
#include "resources/resource.h"

namespace {

// Whether anyone can see, and so answer, a box: not in a service or any
// other session whose window station is not the visible one. A box there
// would wait for ever and block an unattended deployment.
bool WindowStationVisible(const CSystemApi& api) {
  USEROBJECTFLAGS flags;
  ::ZeroMemory(&flags, sizeof(flags));
  DWORD needed = 0;
  return api.GetUserObjectInformationW(api.GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof(flags), &needed) &&
         (flags.dwFlags & WSF_VISIBLE);
}

// Tells the user why nothing happens; blocks until the box is dismissed.
// Where nobody could dismiss it, the launcher ends at once instead: its
// handle to the mutex would otherwise refuse every later installation too.
void ShowRefusalBox() {
  const CSystemApi* api = SystemApi();
  if (!api || !WindowStationVisible(*api)) return;
  CString text;
  CString caption;
  text.LoadString(IDS_ANOTHER_INSTANCE);
  caption.LoadString(IDS_PRODUCT_NAME);
  api->MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);
}

// The launcher is otherwise invisible: whoever started a damaged download
// learns why nothing happens, and what to send to support.
void ShowDamagedBox() {
  const CSystemApi* api = SystemApi();
  if (!api || !WindowStationVisible(*api)) return;
  CString format;
  CString text;
  CString caption;
  format.LoadString(IDS_DAMAGED_INSTALLER);
  text.Format(format, CUtility::GetLogPath().GetString());
  caption.LoadString(IDS_PRODUCT_NAME);
  api->MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONERROR);
}

class CLauncherSteps : public CRunSteps {
 public:
  void ShowAnotherInstance() override { ShowRefusalBox(); }
  void ShowDamaged() override { ShowDamagedBox(); }
  void LaunchAndWait(CUnPack& unpack, int argc, wchar_t** argv) override { ::LaunchAndWait(unpack, argc, argv); }
};

}  // namespace

void RunSequence(const CInstanceGuard& guard, const CRunSources& sources, CRunSteps& steps, int argc,
                 wchar_t** argv) {
  // Refused before the first log line: a second installation leaves no trace.
  if (guard.IsAnotherInstanceRunning()) {
    steps.ShowAnotherInstance();
    return;
  }
  CUtility::OSInfo();
  CUnPack unpack(sources.source, sources.workParent);
  // The run goes on to the command whatever was extracted, unless the
  // image itself no longer is what was signed.
  unpack.Run();
  if (DWORD refusal = unpack.ImageRefusal()) {
    RefuseLaunch(refusal);
    steps.ShowDamaged();
    return;
  }
  steps.LaunchAndWait(unpack, argc, argv);
}

CRunSteps& LauncherSteps() {
  static CLauncherSteps steps;
  return steps;
}

BOOL CUnPackFileApp::InitInstance() {
  RunSequence(m_guard, CRunSources(), LauncherSteps(), __argc, __wargv);
  return FALSE;
}
