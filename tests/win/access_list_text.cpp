#include "access_list_text.h"

#include <sddl.h>

#include "framework/handle.h"

std::wstring SidText(PSID sid) {
  LPWSTR text = nullptr;
  if (!ConvertSidToStringSidW(sid, &text)) return L"?";
  std::wstring out(text);
  LocalFree(text);
  return out;
}

std::wstring TokenOwnerText() {
  HANDLE token = nullptr;
  OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token);
  CHandle owned(token);
  BYTE buffer[256] = {};
  DWORD size = 0;
  if (!GetTokenInformation(token, TokenOwner, buffer, sizeof(buffer), &size)) return L"?";
  return SidText(reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

std::vector<std::wstring> AllowedSids(PACL dacl, DWORD* commonFlags, DWORD* commonMask) {
  std::vector<std::wstring> sids;
  *commonFlags = *commonMask = ~0u;
  for (WORD i = 0; dacl && i < dacl->AceCount; ++i) {
    ACCESS_ALLOWED_ACE* ace = nullptr;
    if (!GetAce(dacl, i, reinterpret_cast<void**>(&ace)) || ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) {
      sids.push_back(L"not an allow entry");
      continue;
    }
    *commonFlags &= ace->Header.AceFlags;
    *commonMask &= ace->Mask;
    sids.push_back(SidText(&ace->SidStart));
  }
  return sids;
}
