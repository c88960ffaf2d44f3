// Which answers of the system's signature verification refuse a signed
// image, and the certificate table's place in the file. The launcher refuses
// by these lines and packfile's verify and extract predict with them, so the
// two refuse exactly the same files. Header-only and allocation-free: the
// launcher builds without the C++ standard headers.
//
// Refused are the answers that say the signed bytes or the signature block
// itself are damaged. Answers about trust (root, chain, usage, validity,
// revocation, policy) and answers that say the check could not be made are
// not: a machine's own policy must not make every signed installer look
// damaged; the person at the elevation prompt judges the publisher.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include "format/reading_rules.h"

// --- The answers -------------------------------------------------------------

constexpr uint32_t kNteBadSignature = 0x80090006;
constexpr uint32_t kCryptMsgError = 0x80091001;
constexpr uint32_t kCryptBadLen = 0x80092001;
constexpr uint32_t kCryptBadEncode = 0x80092002;
constexpr uint32_t kCryptFileError = 0x80092003;  // what a table not ending the file gets
constexpr uint32_t kCryptBadMsg = 0x8009200D;
constexpr uint32_t kCryptAsn1First = 0x80093100;  // the ASN.1 decoder's answers
constexpr uint32_t kCryptAsn1Last = 0x800932FF;
constexpr uint32_t kTrustCertSignature = 0x80096004;
constexpr uint32_t kTrustBadDigest = 0x80096010;
constexpr uint32_t kTrustSubjectFormUnknown = 0x800B0003;
constexpr uint32_t kTrustNoSignature = 0x800B0100;

// TRUE when answer, the verification's result for an image whose security
// entry's Size is signSize, says the image was changed after signing or its
// signature block cannot be read. "No signature" refuses only an image that
// carries a table: there it means the table is no signature.
inline bool SignatureAnswerRefuses(uint32_t answer, int32_t signSize) {
  switch (answer) {
    case kTrustBadDigest:           // the contents changed after signing
    case kNteBadSignature:          // the signed digest itself changed
    case kTrustCertSignature:       // the signer's signature value changed
    case kTrustSubjectFormUnknown:  // an image the system cannot take apart
    case kCryptMsgError:
    case kCryptBadLen:
    case kCryptBadEncode:
    case kCryptBadMsg:
      return true;
    case kTrustNoSignature:
      return signSize != 0;
    default:
      return answer >= kCryptAsn1First && answer <= kCryptAsn1Last;
  }
}

