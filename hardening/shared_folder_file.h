// Files the launcher writes in a folder that every user may write to (the
// Windows Temp folder). A neighbour without rights can plant a hard link or a
// link there, so that the elevated launcher's writes land in a file of the
// neighbour's choosing; these checks keep them in the file the name shows.
#pragma once

#include <windows.h>

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
BOOL CreateFreshFile(const wchar_t* path, CHandle* held);
