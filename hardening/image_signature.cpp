#include "hardening/image_signature.h"

#include <softpub.h>
#include <wintrust.h>

#include "framework/handle.h"
#include "framework/system_dlls.h"

namespace {

using WinVerifyTrustFn = LONG(WINAPI*)(HWND, GUID*, LPVOID);

// ASN.1 decoding failures: the table's bytes are no signature at all.
const LONG kAsn1First = static_cast<LONG>(0x80093100);
const LONG kAsn1Last = static_cast<LONG>(0x800932FF);

}  // namespace

BOOL SignatureRefuses(LONG result) {
  switch (result) {
    case TRUST_E_BAD_DIGEST:            // the contents changed after signing
    case NTE_BAD_SIGNATURE:             // the signed digest itself changed
    case TRUST_E_NOSIGNATURE:           // a table the system reads no signature from
    case TRUST_E_SUBJECT_FORM_UNKNOWN:  // an image the system cannot take apart
    case CRYPT_E_BAD_MSG:
      return TRUE;
    default:
      return result >= kAsn1First && result <= kAsn1Last;
  }
}

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
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  LONG result = verify(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
  if (!SignatureRefuses(result)) return ERROR_SUCCESS;
  ::SetLastError(static_cast<DWORD>(result));
  return static_cast<DWORD>(result);
}
