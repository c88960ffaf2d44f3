// Text values of the registry, read with the launcher's own access to it.
// The launcher reads only machine keys for what it starts, and the user's
// own Path only to leave it out.
#pragma once

#include <windows.h>

#include "framework/cstring.h"

// The text (REG_SZ or REG_EXPAND_SZ, not expanded) of value name in key
// below root, in the registry view of the launcher's own width. FALSE when
// the key or the value is missing, is no text or cannot be read.
BOOL ReadRegistryText(HKEY root, const wchar_t* key, const wchar_t* name, CString* text);
