#include "launcher/command_line.h"

#include <stdio.h>

BOOL UseNativeInterpreter(BOOL preVista, BOOL wow64) { return !preVista && wow64; }

void ComposeInterpreterPath(BOOL native, wchar_t (&buffer)[MAX_PATH + 1]) {
  ::ZeroMemory(buffer, sizeof(buffer));
  ::lstrcpynW(buffer, L"cmd.exe", MAX_PATH);
  if (!native) return;
  wchar_t windows[MAX_PATH + 1] = {};
  UINT len = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (len == 0 || len >= MAX_PATH) return;
  wchar_t path[MAX_PATH + 1] = {};
  int n = _snwprintf(path, MAX_PATH, L"%s\\sysnative\\cmd.exe", windows);
  // A cut path would name some other program; keep the plain interpreter.
  if (n < 0 || n >= MAX_PATH) return;
  ::lstrcpynW(buffer, path, MAX_PATH);
}

CString ComposeBatchParameters(const wchar_t* logPath) {
  CString parameters;
  parameters.Format(L"/c run.bat > %s.txt", logPath);
  return parameters;
}

namespace {

bool NeedsQuotes(const wchar_t* argument) {
  if (!*argument) return true;
  for (const wchar_t* p = argument; *p; ++p)
    if (*p == L' ' || *p == L'\t' || *p == L'"') return true;
  return false;
}

void AppendBackslashes(CString& out, int count) {
  for (int i = 0; i < count; ++i) out += L'\\';
}

}  // namespace

void AppendArgument(CString& parameters, const wchar_t* argument) {
  if (!argument) argument = L"";
  if (!NeedsQuotes(argument)) {
    parameters += argument;
    parameters += L' ';
    return;
  }
  parameters += L'"';
  int backslashes = 0;
  for (const wchar_t* p = argument; *p; ++p) {
    if (*p == L'\\') {
      ++backslashes;
      continue;
    }
    if (*p == L'"') {
      // 2n backslashes read back as n; the extra one escapes the quote.
      AppendBackslashes(parameters, 2 * backslashes + 1);
    } else {
      AppendBackslashes(parameters, backslashes);
    }
    backslashes = 0;
    parameters += *p;
  }
  // Backslashes before the closing quote would escape it: double them.
  AppendBackslashes(parameters, 2 * backslashes);
  parameters += L"\" ";
}

CString ComposeProgramParameters(int argc, wchar_t** argv) {
  CString parameters;
  for (int i = 2; i < argc; ++i) AppendArgument(parameters, argv[i]);
  return parameters;
}
