#include "tools/packfile/signing/signature.h"

#include <openssl/evp.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

#include <ctime>
#include <memory>
#include <sstream>

#include "bytes/file_bytes.h"

#include "tools/packfile/core/inputs.h"
#include "tools/packfile/core/json_text.h"
#include "tools/packfile/core/shown_name.h"
#include "tools/packfile/signing/certificate.h"
#include "tools/packfile/signing/run_tool.h"

namespace {

constexpr char kBy[] = " (osslsigncode verify)";
// Where Authenticode keeps an RFC 3161 time-stamp token.
constexpr char kRfc3161TokenOid[] = "1.3.6.1.4.1.311.3.3.1";

// What osslsigncode verify prints about the first signature.
struct CVerifyOutput {
  std::string algorithm, current, calculated, chainError;
  bool chainOk = false;
};

std::string After(const std::string& line, const std::string& key) {
  std::string::size_type at = line.find(key);
  if (at == std::string::npos) return "";
  std::string value = line.substr(at + key.size());
  value.erase(0, value.find_first_not_of(" \t"));
  while (!value.empty() && (value.back() == ' ' || value.back() == '\r')) value.pop_back();
  return value;
}

CVerifyOutput Parse(const std::string& text) {
  CVerifyOutput parsed;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    auto take = [&](const std::string& key, std::string* field) {
      if (field->empty() && line.find(key) != std::string::npos) *field = After(line, key);
    };
    take("Message digest algorithm  :", &parsed.algorithm);
    take("Current message digest    :", &parsed.current);
    take("Calculated message digest :", &parsed.calculated);
    // A mismatch is flagged after the digest: keep the digest alone.
    parsed.calculated = parsed.calculated.substr(0, parsed.calculated.find(' '));
    if (line.find("Signature verification: ok") != std::string::npos) parsed.chainOk = true;
    // OpenSSL's stack repeats osslsigncode's own "Error:" line in its terms.
    if (line.find(":error:") != std::string::npos) continue;
    take("Error:", &parsed.chainError);
    // osslsigncode's own reasons for refusing the signer, e.g. "Unsupported
    // Signer's certificate purpose XKU_CODE_SIGN", passed through as they are.
    if (parsed.chainError.empty() && (line.rfind("Unsupported", 0) == 0 || line.find("verify error") != std::string::npos ||
                                      line.find("certificate has expired") != std::string::npos)) {
      parsed.chainError = line;
      while (!parsed.chainError.empty() && parsed.chainError.back() == '\r') parsed.chainError.pop_back();
    }
  }
  return parsed;
}

// The time of an RFC 3161 token (a PKCS #7 signature over a TSTInfo) or of
// an older countersignature, among the signer's unsigned attributes.
bool TimestampSeconds(PKCS7_SIGNER_INFO* info, bool* stamped, std::int64_t* seconds) {
  std::unique_ptr<ASN1_OBJECT, decltype(&ASN1_OBJECT_free)> rfc3161(OBJ_txt2obj(kRfc3161TokenOid, 1),
                                                                     &ASN1_OBJECT_free);
  for (int k = 0; rfc3161 && k < X509at_get_attr_count(info->unauth_attr); ++k) {
    X509_ATTRIBUTE* attribute = X509at_get_attr(info->unauth_attr, k);
    ASN1_TYPE* value = X509_ATTRIBUTE_get0_type(attribute, 0);
    bool token = OBJ_cmp(X509_ATTRIBUTE_get0_object(attribute), rfc3161.get()) == 0;
    bool counter = OBJ_obj2nid(X509_ATTRIBUTE_get0_object(attribute)) == NID_pkcs9_countersignature;
    if (!token && !counter) continue;
    *stamped = true;
    if (value == nullptr || value->type != V_ASN1_SEQUENCE) continue;
    const unsigned char* cursor = value->value.sequence->data;
    long length = value->value.sequence->length;
    if (token) {
      std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &cursor, length), &PKCS7_free);
      std::unique_ptr<TS_TST_INFO, decltype(&TS_TST_INFO_free)> tst(p7 ? PKCS7_to_TS_TST_INFO(p7.get()) : nullptr,
                                                                    &TS_TST_INFO_free);
      if (tst && Asn1Seconds(TS_TST_INFO_get_time(tst.get()), seconds)) return true;
    } else {
      std::unique_ptr<PKCS7_SIGNER_INFO, decltype(&PKCS7_SIGNER_INFO_free)> countersigner(
          d2i_PKCS7_SIGNER_INFO(nullptr, &cursor, length), &PKCS7_SIGNER_INFO_free);
      ASN1_TYPE* time = countersigner ? PKCS7_get_signed_attribute(countersigner.get(), NID_pkcs9_signingTime)
                                      : nullptr;
      if (time != nullptr && Asn1Seconds(time->value.utctime, seconds)) return true;
    }
  }
  return false;
}

