// The Authenticode signature of a signed installer, checked by running
// `osslsigncode verify`, which recomputes the file's digest and compares it
// with the signed one. verify's layout checks cannot see a change that keeps
// the PE CheckSum (two aligned words swapped); this can.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/packfile/core/message_sink.h"
#include "tools/packfile/core/launcher_refusal.h"
#include "tools/packfile/core/verify.h"

// What is known of the signature, for verify's report and its JSON.
struct CSignatureFacts {
  bool checked = false;        // osslsigncode ran and read the signature
  bool toolMissing = false;    // osslsigncode is not in PATH: nothing could be checked
  std::string subject;         // the signer's certificate
  std::string issuer;
  // The signing-time attribute, which Windows never judges the certificate
  // by; ISO 8601 UTC, e.g. "2024-01-01T00:00:00Z".
  std::string signingTime;
  std::string digestAlgorithm; // e.g. "SHA256"
  bool digestMatches = false;
  SignatureDamage damage = SignatureDamage::kNone;  // what was found wrong with the signature
  bool launcherRefuses = false;  // a launcher checks this too, and extracts and runs nothing
  bool signerSignatureHolds = true;  // the signer's signature over its attributes verifies
  bool timestamped = false;
  std::string timestampTime;   // ISO 8601 UTC, read from the time-stamp token
  // Why Windows rejects the signer's certificate (judged now, or at the time
  // stamp's time), each a sentence; empty when it accepts it.
  std::vector<std::string> signerRefusals;
  int chainVerified = -1;      // -1 not checked (no --ca), 0 no, 1 yes
  std::vector<CFinding> findings;
};

// Reads the signer, its certificate's judgement, the signing time and the
// time stamp from the PKCS #7 signature in the certificate table of `path`;
// what cannot be read stays empty.
void ReadSignatureFacts(const std::string& path, std::uint64_t tableOffset, std::uint32_t tableSize,
                        CSignatureFacts* facts);

// Checks that `caFile` (--ca) can be read and holds PEM certificates; a
// kCannotCheck error otherwise, since nothing can be judged against it.
void CheckCaFile(const std::string& caFile, CDiagnostics& diagnostics);

// Checks the signature of the file at `path`, which carries a certificate
// table (`tableOffset`, `tableSize`): digest algorithm, whether the digest
// matches, signer, signing time, time stamp, and the certificate chain when
// `caFile` names the certificates to trust. The signer and signing time are
// read from the table itself, since osslsigncode stops describing a signature
// whose digest fails.
CSignatureFacts CheckSignature(const std::string& path, std::uint64_t tableOffset, std::uint32_t tableSize,
                               const std::string& caFile);
