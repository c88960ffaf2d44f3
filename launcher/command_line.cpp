#include "launcher/command_line.h"

#include <stdio.h>

#include "format/log_vocabulary.h"

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
  parameters.Format(L"/D /c " UNPACK_LOG_BATCH_REDIRECT "%s.txt", logPath);
  return parameters;
}

CString ComposeProgramParameters(int argc, wchar_t** argv) {
  CString parameters;
  for (int i = 2; i < argc; ++i) {
    if (argv[i]) parameters += argv[i];
    parameters += L' ';
  }
  return parameters;
}
