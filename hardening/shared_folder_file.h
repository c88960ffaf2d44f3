// Files the launcher writes in a folder that every user may write to (the
// Windows Temp folder). A neighbour without rights can plant a hard link or a
// link there, so that the elevated launcher's writes land in a file of the
// neighbour's choosing; these checks keep them in the file the name shows.
#pragma once

#include <windows.h>

#include "framework/cstring.h"
#include "framework/handle.h"

// TRUE when the open file is a plain file with exactly one name: not a
// reparse point, and no second hard link through which a write would reach
// some other name. FALSE too when the system cannot tell.
BOOL IsSingleLinkFile(HANDLE file);

// Removes the plain file at path (a hard link loses only this name; a link is
// left alone) and creates a new, empty file there, held in *held without
// delete sharing: until *held is closed, nothing else can be put at the path,
// while others may still open the file for reading and writing. A plain
// file with one name that cannot be removed (a reader holds it) is emptied
// and held instead. FALSE, with the system's last error and *held empty,
// when neither can be done (a link or a second hard link stays: error 80).
// A file owned by somebody else (where the owner can be read) is left alone
// too (error 5): the elevated launcher's files belong to Administrators,
// SYSTEM or its token's owner, never to the unelevated user. (Wine shows
// every file as the user's, so there an earlier run's file is left too.)
BOOL CreateFreshFile(const wchar_t* path, CHandle* held);

// base, a dot and eight hex digits from the system's random source, which
// nobody can foresee: a name a neighbour can neither take first nor exhaust.
// FALSE, *name empty, when the source fails.
BOOL UnforeseeableName(const wchar_t* base, CString* name);

// Creates a new file named UnforeseeableName(base) followed by suffix, held
// as CreateFreshFile holds its file, trying a few names; *name is the name
// without suffix. FALSE, with the system's last error, when none could be made.
BOOL CreateUnforeseeableFile(const wchar_t* base, const wchar_t* suffix, CString* name, CHandle* held);
