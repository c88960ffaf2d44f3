// The signing certificate as Windows will judge it: valid when Windows checks
// the file (now, or at the time stamp's time, which a requested time stamp
// also makes now), meant for code signing, and with its issuer at hand. A
// signature made with any other is accepted by the signer but rejected on
// the user's machine, so packfile refuses it before building, unless --allow
// names the refusal.
#pragma once

#include <openssl/x509.h>

#include <cstdint>
#include <string>
#include <vector>

// What was found wrong with a certificate; empty when it signs code.
struct CCertificateRefusal {
  std::string id;    // for --allow: one of the ids below
  std::string text;
};

// The refusals' ids, for --allow.
constexpr char kAllowCertificateExpired[] = "certificate-expired";
constexpr char kAllowCertificateNotYetValid[] = "certificate-not-yet-valid";
constexpr char kAllowCertificatePurpose[] = "certificate-purpose";

// The signer and what comes with it, read before anything is built.
struct CSignerReview {
  std::string error;  // why no certificate could be read; the rest is empty then
  std::vector<CCertificateRefusal> refusals;
  // Warning chain-incomplete's text: the signer's issuer is neither embedded
  // nor the signer itself. Empty when the chain is complete.
  std::string chainIncomplete;
};

// Judges `certificate` as Windows does at `at` (seconds since 1970), which
// `when` names ("now", "the time stamp's time 2024-01-01T00:00:00Z"); `who`
// starts each refusal's text. `validity` false: the purpose alone.
void JudgeCodeSigning(X509* certificate, const std::string& who, std::int64_t at, const std::string& when,
                      bool validity, std::vector<CCertificateRefusal>* refusals);

// Reviews the signer in `certificates` (PEM or DER bytes of --cert, the signer
// first) or, when `pkcs12` is given, in those PKCS#12 bytes opened with
// `password`; `chain` holds the bytes of each --chain file. Judged now.
CSignerReview ReviewSigner(const std::string& certificates, const std::string& pkcs12, const std::string& password,
                           const std::vector<std::string>& chain);

// The number of PEM certificates in `bytes` (as osslsigncode reads -CAfile and -ac).
int CountPemCertificates(const std::string& bytes);

// A certificate's subject, as OpenSSL writes a name on one line ("/CN=...").
std::string SubjectText(X509* certificate);

// An ASN.1 time as seconds since 1970; false when it cannot be read.
bool Asn1Seconds(const ASN1_TIME* time, std::int64_t* seconds);
