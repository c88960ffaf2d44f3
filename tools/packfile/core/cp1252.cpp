#include "tools/packfile/core/cp1252.h"

#include <cstdint>

namespace {

// Code points of bytes 0x80-0x9F; 0 marks the five undefined bytes. Bytes
// 0xA0-0xFF equal their code points.
constexpr std::uint16_t kHighControls[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
    0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

constexpr std::uint32_t kInvalid = 0xFFFFFFFF;

// Decodes one UTF-8 sequence at `i`, advancing it; kInvalid for malformed,
// overlong or surrogate sequences.
std::uint32_t DecodeUtf8(const std::string& s, std::size_t* i) {
  auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  std::uint8_t lead = byte(*i);
  int extra;
  std::uint32_t cp;
  if (lead < 0x80) {
    ++*i;
    return lead;
  } else if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    cp = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    cp = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    cp = lead & 0x07;
  } else {
    return kInvalid;
  }
  if (s.size() - *i <= static_cast<std::size_t>(extra)) return kInvalid;
  for (int k = 1; k <= extra; ++k) {
    std::uint8_t next = byte(*i + k);
    if ((next & 0xC0) != 0x80) return kInvalid;
    cp = (cp << 6) | (next & 0x3F);
  }
  static constexpr std::uint32_t kMinimum[4] = {0, 0x80, 0x800, 0x10000};
  if (cp < kMinimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return kInvalid;
  *i += extra + 1;
  return cp;
}

// The Windows-1252 byte for a code point; -1 when the page lacks it.
int EncodeCp1252(std::uint32_t cp) {
  if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF)) return static_cast<int>(cp);
  for (int k = 0; k < 32; ++k) {
    if (kHighControls[k] != 0 && kHighControls[k] == cp) return 0x80 + k;
  }
  return -1;
}

}  // namespace

void AppendUtf8(std::uint32_t cp, std::string* out) {
  if (cp < 0x80) {
    out->push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

bool Utf8ToCp1252(const std::string& utf8, std::string* out) {
  std::string result;
  result.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    std::uint32_t cp = DecodeUtf8(utf8, &i);
    if (cp == kInvalid) return false;
    int byte = EncodeCp1252(cp);
    if (byte < 0) return false;
    result.push_back(static_cast<char>(byte));
  }
  *out = result;
  return true;
}

std::string Cp1252ToUtf8(const std::string& text) {
  std::string out;
  for (char c : text) {
    auto byte = static_cast<std::uint8_t>(c);
    std::uint32_t cp = byte;
    if (byte >= 0x80 && byte < 0xA0) cp = kHighControls[byte - 0x80] ? kHighControls[byte - 0x80] : 0xFFFD;
    AppendUtf8(cp, &out);
  }
  return out;
}

char Cp1252Upper(char c) {
  auto byte = static_cast<std::uint8_t>(c);
  if (byte >= 'a' && byte <= 'z') return static_cast<char>(byte - 0x20);
  if (byte >= 0xE0 && byte <= 0xFE && byte != 0xF7) return static_cast<char>(byte - 0x20);
  switch (byte) {
    case 0x9A: return static_cast<char>(0x8A);  // s caron
    case 0x9C: return static_cast<char>(0x8C);  // oe ligature
    case 0x9E: return static_cast<char>(0x8E);  // z caron
    case 0xFF: return static_cast<char>(0x9F);  // y diaeresis
    default: return c;
  }
}