// Windows judges the signer's certificate at the time stamp's time, or
// without one when it checks the file: now.
void JudgeSigner(X509* signer, bool stamped, bool stampTimeKnown, std::int64_t stampTime, CSignatureFacts* facts) {
  std::int64_t now = static_cast<std::int64_t>(time(nullptr));
  std::string when = stamped ? "the time stamp's time " + IsoUtcTime(stampTime)
                             : "now (" + IsoUtcTime(now) + ") and the signature carries no time stamp";
  std::vector<CCertificateRefusal> refusals;
  JudgeCodeSigning(signer, "the signer's certificate " + SubjectText(signer), stamped ? stampTime : now, when,
                   !stamped || stampTimeKnown, &refusals);
  for (const CCertificateRefusal& refusal : refusals) facts->signerRefusals.push_back(refusal.text);
}

// True unless the signer's signature over its authenticated attributes
// fails with the signer's own key: a changed byte in the signature block
// that leaves the file's digest alone.
bool SignerSignatureHolds(PKCS7_SIGNER_INFO* info, X509* signer) {
  EVP_PKEY* key = signer != nullptr ? X509_get0_pubkey(signer) : nullptr;
  const EVP_MD* md = EVP_get_digestbyobj(info->digest_alg->algorithm);
  if (key == nullptr || md == nullptr || info->auth_attr == nullptr || info->enc_digest == nullptr) return true;
  unsigned char* attributes = nullptr;
  int length = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE*>(info->auth_attr), &attributes,
                             ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
  if (length <= 0) return true;
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  bool holds = context && EVP_DigestVerifyInit(context.get(), nullptr, md, nullptr, key) == 1 &&
               EVP_DigestVerify(context.get(), info->enc_digest->data, static_cast<std::size_t>(info->enc_digest->length),
                                attributes, static_cast<std::size_t>(length)) == 1;
  OPENSSL_free(attributes);
  return holds;
}

}  // namespace

void ReadSignatureFacts(const std::string& path, std::uint64_t tableOffset, std::uint32_t tableSize,
                        CSignatureFacts* facts) {
  CFileSource file(path);
  if (tableSize <= 8) return;
  std::vector<unsigned char> blob(tableSize - 8);
  if (!file.IsOpen() || !ReadExact(file, tableOffset + 8, blob.data(), blob.size())) return;
  const unsigned char* cursor = blob.data();
  std::unique_ptr<PKCS7, decltype(&PKCS7_free)> p7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(blob.size())),
                                                   &PKCS7_free);
  if (!p7 || !PKCS7_type_is_signed(p7.get())) return;
  STACK_OF(PKCS7_SIGNER_INFO)* infos = PKCS7_get_signer_info(p7.get());
  if (infos == nullptr || sk_PKCS7_SIGNER_INFO_num(infos) < 1) return;
  PKCS7_SIGNER_INFO* info = sk_PKCS7_SIGNER_INFO_value(infos, 0);
  std::int64_t stampTime = 0;
  bool stampTimeKnown = TimestampSeconds(info, &facts->timestamped, &stampTime);
  if (stampTimeKnown) facts->timestampTime = IsoUtcTime(stampTime);
  X509* signer = X509_find_by_issuer_and_serial(p7->d.sign->cert, info->issuer_and_serial->issuer,
                                                info->issuer_and_serial->serial);
  if (signer != nullptr) {
    facts->subject = SubjectText(signer);
    char name[512] = {};
    X509_NAME_oneline(X509_get_issuer_name(signer), name, sizeof(name));
    facts->issuer = name;
    JudgeSigner(signer, facts->timestamped, stampTimeKnown, stampTime, facts);
  }
  facts->signerSignatureHolds = SignerSignatureHolds(info, signer);
  ASN1_TYPE* time = PKCS7_get_signed_attribute(info, NID_pkcs9_signingTime);
  std::int64_t signingTime = 0;
  if (time != nullptr && (time->type == V_ASN1_UTCTIME || time->type == V_ASN1_GENERALIZEDTIME) &&
      Asn1Seconds(time->value.utctime, &signingTime)) {
    facts->signingTime = IsoUtcTime(signingTime);
  }
}

void CheckCaFile(const std::string& caFile, CDiagnostics& diagnostics) {
  std::string bytes, reason;
  if (!ReadInput(caFile, &bytes, &reason)) {
    diagnostics.Error("--ca " + caFile + ": cannot open: " + reason, Fault::kCannotCheck);
  } else if (bytes.empty()) {
    diagnostics.Error("--ca " + caFile + ": is empty", Fault::kCannotCheck);
  } else if (CountPemCertificates(bytes) == 0) {
    diagnostics.Error("--ca " + caFile + ": holds no PEM certificate, so no chain can be checked against it",
                      Fault::kCannotCheck);
  }
}

