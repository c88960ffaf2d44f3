#include "hardening/image_file.h"

#include "framework/cstring.h"
#include "framework/handle.h"
#include "framework/system_dlls.h"
#include "hardening/handle_relative.h"
#include "hardening/image_signature.h"

namespace {

// Device names are longer than the paths the launcher accepts.
const DWORD kNameUnits = 1024;

using GetMappedFileNameWFn = DWORD(WINAPI*)(HANDLE, LPVOID, LPWSTR, DWORD);
using NtAreMappedFilesTheSameFn = LONG(NTAPI*)(PVOID, PVOID);

CHandle g_image;
// Why Hold failed; zero while it never ran (a failed open always leaves an
// error). Zero to begin with, so that the image needs no writable data.
DWORD g_holdError;

BOOL Refuse(DWORD osError, const wchar_t* name, CFileException* error) {
  if (error) error->SetOsError(static_cast<LONG>(osError), name);
  ::SetLastError(osError);
  return FALSE;
}

// The name the system gives the running image now. Windows reports the
// file's current name, after a rename too; Wine the name it was mapped by.
BOOL MappedImageName(wchar_t (&name)[kNameUnits]) {
  CModule psapi;
  // kernel32 has it from Windows 7 on; before, psapi alone.
  auto getName = FindFunction<GetMappedFileNameWFn>(::GetModuleHandleW(L"kernel32.dll"), "K32GetMappedFileNameW");
  if (!getName) {
    psapi.Reset(LoadSystemLibrary(L"psapi.dll"));
    if (!psapi.IsValid()) return FALSE;
    getName = FindFunction<GetMappedFileNameWFn>(psapi.Get(), "GetMappedFileNameW");
    if (!getName) return FALSE;
  }
  DWORD len = getName(::GetCurrentProcess(), ::GetModuleHandleW(nullptr), name, kNameUnits);
  // A name that fills the buffer may have been cut.
  return len > 0 && len < kNameUnits - 1;
}

}  // namespace

void CImageFile::Hold(const wchar_t* path) {
  // Not inherited: the command the launcher starts must not keep it open.
  g_image.Reset(::CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                              nullptr));
  g_holdError = g_image.IsValid() ? ERROR_SUCCESS : ::GetLastError();
}

BOOL CImageFile::Open(CFile& file, const wchar_t* name, CFileException* error) {
  if (!g_image.IsValid()) return Refuse(g_holdError ? g_holdError : ERROR_INVALID_HANDLE, name, error);
  if (!file.OpenDuplicate(g_image.Get(), name, error)) return FALSE;
  // Checked with the file held: a name shown to be the held file's stays so.
  wchar_t mapped[kNameUnits] = {};
  if (MappedImageName(mapped) && NamesFile(mapped, g_image.Get()) && MapsRunningImage(g_image.Get())) return TRUE;
  file.Close();
  return Refuse(ERROR_ACCESS_DENIED, name, error);
}

DWORD CImageFile::VerifySignature(const wchar_t* name) {
  return g_image.IsValid() ? VerifyImageSignature(g_image.Get(), name) : ERROR_SUCCESS;
}

// Never inlined: its buffer and its caller's together would pass the size of
// frame the stack may grow by without probing.
__attribute__((noinline)) BOOL CImageFile::NamesFile(const wchar_t* mappedName, HANDLE held) {
  if (!mappedName || mappedName[0] != L'\\') return FALSE;
  // The device form opens below \\?\GLOBALROOT; the \??\ form is the
  // system's own spelling of \\?\.
  const wchar_t* prefix = L"\\\\?\\GLOBALROOT";
  if (StartsWith(mappedName, L"\\??\\")) {
    prefix = L"\\\\?\\";
    mappedName += 4;
  }
  wchar_t path[kNameUnits + 16] = {};
  int prefixLen = lstrlenW(prefix);
  if (prefixLen + lstrlenW(mappedName) >= static_cast<int>(kNameUnits + 16)) return FALSE;
  ::lstrcpynW(path, prefix, prefixLen + 1);
  ::lstrcpynW(path + prefixLen, mappedName, kNameUnits + 16 - prefixLen);
  // Attributes only, sharing everything: this open neither conflicts with
  // the hold nor stops anyone else.
  CHandle named(::CreateFileW(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  return named.IsValid() && IsSameFile(held, named.Get());
}

BOOL CImageFile::MapsRunningImage(HANDLE held) {
  // Asks about the files themselves, not their names: Wine, which reports
  // the name an image was mapped by even after a rename, answers it too.
  auto same = FindFunction<NtAreMappedFilesTheSameFn>(::GetModuleHandleW(L"ntdll.dll"), "NtAreMappedFilesTheSame");
  if (!same) return TRUE;
  CHandle mapping(::CreateFileMappingW(held, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.IsValid()) return FALSE;
  CMappedView view(::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 1));
  return view.IsValid() && same(::GetModuleHandleW(nullptr), view.Get()) == 0;
}
