// The signing certificate as Windows will judge it: valid at the signing
// time and meant for code signing. A signature made with any other is
// accepted by the signer but rejected on the user's machine, so packfile
// refuses it before building, unless --allow names the refusal.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What was found wrong with a certificate; empty when it signs code.
struct CCertificateRefusal {
  std::string id;    // for --allow: "certificate-expired", "certificate-not-yet-valid", "certificate-purpose"
  std::string text;
};

// Checks the first certificate in `pem` (PEM or DER bytes) at `signingTime`
// (seconds since 1970). False with `error` when no certificate can be read.
bool CheckCodeSigningCertificate(const std::string& bytes, std::int64_t signingTime,
                                 std::vector<CCertificateRefusal>* refusals, std::string* error);

// The same for the certificate in a PKCS#12 file's bytes, opened with `password`.
bool CheckPkcs12Certificate(const std::string& bytes, const std::string& password, std::int64_t signingTime,
                            std::vector<CCertificateRefusal>* refusals, std::string* error);
