// Which signed installers a launcher refuses, predicted from what packfile
// can check itself and put in the launcher's own terms: each kind of damage
// is the answer the launcher's signature check gets for it, and whether
// that answer refuses comes from the table the launcher refuses by.
#pragma once

#include <cstdint>
#include <string>

enum class SignatureDamage {
  kNone,
  kTableNotAtEnd,    // the certificate table does not end the file
  kUnreadable,       // the table holds no signature that can be decoded
  kDigestMismatch,   // the file changed after it was signed
  kSignerSignature,  // the signer's signature over its attributes does not verify
};

// The answer a launcher's check gives for `damage`; 0 for kNone.
std::uint32_t LauncherAnswer(SignatureDamage damage);

// True when a launcher refuses an image with `damage` whose security entry
// gives `signSize`: it extracts nothing and runs nothing.
bool LauncherRefuses(SignatureDamage damage, std::int32_t signSize);

// "a launcher refuses it (TRUST_E_BAD_DIGEST): it extracts and runs nothing".
std::string LauncherRefusalText(SignatureDamage damage);
