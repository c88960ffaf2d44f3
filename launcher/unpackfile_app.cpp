#include "launcher/unpackfile_app.h"

#include "diagnostics/utility.h"

BOOL CUnPackFileApp::InitInstance() {
  CUtility::OSInfo();
  return FALSE;
}
