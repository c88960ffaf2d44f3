#include "hardening/held_path.h"

#include "framework/cstring.h"
#include "framework/handle.h"
#include "framework/system_dlls.h"
#include "hardening/handle_relative.h"

namespace {

typedef DWORD(WINAPI* GetFinalPathNameByHandleWFn)(HANDLE, LPWSTR, DWORD, DWORD);

// The system writes its prefixes in one case only.
const wchar_t kLocalPrefix[] = L"\\\\?\\";
const wchar_t kRemotePrefix[] = L"\\\\?\\UNC\\";

}  // namespace

DWORD PathOfDirectory(HANDLE directory, const wchar_t* openedBy, CString* path) {
  path->Empty();
  // Looked up at run time: systems before Vista lack it.
  auto finalPath = FindFunction<GetFinalPathNameByHandleWFn>(::GetModuleHandleW(L"kernel32.dll"),
                                                             "GetFinalPathNameByHandleW");
  if (!finalPath) {
    if (!PathOpensDirectory(openedBy, directory)) return ERROR_ACCESS_DENIED;
    *path = openedBy;
    return 0;
  }
  wchar_t buffer[MAX_PATH + 8] = {};
  DWORD length = finalPath(directory, buffer, MAX_PATH + 7, 0);
  if (length == 0) return ::GetLastError() ? ::GetLastError() : ERROR_PATH_NOT_FOUND;
  if (length >= MAX_PATH + 7) return ERROR_FILENAME_EXCED_RANGE;
  if (StartsWith(buffer, kRemotePrefix) || !StartsWith(buffer, kLocalPrefix)) return ERROR_BAD_NETPATH;
  const wchar_t* local = buffer + ::lstrlenW(kLocalPrefix);
  // Room for the backslash and the terminator within the system's limit.
  if (::lstrlenW(local) + 2 > MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  *path = local;
  *path += L'\\';
  return 0;
}

BOOL PathOpensDirectory(const wchar_t* path, HANDLE held) {
  CHandle opened = OpenItself(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  return opened.IsValid() && IsSameFile(opened.Get(), held);
}
