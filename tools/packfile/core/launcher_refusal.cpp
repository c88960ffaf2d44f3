#include "tools/packfile/core/launcher_refusal.h"

#include "format/signature_answers.h"

std::uint32_t LauncherAnswer(SignatureDamage damage) {
  switch (damage) {
    case SignatureDamage::kNone: return 0;
    case SignatureDamage::kTableNotAtEnd: return kCryptFileError;
    case SignatureDamage::kUnreadable: return kTrustNoSignature;
    case SignatureDamage::kDigestMismatch: return kTrustBadDigest;
    case SignatureDamage::kSignerSignature: return kTrustCertSignature;
  }
  return 0;
}

bool LauncherRefuses(SignatureDamage damage, std::int32_t signSize) {
  if (damage == SignatureDamage::kNone) return false;
  // The table's place is judged before the system is asked.
  if (damage == SignatureDamage::kTableNotAtEnd) return true;
  return SignatureAnswerRefuses(LauncherAnswer(damage), signSize);
}

std::string LauncherRefusalText(SignatureDamage damage) {
  const char* name = SignatureAnswerName(LauncherAnswer(damage));
  return std::string("a launcher refuses it (") + (name != nullptr ? name : "?") + "): it extracts and runs nothing";
}
