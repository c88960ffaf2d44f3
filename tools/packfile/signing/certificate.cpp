#include "tools/packfile/signing/certificate.h"

#include <openssl/bio.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>

namespace {

using CX509 = std::unique_ptr<X509, decltype(&X509_free)>;

std::string Text(const ASN1_TIME* time) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new(BIO_s_mem()), &BIO_free);
  char* data = nullptr;
  if (!bio || ASN1_TIME_print(bio.get(), time) != 1) return "?";
  long length = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(length));
}

std::string Subject(X509* certificate) {
  char name[512] = {};
  X509_NAME_oneline(X509_get_subject_name(certificate), name, sizeof(name));
  return name;
}

void Judge(X509* certificate, std::int64_t signingTime, std::vector<CCertificateRefusal>* refusals) {
  std::string who = "the signing certificate " + Subject(certificate);
  time_t at = static_cast<time_t>(signingTime);
  std::unique_ptr<ASN1_TIME, decltype(&ASN1_TIME_free)> when(ASN1_TIME_set(nullptr, at), &ASN1_TIME_free);
  const ASN1_TIME* notAfter = X509_get0_notAfter(certificate);
  const ASN1_TIME* notBefore = X509_get0_notBefore(certificate);
  if (X509_cmp_time(notAfter, &at) < 0) {
    refusals->push_back({"certificate-expired", who + " expired on " + Text(notAfter) + ", before the signing time " +
                                                    Text(when.get()) + ": Windows rejects the signature"});
  } else if (X509_cmp_time(notBefore, &at) > 0) {
    refusals->push_back({"certificate-not-yet-valid", who + " is valid only from " + Text(notBefore) +
                                                          ", after the signing time " + Text(when.get()) +
                                                          ": Windows rejects the signature"});
  }
  // Without an extended key usage a certificate serves every purpose; with
  // one, it must name code signing, and its key usage must allow signatures.
  std::uint32_t flags = X509_get_extension_flags(certificate);
  bool purpose = !(flags & EXFLAG_XKUSAGE) || (X509_get_extended_key_usage(certificate) & XKU_CODE_SIGN);
  bool usage = !(flags & EXFLAG_KUSAGE) || (X509_get_key_usage(certificate) & KU_DIGITAL_SIGNATURE);
  if (!purpose || !usage) {
    refusals->push_back({"certificate-purpose", who + (purpose ? " does not allow digital signatures (key usage)"
                                                               : " lacks the code-signing purpose (extended key "
                                                                 "usage 1.3.6.1.5.5.7.3.3)") +
                                                    ": Windows rejects the signature"});
  }
}

}  // namespace

bool CheckCodeSigningCertificate(const std::string& bytes, std::int64_t signingTime,
                                 std::vector<CCertificateRefusal>* refusals, std::string* error) {
  std::unique_ptr<BIO, decltype(&BIO_free)> bio(BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size())),
                                                &BIO_free);
  CX509 certificate(bio ? PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr) : nullptr, &X509_free);
  if (!certificate) {
    const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
    certificate.reset(d2i_X509(nullptr, &cursor, static_cast<long>(bytes.size())));
  }
  if (!certificate) {
    *error = "holds no certificate that can be read (PEM or DER)";
    return false;
  }
  Judge(certificate.get(), signingTime, refusals);
  return true;
}

bool CheckPkcs12Certificate(const std::string& bytes, const std::string& password, std::int64_t signingTime,
                            std::vector<CCertificateRefusal>* refusals, std::string* error) {
  const unsigned char* cursor = reinterpret_cast<const unsigned char*>(bytes.data());
  std::unique_ptr<PKCS12, decltype(&PKCS12_free)> p12(d2i_PKCS12(nullptr, &cursor, static_cast<long>(bytes.size())),
                                                      &PKCS12_free);
  EVP_PKEY* key = nullptr;
  X509* leaf = nullptr;
  if (!p12 || PKCS12_parse(p12.get(), password.c_str(), &key, &leaf, nullptr) != 1 || leaf == nullptr) {
    EVP_PKEY_free(key);
    X509_free(leaf);
    *error = "cannot be opened with the password given";
    return false;
  }
  EVP_PKEY_free(key);
  CX509 certificate(leaf, &X509_free);
  Judge(certificate.get(), signingTime, refusals);
  return true;
}
