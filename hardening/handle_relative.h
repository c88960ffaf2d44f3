// Files reached through a directory handle the launcher holds, never by a
// path: a path to the work directory passes through %TEMP%, whose folders the
// unelevated user can turn into links at any moment, while a handle stays on
// the directory it was opened on.
#pragma once

#include <windows.h>
#include <winternl.h>

#include "framework/cstring.h"
#include "framework/handle.h"

// Opens or creates name, one component, inside the directory open on root,
// with the native call's access, sharing, disposition (FILE_CREATE, FILE_OPEN)
// and options; a link is opened as the link itself, never followed, where
// the system can. descriptor (may be null) is a new object's security. 0 with
// *opened holding the handle, or the system's error with *opened empty.
DWORD OpenBelow(HANDLE root, const wchar_t* name, ACCESS_MASK access, ULONG share, ULONG disposition, ULONG options,
                void* descriptor, CHandle* opened);

// Creates name inside root as an empty file for writing, shared with nobody;
// a file of that name (a package's earlier entry) is emptied, a link is
// opened as the link, so the write never reaches anything outside.
DWORD CreateFileBelow(HANDLE root, const wchar_t* name, CHandle* created);

// Opens the file or directory at path (a trailing backslash allowed) itself:
// a link at its end as the link, where the system can. Empty on failure,
// with the system's last error.
CHandle OpenItself(const wchar_t* path, DWORD access, DWORD share);

// TRUE when name inside root is a plain file with exactly one name: no link,
// no reparse point, no folder.
BOOL IsPlainFileBelow(HANDLE root, const wchar_t* name);

// Marks the file or empty directory open on file (with DELETE access) for
// deletion when its last handle closes. 0 or the system's error.
DWORD MarkForDeletion(HANDLE file);

// Marks the read-only file open on file (with DELETE access) for deletion
// without clearing its read-only attribute first, which another name of the
// same file elsewhere would lose too. 0, or the system's error where it has
// no such disposition.
DWORD MarkForDeletionIgnoringReadOnly(HANDLE file);

// Called for each entry of a directory (not "." and ".."): name is counted,
// not terminated. Returning a nonzero error stops the walk with it.
typedef DWORD (*EntryVisitor)(void* context, HANDLE directory, const wchar_t* name, int length, DWORD attributes);

// Walks the entries of the directory open on directory (with list access).
// 0 once all were visited, the visitor's error, or the system's.
DWORD ForEachEntry(HANDLE directory, EntryVisitor visit, void* context);

// TRUE when file is open on the file that identity describes (as
// GetFileInformationByHandle gave it): same volume, same file index.
BOOL IsFile(const BY_HANDLE_FILE_INFORMATION& identity, HANDLE file);
// TRUE when a and b are open on one file.
BOOL IsSameFile(HANDLE a, HANDLE b);

// Sets the attributes of the file open on file (with FILE_WRITE_ATTRIBUTES),
// its times left alone. 0 or the system's error.
DWORD SetAttributes(HANDLE file, DWORD attributes);
