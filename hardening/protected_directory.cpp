#include "hardening/protected_directory.h"

#include "framework/handle.h"
#include "framework/system_dlls.h"
#include "hardening/handle_relative.h"
#include "hardening/tree_removal.h"

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

BOOL CProtectedDirectoryDescriptor::IsTrustedOwner(PSID owner) const {
  const CSystemApi* api = SystemApi();
  if (!api || !owner) return FALSE;
  for (const CSid& sid : m_sids)
    if (api->EqualSid(owner, const_cast<BYTE*>(sid.bytes))) return TRUE;
  return FALSE;
}

BOOL CProtectedDirectoryDescriptor::IsLaunchersOwn(PSECURITY_DESCRIPTOR stored) const {
  const CSystemApi* api = SystemApi();
  if (!api) return FALSE;
  SECURITY_DESCRIPTOR_CONTROL control = 0;
  DWORD revision = 0;
  PSID owner = nullptr;
  BOOL present = FALSE;
  BOOL defaulted = FALSE;
  PACL dacl = nullptr;
  if (!api->GetSecurityDescriptorControl(stored, &control, &revision) || !(control & SE_DACL_PROTECTED) ||
      !api->GetSecurityDescriptorOwner(stored, &owner, &defaulted) || !IsTrustedOwner(owner) ||
      !api->GetSecurityDescriptorDacl(stored, &present, &dacl, &defaulted) || !present || !dacl)
    return FALSE;
  const ACL* expected = reinterpret_cast<const ACL*>(m_acl);
  if (dacl->AceCount != expected->AceCount) return FALSE;
  for (DWORD i = 0; i < expected->AceCount; ++i) {
    ACE_HEADER* mine = nullptr;
    ACE_HEADER* theirs = nullptr;
    if (!api->GetAce(const_cast<ACL*>(expected), i, reinterpret_cast<void**>(&mine)) ||
        !api->GetAce(dacl, i, reinterpret_cast<void**>(&theirs)) || mine->AceSize != theirs->AceSize ||
        memcmp(mine, theirs, mine->AceSize) != 0)
      return FALSE;
  }
  return TRUE;
}

namespace {

const DWORD kSecurityBytes = 4096;

// The owner and access list of the object open on file, into a block of the
// heap (a page would not fit a frame).
BOOL ReadSecurity(const CSystemApi& api, HANDLE file, SECURITY_INFORMATION what, CHeapBlock* stored) {
  *stored = AllocZeroed(kSecurityBytes);
  DWORD needed = 0;
  return stored->IsValid() &&
         api.GetKernelObjectSecurity(file, what, static_cast<PSECURITY_DESCRIPTOR>(stored->Get()), kSecurityBytes,
                                     &needed);
}

}  // namespace

DWORD ClearLauncherLeftover(const wchar_t* path) {
  // Looked at first with every sharing, so that one held open is still
  // recognised; anything that is not a plain folder is somebody else's. Where
  // the system opens a link's target instead (Wine), it keeps no access list
  // either, so nothing there is ever taken for a launcher's own.
  CHandle looked = OpenItself(path, READ_CONTROL | FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  BY_HANDLE_FILE_INFORMATION info = {};
  const CSystemApi* api = SystemApi();
  CProtectedDirectoryDescriptor own;
  CHeapBlock stored;
  if (!looked.IsValid() || !::GetFileInformationByHandle(looked.Get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
      !api || !own.Build() ||
      !ReadSecurity(*api, looked.Get(), OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &stored) ||
      !own.IsLaunchersOwn(stored.Get()))
    return ERROR_ALREADY_EXISTS;
  // Without delete sharing: nothing in use inside (a process's current
  // directory among it) lets it open, and nobody renames it meanwhile.
  CHandle directory = OpenItself(path, DELETE | FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE);
  if (!directory.IsValid()) return ::GetLastError() ? ::GetLastError() : ERROR_ACCESS_DENIED;
  if (!IsFile(info, directory.Get())) return ERROR_ALREADY_EXISTS;
  return RemoveWholeTree(directory.Get());
}

BOOL HasTrustedOwner(HANDLE file) {
  const CSystemApi* api = SystemApi();
  CProtectedDirectoryDescriptor own;
  CHeapBlock stored;
  PSID owner = nullptr;
  BOOL defaulted = FALSE;
  if (!api || !ReadSecurity(*api, file, OWNER_SECURITY_INFORMATION, &stored) ||
      !api->GetSecurityDescriptorOwner(stored.Get(), &owner, &defaulted) || !owner)
    return TRUE;
  return own.Build() && own.IsTrustedOwner(owner);
}
