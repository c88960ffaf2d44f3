#include "log_reader.h"

#include <windows.h>

#include "tests/support/log_lines.h"
#include "tests/support/scratch_folder.h"

std::wstring LogFilePath() {
  wchar_t windows[MAX_PATH + 1] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp\\unpack.log";
}

bool DeleteLogFile() {
  DeleteFileW(LogFilePath().c_str());
  return GetFileAttributesW(LogFilePath().c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string LogBytes() { return test_support::ReadWholeFile(LogFilePath()); }

std::vector<std::wstring> LogLines() { return test_support::DecodeLogLines(LogBytes()); }

std::vector<std::wstring> LogMessages() {
  std::vector<std::wstring> messages;
  for (const std::wstring& text : LogLines()) {
    test_support::CLogLineParts<wchar_t> parts;
    messages.push_back(test_support::SplitLogLine(text, &parts) ? parts.message : L"<unparsed> " + text);
  }
  return messages;
}
