#include "launcher/unpackfile_app.h"

#include <stdlib.h>

#include "diagnostics/utility.h"
#include "framework/system_dlls.h"
#include "launcher/app_objects.h"
#include "launcher/command_launch.h"
#include "package/unpack.h"
#include "resources/resource.h"

namespace {

// Tells the user why nothing happens; blocks until the box is dismissed.
void ShowRefusal() {
  CString text;
  CString caption;
  text.LoadString(IDS_ANOTHER_INSTANCE);
  caption.LoadString(IDS_PRODUCT_NAME);
  if (const CSystemApi* api = SystemApi()) api->MessageBoxW(nullptr, text, caption, MB_OK | MB_ICONINFORMATION);
}

}  // namespace

BOOL CUnPackFileApp::InitInstance() {
  // Refused before the first log line: a second installation leaves no trace.
  if (theInstanceGuard.IsAnotherInstanceRunning()) {
    ShowRefusal();
    return FALSE;
  }
  CUtility::OSInfo();
  CUnPack unpack;
  // The run goes on to the command whatever was extracted.
  unpack.Run();
  LaunchAndWait(unpack, __argc, __wargv);
  return FALSE;
}
