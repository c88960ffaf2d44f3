#include "log_reader.h"

#include <windows.h>

#include "scratch_dir.h"

std::wstring LogFilePath() {
  wchar_t windows[MAX_PATH + 1] = {};
  GetWindowsDirectoryW(windows, MAX_PATH);
  return std::wstring(windows) + L"\\Temp\\unpack.log";
}

bool DeleteLogFile() {
  DeleteFileW(LogFilePath().c_str());
  return GetFileAttributesW(LogFilePath().c_str()) == INVALID_FILE_ATTRIBUTES;
}

std::string LogBytes() { return ReadWholeFile(LogFilePath()); }

std::vector<std::wstring> LogLines() {
  std::string bytes = LogBytes();
  std::wstring text;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2)
    text += static_cast<wchar_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  std::vector<std::wstring> lines;
  size_t start = 0;
  for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2)
    lines.push_back(text.substr(start, end - start));
  if (start < text.size()) lines.push_back(text.substr(start));  // an unterminated tail shows up too
  return lines;
}
