// What must hold after signing: the certificate table directly after the stub
// header, and a right CheckSum.
#pragma once

#include <cstdint>
#include <string>

// Checks the signed file at `path` whose package ended at `packageEnd`, and
// rewrites its CheckSum when the signer left it wrong (the field lies outside
// the signed digest). Returns false with `error` set when the certificate
// table is not where the launcher looks for it or the file cannot be read or
// patched; `fixedCheckSum` tells whether the field was rewritten.
bool CheckSignedOutput(const std::string& path, std::uint64_t packageEnd, bool* fixedCheckSum, std::string* error);
