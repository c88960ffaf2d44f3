#include "tests/support/log_lines.h"

#include <regex>

namespace test_support {

std::vector<std::wstring> DecodeLogLines(const std::string& bytes) {
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));
  return lines;
}

namespace {

const char kLinePattern[] = R"(^\[(\d+)\](\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)?  ([\s\S]*)  Err:(-?\d+)$)";

template <typename Char>
bool Split(const std::basic_string<Char>& text, CLogLineParts<Char>* parts) {
  static const std::basic_regex<Char> kLine(kLinePattern, kLinePattern + sizeof(kLinePattern) - 1);
  std::match_results<typename std::basic_string<Char>::const_iterator> m;
  if (!std::regex_match(text, m, kLine)) return false;
  parts->pid = m[1].str();
  parts->time = m[2].str();
  parts->message = m[3].str();
  parts->error = std::stol(m[4].str());
  return true;
}

}  // namespace

bool SplitLogLine(const std::wstring& text, CLogLineParts<wchar_t>* parts) { return Split(text, parts); }
bool SplitLogLine(const std::string& text, CLogLineParts<char>* parts) { return Split(text, parts); }

std::string Narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t wide : text) {
    unsigned long c = static_cast<unsigned long>(wide) & 0xFFFF;
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string RegexLiteral(const std::string& text) {
  static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
  return std::regex_replace(text, special, R"(\$&)");
}

}  // namespace test_support
