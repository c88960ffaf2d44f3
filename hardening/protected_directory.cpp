#include "hardening/protected_directory.h"

#include "framework/handle.h"
#include "framework/system_dlls.h"
#include "hardening/handle_relative.h"

namespace {

BOOL WellKnownSid(const CSystemApi& api, WELL_KNOWN_SID_TYPE type, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  DWORD size = sizeof(sid);
  return api.CreateWellKnownSid(type, nullptr, sid, &size);
}

// The owner that new objects of this process get: the user who started it,
// or the Administrators group for an elevated administrator.
BOOL TokenOwnerSid(const CSystemApi& api, BYTE (&sid)[SECURITY_MAX_SID_SIZE]) {
  HANDLE raw = nullptr;
  if (!api.OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &raw)) return FALSE;
  CHandle token(raw);
  alignas(void*) BYTE buffer[sizeof(TOKEN_OWNER) + SECURITY_MAX_SID_SIZE] = {};
  DWORD size = 0;
  if (!api.GetTokenInformation(token.Get(), TokenOwner, buffer, sizeof(buffer), &size)) return FALSE;
  return api.CopySid(sizeof(sid), sid, reinterpret_cast<TOKEN_OWNER*>(buffer)->Owner);
}

}  // namespace

BOOL CProtectedDirectoryDescriptor::Build() {
  const CSystemApi* found = SystemApi();
  if (!found) return FALSE;
  const CSystemApi& api = *found;
  if (!WellKnownSid(api, WinLocalSystemSid, m_sids[0].bytes) ||
      !WellKnownSid(api, WinBuiltinAdministratorsSid, m_sids[1].bytes) || !TokenOwnerSid(api, m_sids[2].bytes))
    return FALSE;
  PACL acl = reinterpret_cast<PACL>(m_acl);
  if (!api.InitializeAcl(acl, sizeof(m_acl), ACL_REVISION)) return FALSE;
  for (int i = 0; i < kSids; ++i) {
    // The owner is often the Administrators group itself: one entry is enough.
    if (i == 2 && (api.EqualSid(m_sids[2].bytes, m_sids[0].bytes) || api.EqualSid(m_sids[2].bytes, m_sids[1].bytes)))
      continue;
    if (!api.AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, FILE_ALL_ACCESS,
                                   m_sids[i].bytes))
      return FALSE;
  }
  return api.InitializeSecurityDescriptor(&m_descriptor, SECURITY_DESCRIPTOR_REVISION) &&
         api.SetSecurityDescriptorDacl(&m_descriptor, TRUE, acl, FALSE) &&
         api.SetSecurityDescriptorControl(&m_descriptor, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
}

BOOL CreateHeldProtectedDirectory(const wchar_t* parent, const wchar_t* name, CHandle* held, DWORD* error) {
  held->Reset();
  CProtectedDirectoryDescriptor descriptor;
  if (!descriptor.Build()) {
    *error = ::GetLastError() ? ::GetLastError() : ERROR_INVALID_FUNCTION;
    return FALSE;
  }
  CHandle root(::CreateFileW(*parent ? parent : L".", FILE_TRAVERSE | SYNCHRONIZE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                             FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!root.IsValid()) {
    *error = ::GetLastError();
    return FALSE;
  }
  // The native "create, fail if anything exists" is the only creation of a
  // directory that hands back a handle to the very directory it made. No
  // DELETE access: a process started inside opens its current directory
  // without sharing deletion, which such a handle would refuse.
  *error = OpenBelow(root.Get(), name, FILE_LIST_DIRECTORY | FILE_TRAVERSE | FILE_READ_ATTRIBUTES,
                     FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_CREATE, FILE_DIRECTORY_FILE, descriptor.Get(), held);
  return *error == 0;
}
