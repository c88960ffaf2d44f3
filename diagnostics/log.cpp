#include <stdarg.h>
#include <stdio.h>
#include <time.h>
#include <wchar.h>

#include "diagnostics/log.h"
#include "format/log_vocabulary.h"
#include "framework/handle.h"
#include "hardening/shared_folder_file.h"

namespace {

const int kMessageUnits = 1024;  // the message may use 1023 of them
const int kTimeUnits = 128;

// The local time as "YYYY-MM-DD hh:mm:ss"; empty when it cannot be had.
void FormatTimestamp(wchar_t (&out)[kTimeUnits]) {
  out[0] = L'\0';
  __time64_t now = _time64(nullptr);
  struct tm* local = _localtime64(&now);
  if (!local || wcsftime(out, kTimeUnits, L"%Y-%m-%d %H:%M:%S", local) == 0) out[0] = L'\0';
}

// Shows each control character of text as '?', in place: text from outside
// (a path, the command line, an entry name) cannot put a line end, and with
// it a forged line, into the log.
void MaskControlCharacters(wchar_t* text) {
  for (; *text; ++text) {
    if (*text < L' ') *text = L'?';
  }
}

}  // namespace

void CUtility::Log(const wchar_t* format, ...) {
  // Read first: the formatting and clock calls below may overwrite it.
  DWORD lastError = ::GetLastError();

  wchar_t message[kMessageUnits] = {};
  va_list args;
  va_start(args, format);
  int n = _vsnwprintf(message, kMessageUnits - 1, format, args);
  va_end(args);
  // A message that does not fit in 1022 units is dropped, not cut: a cut
  // message could read as a different, wrong statement.
  if (n < 0 || n > kMessageUnits - 2) message[0] = L'\0';
  MaskControlCharacters(message);

  wchar_t timestamp[kTimeUnits] = {};
  FormatTimestamp(timestamp);

  CString line;
  line.Format(L"[%d]%s  %s" UNPACK_LOG_ERR_FIELD "%d", static_cast<int>(::GetCurrentProcessId()), timestamp,
              message, static_cast<int>(lastError));
  ::OutputDebugStringW(line);
  AppendLogLine(line);
  ::SetLastError(lastError);
}

CString CUtility::GetLogPath() {
  wchar_t windows[MAX_PATH + 1] = {};
  ::GetWindowsDirectoryW(windows, MAX_PATH);
  CString path(windows);
  path += L"\\Temp\\unpack.log";
  return path;
}

void CUtility::AppendLogLine(const wchar_t* line) {
  CString path = GetLogPath();
  // Read and append access with no sharing, like the runtime's secure "ab+"
  // open: while one line is written nobody else can open the file. Appending
  // through FILE_APPEND_DATA puts every write at the current end of the file.
  // A link is opened as itself, so that the check below sees it.
  CHandle file(::CreateFileW(path, GENERIC_READ | FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS,
                             FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  // Everyone may create files in the log's folder: a log planted as a link
  // or a hard link would carry our lines into another file. Checked on the
  // handle, so nothing can change between the check and the write.
  if (!file.IsValid() || !IsSingleLinkFile(file.Get())) return;
  CString record(line);
  record += L"\r\n";
  DWORD written = 0;
  // UTF-16 units go to the file as they are: two bytes each, low byte first.
  ::WriteFile(file.Get(), record.GetString(), static_cast<DWORD>(record.GetLength()) * sizeof(wchar_t),
              &written, nullptr);
}
