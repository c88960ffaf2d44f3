#include "tools/packfile/core/shown_name.h"

#include <cstdint>
#include <cstdio>

#include "tools/packfile/core/cp1252.h"

namespace {

void AppendEscape(std::uint8_t byte, std::string* out) {
  char text[8];
  std::snprintf(text, sizeof(text), "\\x%02X", byte);
  *out += text;
}

}  // namespace

std::string ShownName(const std::string& cp1252) {
  std::string out;
  for (char c : cp1252) {
    auto byte = static_cast<std::uint8_t>(c);
    if (byte < 0x20 || byte == 0x7F || byte == '\\') {
      AppendEscape(byte, &out);
    } else {
      out += Cp1252ToUtf8(std::string(1, c));
    }
  }
  return out;
}

std::string ShownText(const std::string& utf8) {
  std::string out;
  for (std::size_t k = 0; k < utf8.size(); ++k) {
    auto byte = static_cast<std::uint8_t>(utf8[k]);
    auto next = k + 1 < utf8.size() ? static_cast<std::uint8_t>(utf8[k + 1]) : 0;
    if (byte < 0x20 || byte == 0x7F) {
      AppendEscape(byte, &out);
    } else if (byte == 0xC2 && next >= 0x80 && next <= 0x9F) {
      // U+0080..U+009F: some terminals take U+009B as the start of a command.
      AppendEscape(byte, &out);
      AppendEscape(next, &out);
      ++k;
    } else {
      out.push_back(utf8[k]);
    }
  }
  return out;
}

std::string EntryLabel(std::size_t index, const std::string& cp1252) {
  return "entry " + std::to_string(index + 1) + " (" + ShownName(cp1252) + ")";
}
