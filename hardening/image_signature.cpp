#include "hardening/image_signature.h"

#include <softpub.h>
#include <wintrust.h>

#include "framework/handle.h"
#include "framework/system_dlls.h"

namespace {

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);

}  // namespace

DWORD VerifyImageSignature(HANDLE file, const wchar_t* path) {
  // Loaded only now: most installers are verified never, and wintrust
  // brings the whole certificate machinery with it.
  CModule wintrust(LoadSystemLibrary(L"wintrust.dll"));
  auto verify = FindFunction<WinVerifyTrustFn>(wintrust.Get(), "WinVerifyTrust");
  if (!verify) return ERROR_SUCCESS;

  WINTRUST_FILE_INFO fileInfo;
  ::ZeroMemory(&fileInfo, sizeof(fileInfo));
  fileInfo.cbStruct = sizeof(fileInfo);
  fileInfo.pcwszFilePath = path;
  fileInfo.hFile = file;
  WINTRUST_DATA data;
  ::ZeroMemory(&data, sizeof(data));
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &fileInfo;
  data.dwStateAction = WTD_STATEACTION_IGNORE;
  // The digest is what matters; where the system can skip the chain it
  // does, and nothing may reach the network.
  data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL | WTD_HASH_ONLY_FLAG;
  // Read-only: the system only reads the action.
  static const GUID kAction = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  return static_cast<DWORD>(verify(static_cast<HWND>(INVALID_HANDLE_VALUE), const_cast<GUID*>(&kAction), &data));
}
