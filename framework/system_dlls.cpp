#include "framework/system_dlls.h"

#include <string.h>

#include "framework/handle.h"

namespace {

using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
using SetDllDirectoryWFn = BOOL(WINAPI*)(LPCWSTR);

// Set once the system itself keeps DLL searches in its directory.
bool g_searchRestricted = false;
CSystemApi g_api = {};
bool g_apiLoaded = false;

HMODULE Kernel32() { return ::GetModuleHandleW(L"kernel32.dll"); }

// The DLLs, and the names of their functions in CSystemApi's order, an empty
// name closing each DLL's list. One loop fills the table: the shipped image
// has no room for a call per function.
#define DLL_FILE(file) L"" #file ".dll",
#define DLL_END(file) "\0"
#define FUNCTION_NAME(name) #name "\0"
#define ONE(name) +1
const wchar_t* const kDlls[] = {UNPACK_SYSTEM_API(DLL_FILE, UNPACK_SYSTEM_API_NO_DLL)};
// Each DLL's names end where the next DLL begins: the first DLL's end is
// skipped, and the last one's added.
const char kFunctionNames[] = UNPACK_SYSTEM_API(DLL_END, FUNCTION_NAME) "\0";
const int kDllCount = sizeof(kDlls) / sizeof(kDlls[0]);
static_assert(sizeof(CSystemApi) == (0 UNPACK_SYSTEM_API(UNPACK_SYSTEM_API_NO_DLL, ONE)) * sizeof(FARPROC),
              "every slot of CSystemApi is a function pointer");

bool LoadApi(CSystemApi* api) {
  CModule modules[kDllCount];
  BYTE* slot = reinterpret_cast<BYTE*>(api);
  // Past the leading end marker that the first DLL's list generates.
  const char* name = kFunctionNames + 1;
  for (int i = 0; i < kDllCount; ++i, ++name) {
    modules[i].Reset(LoadSystemLibrary(kDlls[i]));
    if (!modules[i].IsValid()) return false;
    for (; *name; name += strlen(name) + 1, slot += sizeof(FARPROC)) {
      FARPROC function = ::GetProcAddress(modules[i].Get(), name);
      if (!function) return false;
      memcpy(slot, &function, sizeof(function));
    }
  }
  // Kept for the life of the process on purpose: the shell may leave threads
  // of its own running, and unloading it under them at exit would crash.
  for (CModule& module : modules) module.Release();
  return true;
}

}  // namespace

void RestrictDllSearchToSystem() {
  // Looked up at run time: Windows 7 has it only with its update, older
  // systems not at all.
  auto setDefault = FindFunction<SetDefaultDllDirectoriesFn>(Kernel32(), "SetDefaultDllDirectories");
  if (setDefault && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    g_searchRestricted = true;
    return;
  }
  // The launcher's own folder stays first in the search whatever is done
  // here: LoadSystemLibrary names full paths for that.
  auto setDirectory = FindFunction<SetDllDirectoryWFn>(Kernel32(), "SetDllDirectoryW");
  if (setDirectory) setDirectory(L"");
}

HMODULE LoadSystemLibrary(const wchar_t* name) {
  if (g_searchRestricted) return ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  wchar_t path[MAX_PATH + 1] = {};
  UINT len = ::GetSystemDirectoryW(path, MAX_PATH);
  if (len == 0 || len + 1 + lstrlenW(name) >= MAX_PATH) {
    ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return nullptr;
  }
  path[len] = L'\\';
  ::lstrcpynW(path + len + 1, name, MAX_PATH - len - 1);
  // With a full path, the DLL's own dependencies are searched for beside it
  // first, in the system directory, not beside the launcher.
  return ::LoadLibraryExW(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

const CSystemApi* SystemApi() {
  if (!g_apiLoaded) {
    // Loading is the table's own business: a caller that logs its last
    // error after a call through the table sees what that call left.
    DWORD callerError = ::GetLastError();
    g_apiLoaded = LoadApi(&g_api);
    if (g_apiLoaded) ::SetLastError(callerError);
  }
  return g_apiLoaded ? &g_api : nullptr;
}

void CRegKeyTraits::Close(HKEY key) {
  // A key exists only once the table was had.
  if (const CSystemApi* api = SystemApi()) api->RegCloseKey(key);
}
