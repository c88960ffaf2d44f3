// Junctions and symbolic links met while cleaning the work directory. The
// launcher runs elevated inside a folder that the user controls, so a link
// there may point anywhere: it is removed as a link or left alone, never
// followed.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

// The path without its trailing backslash: with one, the system looks at
// what a link points to instead of the link.
CString WithoutTrailingBackslash(const wchar_t* path);

// True when path (which may end with a backslash) exists and is a reparse
// point: a junction, a symbolic link, or another kind of link.
BOOL IsReparsePoint(const wchar_t* path);

// Removes the link at path itself, never what it points to. FALSE, touching
// nothing, when path is no reparse point or the system cannot open the link
// itself (it would then resolve it, so a removal by name could reach the
// target), or when the removal fails.
BOOL RemoveLinkOnly(const wchar_t* path);