CSignatureFacts CheckSignature(const std::string& path, std::uint64_t tableOffset, std::uint32_t tableSize,
                               const std::string& caFile) {
  CSignatureFacts facts;
  auto add = [&](CheckId check, Severity severity, const std::string& text) {
    facts.findings.push_back(CFinding{check, severity, ShownText(text)});
  };
  std::string tool = FindInPath("osslsigncode");
  if (tool.empty()) {
    facts.toolMissing = true;
    add(CheckId::kSignature, Severity::kFailure,
        "signature not checked: osslsigncode was not found in PATH (Debian package osslsigncode)");
    return facts;
  }
  std::vector<std::string> args = {"osslsigncode", "verify", "-in", path};
  if (!caFile.empty()) args.insert(args.end(), {"-CAfile", caFile});
  std::string output;
  RunCaptured(tool, args, "", &output);
  CVerifyOutput parsed = Parse(output);
  if (parsed.current.empty() || parsed.calculated.empty()) {
    std::string why;
    for (const std::string& line : ToolMessages(output)) why += (why.empty() ? "" : "; ") + line;
    facts.damage = SignatureDamage::kUnreadable;
    facts.launcherRefuses = LauncherRefuses(facts.damage, static_cast<std::int32_t>(tableSize));
    add(CheckId::kSignature, Severity::kFailure,
        std::string("the signature cannot be read") + kBy + (why.empty() ? "" : ": " + why) +
            (facts.launcherRefuses ? "; " + LauncherRefusalText(facts.damage) : ""));
    return facts;
  }
  facts.checked = true;
  facts.digestAlgorithm = parsed.algorithm;
  facts.digestMatches = parsed.current == parsed.calculated;
  if (!facts.digestMatches) {
    facts.damage = SignatureDamage::kDigestMismatch;
    facts.launcherRefuses = LauncherRefuses(facts.damage, static_cast<std::int32_t>(tableSize));
    add(CheckId::kSignatureDigest, Severity::kFailure,
        "the file's " + parsed.algorithm + " digest " + parsed.calculated + " does not match the signed digest " +
            parsed.current + ": the file was changed after it was signed" + kBy + "; " +
            LauncherRefusalText(facts.damage));
  } else {
    add(CheckId::kSignatureDigest, Severity::kOk, parsed.algorithm + " digest matches the file" + kBy);
  }
  if (parsed.algorithm == "SHA1") {
    add(CheckId::kSignatureAlgorithm, Severity::kWarning,
        "SHA-1 digest: certificate authorities no longer issue code-signing certificates for it");
  }
  ReadSignatureFacts(path, tableOffset, tableSize, &facts);
  if (!facts.signerSignatureHolds && facts.damage == SignatureDamage::kNone) {
    facts.damage = SignatureDamage::kSignerSignature;
    facts.launcherRefuses = LauncherRefuses(facts.damage, static_cast<std::int32_t>(tableSize));
    add(CheckId::kSigner, Severity::kFailure,
        "the signer's signature over its attributes does not verify with its own key: the signature block was "
        "changed; " + LauncherRefusalText(facts.damage));
  }
  add(CheckId::kSigner, Severity::kOk,
      "signed by " +
          (facts.subject.empty() ? std::string("a signer whose certificate is not in the table") : facts.subject) +
          (facts.signingTime.empty() ? "" : ", signing time " + facts.signingTime));
  for (const std::string& refusal : facts.signerRefusals) add(CheckId::kSigner, Severity::kFailure, refusal);
  if (!facts.timestampTime.empty()) {
    add(CheckId::kTimestamp, Severity::kOk, "time stamp " + facts.timestampTime);
  } else if (facts.timestamped) {
    add(CheckId::kTimestamp, Severity::kOk, "time stamped (the time-stamp token's time cannot be read)");
  } else {
    add(CheckId::kTimestamp, Severity::kWarning,
        "no time stamp: the signature is trusted only while the certificate is valid");
  }
  if (facts.damage != SignatureDamage::kNone) return facts;
  if (caFile.empty()) {
    add(CheckId::kCertificateChain, Severity::kOk, "certificate chain not checked (--ca FILE checks it)");
  } else if (parsed.chainOk) {
    facts.chainVerified = 1;
    add(CheckId::kCertificateChain, Severity::kOk, "certificate chain verifies against " + caFile);
  } else {
    facts.chainVerified = 0;
    add(CheckId::kCertificateChain, Severity::kFailure,
        "certificate chain does not verify against " + caFile +
            (parsed.chainError.empty() ? "" : ": osslsigncode: " + parsed.chainError) +
            (parsed.chainError.find("XKU_CODE_SIGN") != std::string::npos
                 ? " (the signer's certificate lacks the code-signing purpose)"
                 : ""));
  }
  return facts;
}
