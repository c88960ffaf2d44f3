// The launcher's static objects, in one translation unit so that their order
// of construction is fixed: the application object first, then the guard,
// whose mutex exists before the framework entry runs. Process exit destroys
// them in reverse: the guard's handle is closed before the application goes.
//
// Before any of them, the process start-up below runs.
#include "launcher/app_objects.h"

#include "diagnostics/utility.h"
#include "framework/system_dlls.h"
#include "hardening/image_file.h"

namespace {

// The loader calls this once the image's imports, kernel32 and the C runtime
// alone, are in place, and before static construction and the entry: no
// code of the launcher has run yet, and no other DLL could have been loaded.
// The file is held as early as the process can, to leave a neighbour the
// least time to put another in its place.
void NTAPI StartUp(PVOID, DWORD reason, PVOID) {
  if (reason != DLL_PROCESS_ATTACH) return;
  RestrictDllSearchToSystem();
  CImageFile::Hold(CUtility::GetModulePath());
}

}  // namespace

// A TLS callback: the image's TLS directory lists the callbacks that lie
// between the C runtime's .CRT$XLA and .CRT$XLZ markers.
extern "C" __attribute__((used, section(".CRT$XLB"))) const PIMAGE_TLS_CALLBACK unpack_start_up = StartUp;

CUnPackFileApp theApp(theInstanceGuard);
CInstanceGuard theInstanceGuard(L"Global\\{47B9233E-7E50-46F2-B442-6A53F0D0F508}");
