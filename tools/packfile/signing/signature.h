// The Authenticode signature of a signed installer, checked by running
// `osslsigncode verify`, which recomputes the file's digest and compares it
// with the signed one. verify's layout checks cannot see a change that keeps
// the PE CheckSum (two aligned words swapped); this can.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/packfile/core/launcher_refusal.h"
#include "tools/packfile/core/verify.h"

// What is known of the signature, for verify's report and its JSON.
struct CSignatureFacts {
  bool checked = false;        // osslsigncode ran and read the signature
  bool toolMissing = false;    // osslsigncode is not in PATH: nothing could be checked
  std::string subject;         // the signer's certificate
  std::string issuer;
  std::string signingTime;     // as OpenSSL prints it, e.g. "Jan  1 00:00:00 2024 GMT"
  std::string digestAlgorithm; // e.g. "SHA256"
  bool digestMatches = false;
  SignatureDamage damage = SignatureDamage::kNone;  // what was found wrong with the signature
  bool launcherRefuses = false;  // a launcher checks this too, and extracts and runs nothing
  bool signerSignatureHolds = true;  // the signer's signature over its attributes verifies
  bool timestamped = false;
  std::string timestampTime;   // when osslsigncode shows it
  int chainVerified = -1;      // -1 not checked (no --ca), 0 no, 1 yes
  std::vector<CFinding> findings;
};

// Checks the signature of the file at `path`, which carries a certificate
// table (`tableOffset`, `tableSize`): digest algorithm, whether the digest
// matches, signer, signing time, time stamp, and the certificate chain when
// `caFile` names the certificates to trust. The signer and signing time are
// read from the table itself, since osslsigncode stops describing a signature
// whose digest fails.
CSignatureFacts CheckSignature(const std::string& path, std::uint64_t tableOffset, std::uint32_t tableSize,
                               const std::string& caFile);
