#include "hardening/machine_registry.h"

#include "framework/handle.h"
#include "framework/system_dlls.h"

namespace {

// A value longer than this is no path nor list the launcher hands on.
const DWORD kMaxTextUnits = 32767;

}  // namespace

BOOL ReadRegistryText(HKEY root, const wchar_t* key, const wchar_t* name, CString* text) {
  const CSystemApi* api = SystemApi();
  if (!api) return FALSE;
  HKEY opened = nullptr;
  if (api->RegOpenKeyExW(root, key, 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS) return FALSE;
  CRegKey owner(opened);
  CHeapBlock block = AllocZeroed((kMaxTextUnits + 1) * 2);
  wchar_t* buffer = static_cast<wchar_t*>(block.Get());
  if (!buffer) return FALSE;
  DWORD type = REG_NONE;
  DWORD bytes = kMaxTextUnits * 2;
  BOOL ok = api->RegQueryValueExW(opened, name, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &bytes) ==
                ERROR_SUCCESS &&
            (type == REG_SZ || type == REG_EXPAND_SZ);
  // The stored text need not end with a zero: the zeroed buffer ends it.
  if (ok) *text = buffer;
  return ok;
}
