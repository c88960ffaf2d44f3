#include "hardening/child_environment.h"

#include "framework/system_dlls.h"

const wchar_t* const kSystemDefinedVariables[kSystemDefinedVariableCount] = {
    L"SystemRoot",         L"windir",           L"SystemDrive",        L"ComSpec",
    L"PATHEXT",            L"ProgramFiles",     L"ProgramFiles(x86)",  L"ProgramW6432",
    L"CommonProgramFiles", L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramData",
    L"ALLUSERSPROFILE"};
const wchar_t kNoCurrentDirectorySearch[] = L"NoDefaultCurrentDirectoryInExePath";

const wchar_t* FindVariable(const wchar_t* block, const wchar_t* name) {
  int nameLength = ::lstrlenW(name);
  for (const wchar_t* entry = block; block && *entry; entry += ::lstrlenW(entry) + 1) {
    if (::CompareStringW(LOCALE_INVARIANT, NORM_IGNORECASE, entry, nameLength, name, nameLength) == CSTR_EQUAL &&
        entry[nameLength] == L'=')
      return entry + nameLength + 1;
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
  if (m_block) FindFunction<DestroyEnvironmentBlockFn>(m_userenv.Get(), "DestroyEnvironmentBlock")(m_block);
}

BOOL CSystemEnvironment::Load() {
  if (!m_userenv.IsValid()) m_userenv.Reset(LoadSystemLibrary(L"userenv.dll"));
  auto create = FindFunction<CreateEnvironmentBlockFn>(m_userenv.Get(), "CreateEnvironmentBlock");
  auto destroy = FindFunction<DestroyEnvironmentBlockFn>(m_userenv.Get(), "DestroyEnvironmentBlock");
  if (!create || !destroy) return FALSE;
  // No token: the machine's variables alone, none of any user's.
  return !m_block && create(&m_block, nullptr, FALSE);
}
