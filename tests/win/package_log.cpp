#include "package_log.h"

#include <regex>

#include "log_reader.h"

std::vector<std::wstring> LogMessages() {
  static const std::wregex line(LR"(^\[\d+\](?:\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)?  ([\s\S]*)  Err:-?\d+$)");
  std::vector<std::wstring> messages;
  for (const std::wstring& text : LogLines()) {
    std::wsmatch m;
    messages.push_back(std::regex_match(text, m, line) ? m[1].str() : L"<unparsed> " + text);
  }
  return messages;
}
