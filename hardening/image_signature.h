// Whether a signed image still is what its publisher signed. A signed
// installer whose contents no longer match its signature (a damaged download,
// a changed byte) must not be extracted and run elevated. Who signed it, and
// whether anyone trusts them, is not judged here: the person at the elevation
// prompt is shown that.
#pragma once

#include <stdint.h>
#include <windows.h>

// Verifies the contents of the file open on file (read access), whose
// security entry's Size is signSize, against the Authenticode signature in
// its certificate table, through that handle only; path merely names the
// file to the system. Uses wintrust.dll from the system directory, loaded
// for this call alone (unsigned runs never pay for it), with no UI and no
// network. 0 when the contents match, when the answer concerns trust alone
// (publisher, root, time, revocation) and when the system cannot check at
// all; otherwise the verification's result (pe/signature_answers.h), the
// last error set to it too.
DWORD VerifyImageSignature(HANDLE file, const wchar_t* path, int32_t signSize);
