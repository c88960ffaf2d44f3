// Whether a signed image still is what its publisher signed. A signed
// installer whose contents no longer match its signature (a damaged download,
// a changed byte) must not be extracted and run elevated. Who signed it, and
// whether anyone trusts them, is not judged here: the person at the elevation
// prompt is shown that.
#pragma once

#include <windows.h>

// Verifies the contents of the file open on file (read access) against the
// Authenticode signature in its certificate table, through that handle only;
// path merely names the file to the system. Uses wintrust.dll from the
// system directory, loaded for this call alone (unsigned runs never pay for
// it), with no UI and no network. The system's answer as it stands (which of
// them refuse a run is the package's rule, format/signature_answers.h); 0
// when the contents match and when the system cannot check at all.
DWORD VerifyImageSignature(HANDLE file, const wchar_t* path);
