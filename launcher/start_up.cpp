// The process start-up of the elevated launcher, before any of its own code:
// DLLs only from the system directory, and the running image held. It stays
// in the executable: a TLS callback in a library object nobody references
// would be dropped by the linker.
#include <windows.h>

#include "diagnostics/log.h"
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
