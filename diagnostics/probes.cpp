#include "diagnostics/log.h"
#include "format/log_vocabulary.h"
#include "framework/handle.h"
#include "framework/system_dlls.h"

namespace {

const wchar_t kLogSourceOSInfo[] = L"" UNPACK_LOG_SOURCE_OS_INFO;

// The basic version record, 276 bytes, as the OS line reports it.
OSVERSIONINFOW QueryVersion() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  ::GetVersionExW(&version);
  return version;
}

using IsWow64ProcessFn = BOOL(WINAPI*)(HANDLE, PBOOL);

}  // namespace

void CUtility::OSInfo() {
  OSVERSIONINFOW version = QueryVersion();
  LogOSLine(version, IsWow64());
}

void CUtility::LogOSLine(const OSVERSIONINFOW& version, BOOL wow64) {
  // "%S" takes the service-pack text in its 8-bit form.
  char servicePack[sizeof(version.szCSDVersion)] = {};
  ::WideCharToMultiByte(CP_ACP, 0, version.szCSDVersion, -1, servicePack, sizeof(servicePack) - 1,
                        nullptr, nullptr);
  Log(L"[%s] OS %d.%d(%d) %S x64:%d", kLogSourceOSInfo, static_cast<int>(version.dwMajorVersion),
      static_cast<int>(version.dwMinorVersion), static_cast<int>(version.dwBuildNumber), servicePack,
      wow64 ? 1 : 0);
}

BOOL CUtility::IsPreVista() { return QueryVersion().dwMajorVersion < 6; }

BOOL CUtility::IsWow64() {
  BOOL wow64 = FALSE;
  // Looked up at run time: systems before XP SP2 do not have the function.
  auto isWow64Process = FindFunction<IsWow64ProcessFn>(::GetModuleHandleW(L"kernel32"), "IsWow64Process");
  if (!isWow64Process) return FALSE;
  if (!isWow64Process(::GetCurrentProcess(), &wow64)) wow64 = FALSE;
  return wow64;
}

CString CUtility::GetModulePath() {
  wchar_t path[MAX_PATH + 1] = {};
  DWORD len = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
  // A path of 260 units or more comes back cut to 259; opening the cut path
  // would read some other file, so it counts as no path.
  if (len == 0 || len >= MAX_PATH) return CString();
  return CString(path);
}

BOOL CUtility::FileExists(const wchar_t* path) {
  return ::GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}
