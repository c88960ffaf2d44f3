// Removing what a run left in its work directory, subfolders included. The
// folder lies where the unelevated user can make links, and programs the run
// started may have made some inside: a link is removed as a link, never
// entered, so the removal cannot reach anything outside.
#pragma once

#include <windows.h>

#include "framework/handle.h"

// Empties the directory held in *held through the handle, then lets the hold
// go and removes the directory itself, by its path from the handle (see
// PathOfDirectory for openedBy) and only when that path still opens the same
// directory. *held is empty afterwards. 0, or the first error met.
DWORD RemoveHeldTree(CHandle* held, const wchar_t* openedBy);

// Removes what lies at path (a trailing backslash allowed): a link as a link,
// a directory with everything inside; nothing else. 0 when nothing is left
// there, otherwise why not (a process holding the directory open, say).
DWORD RemoveTreeAt(const wchar_t* path);