// The symbolic name of an answer, for reports; nullptr for one not listed
// (print its number then). Names trust answers too, which refuse nothing.
inline const char* SignatureAnswerName(uint32_t answer) {
  static const struct {
    uint32_t answer;
    const char* name;
  } kNames[] = {
      {0, "ERROR_SUCCESS"},
      {kNteBadSignature, "NTE_BAD_SIGNATURE"},
      {kCryptMsgError, "CRYPT_E_MSG_ERROR"},
      {kCryptBadLen, "CRYPT_E_BAD_LEN"},
      {kCryptBadEncode, "CRYPT_E_BAD_ENCODE"},
      {kCryptFileError, "CRYPT_E_FILE_ERROR"},
      {kCryptBadMsg, "CRYPT_E_BAD_MSG"},
      {0x80093100, "CRYPT_E_ASN1_ERROR"},
      {0x80093101, "CRYPT_E_ASN1_INTERNAL"},
      {0x80093102, "CRYPT_E_ASN1_EOD"},
      {0x80093103, "CRYPT_E_ASN1_CORRUPT"},
      {0x80093104, "CRYPT_E_ASN1_LARGE"},
      {0x80093105, "CRYPT_E_ASN1_CONSTRAINT"},
      {0x80093106, "CRYPT_E_ASN1_MEMORY"},
      {0x80093107, "CRYPT_E_ASN1_OVERFLOW"},
      {0x80093108, "CRYPT_E_ASN1_BADPDU"},
      {0x80093109, "CRYPT_E_ASN1_BADARGS"},
      {0x8009310A, "CRYPT_E_ASN1_BADREAL"},
      {0x8009310B, "CRYPT_E_ASN1_BADTAG"},
      {0x8009310C, "CRYPT_E_ASN1_CHOICE"},
      {0x8009310D, "CRYPT_E_ASN1_RULE"},
      {0x80093134, "CRYPT_E_ASN1_NYI"},
      {0x80093201, "CRYPT_E_ASN1_EXTENDED"},
      {0x80093202, "CRYPT_E_ASN1_NOEOD"},
      {0x80092004, "CRYPT_E_NOT_FOUND"},
      {0x80092013, "CRYPT_E_REVOCATION_OFFLINE"},
      {0x80096001, "TRUST_E_SYSTEM_ERROR"},
      {0x80096002, "TRUST_E_NO_SIGNER_CERT"},
      {0x80096003, "TRUST_E_COUNTER_SIGNER"},
      {kTrustCertSignature, "TRUST_E_CERT_SIGNATURE"},
      {0x80096005, "TRUST_E_TIME_STAMP"},
      {kTrustBadDigest, "TRUST_E_BAD_DIGEST"},
      {0x80096019, "TRUST_E_BASIC_CONSTRAINTS"},
      {0x800B0001, "TRUST_E_PROVIDER_UNKNOWN"},
      {0x800B0002, "TRUST_E_ACTION_UNKNOWN"},
      {kTrustSubjectFormUnknown, "TRUST_E_SUBJECT_FORM_UNKNOWN"},
      {0x800B0004, "TRUST_E_SUBJECT_NOT_TRUSTED"},
      {kTrustNoSignature, "TRUST_E_NOSIGNATURE"},
      {0x800B0101, "CERT_E_EXPIRED"},
      {0x800B0102, "CERT_E_VALIDITYPERIODNESTING"},
      {0x800B0103, "CERT_E_ROLE"},
      {0x800B0104, "CERT_E_PATHLENCONST"},
      {0x800B0105, "CERT_E_CRITICAL"},
      {0x800B0106, "CERT_E_PURPOSE"},
      {0x800B0107, "CERT_E_ISSUERCHAINING"},
      {0x800B0108, "CERT_E_MALFORMED"},
      {0x800B0109, "CERT_E_UNTRUSTEDROOT"},
      {0x800B010A, "CERT_E_CHAINING"},
      {0x800B010B, "TRUST_E_FAIL"},
      {0x800B010C, "CERT_E_REVOKED"},
      {0x800B010D, "CERT_E_UNTRUSTEDTESTROOT"},
      {0x800B010E, "CERT_E_REVOCATION_FAILURE"},
      {0x800B010F, "CERT_E_CN_NO_MATCH"},
      {0x800B0110, "CERT_E_WRONG_USAGE"},
      {0x800B0111, "TRUST_E_EXPLICIT_DISTRUST"},
      {0x800B0112, "CERT_E_UNTRUSTEDCA"},
      {0x800B0113, "CERT_E_INVALID_POLICY"},
      {0x800B0114, "CERT_E_INVALID_NAME"},
  };
  for (const auto& known : kNames) {
    if (known.answer == answer) return known.name;
  }
  return nullptr;
}

// --- Where the table lies ------------------------------------------------------

// The security entry's Address: for the certificate table a file offset.
inline uint32_t SecurityAddress(const uint8_t (&pe)[kPeHeaderBytes]) {
  return static_cast<uint32_t>(LoadI32(pe + SecuritySizeAt(OptionalMagic(pe)) - 4));
}

// TRUE when a certificate table at address, signSize bytes long, ends exactly
// where the file ends. A table cut short (a broken download) or one followed by
// appended bytes puts the stub header elsewhere than its signer put it; the
// image is refused before the system is asked (the answer is then
// kCryptFileError). Sizes of 0 or less are no table and always pass.
inline bool CertificateTableEndsFile(uint32_t address, int32_t signSize, uint64_t fileLength) {
  if (signSize <= 0) return true;
  return static_cast<uint64_t>(address) + static_cast<uint64_t>(signSize) == fileLength;
}
