// The Authenticode signature of a signed installer, checked by running
// `osslsigncode verify`, which recomputes the file's digest and compares it
// with the signed one. verify's layout checks cannot see a change that keeps
// the PE CheckSum (two aligned words swapped); this can.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/packfile/core/verify.h"

// Findings (check kSignature) about the file at `path`, which carries a
// certificate table: digest algorithm, whether the digest matches, signer,
// signing time, time stamp, and the certificate chain when `caFile` names
// the certificates to trust. A failure when osslsigncode is missing, since
// an unchecked signature must not pass.
// The signer and signing time are read from the certificate table itself
// (`tableOffset`, `tableSize`), since osslsigncode stops describing a
// signature whose digest fails.
std::vector<CFinding> CheckSignature(const std::string& path, std::uint64_t tableOffset, std::uint32_t tableSize,
                                     const std::string& caFile);
