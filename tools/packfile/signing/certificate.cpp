#include "tools/packfile/signing/certificate.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509v3.h>

#include <ctime>
#include <memory>

#include "tools/packfile/core/json_text.h"

namespace {

using CX509 = std::unique_ptr<X509, decltype(&X509_free)>;

std::string Shown(const ASN1_TIME* time) {
  std::int64_t seconds = 0;
  return Asn1Seconds(time, &seconds) ? IsoUtcTime(seconds) : std::string("?");
}

// Every certificate in PEM bytes, else the one DER certificate they hold.
std::vector<CX509> ReadCertificates(const std::string& bytes, bool derToo) {
  std::vector<CX509> certificates;
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())),
                                                &BIO_free);
  while (bio) {
    X509* next = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
    if (next == nullptr) break;
    certificates.emplace_back(next, &X509_free);
  }
  if (certificates.empty() && derToo) {
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    X509* der = d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size()));
    if (der != nullptr) certificates.emplace_back(der, &X509_free);
  }
  return certificates;
}

// False with `error` when the PKCS#12 bytes do not open; the leaf first in `certificates`.
bool ReadPkcs12(const std::string& bytes, const std::string& password, std::vector<CX509>* certificates,
                std::string* error) {
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(bytes.size())),
                                                      &PKCS12_free);
  EVP_PKEY* key = nullptr;
  X509* leaf = nullptr;
  STACK_OF(X509)* others = nullptr;
  bool opened = p12 && PKCS12_parse(p12.get(), password.c_str(), &key, &leaf, &others) == 1 && leaf != nullptr;
  EVP_PKEY_free(key);
  if (leaf != nullptr) certificates->emplace_back(leaf, &X509_free);
  // Its own chain, which osslsigncode embeds with the leaf.
  while (others != nullptr && sk_X509_num(others) > 0) certificates->emplace_back(sk_X509_shift(others), &X509_free);
  sk_X509_pop_free(others, X509_free);
  if (!opened) *error = "cannot be opened with the password given";
  return opened;
}

}  // namespace

bool Asn1Seconds(const ASN1_TIME* time, std::int64_t* seconds) {
  std::tm parts = {};
  if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return false;
  *seconds = static_cast<std::int64_t>(timegm(&parts));
  return true;
}

std::string SubjectText(X509* certificate) {
  char name[512] = {};
  X509_NAME_oneline(X509_get_subject_name(certificate), name, sizeof(name));
  return name;
}

void JudgeCodeSigning(X509* certificate, const std::string& who, std::int64_t at, const std::string& when,
                      bool validity, std::vector<CCertificateRefusal>* refusals) {
  time_t moment = static_cast<time_t>(at);
  const ASN1_TIME* notAfter = X509_get0_notAfter(certificate);
  const ASN1_TIME* notBefore = X509_get0_notBefore(certificate);
  if (validity && X509_cmp_time(notAfter, &moment) < 0) {
    refusals->push_back({kAllowCertificateExpired, who + " expired on " + Shown(notAfter) + ", before " + when +
                                                         ": Windows rejects the signature"});
  } else if (validity && X509_cmp_time(notBefore, &moment) > 0) {
    refusals->push_back({kAllowCertificateNotYetValid, who + " is valid only from " + Shown(notBefore) +
                                                             ", after " + when + ": Windows rejects the signature"});
  }
  // Without an extended key usage a certificate serves every purpose; with
  // one, it must name code signing, and its key usage must allow signatures.
  std::uint32_t flags = X509_get_extension_flags(certificate);
  bool purpose = !(flags & EXFLAG_XKUSAGE) || (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN);
  bool usage = !(flags & EXFLAG_KUSAGE) || (X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE);
  if (!purpose || !usage) {
    refusals->push_back({kAllowCertificatePurpose, who + (purpose ? " does not allow digital signatures (key usage)"
                                                                    : " lacks the code-signing purpose (extended key "
                                                                      "usage 1.3.6.1.5.5.7.3.3)") +
                                                         ": Windows rejects the signature"});
  }
}

CSignerReview ReviewSigner(const std::string& certificates, const std::string& pkcs12, const std::string& password,
                           const std::vector<std::string>& chain) {
  CSignerReview review;
  std::vector<CX509> embedded;
  if (!pkcs12.empty()) {
    if (!ReadPkcs12(pkcs12, password, &embedded, &review.error)) return review;
  } else {
    embedded = ReadCertificates(certificates, true);
    if (embedded.empty()) {
      review.error = "holds no certificate that can be read (PEM or DER)";
      return review;
    }
  }
  for (const std::string& bytes : chain) {
    for (CX509& certificate : ReadCertificates(bytes, false)) embedded.push_back(std::move(certificate));
  }
  X509* signer = embedded.front().get();
  std::string who = "the signing certificate " + SubjectText(signer);
  std::int64_t now = static_cast<std::int64_t>(time(nullptr));
  JudgeCodeSigning(signer, who, now, "now (" + IsoUtcTime(now) + ")", true, &review.refusals);
  bool complete = X509_check_issued(signer, signer) == X509_V_OK;
  for (std::size_t k = 1; k < embedded.size() && !complete; ++k) {
    complete = X509_check_issued(embedded[k].get(), signer) == X509_V_OK;
  }
  if (!complete) {
    char issuer[512] = {};
    X509_NAME_oneline(X509_get_issuer_name(signer), issuer, sizeof(issuer));
    review.chainIncomplete = who + " was issued by " + issuer +
                             ", which is not embedded: a machine that does not hold it cannot build the chain "
                             "(--chain FILE embeds intermediates); a leaf issued directly by a root every "
                             "machine trusts needs nothing more";
  }
  return review;
}

int CountPemCertificates(const std::string& bytes) { return static_cast<int>(ReadCertificates(bytes, false).size()); }
