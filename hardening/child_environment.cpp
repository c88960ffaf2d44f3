#include "hardening/child_environment.h"

#include "framework/system_dlls.h"

const wchar_t* const kSystemDefinedVariables[kSystemDefinedVariableCount] = {
    L"SystemRoot",         L"windir",           L"SystemDrive",        L"ComSpec",
    L"PATHEXT",            L"ProgramFiles",     L"ProgramFiles(x86)",  L"ProgramW6432",
    L"CommonProgramFiles", L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramData",
    L"ALLUSERSPROFILE"};
const wchar_t kNoCurrentDirectorySearch[] = L"NoDefaultCurrentDirectoryInExePath";

namespace {

// The value when entry ("name=value") is name's. Folding ASCII case is
// enough: the names looked up are ASCII.
const wchar_t* ValueOf(const wchar_t* entry, const wchar_t* name) {
  for (; *name; ++entry, ++name)
    if ((*entry | 0x20) != (*name | 0x20)) return nullptr;
  return *entry == L'=' ? entry + 1 : nullptr;
}

}  // namespace

const wchar_t* FindVariable(const wchar_t* block, const wchar_t* name) {
  for (const wchar_t* entry = block; block && *entry; entry += ::lstrlenW(entry) + 1) {
    if (const wchar_t* value = ValueOf(entry, name)) return value;
  }
  return nullptr;
}

void ComposeChildEnvironment(const wchar_t* systemBlock, ChildEnvironment* environment) {
  for (int i = 0; i < kSystemDefinedVariableCount; ++i)
    environment->values[i] = FindVariable(systemBlock, kSystemDefinedVariables[i]);
}

BOOL ApplyChildEnvironment(const ChildEnvironment& environment) {
  BOOL ok = TRUE;
  for (int i = 0; i < kSystemDefinedVariableCount; ++i) {
    // Removing what the system lacks cannot fail in a way that matters.
    if (!::SetEnvironmentVariableW(kSystemDefinedVariables[i], environment.values[i]) && environment.values[i])
      ok = FALSE;
  }
  ::SetEnvironmentVariableW(kNoCurrentDirectorySearch, nullptr);
  return ok;
}

namespace {

typedef BOOL(WINAPI* CreateEnvironmentBlockFn)(void**, HANDLE, BOOL);
typedef BOOL(WINAPI* DestroyEnvironmentBlockFn)(void*);

}  // namespace

CSystemEnvironment::~CSystemEnvironment() {
  if (m_block) reinterpret_cast<DestroyEnvironmentBlockFn>(m_destroy)(m_block);
}

BOOL CSystemEnvironment::Load() {
  if (!m_userenv.IsValid()) m_userenv.Reset(LoadSystemLibrary(L"userenv.dll"));
  auto create = FindFunction<CreateEnvironmentBlockFn>(m_userenv.Get(), "CreateEnvironmentBlock");
  m_destroy = FindFunction<void*>(m_userenv.Get(), "DestroyEnvironmentBlock");
  if (!create || !m_destroy) return FALSE;
  // No token: the machine's variables alone, none of any user's.
  return !m_block && create(&m_block, nullptr, FALSE);
}
