// Creating the work directory so that only its rightful users can touch it.
// It lies in a folder the unelevated user controls, while the launcher and
// the programs it starts run elevated.
#pragma once

#include <windows.h>

#include "framework/handle.h"

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
  // TRUE when stored (a directory's owner and access list, as read from
  // it) is what the launcher writes on its work directories: the owner is
  // SYSTEM, Administrators or this token's owner, and the access list is
  // protected and holds exactly this descriptor's entries. Nobody without
  // those rights can put that on a folder. Needs a successful Build.
  BOOL IsLaunchersOwn(PSECURITY_DESCRIPTOR stored) const;
  // TRUE when owner is one of SYSTEM, Administrators and this token's owner.
  BOOL IsTrustedOwner(PSID owner) const;

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

// Creates the directory name inside parent (a folder path, "" for the current
// directory) with that descriptor, and returns it held in *held: the one
// handle both creates it and keeps it, so nothing can stand in for it between
// the two. The handle lists the directory (sharing counts only for handles
// with data access) and shares reading and writing but not deletion: while it
// is open the directory can be neither renamed nor removed, yet processes can
// still start inside it. FALSE, with *held empty and the system's error in
// *error, when anything at all is already at that name or the descriptor
// cannot be built; TRUE with *error 0.
BOOL CreateHeldProtectedDirectory(const wchar_t* parent, const wchar_t* name, CHandle* held, DWORD* error);

// Removes the directory at path (a trailing backslash allowed) with all it
// holds, only when it is certainly a work directory a launcher made and left
// (see IsLaunchersOwn; read through the directory itself, never through a
// link) and nothing in it is in use. 0 once removed; ERROR_ALREADY_EXISTS
// for anything else at path, which is left as it is; the error met when a
// launcher's own directory cannot go as a whole (something in it is open).
DWORD ClearLauncherLeftover(const wchar_t* path);

// TRUE when the file open on file (with READ_CONTROL) has an owner this
// process may trust, or when its owner cannot be read at all.
BOOL HasTrustedOwner(HANDLE file);
