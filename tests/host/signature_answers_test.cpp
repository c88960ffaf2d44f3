// The answers that refuse a signed image, and the table-end rule, as the
// launcher and packfile both apply them.
#include "format/signature_answers.h"

#include <string>

#include "gtest/gtest.h"

namespace {

TEST(SignatureAnswersTest, RefusesDamagedBlocksOnlyNeverTrustAnswers) {
  const struct {
    uint32_t answer;
    int32_t signSize;
    bool refuses;
    const char* name;
  } cases[] = {
      {0, 5992, false, "ERROR_SUCCESS"},
      {0x80096010, 5992, true, "TRUST_E_BAD_DIGEST"},
      {0x80090006, 5992, true, "NTE_BAD_SIGNATURE"},
      {0x80096004, 5992, true, "TRUST_E_CERT_SIGNATURE"},
      {0x800B0003, 5992, true, "TRUST_E_SUBJECT_FORM_UNKNOWN"},
      {0x800B0100, 5992, true, "TRUST_E_NOSIGNATURE"},
      {0x800B0100, 0, false, "TRUST_E_NOSIGNATURE"},  // no table: nothing to be damaged
      {0x80091001, 5992, true, "CRYPT_E_MSG_ERROR"},
      {0x80092001, 5992, true, "CRYPT_E_BAD_LEN"},
      {0x80092002, 5992, true, "CRYPT_E_BAD_ENCODE"},
      {0x8009200D, 5992, true, "CRYPT_E_BAD_MSG"},
      {0x80093100, 5992, true, "CRYPT_E_ASN1_ERROR"},
      {0x8009310B, 5992, true, "CRYPT_E_ASN1_BADTAG"},
      {0x80093202, 5992, true, "CRYPT_E_ASN1_NOEOD"},
      {0x800932FF, 5992, true, nullptr},
      {0x80093300, 5992, false, nullptr},
      {0x800930FF, 5992, false, nullptr},
      {0x800B0109, 5992, false, "CERT_E_UNTRUSTEDROOT"},
      {0x800B010A, 5992, false, "CERT_E_CHAINING"},
      {0x800B0110, 5992, false, "CERT_E_WRONG_USAGE"},
      {0x800B0101, 5992, false, "CERT_E_EXPIRED"},
      {0x800B010C, 5992, false, "CERT_E_REVOKED"},
      {0x80092013, 5992, false, "CRYPT_E_REVOCATION_OFFLINE"},
      {0x800B0113, 5992, false, "CERT_E_INVALID_POLICY"},
      {0x800B0111, 5992, false, "TRUST_E_EXPLICIT_DISTRUST"},
      {0x800B0004, 5992, false, "TRUST_E_SUBJECT_NOT_TRUSTED"},
      {0x80096001, 5992, false, "TRUST_E_SYSTEM_ERROR"},  // could not check
      {0x7A, 5992, false, nullptr},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SignatureAnswerRefuses(c.answer, c.signSize), c.refuses) << std::hex << c.answer;
    const char* name = SignatureAnswerName(c.answer);
    EXPECT_EQ(std::string(name ? name : "-"), std::string(c.name ? c.name : "-")) << std::hex << c.answer;
  }
}

TEST(SignatureAnswersTest, ATableMustEndTheFile) {
  const struct {
    uint32_t address;
    int32_t signSize;
    uint64_t fileLength;
    bool ends;
  } cases[] = {
      {233472, 5992, 239464, true},  {233472, 5992, 239463, false}, {233472, 5992, 239364, false},
      {233472, 5992, 239465, false}, {0xFFFFFFF0u, 0x20, 0x100000010ull, true}, {0, 0, 1000, true},
      {0, -1, 1000, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CertificateTableEndsFile(c.address, c.signSize, c.fileLength), c.ends) << c.address << " " << c.fileLength;
  }
}

TEST(SignatureAnswersTest, TheAddressIsReadBesideTheSize) {
  uint8_t pe[kPeHeaderBytes] = {};
  pe[pe::kOptionalHeaderAt] = 0x0B;
  pe[pe::kOptionalHeaderAt + 1] = 0x01;
  const uint8_t address[] = {0x00, 0x90, 0x03, 0x00};
  for (size_t k = 0; k < 4; ++k) pe[kSecuritySizeAtPe32 - 4 + k] = address[k];
  EXPECT_EQ(SecurityAddress(pe), 0x39000u);
  pe[pe::kOptionalHeaderAt] = 0x0B;
  pe[pe::kOptionalHeaderAt + 1] = 0x02;
  EXPECT_EQ(SecurityAddress(pe), 0u);
  for (size_t k = 0; k < 4; ++k) pe[kSecuritySizeAtPe32Plus - 4 + k] = address[k];
  EXPECT_EQ(SecurityAddress(pe), 0x39000u);
}

}  // namespace
