// The process entry: the C runtime's start-up as far as the launcher needs
// it, then the framework at once.
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
// libgcc's and mingw's: runs the static constructors once.
void __main();
// The TLS directory of the runtime's TLS support; the loader calls the
// launcher's start-up callback (app_objects.cpp) through it.
extern const IMAGE_TLS_DIRECTORY _tls_used;

// Static objects register their destructors here; exit runs them.
int __cdecl atexit(void(__cdecl* function)()) {
  return _onexit(reinterpret_cast<CExitFunction>(function)) ? 0 : -1;
}

void __cdecl UnPackFileEntry() {
  // Referenced so that the linker keeps the TLS directory in the image.
  static const IMAGE_TLS_DIRECTORY* volatile tls = &_tls_used;
  (void)tls;
  __set_app_type(kGuiApp);
  int argc = 0;
  wchar_t** argv = nullptr;
  wchar_t** env = nullptr;
  CStartupInfo info = {0};
  // No wildcard expansion: the runtime start-up of this toolchain does none.
  __wgetmainargs(&argc, &argv, &env, 0, &info);
  __main();
  exit(AfxWinMain(::GetModuleHandleW(nullptr), nullptr, nullptr, SW_SHOWDEFAULT));
}
}
