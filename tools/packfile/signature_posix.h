// The Authenticode signature of a signed installer, checked by running
// `osslsigncode verify`, which recomputes the file's digest and compares it
// with the signed one. verify's layout checks cannot see a change that keeps
// the PE CheckSum (two aligned words swapped); this can.
#pragma once

#include <string>
#include <vector>

#include "tools/packfile/verify.h"

// Findings (check kSignature) about the file at `path`, which carries a
// certificate table: digest algorithm, whether the digest matches, signer,
// signing time, time stamp, and the certificate chain when `caFile` names
// the certificates to trust. A failure when osslsigncode is missing, since
// an unchecked signature must not pass.
std::vector<CFinding> CheckSignature(const std::string& path, const std::string& caFile);
