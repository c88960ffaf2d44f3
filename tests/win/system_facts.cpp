#include "system_facts.h"

#include <windows.h>

#include <cstdlib>

namespace {

std::wstring ReadString(HKEY key, const wchar_t* name) {
  wchar_t value[256] = {};
  DWORD size = sizeof(value) - sizeof(wchar_t);
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(value), &size) != ERROR_SUCCESS ||
      type != REG_SZ)
    return std::wstring();
  return value;
}

}  // namespace

bool ReadRecordedVersion(RecordedVersion* version) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return false;
  std::wstring current = ReadString(key, L"CurrentVersion");
  std::wstring build = ReadString(key, L"CurrentBuildNumber");
  version->servicePack = ReadString(key, L"CSDVersion");
  RegCloseKey(key);
  size_t dot = current.find(L'.');
  if (dot == std::wstring::npos || build.empty()) return false;
  version->major = wcstoul(current.c_str(), nullptr, 10);
  version->minor = wcstoul(current.c_str() + dot + 1, nullptr, 10);
  version->build = wcstoul(build.c_str(), nullptr, 10);
  return true;
}

std::wstring BuiltProgramPath() {
  // Given by the build as the host path; Wine shows the host's root as Z:.
  std::wstring path = L"Z:" UNPACK_TEST_PROGRAM_HOST_PATH;
  for (auto& c : path)
    if (c == L'/') c = L'\\';
  return path;
}
