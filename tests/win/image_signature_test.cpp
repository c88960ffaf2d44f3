// Which verification answers refuse a signed image: only changed contents or
// a table that holds no signature; every answer about trust lets it run (Wine
// gives no trust answers, so the end-to-end tests cannot show this half).
#include "hardening/image_signature.h"

#include <gtest/gtest.h>
#include <wintrust.h>

namespace {

TEST(ImageSignatureTest, RefusesChangedContentsAndUnreadableSignaturesOnly) {
  const struct {
    LONG result;
    BOOL refuses;
  } cases[] = {
      {0, FALSE}, {TRUST_E_BAD_DIGEST, TRUE}, {TRUST_E_NOSIGNATURE, TRUE}, {CRYPT_E_ASN1_BADTAG, TRUE},
      {CERT_E_UNTRUSTEDROOT, FALSE}, {CERT_E_EXPIRED, FALSE}, {CERT_E_CHAINING, FALSE},
      {TRUST_E_EXPLICIT_DISTRUST, FALSE}, {CRYPT_E_REVOCATION_OFFLINE, FALSE}, {CERT_E_REVOKED, FALSE},
  };
  for (const auto& c : cases) EXPECT_EQ(SignatureRefuses(c.result), c.refuses) << std::hex << c.result;
}

}  // namespace
