// Security identifiers and access lists as text, so that tests compare and
// print them readably.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The SID as text ("S-1-5-18"); "?" when it cannot be converted.
std::wstring SidText(PSID sid);
// The owner this process's token gives what it creates.
std::wstring TokenOwnerText();
// The SIDs of the allow entries of dacl, in order; empty for a null list.
// *commonFlags and *commonMask keep the bits every entry has.
std::vector<std::wstring> AllowedSids(PACL dacl, DWORD* commonFlags, DWORD* commonMask);
