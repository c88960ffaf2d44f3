#include "tools/packfile/core/json_text.h"

#include <cstdio>

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04X", byte);
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonErrorDocument(const std::string& schema, const std::string& file,
                              const std::vector<std::string>& errors) {
  std::string text;
  for (const std::string& error : errors) text += (text.empty() ? "" : "\n") + error;
  return "{\"schema\":" + JsonString(schema) + ",\"file\":" + JsonString(file) + ",\"error\":" + JsonString(text) +
         "}\n";
}
