#include "hardening/child_environment.h"

#include "framework/handle.h"
#include "hardening/machine_registry.h"

const wchar_t* const kSystemDefinedVariables[kSystemDefinedVariableCount] = {
    L"SystemRoot", L"windir", L"SystemDrive", L"ComSpec", L"PATHEXT", L"ProgramFiles", L"ProgramFiles(x86)",
    L"ProgramW6432", L"CommonProgramFiles", L"CommonProgramFiles(x86)", L"CommonProgramW6432", L"ProgramData",
    L"ALLUSERSPROFILE", L"Path",
    // A .NET program loads the profiler, the startup hooks and the
    // dependencies these name, with the child's rights.
    L"COR_ENABLE_PROFILING", L"COR_PROFILER", L"COR_PROFILER_PATH", L"COR_PROFILER_PATH_32",
    L"COR_PROFILER_PATH_64", L"CORECLR_ENABLE_PROFILING", L"CORECLR_PROFILER", L"CORECLR_PROFILER_PATH",
    L"CORECLR_PROFILER_PATH_32", L"CORECLR_PROFILER_PATH_64", L"DOTNET_STARTUP_HOOKS", L"DOTNET_ADDITIONAL_DEPS"};
const wchar_t kNoCurrentDirectorySearch[] = L"NoDefaultCurrentDirectoryInExePath";

namespace {

const wchar_t kSessionKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment";
const wchar_t kVersionKey[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
const wchar_t kProfilesKey[] = L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

// Units for a Path: the longest value an environment holds.
const DWORD kListUnits = 32768;

// Where the machine keeps each variable after the kernel's three.
const struct {
  const wchar_t* variable;
  const wchar_t* key;
  const wchar_t* value;
} kMachineSources[] = {
    {L"ComSpec", kSessionKey, L"ComSpec"},
    {L"PATHEXT", kSessionKey, L"PATHEXT"},
    {L"ProgramFiles", kVersionKey, L"ProgramFilesDir"},
    {L"ProgramFiles(x86)", kVersionKey, L"ProgramFilesDir (x86)"},
    {L"ProgramW6432", kVersionKey, L"ProgramW6432Dir"},
    {L"CommonProgramFiles", kVersionKey, L"CommonFilesDir"},
    {L"CommonProgramFiles(x86)", kVersionKey, L"CommonFilesDir (x86)"},
    {L"CommonProgramW6432", kVersionKey, L"CommonW6432Dir"},
    {L"ProgramData", kProfilesKey, L"ProgramData"},
    {L"ALLUSERSPROFILE", kProfilesKey, L"ProgramData"},
};

// The value when entry ("name=value") is name's. Folding ASCII case is
// enough: the names looked up are ASCII.
const wchar_t* ValueOf(const wchar_t* entry, const wchar_t* name) {
  for (; *name; ++entry, ++name)
    if ((*entry | 0x20) != (*name | 0x20)) return nullptr;
  return *entry == L'=' ? entry + 1 : nullptr;
}

// TRUE when list (';'-separated) holds folder.
BOOL ListHas(const wchar_t* list, const CString& folder) {
  const wchar_t *first = nullptr, *last = nullptr;
  while (NextListPart(&list, &first, &last))
    if (::lstrcmpiW(ListFolder(first, last), folder) == 0) return TRUE;
  return FALSE;
}

void AddVariable(CString* block, const wchar_t* name, const wchar_t* value) {
  *block += name;
  *block += L'=';
  *block += value;
  *block += L'\0';
}

// The kernel's answers first, then the machine's own variables, unexpanded.
BOOL LookUpMachine(void* context, const CString& name, CString* value) {
  if (const wchar_t* known = FindVariable(static_cast<const CString*>(context)->GetString(), name)) {
    *value = known;
    return TRUE;
  }
  return ReadRegistryText(HKEY_LOCAL_MACHINE, kSessionKey, name, value);
}

}  // namespace

BOOL NextListPart(const wchar_t** cursor, const wchar_t** first, const wchar_t** last) {
  const wchar_t* part = *cursor;
  if (!part || !*part) return FALSE;
  const wchar_t* end = part;
  while (*end && *end != L';') ++end;
  *first = part;
  *last = end;
  *cursor = *end ? end + 1 : end;
  return TRUE;
}

CString ListFolder(const wchar_t* first, const wchar_t* last) {
  if (last - first >= 2 && *first == L'"' && last[-1] == L'"') ++first, --last;
  while (last > first && (last[-1] == L'\\' || last[-1] == L'/')) --last;
  return CString(first, static_cast<int>(last - first));
}

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

CString ExpandMachineText(const wchar_t* text, MachineLookupFn lookup, void* context) {
  CString out;
  for (const wchar_t* c = text; *c;) {
    const wchar_t* close = c[0] == L'%' ? c + 1 : nullptr;
    while (close && *close && *close != L'%') ++close;
    CString value;
    if (close && *close == L'%' && close > c + 1 && lookup(context, CString(c + 1, static_cast<int>(close - c - 1)), &value)) {
      out += value;
      c = close + 1;
    } else {
      out += *c++;
    }
  }
  return out;
}

CString ComposeChildPath(const wchar_t* machinePath, const wchar_t* inherited, const wchar_t* userPath) {
  CString path(machinePath);
  const wchar_t *first = nullptr, *last = nullptr;
  while (NextListPart(&inherited, &first, &last)) {
    CString folder = ListFolder(first, last);
    if (!folder.IsEmpty() && !ListHas(machinePath, folder) && !ListHas(userPath, folder)) {
      if (!path.IsEmpty()) path += L';';
      path.Append(first, static_cast<int>(last - first));
    }
  }
  return path;
}

BOOL CSystemEnvironment::Load() {
  wchar_t windows[MAX_PATH] = {};
  UINT length = ::GetSystemWindowsDirectoryW(windows, MAX_PATH);
  if (length < 3 || length >= MAX_PATH) return FALSE;
  CString block;
  AddVariable(&block, L"SystemRoot", windows);
  AddVariable(&block, L"windir", windows);
  AddVariable(&block, L"SystemDrive", CString(windows, 2));
  CString kernel = block;
  for (const auto& source : kMachineSources) {
    CString text;
    if (ReadRegistryText(HKEY_LOCAL_MACHINE, source.key, source.value, &text))
      AddVariable(&block, source.variable, ExpandMachineText(text, LookUpMachine, &kernel));
  }
  CString rawPath;
  ReadRegistryText(HKEY_LOCAL_MACHINE, kSessionKey, L"Path", &rawPath);
  CString machinePath = ExpandMachineText(rawPath, LookUpMachine, &kernel);
  // What the user's own block made of the user's Path and of the machine's
  // (expanded with the user's SystemRoot, say): neither reaches the child.
  CHeapBlock lists = AllocZeroed(2 * kListUnits * 2);
  wchar_t* user = static_cast<wchar_t*>(lists.Get());
  if (!user) return FALSE;
  wchar_t* inherited = user + kListUnits;
  CString userPath;
  ReadRegistryText(HKEY_CURRENT_USER, L"Environment", L"Path", &userPath);
  ::ExpandEnvironmentStringsW(userPath + L";" + rawPath.GetString(), user, kListUnits - 1);
  ::GetEnvironmentVariableW(L"Path", inherited, kListUnits - 1);
  AddVariable(&block, L"Path", ComposeChildPath(machinePath, inherited, user));
  m_block = block;
  m_machinePath = machinePath;
  return TRUE;
}
