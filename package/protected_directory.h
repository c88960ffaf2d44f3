// Creating the work directory so that only its rightful users can touch it.
// It lies in a folder the unelevated user controls, while the launcher and
// the programs it starts run elevated.
#pragma once

#include <windows.h>

// The security descriptor for the work directory: full control for SYSTEM,
// the Administrators group and the owner of this process's token, inherited
// by everything created inside, and nothing inherited from the parent folder.
class CProtectedDirectoryDescriptor {
 public:
  CProtectedDirectoryDescriptor() = default;
  CProtectedDirectoryDescriptor(const CProtectedDirectoryDescriptor&) = delete;
  CProtectedDirectoryDescriptor& operator=(const CProtectedDirectoryDescriptor&) = delete;

  // Builds the descriptor; FALSE when a SID or the access list cannot be made.
  BOOL Build();
  // The descriptor after a successful Build; it points into this object.
  SECURITY_DESCRIPTOR* Get() { return &m_descriptor; }

 private:
  struct CSid {
    alignas(DWORD) BYTE bytes[SECURITY_MAX_SID_SIZE];
  };
  static const int kSids = 3;

  CSid m_sids[kSids] = {};
  // Three allow entries at most, each a header, a mask and a SID.
  alignas(DWORD) BYTE m_acl[sizeof(ACL) + kSids * (sizeof(ACCESS_ALLOWED_ACE) + SECURITY_MAX_SID_SIZE)] = {};
  SECURITY_DESCRIPTOR m_descriptor = {};
};

// Creates the directory at path with that descriptor. Returns what
// CreateDirectoryW returns (FALSE when it exists already or cannot be made;
// the last error says why). When the descriptor cannot be built, nothing is
// created and the result is FALSE.
BOOL CreateProtectedDirectory(const wchar_t* path);
