// The path of a directory the launcher holds, taken from the handle rather
// than from %TEMP%: the system resolves every link on the way, so the path
// names the held directory itself. On Windows no folder on such a path can
// be renamed or replaced while a handle below it is open; the launcher still
// checks, right before it hands the path on, that the path opens the
// directory it holds.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

// The path of the directory open on directory, with a trailing backslash.
// Where the system cannot tell it (before Vista), openedBy, the path the
// directory was opened by, once it is found to open that very directory.
// 0, or the system's error; ERROR_BAD_NETPATH for a directory on another
// machine, ERROR_FILENAME_EXCED_RANGE for one of 260 units or more.
DWORD PathOfDirectory(HANDLE directory, const wchar_t* openedBy, CString* path);

// TRUE when path (a trailing backslash allowed) opens, without following a
// link at its end, the very directory open on held.
BOOL PathOpensDirectory(const wchar_t* path, HANDLE held);
