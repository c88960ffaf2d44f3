// Keeps the launcher from loading a DLL out of the folder it was started
// from, which its user, and so any unelevated neighbour, can write. The image
// imports only kernel32 and the C runtime, which the system always takes from
// its own directory; every other DLL is loaded here, by the system directory,
// after the search for DLLs has been restricted to that directory.
#pragma once

#include <windows.h>
#include <ntsecapi.h>

// Restricts where this process looks for DLLs, its own loads and those of
// the system DLLs it uses, to the system directory. Where the system cannot
// (before the default-directories update of Windows 7), the current directory
// leaves the search, and LoadSystemLibrary names full paths. Must run before
// anything that could load a DLL.
void RestrictDllSearchToSystem();

// The function name exported by module, as a pointer of type Fn; null when
// the module is null or lacks it. Functions that older systems lack are
// looked up this way, so that the image never imports them.
template <typename Fn>
Fn FindFunction(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// Loads name (a file name such as L"shell32.dll") from the system directory
// only, its own dependencies too. Null, with the system's error, when it
// cannot.
HMODULE LoadSystemLibrary(const wchar_t* name);

// The one list of the functions the launcher takes from USER32 and
// ADVAPI32: DLL(file) opens each DLL's functions, FN(name) names one. The
// table's slots and the names that fill them are both generated from it, so
// that they cannot drift apart.
#define UNPACK_SYSTEM_API(DLL, FN)                                                                      \
  DLL(user32) FN(LoadStringW) FN(MessageBoxW) FN(GetProcessWindowStation) FN(GetUserObjectInformationW) \
  DLL(advapi32) FN(RegOpenKeyExW) FN(RegQueryValueExW) FN(RegCloseKey) FN(AddAccessAllowedAceEx)              \
      FN(CopySid) FN(CreateWellKnownSid) FN(EqualSid)                                                   \
      FN(GetTokenInformation) FN(InitializeAcl) FN(InitializeSecurityDescriptor) FN(OpenProcessToken)   \
      FN(SetSecurityDescriptorControl) FN(SetSecurityDescriptorDacl) FN(GetKernelObjectSecurity)         \
      FN(GetSecurityDescriptorControl) FN(GetSecurityDescriptorOwner) FN(GetSecurityDescriptorDacl)     \
      FN(GetAce) FN(SystemFunction036)

#define UNPACK_SYSTEM_API_NO_DLL(file)
#define UNPACK_SYSTEM_API_SLOT(name) decltype(&::name) name;
// The functions of UNPACK_SYSTEM_API, one slot each, in the list's order.
struct CSystemApi {
  UNPACK_SYSTEM_API(UNPACK_SYSTEM_API_NO_DLL, UNPACK_SYSTEM_API_SLOT)
};
#undef UNPACK_SYSTEM_API_SLOT

// The table, filled on the first call through LoadSystemLibrary; the DLLs
// then stay loaded until the process ends. Null, with the system's error,
// while a DLL or a function cannot be had (a later call tries again). Not
// for two threads at once before it has succeeded: the launcher never runs
// its code on two threads together.
const CSystemApi* SystemApi();
