#include "launcher/process_start.h"

#include "framework/handle.h"
#include "hardening/machine_registry.h"

namespace {

// The machine's open command for file's type, expanded; FALSE when the
// machine's classes give none.
BOOL MachineOpenCommand(const wchar_t* file, CString* command) {
  const wchar_t* ext = nullptr;
  for (const wchar_t* c = file; *c; ++c) {
    if (*c == L'.') ext = c;
    if (*c == L'\\') ext = nullptr;
  }
  CString key;
  CString type;
  CString raw;
  if (!ext || !key.Format(L"SOFTWARE\\Classes\\%s", ext) || !ReadRegistryText(HKEY_LOCAL_MACHINE, key, nullptr, &type) ||
      type.IsEmpty() || !key.Format(L"SOFTWARE\\Classes\\%s\\shell\\open\\command", type.GetString()) ||
      !ReadRegistryText(HKEY_LOCAL_MACHINE, key, nullptr, &raw))
    return FALSE;
  // The machine's variables: the launcher's own were set from them already.
  const DWORD kExpandedUnits = 2048;
  CHeapBlock block = AllocZeroed(kExpandedUnits * sizeof(wchar_t));
  wchar_t* expanded = static_cast<wchar_t*>(block.Get());
  if (!expanded) return FALSE;
  DWORD length = ::ExpandEnvironmentStringsW(raw, expanded, kExpandedUnits);
  if (length == 0 || length > kExpandedUnits) return FALSE;
  *command = expanded;
  return TRUE;
}

}  // namespace

BOOL ComposeOpenCommand(const wchar_t* command, const wchar_t* file, const wchar_t* parameters, CString* line) {
  BOOL named = FALSE;
  line->Empty();
  for (const wchar_t* c = command; *c; ++c) {
    if (*c != L'%' || !c[1]) {
      *line += *c;
      continue;
    }
    ++c;
    if (*c == L'1' || *c == L'l' || *c == L'L') {
      *line += file;
      named = TRUE;
    } else if (*c == L'*') {
      *line += parameters;
    } else if (*c == L'%') {
      *line += L'%';
    }
  }
  return named;
}

CString OpenCommandProgram(const wchar_t* line) {
  while (*line == L' ') ++line;
  const wchar_t* end = line;
  if (*line == L'"') {
    for (end = ++line; *end && *end != L'"';) ++end;
  } else {
    while (*end && *end != L' ') ++end;
  }
  return CString(line, static_cast<int>(end - line));
}

BOOL StartProcess(const CProgramPlaces& places, const wchar_t* file, const wchar_t* parameters,
                  const wchar_t* directory, BOOL shown, CHandle* process) {
  CString program(file);
  CString line;
  if (IsExecutableFile(file)) {
    line.Format(L"\"%s\" %s", file, parameters);
  } else {
    CString command;
    if (!MachineOpenCommand(file, &command) || !ComposeOpenCommand(command, file, parameters, &line)) {
      ::SetLastError(ERROR_NO_ASSOCIATION);
      return FALSE;
    }
    // Found as any program is, never in the work directory.
    CProgramPlaces machine = places;
    machine.heldDir = L"";
    if (!FindProgram(machine, OpenCommandProgram(line), &program)) {
      ::SetLastError(ERROR_FILE_NOT_FOUND);
      return FALSE;
    }
  }
  STARTUPINFOW startup;
  ::ZeroMemory(&startup, sizeof(startup));
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = static_cast<WORD>(shown ? SW_SHOWNORMAL : SW_HIDE);
  PROCESS_INFORMATION started;
  ::ZeroMemory(&started, sizeof(started));
  // The command line buffer may be written by the system.
  CString writable = line;
  if (!::CreateProcessW(program, const_cast<wchar_t*>(writable.GetString()), nullptr, nullptr, FALSE,
                        0, nullptr, directory, &startup, &started))
    return FALSE;
  CHandle thread(started.hThread);
  process->Reset(started.hProcess);
  return TRUE;
}
