// The process entry: the C runtime's start-up as far as the launcher needs
// it, then the framework at once.
//
// The image's TLS directory is the launcher's own too: the loader calls the
// start-up callback (app_objects.cpp) through it before anything else runs.
// The runtime's TLS support would add per-thread destructor machinery that
// the launcher never uses.
//
// The runtime's own start-up also sets up consoles, signals, an error
// reporter and the relocation of imported data, none of which the launcher
// uses, and the shipped image has no room for them. What the launcher needs
// is done here in the runtime's own order: the wide argument vector, split
// by the runtime itself (__argc and __wargv), static construction, the run,
// and exit, which runs the clean-up registered on the way (static objects
// in reverse order of construction).
#include <windows.h>

#include "framework/winapp.h"

namespace {

struct CStartupInfo {
  int newMode;
};

// msvcrt's GUI application type: its own error reports go to a box.
const int kGuiApp = 2;

}  // namespace

extern "C" {
int __cdecl __wgetmainargs(int* argc, wchar_t*** argv, wchar_t*** env, int expandWildcards, CStartupInfo* info);
void __cdecl __set_app_type(int type);
typedef int(__cdecl* CExitFunction)();
CExitFunction __cdecl _onexit(CExitFunction function);
void __cdecl exit(int code);
typedef void (*CConstructor)();
// The linker's list of static constructors: -1, the constructors, 0.
extern CConstructor __CTOR_LIST__[];

// What the loader reads: the per-thread data between the two markers (none
// but the markers), where to store the slot it gives the image, and the
// callbacks, which lie between the .CRT$XLA and .CRT$XLZ markers. Read-only
// apart from the slot, so that the image needs no writable data.
__attribute__((section(".tls"))) const char _tls_start = 0;
__attribute__((section(".tls$ZZZ"))) const char _tls_end = 0;
ULONG _tls_index;
__attribute__((used, section(".CRT$XLA"))) const PIMAGE_TLS_CALLBACK __xl_a = nullptr;
__attribute__((used, section(".CRT$XLZ"))) const PIMAGE_TLS_CALLBACK __xl_z = nullptr;
// IMAGE_TLS_DIRECTORY's layout, with pointers so that the linker fills it in.
struct CTlsDirectory {
  const void* rawDataStart;
  const void* rawDataEnd;
  ULONG* index;
  const PIMAGE_TLS_CALLBACK* callbacks;
  DWORD zeroFill;
  DWORD characteristics;
};
// The linker points the image's TLS entry at this name.
extern const CTlsDirectory _tls_used;
__attribute__((used)) const CTlsDirectory _tls_used = {&_tls_start, &_tls_end, &_tls_index, &__xl_a + 1, 0, 0};
static_assert(sizeof(CTlsDirectory) == sizeof(IMAGE_TLS_DIRECTORY), "the TLS directory's layout");

// Static objects register their destructors here; exit runs them.
int __cdecl atexit(void(__cdecl* function)()) {
  return _onexit(reinterpret_cast<CExitFunction>(function)) ? 0 : -1;
}

void __cdecl UnPackFileEntry() {
  // Referenced so that the linker keeps the TLS directory in the image.
  __asm__ volatile("" : : "r"(&_tls_used));
  __set_app_type(kGuiApp);
  int argc = 0;
  wchar_t** argv = nullptr;
  wchar_t** env = nullptr;
  CStartupInfo info = {0};
  // No wildcard expansion: the runtime start-up of this toolchain does none.
  __wgetmainargs(&argc, &argv, &env, 0, &info);
  // Static construction in the runtime's order: the list from its end.
  int count = 0;
  while (__CTOR_LIST__[count + 1]) ++count;
  while (count > 0) __CTOR_LIST__[count--]();
  exit(AfxWinMain(::GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOWDEFAULT));
}
}
