#include "tools/packfile/core/entry_digest.h"

#include <openssl/evp.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

std::string Sha256Hex(CByteSource& file, std::uint64_t offset, std::uint64_t size) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
  if (!context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) return "";
  std::vector<std::uint8_t> buffer(1 << 20);
  for (std::uint64_t left = size; left > 0;) {
    std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buffer.size(), left));
    std::size_t got = file.ReadAt(offset, buffer.data(), want);
    if (got == 0) return "";
    EVP_DigestUpdate(context.get(), buffer.data(), got);
    offset += got;
    left -= got;
  }
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (EVP_DigestFinal_ex(context.get(), digest, &length) != 1) return "";
  std::string hex;
  char pair[3];
  for (unsigned int k = 0; k < length; ++k) {
    std::snprintf(pair, sizeof(pair), "%02x", digest[k]);
    hex += pair;
  }
  return hex;
}
