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

// Removes the directory open on directory (with DELETE and list access,
// not sharing deletion) with everything inside, only when all of it can go:
// when anything inside is open without sharing deletion, nothing is
// removed. 0, or the first error met.
DWORD RemoveWholeTree(HANDLE directory);
